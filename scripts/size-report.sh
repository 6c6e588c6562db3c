#!/usr/bin/env bash
# Prints what each build tree's tool costs on a board: the stripped size of
# debug (and of debug-static where it was built), its code and data (the
# stripped file also holds the padding between segments: 64 KiB pages on
# AArch64), the shared libraries it needs, and the functions it exports. Fails when the exports differ from
# core/exports.list or when debug-static still needs a shared library.
#   scripts/size-report.sh BUILD_DIR...
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[ $# -gt 0 ] || { echo "usage: $0 BUILD_DIR..." >&2; exit 2; }

wanted=$(sed -n 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\);.*/\1/p' "$repo/core/exports.list" | sort | xargs)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

# The build tree's own strip (the cross one for a cross build).
strip_of() {
    local tool
    tool=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$1/CMakeCache.txt" 2>/dev/null)
    echo "${tool:-strip}"
}

stripped_size() {
    local dir=$1 bin=$2 copy=$scratch/${2##*/}
    cp "$bin" "$copy"
    "$(strip_of "$dir")" "$copy"
    stat -c %s "$copy"
}

# Code and initialised data, as loaded.
loaded_size() {
    size "$1" | awk 'NR == 2 { print $1 + $2 }'
}

needed() {
    readelf -d "$1" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | xargs
}

# Functions defined in the executable and visible in its dynamic symbol table.
exported() {
    readelf --dyn-syms -W "$1" |
        awk '$4 == "FUNC" && $7 != "UND" { sub(/@.*/, "", $8); print $8 }' | sort -u | xargs
}

row() { printf '%-8s %-13s %9s %10s  %s\n' "$@"; }

row target binary stripped text+data "needs / exports"
for dir in "$@"; do
    bin=$dir/debug
    [ -x "$bin" ] || { echo "size-report: $bin not built" >&2; failed=1; continue; }
    arch=$(readelf -h "$bin" | sed -n 's/^ *Machine: *//p')
    case $arch in *X86-64*) arch=x86-64 ;; esac
    size=$(stripped_size "$dir" "$bin")
    row "$arch" debug "$size" "$(loaded_size "$bin")" "needs: $(needed "$bin")"
    exports=$(exported "$bin")
    row "" "" "" "" "exports: $exports"
    if [ "$exports" != "$wanted" ]; then
        echo "size-report: $bin exports \"$exports\", expected \"$wanted\"" >&2
        failed=1
    fi
    bin=$dir/debug-static
    [ -x "$bin" ] || continue
    size=$(stripped_size "$dir" "$bin")
    libs=$(needed "$bin")
    row "$arch" debug-static "$size" "$(loaded_size "$bin")" "needs: ${libs:-nothing (static)}"
    if [ -n "$libs" ]; then
        echo "size-report: $bin needs $libs" >&2
        failed=1
    fi
done
exit $failed
