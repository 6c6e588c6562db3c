"""ptz: the frames a head receives at the far end of the RS-485 line
(/dev/ttyS2 on the QEMU board, wired to the tool's /dev/ttyS1), at a baud
rate other than the default, in both protocols."""
import pytest

from conftest import run, tool

HEAD = "/dev/ttyS2"


def pelco_frames(data, protocol):
    """The frames in DATA as (address, cmd1, cmd2, data1, data2), each
    checked for its sync byte, length and checksum."""
    size = 7 if protocol == "D" else 8
    assert len(data) % size == 0, data.hex(" ")
    frames = []
    for i in range(0, len(data), size):
        f = data[i:i + size]
        if protocol == "D":
            assert f[0] == 0xFF and f[6] == sum(f[1:6]) % 256, f.hex(" ")
        else:
            check = 0
            for b in f[:7]:
                check ^= b
            assert f[0] == 0xA0 and f[6] == 0xAF and f[7] == check, f.hex(" ")
        frames.append(tuple(f[1:6]))
    return frames


@pytest.mark.parametrize("protocol, option, baud, camera1", [("D", 0, 4800, 0x01),
                                                             ("P", 1, 2400, 0x00)])
def test_up_then_stop_at_the_heads_end(shell, qemu, protocol, option, baud, camera1):
    frames = 2 * (7 if protocol == "D" else 8)
    run(shell, f"stty -F {HEAD} {baud} raw -echo && (cat {HEAD} >/tmp/head.bin & echo $! >/tmp/head.pid)")
    try:
        # The head listens before the first frame leaves.
        run(shell, "until ls -l /proc/$(cat /tmp/head.pid)/fd | grep -q ttyS2; do sleep 0.05; done")
        # The head moves for the module's 50 s before its stop.
        assert tool(shell, f"-M ptz -B {baud} -P {option} --up", fast_clock=True)[1:] == ("", 0)
        run(shell, f"for i in $(seq 100); do [ $(stat -c %s /tmp/head.bin) -ge {frames} ] && break; "
            "sleep 0.05; done")
    finally:
        run(shell, "kill $(cat /tmp/head.pid)")
    data = bytes.fromhex(run(shell, "od -An -v -tx1 /tmp/head.bin").replace("\n", " "))
    up, stop = pelco_frames(data, protocol)
    assert up == (camera1, 0x00, 0x08, 0x26, 0x26)  # tilt up at speed 38
    assert stop == (camera1, 0x00, 0x00, 0x00, 0x00)
    # The kernel's view of the tool's port: the rate it was set to.
    assert run(shell, "stty -F /dev/ttyS1 speed") == str(baud)
