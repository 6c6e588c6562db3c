#!/usr/bin/env bash
# Parallel writers on one simulated board, repeated: each round starts PROCS
# processes that each run STATEMENTS separate debug -M db -e increments of
# one row, then checks the count.
#   bench/db_concurrency.sh [ROUNDS [PROCS [STATEMENTS [BUILD]]]]
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${1:-5}
procs=${2:-8}
statements=${3:-50}
build=$(realpath "${4:-$repo/build}")
board=$build/boards/bench-db-concurrency
"$repo/simboard/board" new "$board" -B "$build"
"$repo/simboard/board" start "$board"
trap '"$repo/simboard/board" stop "$board"; rm -rf "$board"' EXIT
on_board() { "$repo/simboard/board" exec "$board" "$@"; }

on_board debug -M db -e "create table counter (id integer primary key, n integer not null);" \
    -e "insert into counter values (1, 0);" >/dev/null
printf '%-6s %6s %11s %9s %9s %s\n' round procs statements seconds stmt/s count
lost=0
for round in $(seq "$rounds"); do
    on_board debug -M db -e "update counter set n = 0;" >/dev/null
    start=$(date +%s%N)
    on_board bash -c '
        for p in $(seq "$1"); do
            for i in $(seq "$2"); do
                debug -M db -e "update counter set n = n + 1 where id = 1;" >/dev/null
            done &
        done
        wait' sh "$procs" "$statements"
    end=$(date +%s%N)
    count=$(on_board sqlite3 /mnt/nand/bvdb.db "select n from counter;")
    total=$((procs * statements))
    [ "$count" = "$total" ] || lost=1
    seconds=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.2f", ns / 1e9 }')
    printf '%-6s %6s %11s %9s %9s %s\n' "$round" "$procs" "$total" "$seconds" \
        "$(awk -v t="$total" -v s="$seconds" 'BEGIN { printf "%.0f", t / s }')" "$count"
done
[ "$lost" = 0 ] && echo "every count exact" || { echo "LOST UPDATES"; exit 1; }
