#!/usr/bin/env bash
# Builds each fuzz target's seed corpus from the tests' own inputs:
#   tests/fuzz/seeds.sh OUT_DIR      (OUT_DIR/<target>/ for every target)
# The option lines of the end-to-end suites become argument vectors (words
# split at NUL), the suites' fixtures become file contents; tests/fuzz/corpus/
# adds what no fixture holds.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=${1:?usage: seeds.sh OUT_DIR}
e2e=$repo/tests/e2e

# seed TARGET: standard input becomes one seed file of TARGET, named by its
# contents (the same seed twice is one file).
seed() {
    local new=$out/$1/.new
    mkdir -p "$out/$1"
    cat > "$new"
    mv "$new" "$out/$1/$(sha1sum < "$new" | cut -c1-16)"
}

# byte N: the byte of value N (0..255) on standard output.
# shellcheck disable=SC2059 # the format is the octal escape itself
byte() { printf "\\$(printf %03o "$1")"; }

# Option lines: "debug -M <module> words..." of every suite. Lines that
# expand shell variables are left out; quotes are dropped.
modules=(adc cpu db extdrv gpio ir media motor mtd pt ptz pwm sdmmc wifi)
for module in "${modules[@]}"; do
    mkdir -p "$out/parse_$module"
    grep -hoE "debug -M $module( [^|>;&\$]*)?" "$e2e"/*.test | sort -u |
        while read -r _ _ _ words; do
            # shellcheck disable=SC2086 # split into words on purpose
            set -f -- ${words//[\"\']/}
            [ $# -gt 0 ] && printf '%s\0' "$@" | seed "parse_$module"
        done
    # The usage request and an unknown option reach every parser.
    printf '%s\0' -h | seed "parse_$module"
    printf '%s\0' --nosuch 1 | seed "parse_$module"
done

# /proc/stat readers: a /proc/self/stat line, then a whole /proc/stat; the
# cpu suite's base reading, a NUL and each of its later readings.
self_line() { echo "1234 (debug) R 1 1234 1234 0 -1 4194304 100 0 0 0 $1 3 0 0 20 0 1 0"; }
for stat in "$e2e"/fixtures/cpu/*.stat; do
    seed cpu_stat < "$stat"
    { self_line 7; cat "$stat"; } | seed cpu_stat
    { self_line 7; cat "$e2e"/fixtures/cpu/base.stat; printf '\0'; self_line 9; cat "$stat"; } |
        seed cpu_stat
done

# /proc/mtd: the partition lines of the mtd suite under the kernel's heading.
grep -hoE "^proc_mtd .*" "$e2e"/mtd.test | while read -r line; do
    { echo 'dev:    size   erasesize  name'; grep -oE "'[^']*'" <<<"$line" | tr -d "'" || true; } |
        seed mtd_table
done

# media logs: the first byte picks the report (fuzz_media_log.cpp's table).
reports=(sys vb vpss vi venc rc acodec ao adec ai aenc ai ao)
for i in "${!reports[@]}"; do
    log=$repo/simboard/fixtures/media/${reports[$i]}.log
    [ -f "$log" ] && { byte "$i"; cat "$log"; } | seed media_log
done

# db statement files: the board's own SQL.
for sql in "$repo"/simboard/db/*.sql; do
    seed db_file < "$sql"
done

# db results: column count, then names and values split at NUL.
printf '\x03id\0name\0role\0001\0admin\0root\0002\0guest\0user\0' | seed db_result
printf '\x00key\0device_name\0' | seed db_result
printf '\x01a\0b\0%0300d\0' 7 | seed db_result

# Pelco calls, five bytes each: speeds, link, every command, presets.
{
    printf '\x00\x10\x20\x00\x00\x01\x01\x01\x00\x00'
    for cmd in 0 1 2 3 4 5 6 7 8 9 10 11 14 15 17 18 21 27 28 29 30 32; do
        byte 2; byte "$cmd"; printf '\0\0\0'
    done
    printf '\x03\x00\x00\x05\x00\x04\x05\x00\x00\x00\x05\x07\x00\x00\x00'
} | seed pelco_frame

for dir in "$repo"/tests/fuzz/corpus/*/; do
    mkdir -p "$out/$(basename "$dir")"
    cp "$dir"* "$out/$(basename "$dir")/"
done
echo "seeds: $(find "$out" -type f | wc -l) files in $out"
