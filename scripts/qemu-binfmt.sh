#!/usr/bin/env bash
# Lets the build machine run AArch64 binaries as they are: registers Debian's
# static qemu-aarch64 (qemu-user-static) with the kernel's binfmt_misc. A
# binary then runs under its own name ("debug" in ps and pgrep), and a static
# emulator leaves LD_PRELOAD to the arm64 loader. Needs root unless the
# registration is already there; nothing to do when it is.
set -euo pipefail

misc=/proc/sys/fs/binfmt_misc
entry=$misc/qemu-aarch64
conf=/usr/lib/binfmt.d/qemu-aarch64.conf
die() { echo "qemu-binfmt: $*" >&2; exit 1; }

if [ ! -e "$misc/register" ]; then
    [ "$(id -u)" = 0 ] || die "binfmt_misc is not mounted; run as root"
    mount -t binfmt_misc binfmt_misc "$misc" || die "cannot mount binfmt_misc"
fi
[ "$(cat "$misc/status")" = enabled ] || die "binfmt_misc is disabled ($misc/status)"

if [ -e "$entry" ]; then
    grep -qx enabled "$entry" || die "$entry is disabled"
    # A dynamically linked emulator would itself take the arm64 LD_PRELOAD
    # libraries of the tests: the registration must be the static one.
    interpreter=$(realpath "$(sed -n 's/^interpreter //p' "$entry")")
    if readelf -l "$interpreter" | grep -q 'program interpreter'; then
        die "$entry runs $interpreter, a dynamically linked emulator: install qemu-user-static instead of qemu-user-binfmt"
    fi
    exit 0
fi

[ -r "$conf" ] || die "$conf missing: install qemu-user-static"
[ "$(id -u)" = 0 ] || die "qemu-aarch64 is not registered; run as root"
# The F flag opens the emulator now, so it also works inside the simulated
# board's mount namespace.
grep '^:' "$conf" >"$misc/register"
echo "qemu-binfmt: registered $(sed -n 's/^interpreter //p' "$entry") for AArch64 binaries"
