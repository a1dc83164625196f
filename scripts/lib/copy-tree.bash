# SPDX-License-Identifier: MIT
# Sourced (bash) by the course's scripts and the checks in .ci/: copying the
# project into a scratch folder. Run from the project's top.

# Copies the project into DIR: `committed`, what is committed at HEAD (the
# course works on that, whatever the learner has changed); `working`, the
# tracked files as they are now (a check proves what is about to be
# committed).
copy_tree() {
    local which=$1 into=$2
    mkdir -p "$into"
    case $which in
        committed) git archive HEAD | tar -x -C "$into" ;;
        working) git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$into" ;;
        *) echo "copy_tree: committed or working, not $which" >&2; return 2 ;;
    esac
}
