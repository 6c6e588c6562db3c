#!/bin/sh
# Writes the bash completion of debug from the help that help-collect.sh
# gathered: mkcompletion.sh HELPDIR >debug
# Module names come from the top-level usage; each module's options, short
# and long, from its help; the values of options with a closed set from the
# module's help as values.list says where.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
help=$1

modules=$(tr '\n' ' ' <"$help/modules" | sed 's/ $//')
files=""
while read -r name; do
    files="$files $help/$name.help"
done <"$help/modules"

# The option tables as data for the completion function.
# shellcheck disable=SC2086
tables=$(awk -f "$here/help.awk" -f "$here/help2comp.awk" "$here/values.list" $files)

sed -e "s/@MODULES@/$modules/" -e "/^@TABLES@$/{r /dev/stdin" -e 'd}' \
    "$here/debug.bash.in" <<EOT
$tables
EOT
