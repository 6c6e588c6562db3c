#!/bin/sh
# Collects the tool's own help into DIR, run on the simulated board with the
# build's debug first on PATH:
#   DIR/usage           the top-level usage (`debug` alone)
#   DIR/modules         the registered modules, one a line, in table order
#   DIR/NAME.help       `debug -h NAME` without its version line
#   DIR/NAME.badopt     exit status of `debug -M NAME` given an unknown option
#   DIR/version         the version the tool prints
# The manual page and the shell completion are made from these files only.
set -eu
dir=$1
mkdir -p "$dir"
debug >"$dir/usage"
# The module names follow "modules name:", tab-separated, eight to a line.
sed -n '/^modules name:$/,$p' "$dir/usage" | sed 1d | tr '\t' '\n' | sed '/^$/d' >"$dir/modules"
[ -s "$dir/modules" ] || { echo "help-collect: no module in the usage" >&2; exit 1; }
debug -h | sed -n '1s/^debug version: //p' >"$dir/version"
while read -r name; do
    debug -h "$name" >"$dir/$name.help.raw"
    sed 1d "$dir/$name.help.raw" >"$dir/$name.help"
    rm -f "$dir/$name.help.raw"
    status=0
    timeout 20 debug -M "$name" --no-such-option </dev/null >/dev/null 2>&1 || status=$?
    echo "$status" >"$dir/$name.badopt"
done <"$dir/modules"
