# SPDX-License-Identifier: MIT
# A GoogleTest failure as a learner reads it, for scripts/learn and
# scripts/replay: its diff says which side is which, by the names the
# assertion gave ("- came, + expected_output"), since GoogleTest's own
# "With diff:" leaves it to be guessed. Every line is passed on.
/Expected equality of these values:$/ { indent = match($0, /[^ ]/); names = 0 }
indent && match($0, /[^ ]/) == indent + 2 && names < 2 { name[++names] = substr($0, indent + 2) }
/^ *With diff:$/ && names == 2 { sub(/:$/, " (- " name[1] ", + " name[2] "):") }
{ print }
