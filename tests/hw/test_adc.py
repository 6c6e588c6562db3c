"""adc: the photodiode's channel read through the kernel's IIO subsystem."""
import pytest

from conftest import run, tool

RAW = "/sys/bus/iio/devices/iio:device0/in_voltage0_raw"


def test_a_reading_the_lab_set_is_reported_in_millivolts(shell):
    if shell.run(f"echo 612 >{RAW}")[2] != 0:
        pytest.skip("the board's ADC takes no reading from the lab (not the QEMU board)")
    assert tool(shell, "-M adc -c 0 -t 2 -d 10") == \
        ("Adc[0] = 186\nAdc[0] = 186", "", 0)  # 612 * 580 / 1900 mV
