"""pwm: a channel's setting as the PWM core holds it, which refuses a
duty cycle longer than the period at every write."""
from conftest import run, tool

CHANNEL = "/sys/class/pwm/pwmchip0/pwm1"


def setting(shell):
    return run(shell, f"cat {CHANNEL}/period {CHANNEL}/duty_cycle {CHANNEL}/enable").split()


def test_the_kernel_holds_the_period_duty_and_enable_set(shell):
    assert tool(shell, "-M pwm -c 1 -p 100000 -d 250 -e 1")[1:] == ("", 0)
    assert setting(shell) == ["100000", "25000", "1"]
    # A longer duty, then a period shorter than that duty: the duty must
    # shrink before the period, or the kernel refuses the period.
    assert tool(shell, "-M pwm -c 1 -p 100000 -d 900 -e 1")[1:] == ("", 0)
    assert tool(shell, "-M pwm -c 1 -p 50000 -d 900 -e 1")[1:] == ("", 0)
    assert setting(shell) == ["50000", "45000", "1"]
