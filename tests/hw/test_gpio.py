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


def test_a_line_another_program_holds_is_left_to_it(shell, gpio_trace):
    line = 15  # held high by gpioset through the character device
    run(shell, f"gpioset --mode=signal gpio-bank0 {line}=1 & echo $! >/tmp/holder.pid")
    try:
        run(shell, f"until gpioinfo gpio-bank0 | grep -qE 'line +{line}:.*gpioset'; do sleep 0.1; done")
        out, err, _ = tool(shell, f"-M gpio -w {line} -d 0")
        assert f"gpio {line}" in err, err  # the report names the line
        assert gpioinfo(shell, line) == ("output", "gpioset")
        assert (line, 0) not in gpio_trace([line])  # the tool wrote nothing to it
    finally:
        run(shell, "kill $(cat /tmp/holder.pid)")
