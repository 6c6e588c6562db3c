"""ir: the IR LED switched on and off, as the kernel saw it."""
from conftest import levels, tool

LED = 14


def test_the_led_toggles_the_times_asked(shell, gpio_trace):
    out, err, status = tool(shell, "-M ir -t 4 -d 50")
    assert (status, err) == (0, "")
    assert "IR-cut result: success" in out
    assert gpio_trace([LED]) == [(LED, 0), (LED, 1), (LED, 0), (LED, 1)]
    assert levels(shell, [LED]) == [1]
