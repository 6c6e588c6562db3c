# Signal storms: SIGINT, SIGQUIT and SIGTERM at random moments to a module
# that loops or waits, run after run on one board. Sourced after lib.sh by
# tests/e2e/faults_signals.test and bench/signal_storm.sh:
#
#   storm_begin MODULE            a board set up for MODULE (begin + fixtures)
#   storm MODULE COUNT            runs until COUNT signals have been sent;
#                                 prints one line of figures and sets
#                                 storm_sent storm_runs storm_hangs
#                                 storm_wrong storm_torn storm_longest_ms
#
# Each run: start the tool, wait until it is at work (its first line, or a
# moment after it started), wait a random time, send a burst of one to three
# signals, then give it one second plus the step in progress to end. A run
# counts as a hang past that, as wrong status when its status is not the
# module's, and as torn when a line of its output is not one of the module's
# whole lines (or the notice), or its summary is missing or doubled.
# STORM_SEED=<n> replays a storm; the seed is printed.

STORM_SEED=${STORM_SEED:-$(($(date +%s) % 32768))}
RANDOM=$STORM_SEED
echo "storm seed $STORM_SEED (STORM_SEED=$STORM_SEED replays it)"

NOTICE='Get signal, signo = (2|3|15)'
SIGNALS=(INT QUIT TERM)
# Time a run gets beyond one second plus its step: the machine is shared.
STORM_SLACK_MS=${STORM_SLACK_MS:-1500}

# ---- the modules: what runs, how it ends -------------------------------------
# Each profile sets: cmd (the words run), marker (a text of the tool's once
# it is at work, "" for none), status, step_ms (the longest step the tool
# finishes after a signal), out and err (EREs of whole lines, escapes
# stripped), summary (an ERE that matches exactly once, "" for none).
storm_profile() {
    marker="" want_status=0 step_ms=0 summary="" err='^$'
    case $1 in
    cpu)
        cmd=(debug -M cpu -c 1000) marker="ARM LOAD" step_ms=100
        out='^( |Create cpu log: /tmp/cpulog.txt|ARM LOAD RUNNING FOR COUNT: 1000 |CPU: *[0-9]+% \(sys: *[0-9]+% user: *[0-9]+% wait: *[0-9]+% steal: *[0-9]+%\) )$'
        summary='^Average:[0-9.]+%   Max:[0-9.]+%  Min:[0-9.]+% $' ;;
    adc)
        cmd=(debug -M adc -d 300) marker="Adc[0]" step_ms=100
        out='^Adc\[0\] = [0-9]+$' ;;
    sdmmc)
        cmd=(debug -M sdmmc -z 1 -n 1000 -F) marker="Try to filling" step_ms=1000
        out='^(All size = [0-9]+ MB, free size = [0-9]+ MB |Try to filling sdmmc by creating 1000 files, echo file size 1 MB |Create /mnt/mmc/file[0-9]+ |Free size = [0-9]+ MB )$'
        summary='^Create total [0-9]+ files $' ;;
    shell)
        # The fill's dd of 32 MB is under way most of the time: the signal
        # reaches the tool, which ends the command it runs.
        cmd=(debug -M sdmmc -z 32 -n 1000 -F) marker="Try to filling" step_ms=1000
        out='^(All size = [0-9]+ MB, free size = [0-9]+ MB |Try to filling sdmmc by creating 1000 files, echo file size 32 MB |Create /mnt/mmc/file[0-9]+ |Free size = [0-9]+ MB )$'
        summary='^Create total [0-9]+ files $' ;;
    ptz)
        cmd=(debug -M ptz) step_ms=100 out='^$' ;;
    ir)
        cmd=(debug -M ir -t -1 -d 50) step_ms=100
        out='^( |Test date: .{24}|	 IR-cut result: success|	 use time: [0-9]+s )$'
        summary='IR-cut result: success' ;;
    motor)
        # A move is stopped after the step under way and reported as failed
        # and as the stop asked for; a signal before it skips it, said so.
        cmd=(debug -M motor -s 100000) step_ms=100 out='^$'
        err='^(libstepper: focus: stopped by signal (2|3|15) after [0-9]+ of [0-9]+ steps, at [0-9]+| ERROR  \(bv_motor\|motor_test_main\|[0-9]+\): (STEPPER_run failed! |the move was stopped by a signal, as asked: not a motor fault|stopped by a signal before the move: STEPPER_run skipped \(type 0, dir 0, steps 100000\)))$' ;;
    db)
        cmd=(debug -M db -e "insert into storm values (1);") marker="Current Database" step_ms=100
        out='^Current Database File: \[/mnt/nand/bvdb.db\] $'
        err="^ ERROR  \\(bv_db\\|db_execute\\|[0-9]+\\): stopped while waiting for /tmp/db.fl, not run: 'insert into storm values \\(1\\);' \$" ;;
    *) return 1 ;;
    esac
}

STORM_MODULES="cpu adc sdmmc shell ptz ir motor db"

# ---- boards ------------------------------------------------------------------
storm_card() {
    echo fuse >>"$BOARD/devices"
    mkdir -p "$ROOT/proc/sys/vm"
    : >"$ROOT/proc/sys/vm/drop_caches"
    truncate -s 512M "$ROOT/dev/mmcblk0"
    mkdosfs -I -F 32 "$ROOT/dev/mmcblk0" >/dev/null
    restart
}

storm_begin() {
    begin "signal storm: $1"
    case $1 in
    adc)
        mkdir -p "$ROOT/sys/bus/iio/devices/iio:device0"
        echo 1023 >"$ROOT/sys/bus/iio/devices/iio:device0/in_voltage0_raw" ;;
    sdmmc | shell) storm_card ;;
    ir) with_sysfs "$CAMERA_SYSFS" ;;
    motor)
        with_sysfs "$CAMERA_SYSFS"
        echo "focus 0" >"$ROOT/mnt/nand/stepper.pos" ;;
    ptz)
        on_board "$BUILD_DIR/tests/tool_pelco" /tmp/wire.pts >/dev/null 2>&1 </dev/null &
        local i
        for i in $(seq 200); do [ -s "$ROOT/tmp/wire.pts" ] && break; sleep 0.05; done
        on_board sh -c ': >/dev/ttyS1 && mount --bind "$(cat /tmp/wire.pts)" /dev/ttyS1' ;;
    db)
        run debug -M db -e "create table storm (n integer);"
        # Another process holds the lock file for the whole storm.
        on_board "$BUILD_DIR/tests/tool_lockf" /tmp/db.fl \
            'touch /tmp/locked; while [ ! -e /tmp/release ]; do sleep 0.05; done' &
        for i in $(seq 100); do [ -e "$ROOT/tmp/locked" ] && break; sleep 0.05; done ;;
    esac
}

# What a module leaves between runs is tidied, and checked where it must be whole.
storm_after_run() {
    case $1 in
    sdmmc | shell) on_board sh -c 'rm -f /mnt/mmc/file*' ;;
    motor) echo "focus 0" >"$ROOT/mnt/nand/stepper.pos" ;; # never at the travel's end
    ir)
        # The debug log: one whole 1024-byte record a run.
        local size
        size=$(stat -c %s "$ROOT/mnt/nand/debug.log" 2>/dev/null || echo 0)
        [ $((size % 1024)) = 0 ] || { echo "    debug.log: $size bytes, a record torn" >&2; return 1; } ;;
    esac
    return 0
}

storm_end() {
    case $1 in
    db)
        touch "$ROOT/tmp/release"
        wait
        # No statement stopped in its wait ran afterwards.
        run debug -M db -s "select count(*) from storm;"
        grep -qx 0 "$BOARD/out" || note_failure "a stopped statement ran: $(cat "$BOARD/out")" ;;
    esac
}

# ---- one storm ---------------------------------------------------------------
ms() { echo $(($(date +%s%N) / 1000000)); }

# The tool itself: the oldest debug of the board (a child it has just forked
# bears the same name until it runs its own program).
storm_tool_pid() {
    pgrep --ns "$(cat "$BOARD/.holder")" --nslist pid -o -x debug
}

# Lines of a run that are neither the module's nor the notice nor empty,
# and a summary missing or doubled: how many.
storm_torn_lines() {
    local clean=$BOARD/out.clean n
    sed -E 's/\x1b\[[0-9;]*m//g' "$BOARD/out" >"$clean"
    n=$(grep -Ev -- "$out" "$clean" | grep -Ev -- "${summary:-^$}" | grep -Evc "^(|$NOTICE)\$")
    n=$((n + $(grep -F signo "$clean" | grep -Evc "^$NOTICE\$")))
    n=$((n + $(grep -Ev -- "$err" "$BOARD/err" | grep -c .)))
    if [ -n "$summary" ] && [ "$(grep -Ec -- "$summary" "$clean")" != 1 ]; then n=$((n + 1)); fi
    echo "$n"
}

storm() {
    local module=$1 count=$2 tool t0 took limit burst sig i torn
    storm_profile "$module" || { note_failure "no storm for $module"; return 1; }
    storm_sent=0 storm_runs=0 storm_hangs=0 storm_wrong=0 storm_torn=0 storm_longest_ms=0
    limit=$((1000 + step_ms + STORM_SLACK_MS))
    # A run that ended before its signal is run again, a bounded number of times.
    while [ "$storm_sent" -lt "$count" ] && [ "$storm_runs" -lt $((count * 3 + 5)) ]; do
        start "${cmd[@]}"
        storm_runs=$((storm_runs + 1))
        tool=""
        for i in $(seq 200); do tool=$(storm_tool_pid) && break; sleep 0.02; done
        if [ -n "$marker" ]; then
            for i in $(seq 250); do grep -qF -- "$marker" "$BOARD/out" && break; sleep 0.02; done
        else
            sleep 0.3
        fi
        sleep "0.$(printf '%03d' $((RANDOM % 1000)))"
        t0=$(ms)
        # Half the gaps are none: signals that meet the handler at work.
        tool=$(storm_tool_pid)
        for burst in $(seq $((1 + RANDOM % 3))); do
            sig=${SIGNALS[RANDOM % 3]}
            [ -n "$tool" ] && kill -"$sig" "$tool" 2>/dev/null || break
            storm_sent=$((storm_sent + 1))
            [ $((RANDOM % 2)) = 0 ] || sleep "0.0$((RANDOM % 10))"
        done
        while kill -0 "$pid" 2>/dev/null && [ $(($(ms) - t0)) -lt "$limit" ]; do sleep 0.01; done
        took=$(($(ms) - t0))
        if kill -0 "$pid" 2>/dev/null; then
            storm_hangs=$((storm_hangs + 1))
            echo "    $module run $storm_runs: still running ${took} ms after the first signal" >&2
            tool=$(storm_tool_pid) && kill -KILL "$tool"
        fi
        finish
        [ "$took" -gt "$storm_longest_ms" ] && storm_longest_ms=$took
        if [ "$status" != "$want_status" ]; then
            storm_wrong=$((storm_wrong + 1))
            echo "    $module run $storm_runs: status $status" >&2
        fi
        torn=$(storm_torn_lines)
        storm_after_run "$module" || torn=$((torn + 1))
        if [ "$torn" -gt 0 ]; then
            storm_torn=$((storm_torn + torn))
            echo "    $module run $storm_runs: $torn lines not whole:" >&2
            sed -E 's/\x1b\[[0-9;]*m//g' "$BOARD/out" "$BOARD/err" | tail -5 | sed 's/^/      /' >&2
        fi
    done
    printf '%-6s signals %4d  runs %4d  hangs %d  wrong status %d  torn lines %d  longest end %5d ms\n' \
        "$module" "$storm_sent" "$storm_runs" "$storm_hangs" "$storm_wrong" "$storm_torn" \
        "$storm_longest_ms"
}
