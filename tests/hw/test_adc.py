"""adc: the photodiode's channel read through the kernel's IIO subsystem."""
import pytest

from conftest import lab_knob, run, tool

RAW = "/sys/bus/iio/devices/iio:device0/in_voltage0_raw"


def test_a_reading_the_lab_set_is_reported_in_millivolts(shell):
    if shell.run(f"echo 612 >{RAW}")[2] != 0:
        pytest.skip("the board's ADC takes no reading from the lab (not the QEMU board)")
    assert tool(shell, "-M adc -c 0 -t 2 -d 10") == \
        ("Adc[0] = 186\nAdc[0] = 186", "", 0)  # 612 * 580 / 1900 mV


def test_a_read_the_driver_fails_is_reported_not_taken_for_night(shell):
    failing = lab_knob(shell, "adc_failing")
    run(shell, f"echo 1 >{failing}")  # channel 0's reads fail with EIO
    try:
        out, err, status = tool(shell, "-M adc -c 0 -t 1 -d 10")
    finally:
        run(shell, f"echo 0 >{failing}")
    assert (out, status) == ("adc_read error!", 0)
    assert err.endswith(f"Adc channel 0: reading {RAW} failed: Input/output error")
