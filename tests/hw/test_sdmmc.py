"""sdmmc: the SD card formatted, mounted, measured and repaired on the
kernel's MMC block and vfat drivers. The tool's exit status says nothing
here (it is 0 even when an action fails): the card is the judge, as the
kernel sees it in /proc/partitions, the mount table, blkid and statfs
(stat -f)."""
import re

import pytest

from conftest import run, tool

CARD = "/dev/mmcblk0"
# fdisk's dialogue, util-linux's and BusyBox's alike: a new DOS table, a
# 64 MiB first partition and a second over the rest.
TWO_PARTITIONS = r"o\nn\np\n1\n\n+64M\nn\np\n2\n\n\nw\n"

pytestmark = pytest.mark.userland


def partitions(shell):
    return re.findall(r"\b(mmcblk0\S*)$", run(shell, "cat /proc/partitions"), re.M)


def card_mount(shell):
    """Whether the card's file system is mounted on /mnt/mmc."""
    return re.search(rf"^{CARD} /mnt/mmc vfat ", run(shell, "cat /proc/mounts"), re.M) is not None


def test_a_used_card_is_formatted_whole_mounted_measured_and_repaired(shell, destructive):
    # A used card: two partitions, a FAT file system on the first, mounted.
    # (The kernel makes the partitions' nodes a moment after fdisk ends.)
    run(shell, f"printf '{TWO_PARTITIONS}' | fdisk {CARD} >/dev/null 2>&1; "
        f"for i in $(seq 50); do [ -b {CARD}p1 ] && break; sleep 0.1; done; "
        f"mkdosfs {CARD}p1 >/dev/null && mount -t vfat {CARD}p1 /mnt/mmc")
    assert partitions(shell) == ["mmcblk0", "mmcblk0p1", "mmcblk0p2"]

    out, err, _ = tool(shell, "-M sdmmc -f -m -i", timeout=300)
    assert "faild" not in out + err
    assert partitions(shell) == ["mmcblk0"]  # no stale partition left
    assert 'TYPE="vfat"' in run(shell, f"blkid {CARD}")
    assert card_mount(shell)
    size, blocks, free = map(int, run(shell, "stat -f -c '%S %b %f' /mnt/mmc").split())
    total = size * blocks
    assert f"Block = {size >> 10} KB " in out
    assert f"Total = {total} B = {total >> 10} KB = {total >> 20} MB" in out
    assert f"Free = {(size * free) >> 10} KB" in out

    # The repair runs on the file system unmounted: while a program holds a
    # file open on it, it cannot be, and is not repaired; then it is, and
    # is mounted again.
    run(shell, "touch /mnt/mmc/held && (sleep 600 </mnt/mmc/held & echo $! >/tmp/holder.pid)")
    try:
        out, err, _ = tool(shell, "-M sdmmc -r", timeout=300)
        assert "repair" not in out and f"{CARD} not repaired" in err
    finally:
        run(shell, "kill $(cat /tmp/holder.pid); "
            "while kill -0 $(cat /tmp/holder.pid) 2>/dev/null; do sleep 0.1; done")
    out, err, _ = tool(shell, "-M sdmmc -r", timeout=300)
    assert f"Sd/mmc repair {CARD} success!" in out
    assert card_mount(shell)
