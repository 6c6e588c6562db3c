#!/usr/bin/env bash
# debug -M cpu against mpstat (sysstat) over the same seconds, with one busy
# loop keeping a core occupied. Both read the machine's own /proc/stat: the
# board used here overrides nothing.
#
#   bench/cpu_vs_mpstat.sh [BUILD]      (default BUILD: build)
#   COUNT=N                             intervals of one second (default 10)
#
# Prints the load of each interval from both, the two averages and their
# difference in percentage points, and debug's own share of the CPU,
# measured from outside (the user and system time the shell's `time` reports
# for it, against the run's wall time on all CPUs).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$repo/build}")
count=${COUNT:-10}
command -v mpstat >/dev/null || { echo "mpstat missing: apt-get install sysstat" >&2; exit 2; }
[ -x "$build/debug" ] || { echo "$build/debug missing: scripts/build.sh first" >&2; exit 2; }

mkdir -p "$build/boards"
work=$(mktemp -d "$build/boards/bench-cpu.XXXXXX")
board=$work/board
busy=""
cleanup() {
    [ -z "$busy" ] || kill "$busy" 2>/dev/null || true
    "$repo/simboard/board" stop "$board" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
"$repo/simboard/board" new "$board" -B "$build"
"$repo/simboard/board" start "$board"

# The known load: one shell loop, one core's worth of work.
sh -c 'while :; do :; done' &
busy=$!
sleep 1

cpus=$(getconf _NPROCESSORS_ONLN)
"$repo/simboard/board" exec "$board" bash -c \
    'TIMEFORMAT="%3U %3S %3R"; time debug -M cpu -c "$1" -d 1 -l /tmp/bench.txt' sh "$count" \
    >"$work/tool.out" 2>"$work/tool.time" &
tool=$!
LC_ALL=C S_TIME_FORMAT=ISO mpstat 1 "$count" >"$work/mpstat.out" &
mp=$!
wait "$tool" "$mp"

# Load figures: debug's lines without colour; mpstat's is 100 - %idle.
sed 's/\x1b\[[0-9;]*m//g' "$work/tool.out" | sed -n 's/^CPU: *\([0-9]*\)%.*/\1/p' >"$work/tool.loads"
awk '$2 == "all" && $1 != "Average:" { printf "%.2f\n", 100 - $NF }' "$work/mpstat.out" \
    >"$work/mpstat.loads"
tool_avg=$(sed 's/\x1b\[[0-9;]*m//g' "$work/tool.out" | sed -n 's/^Average:\([0-9.]*\)%.*/\1/p')
mp_avg=$(awk '$1 == "Average:" && $2 == "all" { printf "%.3f\n", 100 - $NF }' "$work/mpstat.out")

echo "one busy loop on $cpus CPUs, $count intervals of 1 s"
printf '%-9s %12s %12s\n' interval "debug load" "mpstat load"
paste "$work/tool.loads" "$work/mpstat.loads" | awk '{ printf "%-9d %11s%% %11s%%\n", NR, $1, $2 }'
printf '%-9s %11s%% %11s%%\n' average "$tool_avg" "$mp_avg"
awk -v a="$tool_avg" -v b="$mp_avg" 'BEGIN {
    d = a - b; printf "difference: %.3f percentage points (|d| %s 3)\n", d, (d < 3 && d > -3) ? "<" : ">=" }'

read -r user sys real <"$work/tool.time"
awk -v u="$user" -v s="$sys" -v r="$real" -v n="$cpus" 'BEGIN {
    t = u + s
    printf "debug own CPU time: %.3f s (user %.3f, system %.3f) in %.3f s\n", t, u, s, r
    printf "debug own share: %.4f %% of the machine, %.4f %% of one CPU\n", 100 * t / (r * n), 100 * t / r }'
