# SPDX-License-Identifier: MIT
# Makes the skeleton of a program for the course's last stage, from the
# program's own source and the stage's data:
#   awk -v data=exercises/write/quizhint.txt -f scripts/lib/skeleton.awk quizhint/quizhint.cpp >skeleton.cpp
# It keeps the source's SPDX line, its includes, its constants and their
# static_asserts, and its globals, each under the data's comment; drops
# every comment of the source; and gives each function the data's comment
# (does:, keeps:), the signature as the source has it, and the least body
# that compiles: main gets its steps (step:) as comments. The source's
# shape makes this possible: a function's signature starts at column 0, and
# its { and } stand alone there. Fails, naming it, on a function or a
# global that the source has and the data lacks, or the other way round:
# the skeleton cannot drift from the program. The data is checked whole by
# scripts/lib/write-stage.sh; this reads only the fields it needs.

# The data's lines of a global's or a function's block, by field: the
# lines of does: and keeps: each make one text, each step: is one.
function read_data(    line, key, value, block) {
    while ((got = (getline line < data)) > 0) {
        if (line !~ /^[a-z-]+:( |$)/) continue
        key = substr(line, 1, index(line, ":") - 1)
        value = substr(line, length(key) + 3)
        if (key == "head") head = head (head == "" ? "" : " ") value
        else if (key == "global" || key == "function") { block = key " " value; wanted[block] = 1 }
        else if (key == "group" || key == "no-code") block = ""
        else if (block != "" && key == "step") step[block, ++steps[block]] = value
        else if (block != "" && (key == "does" || key == "keeps"))
            text[block, key] = text[block, key] (text[block, key] == "" ? "" : " ") value
    }
    if (got < 0) fail("cannot read " data)
}

function fail(why) {
    printf "skeleton.awk: %s\n", why > "/dev/stderr"
    failed = 1
    exit 1
}

# TEXT as comment lines of at most 78 columns: the first starts with
# FIRST, the others with REST.
function comment(first, rest, text,    words, count, i, line) {
    count = split(text, words, " ")
    line = first
    for (i = 1; i <= count; i++) {
        if (line != first && line != rest && length(line) + 1 + length(words[i]) > 78) {
            print line
            line = rest
        }
        line = line (line == first || line == rest ? "" : " ") words[i]
    }
    print line
}

function blank() {
    if (!blank_printed) print ""
    blank_printed = 1
}

# What a block of the data says of BLOCK ("function NAME", "global NAME");
# fails when the data has no such block.
function describe(block) {
    if (!(block in wanted))
        fail(block " of " FILENAME " is not in " data ": give it a block (" block ") there")
    made[block] = 1
    comment("// ", "// ", text[block, "does"])
    if (text[block, "keeps"] != "") {
        print "//"
        comment("// Guarantee: ", "//   ", text[block, "keeps"])
    }
}

# The name a declaration declares: the last word before its initializer.
function declared_name(declaration,    name) {
    name = declaration
    sub(/[ ]*([={;[]|\().*$/, "", name)
    sub(/.*[^A-Za-z0-9_]/, "", name)
    return name
}

# The least statement that returns what TYPE needs, or "" for void.
function least_return(type) {
    if (type == "void") return ""
    if (type == "bool") return "return false;"
    if (type ~ /\*$/) return "return nullptr;"
    if (type ~ /^((unsigned|signed|long|short) ?)*(int|char|long|unsigned)?$|^(std::)?u?int[0-9]+_t$|^(std::)?s?size_t$|^pid_t$/)
        return "return 0;"
    return "return {};"
}

function function_from(signature,    name, type, kept_name) {
    name = substr(signature, 1, index(signature, "(") - 1)
    sub(/[ ]+$/, "", name)
    type = name
    sub(/.*[^A-Za-z0-9_]/, "", name)
    type = substr(type, 1, length(type) - length(name))
    noreturn = type ~ /\[\[noreturn\]\]/
    gsub(/\[\[[a-z_]+\]\]|(^| )(static|inline|constexpr)( |$)/, " ", type)
    gsub(/^ +| +$/, "", type)
    blank()
    describe("function " name)
    printf "%s\n{\n", signature
    if (name == "main") {
        for (s = 1; s <= steps["function main"]; s++)
            comment("    // " s ". ", "    //    ", step["function main", s])
        print "    return 0;"
    } else if (noreturn) {
        print "    _exit(0);"
    } else if (least_return(type) != "") {
        print "    " least_return(type)
    }
    print "}"
    blank_printed = 0
}

# A declaration at the top: a constant (or a static_assert on one) as it
# stands, a global under its comment.
function declaration_from(lines,    name) {
    if (lines !~ /constexpr|^static_assert/) {
        name = declared_name(lines)
        blank()
        describe("global " name)
    }
    print lines
    blank_printed = 0
}

BEGIN {
    if (data == "") fail("give the data: awk -v data=exercises/write/PROGRAM.txt -f scripts/lib/skeleton.awk SOURCE")
    read_data()
}

FNR == 1 && /^\/\/ SPDX-License-Identifier:/ {
    print
    comment("// ", "// ", head)
    blank()
    next
}
in_body { if ($0 == "}") in_body = 0; next }
$0 == "{" {
    if (pending == "") fail(FILENAME ":" FNR ": a { with no signature before it")
    function_from(pending)
    pending = ""
    in_body = 1
    next
}
/^[ \t]*\/\// { next }
/^#/ { print; blank_printed = 0; next }
/^$/ { if (pending == "") blank(); next }
{
    line = $0
    # A comment at the end of the line, unless the // is inside a string.
    at = index(line, "//")
    before = substr(line, 1, at)
    if (at > 0 && gsub(/"/, "", before) % 2 == 0) sub(/[ \t]*\/\/.*/, "", line)
    pending = pending (pending == "" ? "" : "\n") line
    if (line ~ /;$/) { declaration_from(pending); pending = "" }
}

END {
    if (failed) exit 1
    if (in_body) fail(FILENAME ": ends inside a function's body (no } at column 0)")
    if (pending != "") fail(FILENAME ": ends in the middle of a declaration")
    for (block in wanted)
        if (!(block in made)) fail(block " of " data " is not in " FILENAME ": remove its block, or rename it")
}
