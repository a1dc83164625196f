# SPDX-License-Identifier: MIT
# What two pictures of runs of one program are compared by, for
# scripts/timeline --beside and tests/readme-timelines alike: a line of a
# picture masked of what changes from run to run, and whether the line
# comes by chance. Functions only; the caller reads the lines.

# Lines that come by chance, as masked, for each program. Optional ones
# come only when the threads happen to meet: a lock that one holds while
# the other wants it, a join that finds its thread still running (one
# that finds it ended needs no wait, and strace sees nothing of it).
# Unordered ones always come, but at a moment or in a lane that is
# chance: the pauses; SIGCHLD at the reminder's end, which breaks the
# quiz's read off once more only if it finds the quiz back in it; and the
# setting up of standard output's buffer, with a memory arena, by
# whichever worker writes first.
BEGIN {
    optional_lines["pairjoin"] = "for a lock|has the lock|FUTEX_WAIT_PRIVATE|FUTEX_WAKE_PRIVATE|joins worker|ended, joined|FUTEX_WAIT_BITSET"
    unordered_lines["pairjoin"] = "newfstatat\\(1,|MAP_NORESERVE|munmap\\(|mprotect\\(ADDR, N, PROT_READ PROT_WRITE\\)"
    unordered_lines["quizhint"] = "SIGCHLD|ERESTARTSYS"
    pause_lines = "\\.\\.\\. T s \\.\\.\\.|T s pass"
}

# "optional", "unordered" or "" for a masked line of a run of program.
function by_chance(program, line) {
    if ((program in optional_lines) && line ~ optional_lines[program]) return "optional"
    if ((program in unordered_lines) && line ~ unordered_lines[program] || line ~ pause_lines) return "unordered"
    return ""
}

# Ids, times, addresses, sizes, random bytes, the count of environment
# variables and the terminal's number are masked. strace pads a call that
# it wrote whole, not one it wrote in two halves; a lane's bars depend on
# which lanes are alive, and an arrow's length on how long its label is.
function masked(s) {
    gsub(/0x[0-9a-f]+/, "ADDR", s)
    gsub(/[0-9]+\.[0-9]+/, "T", s)
    gsub(/[0-9][0-9][0-9]+/, "N", s)
    gsub(/\\x[0-9a-f][0-9a-f]/, "X", s)
    sub(/\/\* [0-9]+ vars \*\//, "VARS", s)
    sub(/makedev\([^)]*\)/, "makedev(M)", s)
    gsub(/ +=/, " =", s)
    gsub(/--+/, "--", s)
    gsub(/ *[|] */, " ", s)
    gsub(/  +/, " ", s)
    sub(/^ +/, "", s)
    sub(/ +$/, "", s)
    return s
}
