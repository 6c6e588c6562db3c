"""motor: the lens stepper's phase lines as the kernel saw them switch, and
its positions on the flash across a power cut."""
from conftest import levels, run, tool

PIRIS = (72, 73, 74, 75)  # A+ A- B+ B-

# The half-step states, A+ A- B+ B-: one coil, both, the other, ...
STATES = [(1, 0, 0, 0), (1, 0, 1, 0), (0, 0, 1, 0), (0, 1, 1, 0),
          (0, 1, 0, 0), (0, 1, 0, 1), (0, 0, 0, 1), (1, 0, 0, 1)]


def test_half_steps_forward_then_every_phase_off(shell, gpio_trace, destructive):
    run(shell, "echo 'piris 100' >/mnt/nand/stepper.pos")
    assert tool(shell, "-M motor -t 2 -d 0 -s 4")[1:] == ("", 0)
    assert run(shell, "cat /mnt/nand/stepper.pos") == "piris 104"

    # Replay the writes: after each one the phases show a half-step state,
    # one line apart from the last, never a coil driven both ways.
    phases = dict.fromkeys(PIRIS, 0)
    shown = []
    for line, value in gpio_trace(PIRIS):
        phases[line] = value
        now = tuple(phases[p] for p in PIRIS)
        assert not (now[0] and now[1]) and not (now[2] and now[3])
        if now in STATES and (not shown or shown[-1] != now):
            shown.append(now)
    # The first step sets all four lines, and may show the state the motor
    # rests in on the way.
    assert shown[-4:] == [STATES[p % 8] for p in range(101, 105)]
    assert shown[:-4] in ([], [STATES[100 % 8]])
    assert phases == dict.fromkeys(PIRIS, 0)
    assert levels(shell, PIRIS) == [0, 0, 0, 0]


def test_a_position_that_cannot_be_saved_is_not_trusted_after_a_cut(shell, power_cut):
    run(shell, "echo 'piris 100' >/mnt/nand/stepper.pos && sync")
    run(shell, "dd if=/dev/urandom of=/mnt/nand/fill bs=64k 2>/dev/null; sync; true", timeout=300)
    try:
        out, err, status = tool(shell, "-M motor -t 2 -d 0 -s 4")
        assert "cannot save the lens positions" in err
        power_cut()
        # The lens is at 104: the file says so, or says nothing and the
        # next move homes it; never the 100 it was saved at.
        assert run(shell, "cat /mnt/nand/stepper.pos 2>/dev/null || true") in ("piris 104", "")
    finally:
        run(shell, "rm -f /mnt/nand/fill && sync")
