# SPDX-License-Identifier: MIT
# Prints what stands inside a fenced block (``` ... ```) of a Markdown page:
# the `block`th one (1 when not given) after the line `after`, which may be
# a heading ("## Build and test") or a marker ("<!-- timeline: NAME -->"),
# and before the next "## " heading. Prints nothing when there is none.
#   awk -v after='## Build and run' -v block=2 -f scripts/lib/markdown-block.awk README.md
BEGIN { if (block == "") block = 1 }
!found && $0 == after { found = 1; next }
!found { next }
!inside && /^## / { exit }
/^```/ {
    if (inside && count == block) exit
    inside = !inside
    if (inside) count++
    next
}
inside && count == block { print }
