"""media: the media driver's state files (the QEMU board's /proc/media,
filled with the simulated board's sample states) collected by av_log.sh
into /tmp/media, and the module's report from them, byte for byte as on
the simulated board."""
from pathlib import Path

import pytest

from conftest import run, tool

EXPECTED = Path(__file__).resolve().parent.parent / "e2e" / "expected" / "media"
SAMPLES = "/usr/local/lib/hw/media"

pytestmark = pytest.mark.userland


def test_the_report_and_a_whole_log_from_the_drivers_state(shell, qemu):
    run(shell, f"for f in {SAMPLES}/*.log; do cat $f >/proc/media/$(basename $f .log); done")
    out, err, status = tool(shell, "-M media --all")
    assert (err, status) == ("", 0)
    assert out.splitlines() == EXPECTED.joinpath("all.out").read_text().rstrip("\n").splitlines()
    # A whole log, through cat.
    out, err, status = tool(shell, "-M media --vda")
    assert (err, status) == ("", 0)
    assert out == run(shell, f"cat {SAMPLES}/vda.log")
