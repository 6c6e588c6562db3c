# The SD card: a blank 512 MiB card is partitioned and formatted, mounted
# for its sizes, then its write and read speed is measured (128 MiB each).
# The card is a sparse image at /dev/mmcblk0, mounted through FUSE; while it
# is in, the board has its own cache-release file, so that the host's
# caches are left alone.
truncate -s 512M "$board/root/dev/mmcblk0"
grep -qx fuse "$board/devices" || echo fuse >>"$board/devices"
mkdir -p "$board/root/proc/sys/vm"
: >"$board/root/proc/sys/vm/drop_caches"
simboard/board stop "$board"
simboard/board start "$board"

show debug -M sdmmc -f -i
show debug -M sdmmc -s

# Card out; the board's /proc/sys is the kernel's again for what follows.
rm -rf "$board/root/proc/sys" "$board/root/dev/mmcblk0"
simboard/board stop "$board"
simboard/board start "$board"
