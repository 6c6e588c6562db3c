#!/usr/bin/env bash
# Installs the Debian packages that the project needs and this machine lacks:
# every name in scripts/packages/*.list. Needs root only when something is
# missing.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Optional preparation some lists need (for example a foreign architecture).
for hook in "$here"/packages/*.sh; do
    [ -e "$hook" ] && bash "$hook"
done

wanted=$(sed 's/#.*//' "$here"/packages/*.list | xargs)
missing=()
for pkg in $wanted; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages, run as root: ${missing[*]}" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
