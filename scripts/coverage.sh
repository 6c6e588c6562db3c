#!/usr/bin/env bash
# Line and branch coverage of the whole test suite, per unit (core, osa, each
# board library, each module):
#   scripts/coverage.sh [DIR]   (default DIR: build-cov)
# builds DIR with gcov counters (-DDEBUG_COVERAGE=ON, Debug), runs every test on it
# and writes DIR/coverage/: summary.txt (the table it also prints),
# <unit>.uncovered (each line no test runs, and each line run with a branch
# never taken), report.json (gcovr's, for other reports). Test failures are
# reported like any other stage's; the report is still made.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$repo/build-cov}
case $dir in /*) ;; *) dir=$PWD/$dir ;; esac
out=$dir/coverage

bash "$repo/scripts/setup.sh"
# Only the tests count: not a previous run (whose counts would not match a
# changed source), nor the tool run at build time for the manual page.
[ ! -d "$dir" ] || find "$dir" -name '*.gcda' -delete
# Unoptimised, so that each line and each condition of the source keeps
# its own counts.
bash "$repo/scripts/build.sh" "$dir" -DDEBUG_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug
find "$dir" -name '*.gcda' -delete
status=0
ctest --test-dir "$dir" --output-on-failure -j2 --timeout 1800 || status=$?
grep -hE '^SKIP |\[  SKIPPED \]' "$dir/Testing/Temporary/LastTest.log" || true

rm -rf "$out"
mkdir -p "$out"
cd "$repo"
gcovr --root "$repo" --object-directory "$dir" -j 2 \
    --filter "$repo/(core|osa|include|boardlibs|modules)/" \
    --exclude-unreachable-branches --exclude-throw-branches \
    --json "$out/report.json" "$dir"
python3 "$repo/scripts/coverage-units.py" "$out/report.json" "$out"
exit $status
