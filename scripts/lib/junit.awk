# SPDX-License-Identifier: MIT
# Reads the JUnit file that `ctest --output-junit FILE` writes, the record
# of what each test did in that run (not what its name says).
#   awk -f scripts/lib/junit.awk FILE
#       a line a test: its status (passed, failed, skipped or not-run), a
#       tab, its name, and for a skipped test, a tab and why, as the test
#       said it ("Skipped", then the reason, in GoogleTest's output)
#   awk -v output=NAME -f scripts/lib/junit.awk FILE
#       what that test wrote, as it wrote it
function attribute(line, key,    value) {
    if (!match(line, key "=\"[^\"]*\"")) return ""
    value = substr(line, RSTART + length(key) + 2, RLENGTH - length(key) - 3)
    return unescaped(value)
}
function unescaped(s) {
    gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s); gsub(/&apos;/, "'", s)
    gsub(/&amp;/, "\\&", s)
    return s
}
/^[ \t]*<testcase / {
    name = attribute($0, "name"); sub(/  # GetParam\(\) = .*/, "", name)
    status = attribute($0, "status"); skipped = 0; why = ""; out = ""; inside = 0
    next
}
/^[ \t]*<skipped/ { skipped = 1; next }
/<system-out>/ { inside = 1; sub(/.*<system-out>/, "") }
inside {
    line = $0
    if (sub(/<\/system-out>.*/, "", line)) inside = 0
    line = unescaped(line)
    out = out line (inside ? "\n" : "")
    if (want_reason) { why = line; want_reason = 0 }
    if (line ~ /: Skipped$/) want_reason = 1
    next
}
/^[ \t]*<\/testcase>/ {
    if (output != "") { if (name == output) { printf "%s", out; exit } ; next }
    verdict = status == "run" ? "passed" : status == "fail" ? "failed" : skipped ? "skipped" : "not-run"
    printf "%s\t%s%s\n", verdict, name, verdict == "skipped" ? "\t" why : ""
}
