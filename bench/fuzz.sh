#!/usr/bin/env bash
# The long fuzz run: every target (or the ones named) until RUNS executions
# or SECONDS have passed, whichever comes first; the table of
# scripts/fuzz.sh (executions, executions per second, coverage) at the end.
# The corpus of each target is kept in BUILD/fuzz/corpus/ and grows from run
# to run. Run it niced: nice -n 5 bench/fuzz.sh ...
#   bench/fuzz.sh [-n RUNS] [-t SECONDS] [target...]   (default 10000000 runs, 1200 s cap)
# FUZZ_BUILD=DIR uses the targets of an existing build (scripts/fuzz.sh's
# build-fuzz/ by default is built first).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=10000000
seconds=1200
while getopts n:t: opt; do
    case $opt in
    n) runs=$OPTARG ;;
    t) seconds=$OPTARG ;;
    *) echo "usage: bench/fuzz.sh [-n RUNS] [-t SECONDS] [target...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
exec bash "$repo/scripts/fuzz.sh" -n "$runs" -t "$seconds" "$@"
