#!/usr/bin/python3
"""Runs a bench script on the real-kernel board: boots the board of a
labgrid environment (vmboard/prepare.sh writes build-vm/qemu.yaml), copies
the script there, runs it with bash and its arguments, prints what it
printed and powers the board off.
    bench/vmboard.py ENV SCRIPT [ARG...]"""
import shlex
import sys

from labgrid import Environment


def main(env_file, script, *args):
    target = Environment(env_file).get_target("main")
    strategy = target.get_driver("ShellStrategy")
    strategy.transition("shell")
    try:
        shell = target.get_driver("ShellDriver")
        shell.run_check(": >/tmp/bench.sh")
        with open(script) as f:
            for line in f:
                shell.run_check(f"printf '%s\\n' {shlex.quote(line.rstrip(chr(10)))} >>/tmp/bench.sh")
        out, _, status = shell.run("bash /tmp/bench.sh " + " ".join(map(shlex.quote, args)),
                                   timeout=1800)
        print("\n".join(out))
        return status
    finally:
        strategy.transition("off")


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
