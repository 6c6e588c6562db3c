#!/usr/bin/env bash
# Time of the mtd bad-block scan per erase block: a simulated 1 GiB NAND
# partition with 128 KiB erase blocks (8192 MEMGETBADBLOCK requests) against
# a one-block partition, both on the simulated board with the test build's
# stand-in for the MTD driver. Start-up and board costs cancel out in the
# difference.
#   bench/mtd_scan.sh [BUILD_DIR] [RUNS]     (default build, 7)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$repo/build}")
runs=${2:-7}
board_tool=$repo/simboard/board
preload=$build/tests/libpreload_mtd.so
[ -x "$build/debug" ] && [ -f "$preload" ] || { echo "build $build first" >&2; exit 1; }

board=$build/bench/mtd
"$board_tool" new "$board" -B "$build"
trap '"$board_tool" stop "$board"' EXIT
root=$board/root
cp "$root/opt/app/bvdb.db" "$root/mnt/nand/"
cp "$root/opt/app/oem.db" "$root/mnt/nand2/"
cat >"$root/proc/mtd" <<'EOF'
dev:    size   erasesize  name
mtd0: 40000000 00020000 "nand"
mtd1: 00020000 00020000 "one"
EOF
# A few bad blocks spread over the chip, as on a used part.
printf 'size 0x40000000\nbad 0x20000\nbad 0x1000000\nbad 0x3ffe0000\n' >"$root/dev/mtd0"
printf 'size 0x20000\n' >"$root/dev/mtd1"
"$board_tool" start "$board"

# Best of RUNS, in microseconds, of debug -M mtd -b 1 timed on the board,
# with /dev/mtd$1 present (the other partition's node is hidden: its open
# fails at once).
best_us() {
    local hide=$((1 - $1)) best=-1 i t
    mv "$root/dev/mtd$hide" "$root/dev/hidden"
    for ((i = 0; i < runs; i++)); do
        t=$("$board_tool" exec "$board" \
            env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
            bash -c 'TIMEFORMAT=%R
                { time env LD_PRELOAD="$0" debug -M mtd -b 1 >/tmp/out 2>&1; } 2>&1' "$preload")
        t=$((10#${t/./}))
        ((best < 0 || t < best)) && best=$t
    done
    mv "$root/dev/hidden" "$root/dev/mtd$hide"
    echo $((best * 1000))
}

full=$(best_us 0)
# The whole chip was asked about: its three bad blocks are all found.
grep -qx 'Total bad block : 3' "$root/tmp/out" || { cat "$root/tmp/out" >&2; exit 1; }
one=$(best_us 1)
blocks=8192
per_block=$(((full - one) * 1000 / (blocks - 1))) # ns
printf 'mtd scan: 1 GiB, 128 KiB erase blocks, %d requests\n' "$blocks"
printf '  whole run %d.%03d ms, one-block run %d.%03d ms (best of %d)\n' \
    $((full / 1000)) $((full % 1000)) $((one / 1000)) $((one % 1000)) "$runs"
printf '  per erase block: %d.%03d us\n' $((per_block / 1000)) $((per_block % 1000))
