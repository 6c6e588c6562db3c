"""ir: the IR LED switched on and off, as the kernel saw it, and the test's
record in the debug log on the flash, kept across a power cut."""
from conftest import levels, run, tool

LED = 14
RECORDS = "grep -acs 'IR-cut result' /mnt/nand/debug.log || true"


def test_the_led_toggles_the_times_asked_and_the_record_is_kept(shell, gpio_trace, power_cut):
    before = int(run(shell, RECORDS) or 0)
    out, err, status = tool(shell, "-M ir -t 4 -d 50")
    assert (status, err) == (0, "")
    assert gpio_trace([LED]) == [(LED, 0), (LED, 1), (LED, 0), (LED, 1)]
    assert levels(shell, [LED]) == [1]
    power_cut()
    assert int(run(shell, RECORDS) or 0) == before + 1
