#!/bin/sh
# SPDX-License-Identifier: MIT
# The data of the course's last stage, in which a learner writes a program
# from its skeleton (exercises/write/PROGRAM.txt), read for the tools.
#   write-stage.sh read DATA
#       checks DATA and prints it, a field a line, tab-separated: FIELD,
#       then for a field of a block the block's name (a global's, a
#       function's or a group's), then the value, in the file's order:
#         program|file|symptom|concept|head VALUE     (head: one per line)
#         global NAME, function NAME, group NAME      (a block begins)
#         does|keeps|step NAME VALUE                  (a line of the block)
#         row GROUP ROW, hint GROUP VALUE, no-code ROW
#   write-stage.sh results JUNIT
#       what each test did in the run that `ctest --output-junit` recorded
#       in JUNIT: status (passed, failed, skipped, not-run), a tab, and the
#       row's name as the course shows it (Quiz/RightInTime).
#   write-stage.sh grade DATA JUNIT
#       a line a group, in DATA's order: GROUP, rows held, rows in all,
#       and the first row that did not hold (empty when none), tab-separated.
# Fails, naming the file and the line, when DATA is not as
# exercises/README.md says. Needs a POSIX shell and awk; leaves nothing.
set -eu
lib=$(dirname "$0")
usage() { echo "usage: $0 read DATA | results JUNIT | grade DATA JUNIT" >&2; exit 2; }

read_data() {
    [ -r "$1" ] || { echo "write-stage.sh: cannot read $1" >&2; return 1; }
    awk '
        function fail_at(line, why) {
            printf "write-stage.sh: %s:%d: %s\n", FILENAME, line, why > "/dev/stderr"
            failed = 1; exit 1
        }
        function emit(line) { out[++lines] = line }
        # What a block lacks is known when the next one begins, or at the end.
        function close_block() {
            if (kind == "function" && (!n["does"] || !n["keeps"]))
                fail_at(start, "function " name " needs does: and keeps:")
            if (kind == "function" && name == "main" && !n["step"])
                fail_at(start, "function main needs its steps (step:)")
            if (kind == "global" && !n["does"]) fail_at(start, "global " name " needs does:")
            if (kind == "group" && !n["rows"]) fail_at(start, "group \"" name "\" has no rows:")
            if (kind == "group" && (n["hint"] < 2 || n["hint"] > 3))
                fail_at(start, "group \"" name "\" needs two or three hints, from vague to precise")
            kind = ""; split("", n)
        }
        function open_block(k) {
            close_block()
            if ((k, value) in opened) fail_at(FNR, k " " value " is given twice")
            opened[k, value] = 1; kind = k; name = value; start = FNR
            emit(k "\t" value)
        }
        /^#/ || /^$/ { next }
        /\t/ { fail_at(FNR, "a tab, which would split the field") }
        !/^[a-z-]+:( |$)/ { fail_at(FNR, "not \"key: value\": " $0) }
        {
            key = substr($0, 1, index($0, ":") - 1)
            value = substr($0, length(key) + 3)
        }
        key ~ /^(program|file|symptom|concept)$/ {
            close_block()
            if (key in single) fail_at(FNR, key ": is given twice")
            single[key] = 1; emit(key "\t" value); next
        }
        key == "head" { close_block(); emit("head\t" value); next }
        key ~ /^(global|function|group)$/ { open_block(key); next }
        key == "does" && (kind == "function" || kind == "global") { n[key]++; emit("does\t" name "\t" value); next }
        key == "keeps" && kind == "function" { n[key]++; emit("keeps\t" name "\t" value); next }
        key == "step" && kind == "function" && name == "main" { n[key]++; emit("step\t" name "\t" value); next }
        key == "hint" && kind == "group" { n[key]++; emit("hint\t" name "\t" value); next }
        key == "rows" && kind == "group" {
            count = split(value, row, " ")
            for (i = 1; i <= count; i++) {
                if (row[i] in group_of) fail_at(FNR, row[i] " is in group \"" group_of[row[i]] "\" already")
                group_of[row[i]] = name; n[key]++
                emit("row\t" name "\t" row[i])
            }
            next
        }
        key == "no-code" {
            close_block()
            count = split(value, row, " ")
            for (i = 1; i <= count; i++) { no_code[row[i]] = FNR; emit("no-code\t" row[i]) }
            next
        }
        { fail_at(FNR, key ": does not belong " (kind == "" ? "outside a block" : "in a " kind " block")) }
        END {
            if (failed) exit 1
            close_block()
            split("program file symptom concept", needed, " ")
            for (i = 1; i <= 4; i++) if (!(needed[i] in single)) fail_at(FNR, "no " needed[i] ": line")
            for (r in no_code) if (!(r in group_of)) fail_at(no_code[r], "no-code: row " r " is in no group")
            for (i = 1; i <= lines; i++) print out[i]
        }
    ' "$1"
}

# Test names as the course shows them: Runs/Quiz.WritesExactlyThisOnTime/LateRight is Quiz/LateRight.
results() {
    [ -s "$1" ] || { echo "write-stage.sh: no test results in $1" >&2; return 1; }
    awk -f "$lib/junit.awk" "$1" | awk -F '\t' '{
        name = $2
        if (sub(/^Runs\//, "", name) && match(name, /^[A-Za-z0-9_]+\.[A-Za-z0-9_]+\//))
            name = substr(name, 1, index(name, ".") - 1) "/" substr(name, RLENGTH + 1)
        print $1 "\t" name
    }'
}

grade() {
    fields=$(read_data "$1") || return 1
    run=$(results "$2") || return 1
    { printf '%s\n' "$fields"; printf '%s\n' "$run" | awk '{ print "result\t" $0 }'; } | awk -F '\t' '
        $1 == "group" { group[++groups] = $2 }
        $1 == "row" { row[$2, ++rows[$2]] = $3 }
        $1 == "result" { status[$3] = $2 }
        END {
            for (g = 1; g <= groups; g++) {
                name = group[g]; held = 0; first = ""
                for (r = 1; r <= rows[name]; r++)
                    if (status[row[name, r]] == "passed") held++
                    else if (first == "") first = row[name, r]
                printf "%s\t%d\t%d\t%s\n", name, held, rows[name], first
            }
        }'
}

case ${1:-} in
    read) [ $# -eq 2 ] || usage; read_data "$2" ;;
    results) [ $# -eq 2 ] || usage; results "$2" ;;
    grade) [ $# -eq 3 ] || usage; grade "$2" "$3" ;;
    *) usage ;;
esac
