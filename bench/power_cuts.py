#!/usr/bin/python3
"""Cuts the real-kernel board's power at random instants while the tool
works on the flash, and checks after each boot what it promised:
    bench/power_cuts.py ENV [CUTS [SEED]]       (ENV: build-vm/qemu.yaml)
Each cut takes one action at random, types it on the console, cuts the
power (QEMU stops; the board syncs nothing) a random time later, powers
the board on and checks the flash:
  restore  oem.db removed, then a run restores it: afterwards it is
           missing or whole, never a part
  db       a change: when the tool said it was done before the cut, it is
           there; the database is whole either way
  wifi     a network: when the tool said it was saved before the cut, the
           file holds it
Prints, per action, the cuts tried, how many came after the tool's report,
and the faults found, with the seed that replays the campaign. The flash
is left as the campaign leaves it: prepare the board again after it."""
import random
import sys
import time

from labgrid import Environment
from pexpect import TIMEOUT

DB = "/mnt/nand/bvdb.db"
OEM = "/mnt/nand2/oem.db"


def restore_cmd(n):
    return f"rm -f {OEM}; debug -M db -d oem -t"


def restore_ok(shell, n, seen):
    return shell.run(f"test ! -e {OEM} || cmp -s /opt/app/oem.db {OEM}")[2] == 0


def db_cmd(n):
    return f"debug -M db -e \"update user set password = 'cut{n}' where id = 2;\""


def db_ok(shell, n, seen):
    whole = shell.run(f"sqlite3 {DB} 'pragma integrity_check'")[0] == ["ok"]
    if "End execute: 'update user set password = 'cut" + str(n) not in seen:
        return whole
    kept = shell.run(f"sqlite3 {DB} 'select password from user where id = 2'")[0]
    return whole and kept == [f"cut{n}"]


def wifi_cmd(n):
    return ("until wpa_cli -i wlan0 ping >/dev/null 2>&1; do sleep 0.2; done; "
            f"debug -M wifi -e 3 -m 0 --ssid Cut-{n} --psk lab-passphrase")


def wifi_ok(shell, n, seen):
    if f'"Cut-{n}" (WPA2-PSK) selected and saved' not in seen:
        return True
    return shell.run(f"grep -q 'ssid=\"Cut-{n}\"' /mnt/nand/wpa_supplicant.conf")[2] == 0


# name: (command for cut n, check after the boot, longest wait before the
# cut, what the tool prints once it has done its part)
ACTIONS = {
    "restore": (restore_cmd, restore_ok, 10.0, "Current Database File"),
    "db": (db_cmd, db_ok, 6.0, "End execute"),
    "wifi": (wifi_cmd, wifi_ok, 8.0, "selected and saved"),
}


def type_then_cut(strategy, console, cmd, delay):
    """Types CMD on the console, cuts the power DELAY seconds later and
    returns what the console showed until then."""
    console.sendline(cmd)
    seen = b""
    end = time.monotonic() + delay
    while (left := end - time.monotonic()) > 0:
        try:
            seen += console.read(size=4096, timeout=left)
        except TIMEOUT:
            break
    strategy.transition("off")
    return seen.decode(errors="replace")


def main(env_file, cuts="20", seed=None):
    seed = int(seed) if seed is not None else random.randrange(1 << 32)
    rng = random.Random(seed)
    print(f"power cuts: {cuts}, seed {seed}", flush=True)
    target = Environment(env_file).get_target("main")
    strategy = target.get_driver("ShellStrategy")
    strategy.transition("shell")
    shell = target.get_driver("ShellDriver")
    tally = {name: [0, 0, 0] for name in ACTIONS}  # cuts, after the report, faults
    try:
        for n in range(int(cuts)):
            name = rng.choice(sorted(ACTIONS))
            cmd, ok, longest, report = ACTIONS[name]
            delay = rng.uniform(0, longest)
            seen = type_then_cut(strategy, shell.console, cmd(n), delay)
            strategy.transition("shell")
            reported = report in seen
            good = ok(shell, n, seen)
            tally[name][0] += 1
            tally[name][1] += reported
            tally[name][2] += not good
            print(f"cut {n}: {name} after {delay:.2f} s: {'ok' if good else 'FAULT'}", flush=True)
    finally:
        strategy.transition("off")
    print(f"{'action':8} {'cuts':>5} {'after report':>13} {'faults':>7}")
    for name, (tried, after, faults) in tally.items():
        print(f"{name:8} {tried:5} {after:13} {faults:7}")
    print(f"seed {seed}")
    return 1 if any(t[2] for t in tally.values()) else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
