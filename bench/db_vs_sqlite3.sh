#!/usr/bin/env bash
# Time of one query through debug -M db -s against the sqlite3 shell on the
# same database, on a simulated board: bench/db_vs_sqlite3.sh [RUNS [BUILD]]
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-200}
build=$(realpath "${2:-$repo/build}")
query=${QUERY:-"select * from ptz_preset where id <= 10;"}
board=$build/boards/bench-db
"$repo/simboard/board" new "$board" -B "$build"
"$repo/simboard/board" start "$board"
trap '"$repo/simboard/board" stop "$board"; rm -rf "$board"' EXIT

# Runs CMD... RUNS times on the board; prints the mean in milliseconds.
timer='
runs=$1
shift
start=$(date +%s%N)
for i in $(seq "$runs"); do "$@" >/dev/null; done
end=$(date +%s%N)
awk -v ns=$((end - start)) -v n="$runs" "BEGIN { printf \"%.2f\", ns / n / 1e6 }"
'
mean_ms() { "$repo/simboard/board" exec "$board" bash -c "$timer" sh "$runs" "$@"; }

"$repo/simboard/board" exec "$board" debug -M db >/dev/null # restores the database
printf 'query: %s\nruns:  %s\n' "$query" "$runs"
printf '%-32s %8s ms/run\n' "debug -M db -s QUERY" "$(mean_ms debug -M db -s "$query")"
printf '%-32s %8s ms/run\n' "sqlite3 /mnt/nand/bvdb.db QUERY" \
    "$(mean_ms sqlite3 /mnt/nand/bvdb.db "$query")"
printf '%-32s %8s ms/run\n' "debug -M db (no query)" "$(mean_ms debug -M db)"
printf '%-32s %8s ms/run\n' "/bin/true (process start)" "$(mean_ms /bin/true)"
