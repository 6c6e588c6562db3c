#!/usr/bin/env bash
# Builds the fuzz targets with Clang (build-fuzz/) and runs each one for a
# bounded time, starting from the seeds of tests/fuzz/seeds.sh; fails on any
# finding. Prints one line per target: executions, executions per second,
# coverage (cov: edges, ft: features).
#   scripts/fuzz.sh [-n RUNS] [-t SECONDS] [target...]   (default: 6 s, every target)
# FUZZ_BUILD=DIR runs the targets of an existing build instead of building.
# What a finding left (the input that failed, the fuzzer's log) is in
# BUILD/fuzz/findings/ and BUILD/fuzz/logs/; reproduce with BUILD/tests/fuzz/TARGET FILE.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=-1
seconds=6
while getopts n:t: opt; do
    case $opt in
    n) runs=$OPTARG ;;
    t) seconds=$OPTARG ;;
    *) echo "usage: fuzz.sh [-n RUNS] [-t SECONDS] [target...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

if [ -n "${FUZZ_BUILD:-}" ]; then
    build=$(cd "$FUZZ_BUILD" && pwd)
else
    build=$repo/build-fuzz
    CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -G Ninja -DDEBUG_WERROR=ON -DDEBUG_FUZZ=ON \
        -DBUILD_TESTING=OFF -DDEBUG_DOCS=OFF >/dev/null
    cmake --build "$build" --target fuzz
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for src in "$repo"/tests/fuzz/fuzz_*.cpp; do
        name=$(basename "$src" .cpp)
        targets+=("${name#fuzz_}")
    done
fi

work=$build/fuzz
rm -rf "$work/seeds"
bash "$repo/tests/fuzz/seeds.sh" "$work/seeds" >/dev/null
mkdir -p "$work/corpus" "$work/logs" "$work/findings"

# The last figure NAME of a fuzzer's log ("cov: 123", "stat::...: 456").
figure() { grep -oE "$1 *[0-9]+" "$2" | tail -n 1 | grep -oE '[0-9]+$' || echo -; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
printf '%-14s %12s %9s %6s %7s  %s\n' target executions exec/s cov ft result
for target in "${targets[@]}"; do
    program=$build/tests/fuzz/$target
    if [ ! -x "$program" ]; then
        echo "fuzz: no target $target in $build/tests/fuzz" >&2
        exit 2
    fi
    # The corpus grows from run to run; the seeds are added each time.
    corpus=$work/corpus/$target
    mkdir -p "$corpus" "$work/findings/$target"
    [ -d "$work/seeds/$target" ] && { cp -n "$work/seeds/$target"/* "$corpus"/ 2>/dev/null || true; }
    log=$work/logs/$target.log
    start=$work/logs/$target.start
    touch "$start"
    result=ok
    if ! "$program" -runs="$runs" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/findings/$target/" "$corpus" >"$log" 2>&1; then
        result="FINDING: $(find "$work/findings/$target" -type f -newer "$start" -printf '%f ')"
        failed+=("$target")
    fi
    printf '%-14s %12s %9s %6s %7s  %s\n' "$target" \
        "$(figure 'stat::number_of_executed_units:' "$log")" \
        "$(figure 'stat::average_exec_per_sec:' "$log")" \
        "$(figure 'cov:' "$log")" "$(figure 'ft:' "$log")" "$result"
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: findings in ${failed[*]}; logs in $work/logs" >&2
    exit 1
fi
