#!/bin/sh
# Writes the manual page debug(1) from the help that help-collect.sh
# gathered: mkman.sh HELPDIR TEMPLATE CHANGELOG >debug.1
# The template holds the hand-written sections. Its @OPTIONS@ and @MODULES@
# lines become the top-level options and one subsection per module;
# @VERSION@, @DATE@, @MODULE_LIST@ and the @BADOPT_...@ module lists are
# filled in.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
help=$1 template=$2 changelog=$3

version=$(cat "$help/version")
# The release date is the date of the newest changelog entry.
date=$(date -u -d "$(sed -n 's/^ -- .*>  //p' "$changelog" | head -n 1)" +%Y-%m-%d)

# Modules, bold, comma-separated: all of them, or those whose unknown
# option ended with the status given.
modules() {
    list=""
    while read -r name; do
        if [ $# -eq 0 ] || [ "$(cat "$help/$name.badopt")" = "$1" ]; then
            list="$list${list:+, }\\\\fB$name\\\\fR"
        fi
    done <"$help/modules"
    printf "%s\n" "${list:-none}"
}

# roff MODE FILE: the top-level options (MODE usage) or a module's subsection.
roff() {
    awk -v mode="$1" -f "$here/help.awk" -f "$here/help2roff.awk" "$2"
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
roff usage "$help/usage" >"$tmp/options"
while read -r name; do
    roff module "$help/$name.help"
done <"$help/modules" >"$tmp/modules"

sed -e "s/@VERSION@/$version/g" -e "s/@DATE@/$date/g" \
    -e "s/@MODULE_LIST@/$(modules)/g" \
    -e "s/@BADOPT_EXIT@/$(modules 255)/g" -e "s/@BADOPT_GO_ON@/$(modules 0)/g" \
    -e "/^@OPTIONS@$/{r $tmp/options" -e 'd}' \
    -e "/^@MODULES@$/{r $tmp/modules" -e 'd}' "$template"
