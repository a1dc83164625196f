# SPDX-License-Identifier: MIT
# Sourced by the checks in tests/ and .ci/: what the programs are built to say and
# do, read from tests/expected.h, where the tests take it too, so that a
# change of a program's value is followed in that one place. Sets prompt,
# answer, hint, right, wrong, reminder_delay, reminder_signal (its name, as
# SIGUSR1) and workers, and defines
# pairjoin_output_ok. Fails, naming the value, if one cannot be read.

expected_h=$(dirname "${BASH_SOURCE[0]}")/../../tests/expected.h

# One value of tests/expected.h; a string's escapes (\n) become the bytes.
expected_value() {
  local value
  value=$(sed -n "s/^inline .* $1 = \(.*\);.*\$/\1/p" "$expected_h")
  [[ -n $value ]] || { echo "expected-values: no value of $1 in $expected_h" >&2; return 1; }
  if [[ $value == \"*\" ]]; then
    value=${value#\"}
    printf '%b' "${value%\"}"
  else
    printf '%s' "$value"
  fi
}

prompt=$(expected_value prompt)
answer=$(expected_value answer)
hint=$(expected_value hint)
right=$(expected_value right)
wrong=$(expected_value wrong)
reminder_delay=$(expected_value reminder_delay)
reminder_signal=$(expected_value reminder_signal)
workers=$(expected_value workers)

# Whether FILE holds a whole pairjoin run with every worker started: a line
# from each worker in any order, then the summaries in order (the texts of
# worker_line and summary_line in tests/expected.h).
pairjoin_output_ok() {
  local worker expected actual
  expected=$(for ((worker = 1; worker <= workers; worker++)); do echo "Thread $worker "; done | sort
             for ((worker = 1; worker <= workers; worker++)); do echo "Thread $worker returns: 0"; done)
  actual=$(head -n "$workers" "$1" | sort; tail -n +"$((workers + 1))" "$1")
  [[ $actual == "$expected" && -z $(tail -c 1 "$1") ]]
}
