# SPDX-License-Identifier: MIT
# Sourced (bash) by scripts/learn: the course's last stage, in which a
# learner writes each program from a skeleton (exercises/write/PROGRAM.txt)
# and a check grades it group by group of guarantees. It uses learn's own
# helpers (copy_of, copy_dir, build_program, ctest_in_tree...).

# The skeleton of the write-stage exercise NAME, made from the committed
# source and the stage's data, on standard output.
skeleton_of() { awk -v data="${exercise[$1.data]}" -f scripts/lib/skeleton.awk "$state/pristine/${exercise[$1.file]}"; }

# The learner's copy of the skeleton.
make_skeleton() {
    local name=$1 copy=$2
    mkdir -p "$(dirname "$copy")"
    echo "$name" >"$(dirname "$copy")/.exercise"
    skeleton_of "$name" >"$copy.broken" ||
        { echo "learn: the skeleton of ${exercise[$name.file]} cannot be made (above)" >&2; exit 1; }
    cp "$copy.broken" "$copy"
}

# A test's whole name in a JUnit record, from its name as the course shows
# it (Quiz/RightInTime).
whole_test_name() {
    test_results "$1" | cut -f 2 | awk -v short="$2" '{ s = $0; sub(/^Runs\//, "", s); sub(/\.[A-Za-z]*\//, "/", s) }
        s == short && !found++ { print }'
}

# The grades of the last check, a line a group: GROUP, held, rows in all,
# the first row not held (see scripts/lib/write-stage.sh grade).
grades_of() { cat "$(copy_dir "$1")/grades" 2>/dev/null || true; }
# The group the learner works on: the first that is not full, or the first.
current_group() {
    local group
    group=$(grades_of "$1" | awk -F '\t' '$2 < $3 && !found++ { print $1 }')
    [[ -n $group ]] || group=$(scripts/lib/write-stage.sh read "${exercise[$1.data]}" | awk -F '\t' '$1 == "group" && !found++ { print $2 }')
    echo "$group"
}

# A check of a written program: every test of its label, then the groups,
# one line each, and the first row not yet held of the first group not yet
# full, with its assertion and the two runs drawn side by side. Sets
# `verdict`: pass when every row holds.
check_written() {
    local name=$1 program junit=$state/check.xml group row whole
    program=$(program_of "$name")
    echo "Every test of $program, graded by group (held/rows):"
    run_tests "$name" -L "^$program\$" >/dev/null
    verdict=$tests_result
    [[ $verdict == fail || $verdict == pass ]] || return 0
    scripts/lib/write-stage.sh grade "${exercise[$name.data]}" "$junit" >"$(copy_dir "$name")/grades"
    group=$(current_group "$name")
    awk -F '\t' -v current="$group" '{ printf "  %s %s %d/%d\n", ($1 == current && $2 < $3 ? "->" : "  "), $1, $2, $3 }' \
        "$(copy_dir "$name")/grades"
    row=$(grades_of "$name" | awk -F '\t' -v g="$group" '$1 == g { print $4 }')
    printf "%s" "$row" >"$(copy_dir "$name")/failing"
    if [[ -z $row ]]; then
        verdict=pass
        return 0
    fi
    verdict=fail
    whole=$(whole_test_name "$junit" "$row")
    echo "The first row of \"$group\" that does not hold yet: $row"
    first_assertion "$junit" "$whole" | as_in_the_course
    [[ $row != *.* && $row != SignalAtEveryCall ]] || return 0
    { replay "$name" || true; } | sed -n "/^Drawn under strace/,\$p"
}

# The hints of the group the learner works on, one more each time.
show_group_hints() {
    local name=$1 group shown hints count
    group=$(current_group "$name")
    hints=$(copy_dir "$name")/hints
    mkdir -p "$(dirname "$hints")"
    shown=$(awk -F '\t' -v g="$group" '$1 == g { print $2 }' "$hints" 2>/dev/null || true)
    count=$(scripts/lib/write-stage.sh read "${exercise[$name.data]}" | awk -F '\t' -v g="$group" '$1 == "hint" && $2 == g' | wc -l)
    shown=$((${shown:-0} + 1))
    ((shown <= count)) || shown=$count
    { awk -F '\t' -v g="$group" '$1 != g' "$hints" 2>/dev/null || true; printf '%s\t%s\n' "$group" "$shown"; } >"$hints.new"
    mv "$hints.new" "$hints"
    echo "The group you work on: $group."
    scripts/lib/write-stage.sh read "${exercise[$name.data]}" |
        awk -F '\t' -v g="$group" -v shown="$shown" -v count="$count" \
            '$1 == "hint" && $2 == g && ++i <= shown { printf "Hint %d of %d: %s\n", i, count, $3 }'
}

# Progress by group, as JSON, for the report: {"GROUP":"held/rows",...}.
grades_json() {
    grades_of "$1" | awk -F '\t' '{ gsub(/"/, "\\\"", $1); printf "%s\"%s\":\"%d/%d\"", (NR > 1 ? "," : "{"), $1, $2, $3 }
        END { print (NR ? "}" : "null") }'
}
