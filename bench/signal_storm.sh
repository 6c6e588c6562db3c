#!/usr/bin/env bash
# Signal storms on the modules that loop or wait (tests/e2e/storm.sh): COUNT
# SIGINT/SIGQUIT/SIGTERM a module at random moments, then one line each:
# signals sent, runs, hangs, wrong status, torn lines, longest time to end.
#   bench/signal_storm.sh [COUNT [BUILD [MODULE...]]]   (default 200, all)
# STORM_SEED=<n> replays a storm. Boards are kept in BUILD/e2e/signal_storm/
# for the modules whose storm found something.
set -u
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
count=${1:-200}
export BUILD_DIR
BUILD_DIR=$(realpath "${2:-$repo/build}")
export SOURCE_DIR=$repo
shift 2 2>/dev/null || shift $#
. "$repo/tests/e2e/lib.sh"
. "$repo/tests/e2e/storm.sh"
suite=signal_storm
boards=$BUILD_DIR/e2e/$suite

bad=0
for module in ${*:-$STORM_MODULES}; do
    storm_begin "$module" >/dev/null
    storm "$module" "$count"
    storm_end "$module"
    [ $((storm_hangs + storm_wrong + storm_torn)) = 0 ] || { bad=1; case_failed=1; }
    end >/dev/null
done
[ "$bad" = 0 ] && echo "no hang, every status and line as expected" || { echo "FAULTS FOUND"; exit 1; }
