"""pwm: a channel's setting as the PWM core holds it."""
from conftest import run, tool


def test_the_kernel_holds_the_period_duty_and_enable_set(shell):
    assert tool(shell, "-M pwm -c 1 -p 100000 -d 250 -e 1")[1:] == ("", 0)
    channel = "/sys/class/pwm/pwmchip0/pwm1"
    assert run(shell, f"cat {channel}/period {channel}/duty_cycle {channel}/enable") \
        == "100000\n25000\n1"
    # The core's own view of the chip, from the driver's state.
    run(shell, "mountpoint -q /sys/kernel/debug || mount -t debugfs none /sys/kernel/debug")
    assert "requested enabled period: 100000 ns duty: 25000 ns polarity: normal" in \
        run(shell, "grep 'pwm-1 ' /sys/kernel/debug/pwm")
