#!/usr/bin/env bash
# The SD card speed test on the simulated card, next to a plain dd of the
# same size (128 MiB in 128 KiB blocks) on the same card image.
#
#   bench/sdmmc_speed.sh [BUILD] [ROUNDS]
#
# The card is a sparse 512 MiB image at /dev/mmcblk0, FAT32, mounted through
# fusefat. "debug -M sdmmc -s" writes and reads /mnt/mmc/empty.file through
# the file system; the plain dd writes and reads the image itself (the card
# unmounted), past the FAT, where the file system keeps its data. The board
# releases no host cache, so both reads come from the host's page cache.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$repo/build}")
rounds=${2:-3}
board=$build/bench-sdmmc
card=$board/root/dev/mmcblk0
B=$repo/simboard/board

"$B" new "$board" -B "$build"
echo fuse >"$board/devices"
mkdir -p "$board/root/proc/sys/vm"
: >"$board/root/proc/sys/vm/drop_caches"
truncate -s 512M "$card"
mkdosfs -I -F 32 "$card" >/dev/null
"$B" start "$board"
trap '"$B" stop "$board"; rm -rf "$board"' EXIT

# "134217728 bytes (134 MB, 128 MiB) copied, 4.17 s, 32.1 MB/s" -> "4.17 s  32.1 MB/s"
figures() { sed -n 's/.* copied, \([0-9.]*\) s, \(.*\)$/\1 s  \2/p'; }

printf '%-5s  %-26s  %-26s  %-26s  %-26s\n' round "tool write (dd on FAT)" "tool read (dd on FAT)" \
    "plain dd write (image)" "plain dd read (image)"
for round in $(seq "$rounds"); do
    tool=$("$B" exec "$board" debug -M sdmmc -s 2>&1 | figures)
    # Data area of the card: past the boot sector and the two FATs (1 MiB).
    plain=$("$B" exec "$board" sh -c '
        umount /mnt/mmc
        dd if=/dev/zero of=/dev/mmcblk0 bs=128k count=1k seek=9 conv=notrunc 2>&1
        dd if=/dev/mmcblk0 of=/dev/null bs=128k count=1k skip=9 2>&1' | figures)
    printf '%-5s  %-26s  %-26s  %-26s  %-26s\n' "$round" \
        "$(sed -n 1p <<<"$tool")" "$(sed -n 2p <<<"$tool")" \
        "$(sed -n 1p <<<"$plain")" "$(sed -n 2p <<<"$plain")"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
