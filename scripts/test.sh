#!/usr/bin/env bash
# Sets up, builds and runs every test: first the tool alone in every
# standard build type with GCC and Clang, native and AArch64; then the tests
# on the normal build, on an AddressSanitizer + UndefinedBehaviorSanitizer
# build, and on the board's own AArch64 build under emulation (qemu-user),
# with the size report of both targets; then the coverage of the tests per
# unit (scripts/coverage.sh); then runs every fuzz target for a few seconds
# (scripts/fuzz.sh); then builds, lints and tests the Debian packages
# (scripts/package.sh); last, the hardware suite (tests/hw) on the
# real-kernel board under QEMU (vmboard/prepare.sh), driven by labgrid, its
# GPIO cases again with the board's sysfs GPIO hidden, and the cases where
# the tool runs commands again on the BusyBox board.
#   scripts/test.sh [builds|native|asan|aarch64|coverage|fuzz|package|hw]...   (default: all eight)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(builds native asan aarch64 coverage fuzz package hw)
for stage in "${stages[@]}"; do
    case $stage in
    builds | native | asan | aarch64 | coverage | fuzz | package | hw) ;;
    *) echo "test: unknown stage $stage (builds, native, asan, aarch64, coverage, fuzz, package, hw)" >&2; exit 2 ;;
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
    builds)
        bash scripts/build-matrix.sh
        ;;
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
    coverage)
        start=$SECONDS
        echo "== build-cov"
        bash scripts/coverage.sh "$repo/build-cov"
        echo "== build-cov: $((SECONDS - start)) s"
        ;;
    fuzz)
        echo "== build-fuzz"
        bash scripts/fuzz.sh
        ;;
    package)
        bash scripts/package.sh
        ;;
    hw)
        start=$SECONDS
        echo "== build-vm"
        bash vmboard/prepare.sh "$repo/build-vm"
        echo "== build-vm: prepared in $((SECONDS - start)) s"
        # Debian's pytest and labgrid: the system's own Python.
        PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m pytest -p no:cacheprovider \
            --lg-env "$repo/build-vm/qemu.yaml" tests/hw
        # Again on a board without sysfs GPIO: the GPIO library, the IR LED
        # and the lens's phases through the GPIO character device.
        PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m pytest -p no:cacheprovider \
            --lg-env "$repo/build-vm/qemu.yaml" --no-sysfs-gpio \
            tests/hw/test_gpio.py tests/hw/test_ir.py tests/hw/test_motor.py
        # The cases where the tool runs commands, again on the BusyBox
        # board: a camera's own shell and commands, the static tool.
        PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m pytest -p no:cacheprovider \
            --lg-env "$repo/build-vm/qemu-busybox.yaml" -m userland tests/hw
        echo "== build-vm: $((SECONDS - start)) s"
        ;;
    esac
done
if [ ${#sized[@]} -gt 0 ]; then
    echo "== size report"
    bash scripts/size-report.sh "${sized[@]/#/$repo/}"
fi
