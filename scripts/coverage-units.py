#!/usr/bin/env python3
"""Coverage per unit, from gcovr's JSON report (gcovr --json).

    scripts/coverage-units.py REPORT.json OUTDIR

Prints one line per unit (core, osa, each board library, each module):
lines covered/total and branches covered/total, and writes the same table
to OUTDIR/summary.txt and the lines no test reaches to OUTDIR/<unit>.uncovered
("file:line: what  source"): "line" for a line never run, "branch k/n" for a
line run with only k of its n branches taken.
"""
import json
import os
import re
import sys

# Which unit a source file belongs to: the first pattern that matches, its
# first group naming the unit where it has one.
UNITS = [
    (r"core/", "core"),
    (r"include/osa\.h$", "osa"),
    (r"osa/", "osa"),
    (r"include/", "core"),
    (r"boardlibs/([^/]+)/", None),
    (r"modules/(bv_[^/.]+)\.cpp$", None),
    (r"modules/(peripheral_request)\.cpp$", None),
]


def unit_of(path):
    for pattern, name in UNITS:
        m = re.match(pattern, path)
        if m:
            return name or m.group(1)
    return None


def source_lines(root, path):
    try:
        with open(os.path.join(root, path), errors="replace") as f:
            return f.read().split("\n")
    except OSError:
        return []


def tally(report, root):
    units = {}
    for entry in report["files"]:
        path = entry["file"]
        name = unit_of(path)
        if name is None:
            continue
        unit = units.setdefault(name, {"lines": [0, 0], "branches": [0, 0], "uncovered": []})
        text = source_lines(root, path)
        for line in entry["lines"]:
            if line.get("gcovr/noncode"):
                continue
            number = line["line_number"]
            source = text[number - 1].strip() if number <= len(text) else ""
            run = line["count"] > 0
            unit["lines"][0] += run
            unit["lines"][1] += 1
            branches = line.get("branches", [])
            taken = sum(1 for b in branches if b["count"] > 0)
            unit["branches"][0] += taken
            unit["branches"][1] += len(branches)
            if not run:
                unit["uncovered"].append(f"{path}:{number}: line  {source}")
            elif taken < len(branches):
                unit["uncovered"].append(
                    f"{path}:{number}: branch {taken}/{len(branches)}  {source}")
    return units


def percent(pair):
    covered, total = pair
    return f"{100.0 * covered / total:5.1f}%" if total else "    -"


def row(name, unit):
    lines, branches = unit["lines"], unit["branches"]
    return (f"{name:<20} {lines[0]:>6}/{lines[1]:<6} {percent(lines)}"
            f"   {branches[0]:>6}/{branches[1]:<6} {percent(branches)}")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: coverage-units.py REPORT.json OUTDIR")
    with open(sys.argv[1]) as f:
        report = json.load(f)
    outdir = sys.argv[2]
    root = report.get("root", ".")
    units = tally(report, root)

    total = {"lines": [0, 0], "branches": [0, 0]}
    table = [f"{'unit':<20} {'lines':>13} {'':>6}   {'branches':>13}"]
    for name in sorted(units):
        unit = units[name]
        for kind in ("lines", "branches"):
            total[kind][0] += unit[kind][0]
            total[kind][1] += unit[kind][1]
        table.append(row(name, unit))
        with open(os.path.join(outdir, name + ".uncovered"), "w") as f:
            f.writelines(line + "\n" for line in unit["uncovered"])
    table.append(row("total", total))

    text = "\n".join(table) + "\n"
    with open(os.path.join(outdir, "summary.txt"), "w") as f:
        f.write(text)
    sys.stdout.write(text)


if __name__ == "__main__":
    main()
