#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, then the same tests
# on an AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
bash scripts/setup.sh

run_suite() {
    local dir=$1
    shift
    echo "== $dir"
    bash scripts/build.sh "$repo/$dir" "$@"
    ctest --test-dir "$repo/$dir" --output-on-failure -j2 --timeout 1800
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build
run_suite build-asan -DDEBUG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
