#!/usr/bin/env bash
# Sets up, builds and shows the tool's main job on the simulated board: each
# simboard/demo/*.sh adds the sessions a technician would type.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
bash scripts/setup.sh
# The default build: the tool with its tests, whose helpers some parts use.
build=$repo/build
bash scripts/build.sh "$build" >/dev/null

board=$build/demo-board
simboard/board new "$board"
: >"$board/network" # wlan0 and an access point's end for the Wi-Fi part
simboard/board start "$board"
trap 'simboard/board stop "$board"' EXIT

# show CMD...: prints the command as typed, then runs it on the board.
show() {
    printf '\n# %s\n' "$*"
    simboard/board exec "$board" "$@" || echo "(exit status $?)"
}

for part in simboard/demo/*.sh; do
    . "$part"
done
