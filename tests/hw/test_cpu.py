"""cpu: the load of the board's own kernel, with one of its two CPUs kept
busy by a shell loop."""
import re

import pytest

from conftest import run, tool

pytestmark = pytest.mark.userland


def test_one_busy_cpu_of_two_reads_about_half_the_load(shell):
    run(shell, "(while :; do :; done) >/dev/null 2>&1 & echo $! >/tmp/busy.pid")
    try:
        out, err, status = tool(shell, "-M cpu -c 3", timeout=60)
    finally:
        run(shell, "kill $(cat /tmp/busy.pid)")
    assert (err, status) == ("", 0)
    loads = [int(x) for x in re.findall(r"^CPU: +(\d+)%", out, re.M)]
    assert len(loads) == 3 and all(40 <= load <= 75 for load in loads), out
    assert re.search(r"^Average:\d+\.\d+% +Max:\d+\.\d+% +Min:\d+\.\d+% ?$", out, re.M), out
    assert run(shell, "grep -c '^CPU: ' /tmp/cpulog.txt") == "3"
