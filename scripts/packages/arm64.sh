#!/usr/bin/env bash
# The board build links arm64 libraries installed beside the build machine's
# own (Debian multiarch): the foreign architecture has to be known to dpkg
# before arm64.list can name packages of it. Does nothing when it already is.
set -euo pipefail
dpkg --print-foreign-architectures | grep -qx arm64 && exit 0
if [ "$(id -u)" != 0 ]; then
    echo "setup: run as root to add the arm64 architecture (dpkg --add-architecture arm64)" >&2
    exit 1
fi
echo "setup: adding the arm64 architecture"
dpkg --add-architecture arm64
apt-get -o DPkg::Lock::Timeout=600 update -qq
