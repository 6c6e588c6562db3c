# The PTZ head on the RS-485 link. The board's /dev/ttyS1 is one end of a
# pseudo-terminal pair; the decoder at the other end stands in for the head
# and prints each frame that arrives. The module waits 50 s after a command
# (715 s for the whole test sequence): here its clock runs 100 times faster
# (the test clock, tests/support/preload_clock.cpp).
wire_log=$board/wire.log
(simboard/board exec "$board" "$repo/build/tests/tool_pelco" /tmp/wire.pts >"$wire_log" 2>&1 &)
for _ in $(seq 100); do
    [ -s "$board/root/tmp/wire.pts" ] && break
    sleep 0.05
done
simboard/board exec "$board" sh -c ': >/dev/ttyS1 && mount --bind "$(cat /tmp/wire.pts)" /dev/ttyS1'
wire_seen=0

# ptz_show ARGS...: debug -M ptz ARGS... as typed, then the frames it sent.
ptz_show() {
    printf '\n# debug -M ptz %s\n' "$*"
    simboard/board exec "$board" env LD_PRELOAD="$repo/build/tests/\$LIB/libpreload_clock.so" \
        CLOCK_FACTOR=100 debug -M ptz "$@" || echo "(exit status $?)"
    if [ "${1:-}" = -h ]; then return; fi
    sleep 0.2
    echo "  on the link (time, protocol, bytes, what the head reads):"
    tail -n +$((wire_seen + 1)) "$wire_log" | sed 's/^/    /'
    wire_seen=$(wc -l <"$wire_log")
}

show debug -h ptz
ptz_show -s 3 --zoomin
ptz_show -P 1 -B 4800 -g 3 --lighton
ptz_show -s 4 -S 10
ptz_show
# The port's settings as the tool left them: the decoder reports on SIGUSR1.
kill -USR1 "$(pgrep --ns "$(cat "$board/.holder")" --nslist pid -n -x tool_pelco)"
sleep 0.2
printf '\n# the port: %s\n' "$(tail -1 "$wire_log" | cut -d' ' -f2-)"
