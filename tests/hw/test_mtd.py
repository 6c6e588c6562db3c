"""mtd: the NAND's bad blocks as MEMGETBADBLOCK answers them, against
mtd-utils' own reading (mtdinfo's eraseblock map)."""
import re

from conftest import lab_knob, run, tool


def mtdinfo_bad(shell, dev):
    """Flash addresses of DEV's bad blocks by mtdinfo: offset + block."""
    start = int(run(shell, f"cat /sys/class/mtd/{dev}/offset"))
    return [start + int(offset, 16) for offset in
            re.findall(r"\d+: ([0-9a-f]{8})\s+BAD", run(shell, f"mtdinfo -M /dev/{dev}"))]


def test_bad_blocks_match_mtdinfo(shell):
    badblocks = lab_knob(shell, "badblocks")
    run(shell, f"echo 0,20,30,200,1023 >{badblocks}")  # erase blocks of the chip
    out, err, status = tool(shell, "-M mtd -b 1")
    assert (err, status) == ("", 0)
    found = [int(a, 16) for a in re.findall(r"Bad block found at : ([0-9a-f]{8})", out)]
    devs = re.findall(r"^(mtd\d+):", run(shell, "cat /proc/mtd"), re.M)
    assert found == [a for dev in devs for a in mtdinfo_bad(shell, dev)]
    assert found == [block * 0x20000 for block in (0, 20, 30, 200, 1023)]
    assert out.endswith("\nTotal bad block : 5")
    run(shell, f"echo >{badblocks}")
