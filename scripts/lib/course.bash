# SPDX-License-Identifier: MIT
# Sourced (bash) by scripts/learn, scripts/check-mutants and .ci/check-learn:
# the course's catalogue, loaded once and read by field name; copying the
# project into a scratch folder (copy-tree.bash); applying a mistake of exercises/ to a file;
# and reading what failed from a ctest log. Run from the project's top.
source scripts/lib/copy-tree.bash

# exercise[NAME.FIELD]: the fields that scripts/lib/exercises.sh reads from
# exercises/NAME.txt (stage, file, tests, concept, symptom, read, right,
# broken; hints, the hints joined by tabs); exercise_order: the names in
# the course's order. Fails, saying why, when an exercise file is broken.
declare -gA exercise=()
exercise_order=()
load_exercises() {
    local catalogue name field value
    catalogue=$(scripts/lib/exercises.sh) || return 1
    while IFS=$'\t' read -r name field value; do
        [[ -n ${exercise[$name.stage]+set} ]] || exercise_order+=("$name")
        if [[ $field == hint ]]; then
            exercise[$name.hints]+=${exercise[$name.hints]:+$'\t'}$value
        else
            exercise[$name.$field]=$value
        fi
    done <<<"$catalogue"
}

# The last stage, in which a learner writes each program from a skeleton:
# an exercise write-PROGRAM for each exercises/write/PROGRAM.txt, after the
# others and in the order their programs first come in the course, with
# kind=write and data= its file, and the fields the course shows (stage,
# file, symptom, concept) read from it.
load_write_stage() {
    local data name field value _ program
    for program in $(for name in "${exercise_order[@]}"; do dirname "${exercise[$name.file]}"; done | awk '!seen[$0]++'); do
        data=exercises/write/$program.txt
        [[ -f $data ]] || continue
        name=write-$program
        exercise_order+=("$name")
        exercise[$name.kind]=write exercise[$name.data]=$data exercise[$name.stage]=9
        while IFS=$'\t' read -r field value _; do
            case $field in file|symptom|concept) exercise[$name.$field]=$value ;; esac
        done < <(scripts/lib/write-stage.sh read "$data")
    done
}

# Whether the exercise NAME is one of the last stage's.
written() { [[ ${exercise[$1.kind]:-} == write ]]; }

# Replaces the one occurrence of FROM by TO in FILE, where a unit separator
# (as scripts/lib/exercises.sh writes them) stands for a line feed; exit 3 when
# FROM does not occur exactly once.
apply_fault() {
    FROM=$2 TO=$3 perl -0777 -i -pe '
        BEGIN { ($from, $to) = ($ENV{FROM}, $ENV{TO}); $from =~ tr/\037/\n/; $to =~ tr/\037/\n/ }
        my $count = () = /\Q$from\E/g;
        if ($count != 1) { print STDERR "occurs $count times\n"; exit 3 }
        s/\Q$from\E/$to/;
    ' "$1"
}

# What each test of a ctest run did, from the JUnit file the run wrote
# (ctest --output-junit FILE), a line each: status, name, and for a skip,
# why (see junit.awk). Nothing when the file is missing or empty.
test_results() {
    [[ ! -s $1 ]] || awk -f scripts/lib/junit.awk "$1"
}

# The names of the tests that failed, space-separated.
failed_tests() {
    test_results "$1" | awk -F '\t' '$1 == "failed" { printf "%s%s", n++ ? " " : "", $2 } END { if (n) print "" }'
}

# The first failing assertion of the first test that failed (or of the test
# named): from its first "Failure" line to the end of that assertion; for a
# test that is not a table of GoogleTest cases, the last lines it wrote.
first_assertion() {
    local first=${2:-}
    [[ -n $first ]] || first=$(failed_tests "$1" | cut -d ' ' -f 1)
    [[ -n $first ]] || return 0
    # Reads to the end, so that a long output does not end its writer early.
    awk -v output="$first" -f scripts/lib/junit.awk "$1" | awk '
        done { next }
        found && (/: Failure$/ || /^\[  FAILED  \]/ || /^\[       OK \]/) { done = 1; next }
        /: Failure$/ { found = 1 }
        found && shown++ < 40 { print "    " $0 }
        !found { last[NR % 15] = $0 }
        END { if (!found) for (i = NR - 14; i <= NR; i++) if (i > 0) print "    " last[i % 15] }
    '
}
