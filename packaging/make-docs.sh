#!/bin/sh
# Makes the manual page and the bash completion from the help of the tool
# of build tree TOOL_BUILD, run on a simulated board:
#   make-docs.sh TOOL_BUILD OUTDIR CHANGELOG
# writes OUTDIR/help/ (the help as printed), OUTDIR/debug.1, debug.1.gz and
# debug.bash.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
build=$1 out=$2 changelog=$3

rm -rf "$out/help"
mkdir -p "$out"
"$repo/simboard/board" run -B "$build" -- sh "$here/help-collect.sh" "$out/help"
sh "$here/mkman.sh" "$out/help" "$here/debug.1.in" "$changelog" >"$out/debug.1.new"
sh "$here/mkcompletion.sh" "$out/help" >"$out/debug.bash.new"
mv "$out/debug.1.new" "$out/debug.1"
mv "$out/debug.bash.new" "$out/debug.bash"
gzip -9n -c "$out/debug.1" >"$out/debug.1.gz"
