"""gpio: one line written and read through the kernel's GPIO subsystem."""
from conftest import gpioinfo, lab_knob, run, sysfs_gpio, tool

LED = 14  # the IR LED's line: an output the module may drive


def test_a_write_drives_the_line_and_a_read_reports_it(shell, gpio_trace):
    assert tool(shell, f"-M gpio -w {LED:#x} -d 1") == \
        (f"GPIO write id = {LED}, data = 1", "", 0)
    # An output after the tool: left exported through sysfs; through the
    # character device released as the tool ended, nothing holding it.
    assert gpioinfo(shell, LED) == ("output", "sysfs" if sysfs_gpio(shell) else None)
    assert gpio_trace([LED]) == [(LED, 1)]

    out, err, status = tool(shell, f"-M gpio -r {LED:#x}")
    assert out.splitlines()[-1] == f"GPIO read id = {LED}, data = 1"
    assert (err, status) == ("", 0)


def test_a_read_of_an_input_gives_what_drives_it(shell):
    levels = lab_knob(shell, "gpio_levels")
    key = 1  # the reset button's line, an input of bank 0
    for level in (1, 0):
        run(shell, f"echo {level << key},0,0,0 >{levels}")
        out, _, _ = tool(shell, f"-M gpio -r {key}")
        assert out.splitlines()[-1] == f"GPIO read id = {key}, data = {level}"
    # Taken only to be read, the line is given back as it was found.
    assert gpioinfo(shell, key) == ("input", None)
