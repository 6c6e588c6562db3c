# Harness of the end-to-end suites: each case runs the real debug binary on a
# fresh simulated board and compares standard output, standard error and the
# exit status to the byte.
#
#   begin "what the case shows"   new board, started; $BOARD is its tree,
#                                 $ROOT the files that appear at / on the board
#                                 (with BOARD_NETWORK=1 set, a network board)
#   run debug -M cpu -v           run a command on the board; stdout, stderr and
#                                 status kept in $BOARD/out, $BOARD/err, $status
#   start debug -M cpu; ...       the same in the background; wait_out TEXT
#                                 waits for output, board_pid gives the
#                                 tool's pid for kill, finish waits for it
#   expect_status 0
#   expect_out NAME | expect_out - <<'EOF'
#                                 stdout against expected/<suite>/NAME.out or
#                                 the here-document
#   expect_err NAME | expect_err - <<'EOF' | expect_err ''  (nothing at all)
#                                 stderr likewise; line numbers in error
#                                 reports are compared as "LINE"
#   restart                       board down and up (after changing what is
#                                 read at start: devices, root/proc)
#   end                           board down; removed when the case passed
#   emulated                      true when the tool under test is another
#                                 machine's build run through an emulator
#   skip_case "what" "why"        a case that cannot run here, reported as
#                                 SKIP with its reason
#   LD_PRELOAD=$(preload NAME)    tests/support/preload_NAME.cpp, for the
#                                 tool and for the host programs around it
#   with_sysfs [FILE] [<<'EOF']   the board's sysfs description (FILE, or
#                                 standard input; $CAMERA_SYSFS is the
#                                 camera's), then a restart: /sys/class/gpio
#                                 and /sys/class/pwm are the emulator's (and
#                                 the ADC's IIO device, with "iio" lines)
#   expect_writes - <<'EOF'       its write log since the last
#                                 expect_writes, without the times
#
# UPDATE_GOLDEN=1 writes the NAME files from what the tool printed: read
# every such file before committing it.
set -u

SOURCE_DIR=${SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
BUILD_DIR=${BUILD_DIR:-$SOURCE_DIR/build}
BOARD_TOOL=$SOURCE_DIR/simboard/board
suite=$(basename "$0" .test)
expected=$SOURCE_DIR/tests/e2e/expected/$suite
boards=$BUILD_DIR/e2e/$suite
passed=0
failed=0
skipped=0
case_name=""
case_failed=0
BOARD=""
ROOT=""
pid=""
status=""

note_failure() {
    echo "    $*" >&2
    case_failed=1
}

begin() {
    case_name=$1
    case_failed=0
    local slug
    slug=$(printf '%s' "$case_name" | tr -c 'A-Za-z0-9' '_' | cut -c1-60)
    BOARD=$boards/$slug
    ROOT=$BOARD/root
    "$BOARD_TOOL" new "$BOARD" -B "$BUILD_DIR"
    # BOARD_NETWORK=1: the board gets a network of its own (simboard/README.md).
    if [ "${BOARD_NETWORK:-0}" = 1 ]; then : >"$BOARD/network"; fi
    "$BOARD_TOOL" start "$BOARD"
}

# Takes the board down and up again: for changes read at start (the devices
# file, files under root/proc).
restart() {
    "$BOARD_TOOL" stop "$BOARD"
    "$BOARD_TOOL" start "$BOARD"
}

# Points the board's debug at another build of it (for example the test build).
use_binary() {
    ln -sfn "$1" "$BOARD/bin/debug"
}

on_board() {
    "$BOARD_TOOL" exec "$BOARD" "$@"
}

run() {
    status=0
    timeout -s KILL "${RUN_TIMEOUT:-300}" "$BOARD_TOOL" exec "$BOARD" "$@" \
        >"$BOARD/out" 2>"$BOARD/err" </dev/null || status=$?
}

start() {
    # Emptied first, so that wait_out never finds an earlier run's output.
    : >"$BOARD/out"
    : >"$BOARD/err"
    timeout -s KILL "${RUN_TIMEOUT:-300}" "$BOARD_TOOL" exec "$BOARD" "$@" \
        >"$BOARD/out" 2>"$BOARD/err" </dev/null &
    pid=$!
}

# Host pid of the newest process named NAME (default debug) on the board.
# Prints nothing when there is none: "kill $(board_pid)" must never become
# "kill 0", which would signal the suite's own process group.
board_pid() {
    local name=${1:-debug} holder found i
    holder=$(cat "$BOARD/.holder" 2>/dev/null) || { note_failure "board is not started"; return 1; }
    for i in $(seq 100); do
        found=$(pgrep --ns "$holder" --nslist pid -n -x "$name")
        [ -n "$found" ] && { echo "$found"; return 0; }
        sleep 0.05
    done
    note_failure "no process $name on the board"
    return 1
}

wait_out() {
    local text=$1 i
    for i in $(seq "${2:-200}"); do
        grep -qF -- "$text" "$BOARD/out" 2>/dev/null && return 0
        sleep 0.05
    done
    note_failure "timed out waiting for output: $text"
    return 1
}

finish() {
    status=0
    wait "$pid" || status=$?
}

show_bytes() {
    # Tabs, escapes and trailing blanks made visible.
    cat -A "$1" | head -${SHOW_LINES:-60}
}

compare() {
    local what=$1 actual=$2 name=$3 want
    want=$BOARD/want.$what
    if [ "$name" = - ]; then
        cat >"$want"
    elif [ -z "$name" ]; then
        : >"$want"
    else
        want=$expected/$name.$what
        if [ "${UPDATE_GOLDEN:-0}" = 1 ]; then
            mkdir -p "$expected"
            cp "$actual" "$want"
        fi
    fi
    if ! cmp -s "$want" "$actual"; then
        note_failure "standard $what differs (- expected, + actual):"
        diff -u <(show_bytes "$want") <(show_bytes "$actual") | tail -n +3 | sed 's/^/      /' >&2
    fi
}

normalise_lines() {
    sed -E 's/( ERROR  \([^|()]*\|[^|()]*\|)[0-9]+(\): )/\1LINE\2/g' "$1"
}

expect_out() { compare out "$BOARD/out" "$1"; }

expect_err() {
    normalise_lines "$BOARD/err" >"$BOARD/err.norm"
    compare err "$BOARD/err.norm" "$1"
}

expect_status() {
    [ "$status" = "$1" ] || note_failure "exit status $status, expected $1"
}

# Passes when the command succeeds; prints its output otherwise.
check() {
    local output
    if ! output=$("$@" 2>&1); then
        note_failure "check failed: $*"
        printf '%s\n' "$output" | sed 's/^/      /' >&2
    fi
}

end() {
    "$BOARD_TOOL" stop "$BOARD"
    if [ "$case_failed" = 0 ]; then
        passed=$((passed + 1))
        echo "PASS $suite: $case_name"
        rm -rf "$BOARD"
    else
        failed=$((failed + 1))
        echo "FAIL $suite: $case_name (board kept in $BOARD)"
    fi
}

# The tests of a cross build run through qemu-user (set by tests/CMakeLists.txt;
# for a suite run by hand, the tool's machine is compared with this one's).
emulated() {
    if [ -n "${DEBUG_EMULATED:-}" ]; then
        [ "$DEBUG_EMULATED" = 1 ]
        return
    fi
    local tool host
    tool=$(readelf -h "$BUILD_DIR/debug" 2>/dev/null | sed -n 's/^ *Machine: *//p')
    host=$(readelf -h /bin/sh | sed -n 's/^ *Machine: *//p')
    [ -n "$tool" ] && [ "$tool" != "$host" ]
}

# The loader expands $LIB to its own machine's library directory, so that
# under emulation the tool gets the board's build of the library and the
# host programs it runs (or that run beside it) get the build machine's.
preload() {
    printf '%s/tests/$LIB/libpreload_%s.so' "$BUILD_DIR" "$1"
}

skip_case() {
    skipped=$((skipped + 1))
    echo "SKIP $suite: $1 ($2)"
}

# ---- the board's sysfs emulator (simboard/sysfs/) ----
CAMERA_SYSFS=$SOURCE_DIR/simboard/sysfs/camera.sysfs
sysfs_seen=0

with_sysfs() {
    if [ $# -gt 0 ]; then cp "$1" "$BOARD/sysfs"; else cat >"$BOARD/sysfs"; fi
    restart
    sysfs_seen=0
}

# The writes logged since the last call (a restart starts a new log).
sysfs_new_writes() {
    local total
    total=$(wc -l <"$BOARD/sysfs.log")
    [ "$total" -ge "$sysfs_seen" ] || sysfs_seen=0
    tail -n +$((sysfs_seen + 1)) "$BOARD/sysfs.log" | cut -d' ' -f2-
    sysfs_seen=$total
}

expect_writes() {
    sysfs_new_writes >"$BOARD/writes"
    compare writes "$BOARD/writes" "$1"
}

summary() {
    if [ "$skipped" -gt 0 ]; then
        echo "$suite: $passed passed, $failed failed, $skipped skipped"
    else
        echo "$suite: $passed passed, $failed failed"
    fi
    [ "$failed" = 0 ]
}
