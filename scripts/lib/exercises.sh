#!/bin/sh
# SPDX-License-Identifier: MIT
# Reads the course's exercises (exercises/NAME.txt, one mistake each) and
# prints them in the course's order, by stage and then by name, one field
# a line, as three tab-separated columns: the exercise's name, the field's
# name and its value. The fields are stage, file, tests, concept, symptom,
# read, right, broken, and hint (two or three, in order). Readers take a
# field by its name (scripts/lib/course.bash loads them), never by where
# it stands. In `right` and `broken`, the texts to find and to put in their
# place, a line feed is the unit separator (octal 037: `tr '\037' '\n'`
# undoes it), and no text may hold a tab. Fails, naming the
# file and what is wrong with it, when an exercise lacks a field, names a
# stage that exercises/stages.txt does not list, or gives a "read:" that
# is not PAGE#HEADING, a page of the tree (README.md, docs/NAME.md) and
# the exact text of one of its headings. Needs a POSIX shell and awk;
# leaves nothing.
set -eu
cd "$(dirname "$0")/../.."
dir=${EXERCISES_DIR:-exercises}

# Read whole before sorting, so that a failure is not lost in a pipe.
lines=$(for file in "$dir"/*.txt; do
    [ "$file" = "$dir/stages.txt" ] && continue
    awk -v stages="$dir/stages.txt" '
        function esc(t) { if (t ~ /\t/) fail("line " FNR " holds a tab"); return t }
        function fail(why) { printf "scripts/lib/exercises.sh: %s: %s\n", FILENAME, why > "/dev/stderr"; failed = 1; exit 1 }
        # What is wrong with a "read:" of PAGE#HEADING, or "" when the page holds
        # a heading (#, ##, ...) with that text, outside fenced code.
        function read_fault(target,    at, page, heading, line, fenced, got) {
            at = index(target, "#")
            if (at < 2) return "\"read: " target "\" names no page: give PAGE#HEADING, as in docs/guarantees.md#The reminder dies with the quiz"
            page = substr(target, 1, at - 1); heading = substr(target, at + 1)
            while ((got = (getline line < page)) > 0) {
                if (line ~ /^```/) fenced = !fenced
                else if (!fenced && sub(/^#+ +/, "", line) && line == heading) return ""
            }
            if (got < 0) return "\"read:\" names " page ", which does not exist"
            return page " has no heading \"" heading "\""
        }
        BEGIN {
            while ((getline line < stages) > 0)
                if (line ~ /^[0-9]+:/) known[substr(line, 1, index(line, ":") - 1)] = 1
        }
        block == "" && /^#/ { next }
        /^--- (right|broken)$/ { block = $2; seen[block] = 1; text[block] = ""; lines[block] = 0; next }
        block != "" { text[block] = text[block] (lines[block]++ ? "\037" : "") esc($0); next }
        /^hint: / { hint[++nhints] = esc(substr($0, 7)); next }
        /^[a-z]+: / {
            key = substr($0, 1, index($0, ":") - 1)
            if (key in field) fail("\"" key ":\" is given twice")
            field[key] = esc(substr($0, length(key) + 3)); next
        }
        /^$/ { next }
        { fail("line " FNR " is neither \"key: value\" nor in a --- right or --- broken block: " $0) }
        END {
            if (failed) exit 1
            # Blank lines at the end of a block are not part of it.
            for (b in text) sub(/\037+$/, "", text[b])
            n = split("stage file tests concept symptom read", keys, " ")
            for (i = 1; i <= n; i++) if (!(keys[i] in field)) fail("no \"" keys[i] ":\" line")
            if (!(field["stage"] in known)) fail("stage " field["stage"] " is not in " stages)
            if ((why = read_fault(field["read"])) != "") fail(why)
            if (nhints < 2) fail("it needs two or three hints, from vague to precise")
            if (!seen["right"] || text["right"] == "") fail("no \"--- right\" block with the text as it stands in the code")
            # Empty fields would run together where tabs split the line.
            if (!seen["broken"] || text["broken"] == "") fail("no \"--- broken\" block with the mistake (a deletion keeps a line of the code around it)")
            name = FILENAME; sub(/.*\//, "", name); sub(/\.txt$/, "", name)
            # The stage leads each line for the sort below, which cuts it off.
            for (i = 1; i <= n; i++) print field["stage"], name, keys[i], field[keys[i]]
            print field["stage"], name, "right", text["right"]
            print field["stage"], name, "broken", text["broken"]
            for (i = 1; i <= nhints; i++) print field["stage"], name, "hint", hint[i]
        }
    ' OFS='\t' "$file"
done)
# A stable sort keeps each exercise's fields, and its hints, in order.
printf '%s\n' "$lines" | sort -s -t "$(printf '\t')" -k1,1n -k2,2 | cut -f2-
