# shellcheck shell=bash
# Harness of the package tests: cases that pass or fail, with the reason.
#   begin "what the case shows"; check CMD...; expect_same WANT ACTUAL; end
#   summary                      "N passed, N failed"; fails when any failed
suite=$(basename "$0" .test)
passed=0
failed=0
case_name=""
case_failed=0

begin() {
    case_name=$1
    case_failed=0
}

note_failure() {
    echo "    $*" >&2
    case_failed=1
}

# Passes when the command succeeds; shows its output otherwise.
check() {
    local output
    if ! output=$("$@" 2>&1); then
        note_failure "check failed: $*"
        printf '%s\n' "$output" | tail -n 20 | sed 's/^/      /' >&2
    fi
}

# Two files must be equal to the byte.
expect_same() {
    if ! cmp -s "$1" "$2"; then
        note_failure "$2 differs from $1 (- expected, + actual):"
        diff -u "$1" "$2" | tail -n +3 | head -n 40 | sed 's/^/      /' >&2
    fi
}

end() {
    if [ "$case_failed" = 0 ]; then
        passed=$((passed + 1))
        echo "PASS $suite: $case_name"
    else
        failed=$((failed + 1))
        echo "FAIL $suite: $case_name"
    fi
}

summary() {
    echo "$suite: $passed passed, $failed failed"
    [ "$failed" = 0 ]
}
