#!/usr/bin/env bash
# Cost of one GPIO write by the tool, `debug -M gpio -w N -d 1`, against the
# same sysfs writes made from the shell (the line's export, refused as it is
# exported already, and its value), on the simulated board's sysfs. Each
# loop runs inside one shell on the board; best of RUNS.
#   bench/gpio_write.sh [BUILD_DIR] [WRITES] [RUNS]     (default build, 200, 5)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:-$repo/build}")
writes=${2:-200}
runs=${3:-5}
board_tool=$repo/simboard/board
[ -x "$build/debug" ] && [ -x "$build/simboard/simsysfs" ] || { echo "build $build first" >&2; exit 1; }

board=$build/bench/gpio
"$board_tool" new "$board" -B "$build"
cp "$repo/simboard/sysfs/camera.sysfs" "$board/sysfs"
trap '"$board_tool" stop "$board"' EXIT
"$board_tool" start "$board"
line=20
"$board_tool" exec "$board" debug -M gpio -w $line -d 0 >/dev/null

# best_us LOOP_BODY: best time of RUNS loops of WRITES, in microseconds.
best_us() {
    local best=-1 i t
    for ((i = 0; i < runs; i++)); do
        t=$("$board_tool" exec "$board" bash -c 'TIMEFORMAT=%R
            { time for ((i = 0; i < $1; i++)); do eval "$2"; done; } 2>&1' _ "$writes" "$1")
        t=$((10#${t/./}))
        ((best < 0 || t < best)) && best=$t
    done
    echo $((best * 1000))
}

gpio=/sys/class/gpio
tool=$(best_us "debug -M gpio -w $line -d \$((i % 2)) >/dev/null 2>&1")
shell=$(best_us "echo $line 2>/dev/null >$gpio/export; echo \$((i % 2)) >$gpio/gpio$line/value")
spawn=$(best_us "sh -c 'echo $line 2>/dev/null >$gpio/export; echo \$0 >$gpio/gpio$line/value' \$((i % 2))")
per() { echo "$(($1 / writes)) us"; }
printf 'gpio write, %d writes of line %d, best of %d\n' "$writes" "$line" "$runs"
printf '  debug -M gpio -w:        %s a write\n' "$(per "$tool")"
printf '  shell, built-in echo:    %s a write\n' "$(per "$shell")"
printf '  shell, one sh -c each:   %s a write\n' "$(per "$spawn")"
printf '  ratio tool / built-in:   %d.%02d\n' $((tool / shell)) $((tool * 100 / shell % 100))
printf '  ratio tool / sh -c:      %d.%02d\n' $((tool / spawn)) $((tool * 100 / spawn % 100))
