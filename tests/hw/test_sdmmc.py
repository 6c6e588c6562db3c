"""sdmmc: the SD card formatted, mounted, measured and repaired on the
kernel's MMC block and vfat drivers, checked with blkid, /proc/mounts and
statfs (stat -f)."""
import re

from conftest import run, tool

CARD = "/dev/mmcblk0"


def test_format_mount_info_and_repair_on_the_card(shell):
    out, err, status = tool(shell, "-M sdmmc -f -m -i -r", timeout=300)
    assert status == 0
    assert "faild" not in out + err
    assert f"Sd/mmc repair {CARD} success!" in out
    assert 'TYPE="vfat"' in run(shell, f"blkid {CARD}")
    assert re.search(rf"^{CARD} /mnt/mmc vfat rw,", run(shell, "cat /proc/mounts"), re.M)

    size, blocks, free = map(int, run(shell, "stat -f -c '%S %b %f' /mnt/mmc").split())
    total = size * blocks
    assert f"Block = {size >> 10} KB " in out
    assert f"Total = {total} B = {total >> 10} KB = {total >> 20} MB" in out
    assert f"Free = {(size * free) >> 10} KB" in out

