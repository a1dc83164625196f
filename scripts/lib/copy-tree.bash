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

# The programs as committed, without the tests: copied into DIR/source and
# built in DIR/build with the ci preset's build type (the right programs, that
# a replay draws beside the learner's). What the build says goes to
# standard output.
build_committed_programs() {
    local into=$1
    rm -rf "$into"
    copy_tree committed "$into/source" &&
        cmake -S "$into/source" -B "$into/build" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
        cmake --build "$into/build" --target quizhint pairjoin -j "$(nproc)"
}
