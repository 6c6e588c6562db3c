#!/usr/bin/env bash
# Time from the start of `debug -M ptz --stop` to the arrival of its first
# frame at the head's end of the RS-485 link, against that frame's own time
# on the wire at 9600 baud: 7 bytes of 10 bits (start, 8 data, stop), 7.29
# ms. On the simulated board the head's end is the decoder
# (tests/support/tool_pelco) on the other end of the pseudo-terminal that is
# the board's /dev/ttyS1; with --vm, on the real-kernel board (QEMU;
# vmboard/prepare.sh first), a reader of /dev/ttyS2, the 16550 wired to
# ttyS1. The start is stamped by the shell that then starts the tool:
# loading, start-up, parsing, opening and setting up the port and the write
# all count. The real clock throughout: no test clock. The tool is then
# interrupted in its 50 s wait.
#   bench/ptz_first_frame.sh [BUILD_DIR] [RUNS]      (default build, 21)
#   bench/ptz_first_frame.sh --vm [BUILD_VM] [RUNS]  (default build-vm, 11)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
summary='
    { t[NR] = $1 }
    END {
        wire = bits / 9600
        best = t[1]; median = t[int((NR + 1) / 2)]
        printf "ptz first frame: debug -M ptz --stop, %d runs\n", runs
        printf "  frame on the wire at 9600 baud: %.2f ms (7 bytes x 10 bits)\n", wire * 1000
        printf "  start to first frame: best %.2f ms, median %.2f ms\n", best * 1000, median * 1000
        printf "  ratio to the frame time: best %.2f, median %.2f\n", best / wire, median / wire
    }'
frame_bits=$((7 * 10))

if [ "${1:-}" = --vm ]; then
    env=$(realpath "${2:-$repo/build-vm}")/qemu.yaml
    runs=${3:-11}
    [ -f "$env" ] || { echo "prepare the board first: vmboard/prepare.sh" >&2; exit 1; }
    script=$(mktemp)
    trap 'rm -f "$script"' EXIT
    # On the board: the head's end reads one frame and stamps its arrival
    # (bash's own clock, no process started for it).
    cat >"$script" <<'BOARD'
stty -F /dev/ttyS2 9600 raw -echo
for ((i = 0; i < $1; i++)); do
    { dd if=/dev/ttyS2 of=/tmp/frame bs=7 count=1 iflag=fullblock 2>/dev/null; echo $EPOCHREALTIME >/tmp/t1; } &
    reader=$!
    sleep 0.5
    t0=$EPOCHREALTIME
    debug -M ptz --stop >/dev/null &
    tool=$!
    wait $reader
    kill -INT $tool; wait $tool
    [ "$(od -An -tx1 /tmp/frame | xargs)" = "ff 01 00 00 00 00 01" ] || { echo "run $i: no stop frame" >&2; exit 1; }
    echo "$t0 $(cat /tmp/t1)"
done
BOARD
    echo "real-kernel board (QEMU, $(basename "$(dirname "$env")"))"
    /usr/bin/python3 "$repo/bench/vmboard.py" "$env" "$script" "$runs" |
        awk 'NF == 2 { printf "%.6f\n", $2 - $1; next } { print > "/dev/stderr" }' |
        sort -n | awk -v runs="$runs" -v bits=$frame_bits "$summary"
    exit
fi

build=$(realpath "${1:-$repo/build}")
runs=${2:-21}
board_tool=$repo/simboard/board
decoder=$build/tests/tool_pelco
[ -x "$build/debug" ] && [ -x "$decoder" ] || { echo "build $build first" >&2; exit 1; }

board=$build/bench/ptz
"$board_tool" new "$board" -B "$build"
root=$board/root
cp "$root/opt/app/bvdb.db" "$root/mnt/nand/"
cp "$root/opt/app/oem.db" "$root/mnt/nand2/"
"$board_tool" start "$board"
trap '"$board_tool" stop "$board"' EXIT
log=$board/wire.log
("$board_tool" exec "$board" "$decoder" /tmp/wire.pts >"$log" 2>&1 &)
for _ in $(seq 200); do
    [ -s "$root/tmp/wire.pts" ] && break
    sleep 0.05
done
"$board_tool" exec "$board" sh -c ': >/dev/ttyS1 && mount --bind "$(cat /tmp/wire.pts)" /dev/ttyS1'
holder=$(cat "$board/.holder")

: >"$board/times"
for ((i = 0; i < runs; i++)); do
    seen=$(wc -l <"$log")
    "$board_tool" exec "$board" sh -c 'date +%s.%N; exec debug -M ptz --stop >/dev/null' \
        >"$board/start" &
    tool=$!
    for _ in $(seq 400); do
        [ "$(wc -l <"$log")" -gt "$seen" ] && break
        sleep 0.01
    done
    line=$(tail -n +$((seen + 1)) "$log" | head -1)
    case $line in
    *" D ff 01 00 00 00 00 01 stop") ;;
    *) echo "run $i: no stop frame on the link: '$line'" >&2; exit 1 ;;
    esac
    pid=$(pgrep --ns "$holder" --nslist pid -n -x debug || true)
    [ -z "$pid" ] || kill -INT "$pid"
    wait "$tool" || true
    awk -v t0="$(cat "$board/start")" -v t1="${line%% *}" 'BEGIN { printf "%.6f\n", t1 - t0 }' \
        >>"$board/times"
done

sort -n "$board/times" | awk -v runs="$runs" -v bits=$frame_bits "$summary"
