"""The hardware suite: the tool on a board with a real kernel, driven by
labgrid. Run it with an environment whose target has a ShellStrategy:

    pytest --lg-env build-vm/qemu.yaml tests/hw      (the QEMU board)

Each test types what a technician would on the camera's shell, then reads
what the kernel shows: sysfs, tracefs, /proc, and the peers' own tools.

The QEMU board comes with a Debian userland (qemu.yaml) and with a
camera's own, BusyBox's (qemu-busybox.yaml). Cases whose result can depend
on the userland, those where the tool runs a command, are marked userland:
`-m userland` runs them alone, as on the BusyBox board.

With --no-sysfs-gpio the board's /sys/class/gpio is hidden under an empty
file system before the first test, as on a kernel built without sysfs
GPIO: the GPIO library then takes the lines through the character device
(/dev/gpiochipN), and the gpio, ir and motor tests check the same.

On a camera (vmboard/camera.yaml), cases that need a knob of the QEMU
board skip themselves, and cases that destroy what the camera keeps (the
card's contents, the lens positions) run only with --destructive.
"""
import re
import time

import pytest

# Lab knobs of the QEMU board's module (vmboard/camboard); a camera has none.
CAMBOARD = "/sys/module/camboard/parameters"

# What the QEMU board comes up with: a check on the board and what it shows.
BOARD_DEVICES = [
    ("test -e /dev/gpiochip4", "camboard's GPIO banks (/dev/gpiochip1..4)"),
    ("test -e /sys/class/pwm/pwmchip0", "camboard's PWM chip"),
    ("test -e /sys/bus/iio/devices/iio:device0", "camboard's ADC"),
    ("grep -q '\"data\"$' /proc/mtd", "camboard's NAND and its partitions"),
    ("grep -q ' /mnt/nand ubifs ' /proc/mounts", "the flash, UBIFS on /mnt/nand"),
    ("grep -q ' /mnt/nand2 ubifs ' /proc/mounts", "the flash, UBIFS on /mnt/nand2"),
    ("test -d /proc/media", "the media driver's state files"),
    ("test -b /dev/mmcblk0", "the SD card"),
    ("test -c /dev/ttyS1 && test -c /dev/ttyS2", "the RS-485 line's two ends"),
]

boots = []  # seconds from power-on to the shell, each boot


def pytest_addoption(parser):
    parser.addoption("--no-sysfs-gpio", action="store_true",
                     help="hide /sys/class/gpio: the tool's GPIO library uses /dev/gpiochipN")
    parser.addoption("--destructive", action="store_true",
                     help="on a camera, also run the cases that destroy what it keeps")


def pytest_configure(config):
    config.addinivalue_line("markers", "userland: the result can depend on the board's userland")


def qemu_board(strategy):
    return type(strategy.power).__name__ == "QEMUDriver"


def power_on(strategy, shell, config):
    """Powers the board on and waits for its shell; the seconds it took are
    kept for the summary. On the QEMU board, what did not come up is named."""
    start = time.monotonic()
    strategy.transition("shell")
    boots.append(time.monotonic() - start)
    if qemu_board(strategy):
        missing = [what for check, what in BOARD_DEVICES if shell.run(check)[2] != 0]
        if missing:
            raise RuntimeError("the board came up without " + "; ".join(missing))
    if config.getoption("no_sysfs_gpio"):
        shell.run_check("mount -t tmpfs -o ro,mode=755 no-sysfs-gpio /sys/class/gpio")


@pytest.fixture(scope="session")
def shell(target, strategy, pytestconfig):
    """The board's shell, the board powered on and booted once a session."""
    shell = target.get_driver("ShellDriver", activate=False)
    power_on(strategy, shell, pytestconfig)
    return shell


@pytest.fixture
def power_cut(strategy, shell, pytestconfig):
    """A function that cuts the board's power AFTER seconds from now, as a
    plug pulled: QEMU stops there and then, and the board syncs nothing.
    It then powers the board on and waits for its shell. The NAND keeps
    what reached it; everything else starts afresh. The QEMU board only."""
    if not qemu_board(strategy):
        pytest.skip("the suite cuts the power of the QEMU board only")

    def cut(after=0.0):
        time.sleep(after)
        strategy.transition("off")
        power_on(strategy, shell, pytestconfig)
    return cut


@pytest.fixture
def qemu(strategy):
    """A case that needs the QEMU board's own wiring or knobs."""
    if not qemu_board(strategy):
        pytest.skip("needs the QEMU board's wiring (not a camera)")


@pytest.fixture
def destructive(strategy, pytestconfig):
    """A case that destroys what the camera keeps: on a camera, only when
    asked with --destructive."""
    if not qemu_board(strategy) and not pytestconfig.getoption("destructive"):
        pytest.skip("destroys what the camera keeps: run with --destructive")


def pytest_terminal_summary(terminalreporter):
    if boots:
        terminalreporter.write_line(f"board: a shell {boots[0]:.1f} s after power-on")
    again = boots[1:]
    if len(again) == 1:
        terminalreporter.write_line(
            f"board: 1 power cut, a shell again {again[0]:.1f} s after power-on")
    elif again:
        terminalreporter.write_line(
            f"board: {len(again)} power cuts, a shell again "
            f"{min(again):.1f} to {max(again):.1f} s after power-on")


def run(shell, cmd, timeout=60):
    """The output of a command that must succeed, as one string."""
    return "\n".join(shell.run_check(cmd, timeout=timeout))


# The tests' faster clock, where the board has it (the QEMU board does):
# waits of the tool last 1/CLOCK_FACTOR of their time.
TEST_CLOCK = "/usr/local/lib/hw/libpreload_clock.so"
CLOCK_FACTOR = 25


def tool(shell, args, timeout=120, fast_clock=False):
    """debug ARGS on the board: its standard output, its standard error and
    its exit status, each apart. FAST_CLOCK runs it under the test clock."""
    env = ""
    if fast_clock and shell.run(f"test -e {TEST_CLOCK}")[2] == 0:
        env = f"LD_PRELOAD={TEST_CLOCK} CLOCK_FACTOR={CLOCK_FACTOR} "
    out, _, status = shell.run(f"{env}debug {args} 2>/tmp/hw.err", timeout=timeout)
    err = shell.run_check("cat /tmp/hw.err")
    return "\n".join(out), "\n".join(err), status


def lab_knob(shell, name):
    """The path of one of the lab's knobs; the test is skipped without it."""
    path = f"{CAMBOARD}/{name}"
    if shell.run(f"test -w {path}")[2] != 0:
        pytest.skip(f"the board has no {path} (not the QEMU board)")
    return path


def sysfs_gpio(shell):
    """Whether the board shows sysfs GPIO, which the GPIO library then uses."""
    return shell.run("test -e /sys/class/gpio/export")[2] == 0


def gpioinfo(shell, line):
    """How gpioinfo (the character device's) shows a global GPIO line:
    (direction, user), the user None when nothing holds the line. Line N
    is line N % 32 of the bank labelled gpio-bankN/32 (boardlibs/gpio)."""
    out = run(shell, f"gpioinfo gpio-bank{line // 32}")
    found = re.search(rf"line +{line % 32}: +\S+ +(unused|\"[^\"]*\") +(input|output)", out)
    return found[2], None if found[1] == "unused" else found[1].strip('"')


def levels(shell, lines):
    """The levels of global GPIO lines the tool has left, as the kernel
    reads them: in sysfs's value files, or through the character device,
    where the tool's own read leaves a line as it is (gpioget would make it
    an input)."""
    if sysfs_gpio(shell):
        values = run(shell, "cat " + " ".join(f"/sys/class/gpio/gpio{n}/value" for n in lines))
        return [int(v) for v in values.split()]
    return [int(tool(shell, f"-M gpio -r {n}")[0].split()[-1]) for n in lines]


@pytest.fixture
def gpio_trace(shell):
    """The kernel's record of GPIO values set from now on (tracefs
    gpio_value), as a function that returns [(line, value), ...]."""
    events = "/sys/kernel/tracing/events/gpio/gpio_value"
    run(shell, f"echo 1 >{events}/enable && : >/sys/kernel/tracing/trace")

    def sets(lines=None):
        found = []
        for row in run(shell, "grep ' gpio_value: ' /sys/kernel/tracing/trace || true").splitlines():
            line, what, value = row.split("gpio_value: ")[1].split()
            if what == "set" and (lines is None or int(line) in lines):
                found.append((int(line), int(value)))
        return found

    yield sets
    run(shell, f"echo 0 >{events}/enable")
