#!/usr/bin/env bash
# Cost of one GPIO write by the tool, `debug -M gpio -w N -d 1`, against the
# same sysfs writes made from the shell (the line's export, refused as it is
# exported already, and its value), on one of the two boards: the simulated
# board's sysfs (its FUSE emulator) or, with --vm, the real-kernel board's
# (gpiolib's sysfs, under QEMU; vmboard/prepare.sh first). Each loop runs
# inside one shell on the board; best of RUNS.
#   bench/gpio_write.sh [BUILD_DIR] [WRITES] [RUNS]       (default build, 200, 5)
#   bench/gpio_write.sh --vm [BUILD_VM] [WRITES] [RUNS]   (default build-vm, 50, 3)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
vm=0
[ "${1:-}" = --vm ] && { vm=1; shift; }
# Under emulation a process start costs some 80 ms: fewer loops.
writes=${2:-$((vm ? 50 : 200))}
runs=${3:-$((vm ? 3 : 5))}
line=20

# The measurement, run by bash on the board: LINE WRITES RUNS.
loops=$(mktemp)
trap 'rm -f "$loops"' EXIT
cat >"$loops" <<'BOARD'
line=$1 writes=$2 runs=$3 gpio=/sys/class/gpio
debug -M gpio -w "$line" -d 0 >/dev/null
# best_us LOOP_BODY: best time of RUNS loops of WRITES, in microseconds.
best_us() {
    local best=-1 run t
    for ((run = 0; run < runs; run++)); do
        t=$({ TIMEFORMAT=%R; time for ((i = 0; i < writes; i++)); do eval "$1"; done; } 2>&1)
        t=$((10#${t/./}))
        ((best < 0 || t < best)) && best=$t
    done
    echo $((best * 1000))
}
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
BOARD

if [ $vm = 1 ]; then
    env=$(realpath "${1:-$repo/build-vm}")/qemu.yaml
    [ -f "$env" ] || { echo "prepare the board first: vmboard/prepare.sh" >&2; exit 1; }
    echo "real-kernel board (QEMU, $(basename "$(dirname "$env")"))"
    exec /usr/bin/python3 "$repo/bench/vmboard.py" "$env" "$loops" $line "$writes" "$runs"
fi

build=$(realpath "${1:-$repo/build}")
board_tool=$repo/simboard/board
[ -x "$build/debug" ] && [ -x "$build/simboard/simsysfs" ] || { echo "build $build first" >&2; exit 1; }
board=$build/bench/gpio
"$board_tool" new "$board" -B "$build"
cp "$repo/simboard/sysfs/camera.sysfs" "$board/sysfs"
cp "$loops" "$board/root/tmp/loops.sh"
trap 'rm -f "$loops"; "$board_tool" stop "$board"' EXIT
"$board_tool" start "$board"
echo "simulated board (sysfs emulator)"
"$board_tool" exec "$board" bash /tmp/loops.sh $line "$writes" "$runs"
