# Reads the help the tool prints and splits it into records, for the
# manual page and completion generators. Shared functions only: each
# generator includes this file with its own main rules.
#
# A module's help (`debug -h NAME` without the version line) is a rule of 80
# asterisks, "NAME usage:", "PROG -M NAME [option] ", one line per option,
# the rule again, then any pages the module prints after its table. An
# option line is "-X  --long [label]<TAB>text" or, for an empty label,
# "-X  --long<TAB><TAB>text"; an option without a letter begins with four
# blanks instead of "-X  ". Long names may hold blanks.

function is_rule(line) { return line ~ /^\*+$/ && length(line) == 80 }

# Splits an option line into opt_short (letter or ""), opt_long, opt_label
# and opt_text. Returns 0 for a line of another shape.
function parse_option(line,    tab, left, p, rest) {
    tab = index(line, "\t")
    if (tab == 0)
        return 0
    left = substr(line, 1, tab - 1)
    opt_text = substr(line, tab + 1)
    if (substr(opt_text, 1, 1) == "\t")
        opt_text = substr(opt_text, 2)
    if (left ~ /^-[A-Za-z]  --/)
        opt_short = substr(left, 2, 1)
    else if (left ~ /^    --/)
        opt_short = ""
    else
        return 0
    rest = substr(left, 7)
    opt_label = ""
    if (rest ~ / \[[^]]*\]$/) {
        # the label is the last bracket group: names may hold blanks
        p = length(rest)
        while (p > 1 && substr(rest, p - 1, 2) != " [")
            p--
        opt_label = substr(rest, p + 1, length(rest) - p - 1)
        rest = substr(rest, 1, p - 2)
    }
    opt_long = rest
    return 1
}

# Drops colour sequences and trailing blanks.
function plain(line) {
    gsub(/\033\[[0-9;]*m/, "", line)
    sub(/[ \t]+$/, "", line)
    return line
}
