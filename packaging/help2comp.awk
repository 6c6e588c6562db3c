# Completion tables from the help (with help.awk). The first file is
# values.list, the others are the modules' help files. Prints two shell
# functions for debug.bash.in: _debug_options (the options of a module) and
# _debug_takes (what an option's value is).

function quote(s) {
    gsub(/'/, "'\\''", s)
    return "'" s "'"
}

# The long name as it can be typed: getopt_long takes a unique abbreviation,
# which is the only way to give a name that holds a blank.
function typed(long,    word, i, hits) {
    sub(/ +$/, "", long)
    if (long !~ / /)
        return long
    word = long
    sub(/ .*/, "", word)
    hits = 0
    for (i = 1; i <= n; i++)
        if (index(longs[i], word) == 1)
            hits++
    return hits == 1 ? word : ""
}

function numbers_in_brackets(text,    found, group, rest, k, w, i, ok) {
    found = ""
    rest = text
    while (match(rest, /\[[^]]*\]/)) {
        group = substr(rest, RSTART + 1, RLENGTH - 2)
        rest = substr(rest, RSTART + RLENGTH)
        k = split(group, w, " ")
        ok = k >= 2
        for (i = 1; i <= k; i++)
            if (w[i] !~ /^[0-9]+$/)
                ok = 0
        if (ok)
            found = group
    }
    gsub(/ +/, " ", found)
    return found
}

function numbered(text,    found, rest, m) {
    found = ""
    rest = " " text
    while (match(rest, /[^0-9][0-9]+: /)) {
        m = substr(rest, RSTART + 1, RLENGTH - 3)
        found = found (found == "" ? "" : " ") m
        rest = substr(rest, RSTART + RLENGTH)
    }
    return found
}

function page_lines(head,    i, k, found, on) {
    found = ""
    on = 0
    k = 0
    for (i = 1; i <= npage; i++) {
        if (on) {
            if (page[i] == "")
                break
            found = found (k ? " " : "") k
            k++
        } else if (trim(page[i]) == head) {
            on = 1
        }
    }
    return found
}

function trim(s) {
    sub(/^[ \t]+/, "", s)
    return s
}

function page_numbers(head,    i, found, on, line) {
    found = ""
    on = 0
    for (i = 1; i <= npage; i++) {
        line = trim(page[i])
        if (on) {
            if (line !~ /^\[[0-9]+\]/)
                break
            sub(/^\[/, "", line)
            sub(/\].*/, "", line)
            found = found (found == "" ? "" : " ") line
        } else if (index(line, head) == 1) {
            on = 1
        }
    }
    return found
}

function values_of(rule, arg, text) {
    if (rule == "bracket-list")
        return numbers_in_brackets(text)
    if (rule == "numbered")
        return numbered(text)
    if (rule == "page-lines")
        return page_lines(arg)
    if (rule == "page-numbers")
        return page_numbers(arg)
    print "help2comp: unknown rule " rule > "/dev/stderr"
    exit 1
}

function flush(    i, opts, key, kind, typed_long, set, used) {
    if (module == "")
        return
    opts = ""
    for (i = 1; i <= n; i++) {
        typed_long = typed(longs[i])
        if (shorts[i] != "")
            opts = opts " -" shorts[i]
        if (typed_long != "")
            opts = opts " --" typed_long
        kind = ""
        key = module " " typed_long
        if (key in rule) {
            set = values_of(rule[key], rule_arg[key], texts[i])
            if (set == "") {
                printf "help2comp: %s --%s: no values found by %s\n", module, longs[i], rule[key] > "/dev/stderr"
                exit 1
            }
            kind = "values " set
            used[key] = 1
        } else if (labels[i] == "file") {
            kind = "file"
        } else if (labels[i] != "") {
            kind = "value"
        }
        if (kind == "" || typed_long == "module")
            continue
        pattern = ""
        if (shorts[i] != "")
            pattern = quote(module " -" shorts[i])
        if (typed_long != "")
            pattern = pattern (pattern == "" ? "" : " | ") quote(module " --" typed_long)
        if (pattern != "")
            takes = takes "    " pattern ") REPLY=" quote(kind) " ;;\n"
    }
    for (key in rule)
        if (index(key, module " ") == 1 && !(key in used)) {
            print "help2comp: " key ": no such option in the help" > "/dev/stderr"
            exit 1
        }
    options = options "    " module ") REPLY=" quote(substr(opts, 2)) " ;;\n"
}

FNR == NR {
    if ($0 ~ /^#/ || NF < 3)
        next
    key = $1 " " $2
    rule[key] = $3
    arg = $0
    sub(/^[^ ]+ +[^ ]+ +[^ ]+ */, "", arg)
    rule_arg[key] = arg
    next
}

FNR == 1 {
    flush()
    module = FILENAME
    sub(/^.*\//, "", module)
    sub(/\.help$/, "", module)
    part = 0
    n = 0
    npage = 0
}

is_rule($0) {
    part++
    next
}

part == 1 && parse_option($0) {
    n++
    shorts[n] = opt_short
    longs[n] = opt_long
    labels[n] = opt_label
    texts[n] = opt_text
    next
}

part >= 2 { page[++npage] = plain($0) }

END {
    flush()
    printf "# The options of module $1, short and long.\n_debug_options()\n{\n    case $1 in\n%s    *) REPLY='' ;;\n    esac\n}\n\n", options
    printf "# What option $2 of module $1 takes: \"values WORD...\" (a closed set),\n# \"file\", \"value\" (anything), or nothing for an option without a value.\n_debug_takes()\n{\n    case \"$1 $2\" in\n%s    *) REPLY='' ;;\n    esac\n}\n", takes
}
