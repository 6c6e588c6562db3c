#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, then the same tests
# on an AddressSanitizer + UndefinedBehaviorSanitizer build, then on the
# board's own AArch64 build under emulation (qemu-user), and prints the size
# report of both targets; then builds, lints and tests the Debian packages
# (scripts/package.sh).
#   scripts/test.sh [native|asan|aarch64|package]...   (default: all four)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(native asan aarch64 package)
for stage in "${stages[@]}"; do
    case $stage in
    native | asan | aarch64 | package) ;;
    *) echo "test: unknown stage $stage (native, asan, aarch64, package)" >&2; exit 2 ;;
    esac
done
bash scripts/setup.sh

run_suite() {
    local dir=$1 start=$SECONDS
    shift
    echo "== $dir"
    bash scripts/build.sh "$repo/$dir" "$@"
    ctest --test-dir "$repo/$dir" --output-on-failure -j2 --timeout 1800
    # Cases a suite could not run here say so in the test log.
    grep -hE '^SKIP |\[  SKIPPED \]' "$repo/$dir/Testing/Temporary/LastTest.log" || true
    echo "== $dir: $((SECONDS - start)) s"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
sized=()
for stage in "${stages[@]}"; do
    case $stage in
    native)
        run_suite build -DDEBUG_STATIC=ON
        sized+=(build)
        ;;
    asan)
        run_suite build-asan -DDEBUG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
        ;;
    aarch64)
        bash scripts/qemu-binfmt.sh
        run_suite build-aarch64 -DDEBUG_STATIC=ON \
            -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/aarch64-linux-gnu.cmake"
        sized+=(build-aarch64)
        ;;
    package)
        bash scripts/package.sh
        ;;
    esac
done
if [ ${#sized[@]} -gt 0 ]; then
    echo "== size report"
    bash scripts/size-report.sh "${sized[@]/#/$repo/}"
fi
