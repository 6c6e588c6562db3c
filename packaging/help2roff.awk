# roff for one help file (with help.awk): mode "usage" turns the option
# lines of the top-level usage into tagged paragraphs; mode "module" turns
# a module's help into its subsection: the usage line, its options, and
# whatever it prints after its table, as printed.

# Escapes text for roff: backslashes, minus signs, a leading control character.
function esc(s) {
    gsub(/\\/, "\\e", s)
    gsub(/-/, "\\-", s)
    if (s ~ /^[.']/)
        s = "\\&" s
    return s
}

# Blanks that must not break a line: inside an option's name or label.
function tight(s) {
    s = esc(s)
    gsub(/ /, "\\ ", s)
    return s
}

function item(    tag) {
    tag = opt_short != "" ? "\\fB\\-" opt_short "\\fR, " : ""
    tag = tag "\\fB\\-\\-" tight(opt_long) "\\fR"
    if (opt_label != "")
        tag = tag " [\\fI" tight(opt_label) "\\fR]"
    print ".TP"
    print tag
    print (opt_text == "" ? "\\&" : esc(opt_text))
}

mode == "usage" {
    if (parse_option($0))
        item()
    next
}

FNR == 1 {
    name = FILENAME
    sub(/^.*\//, "", name)
    sub(/\.help$/, "", name)
    print ".SS " name
    print ".B debug \\-M " name
    print ".RI [ option ]..."
}

is_rule($0) {
    part++
    next
}

part == 0 { next }

part == 1 {
    if (parse_option($0))
        item()
    next
}

{
    line = plain($0)
    if (line == "") {
        blanks++
        next
    }
    if (!pages++) {
        print ".PP\n.nf"
        blanks = 0
    }
    for (; blanks > 0; blanks--)
        print ".sp"
    print esc(line)
}

END {
    if (pages)
        print ".fi"
}
