# SPDX-License-Identifier: MIT
# Draws the events that timeline-events.awk found, sorted by time: lanes of
# text for a terminal, 80 columns wide, or with mermaid=1 a Mermaid
# sequenceDiagram, or with steps=1 the picture's steps, a line each, for
# scripts/timeline --beside to compare (see steps_list). With all=1 (every call and signal, as strace wrote
# it), a lane's text runs on past its column, and the line past 80. Every
# phrase of the picture is worded here, from an event's kind and fields.
# Reads them all first, so that a lane's calls that belong together can
# be told as one.
BEGIN { FS = "\t"; width = 80; margin = 8 }

# An event's fields, NAME=VALUE after its kind, as field[key, NAME].
function read_fields(key,    i, eq) {
    for (i = 5; i <= NF; i++) { eq = index($i, "="); field[key, substr($i, 1, eq - 1)] = substr($i, eq + 1) }
}
function v(i, name) { return (i, name) in field ? field[i, name] : "" }
function flag(i, name) { return v(i, name) == 1 }

$4 == "lane" {
    read_fields("lane")
    role = v("lane", "role"); program = v("lane", "program")
    lane[++lanes] = $3; column_of[$3] = lanes
    label[$3] = (role == "" ? "" : role " ") $3; short[$3] = role == "" ? $3 : role
    next
}
{ n++; at[n] = $1 + 0; who[n] = $3; kind[n] = $4; read_fields(n) }

function name_of(id) { return id in short ? short[id] : id }
function set_words(i) { return v(i, "set") == "" ? "nothing" : v(i, "set") }
function sender(i) { return v(i, "from") == "kernel" ? "the kernel" : v(i, "from") }
# The processes outside the picture that sent signals, and what the tool
# knows of each: the one that ran scripts/timeline, or only that it is
# not one of the traced processes.
function find_outsiders(    i, from) {
    for (i = 1; i <= n; i++) {
        from = v(i, "from")
        if (kind[i] != "signal" || !flag(i, "outside") || from == "kernel" || from == "?" || (from in known)) continue
        known[from] = 1
        outsider[++outsiders] = from
        outsider_is[from] = flag(i, "caller") ? "the process that ran scripts/timeline" : "not one of the traced processes"
    }
}

# The words for an event.
function words(i,    k, s) {
    k = kind[i]
    if (v(i, "line") != "") s = v(i, "line")
    else if (k == "fork") s = flag(i, "thread") ? "starts a thread" : "fork"
    else if (k == "fails") s = v(i, "call") " fails: " v(i, "result")
    else if (k == "action") s = action_words(i)
    else if (k == "mask") s = mask_words(i)
    else if (k == "read" || k == "write") s = io_words(i)
    else if (k == "wait-read") s = "waits to read"
    else if (k == "wait-write") s = "waits to write"
    else if (k == "sleep") s = v(i, "seconds") == "" ? "sleeps" : "sleeps " v(i, "seconds") " s"
    else if (k == "wait-for") s = "waits for " name_of(v(i, "child"))
    else if (k == "reap") s = v(i, "child") != "" ? "reaps " name_of(v(i, "child")) : "wait: " v(i, "result")
    else if (k == "join-wait") s = "joins " name_of(v(i, "thread")) ": waits"
    else if (k == "joined") s = name_of(v(i, "thread")) " ended, joined"
    else if (k == "lock-wait") s = "waits for a lock"
    else if (k == "lock-got") s = "has the lock"
    else if (k == "carried-on") s = v(i, "call") " carried on (SA_RESTART)"
    else if (k == "eintr") s = v(i, "call") " ended: EINTR (not carried on)"
    else if (k == "send-failed") s = "sends SIG" v(i, "signal") " to " v(i, "target") ": fails, " v(i, "result")
    else if (k == "never-arrives") s = "sends SIG" v(i, "signal") " to " v(i, "target") ": never arrives"
    else if (k == "signal") s = signal_words(i)
    else if (k == "stopped") s = flag(i, "known") ? "stopped" : "was stopped"
    else if (k == "ignored") s = "SIG" v(i, "signal") ", ignored"
    else if (k == "end") s = v(i, "status") != "" ? "exit " v(i, "status") : "killed by SIG" v(i, "signal")
    if (held[i] != "") s = s " (" held[i] " held back)"
    return (flag(i, "handler") ? "handler: " : "") s
}
function action_words(i,    sig) {
    sig = "SIG" v(i, "signal")
    if (v(i, "action") == "ignore") return sig " set to ignore"
    if (v(i, "action") == "default") return sig " back to its default"
    return "handler for " sig (flag(i, "restart") ? ", SA_RESTART" : ", no SA_RESTART")
}
function mask_words(i) {
    if (v(i, "how") == "unblock") return "lets " set_words(i) " through"
    return "holds back " set_words(i) (v(i, "how") == "setmask" && v(i, "set") != "" ? " only" : "")
}
function io_words(i) {
    if (flag(i, "failed")) return kind[i] " fails: " v(i, "result")
    if (kind[i] == "read" && v(i, "result") == "0") return "read: end of input"
    return kind[i] " " v(i, "data")
}
# An arrow's label: the signal, what it does, and how long it took to
# arrive, when the arrow starts at its kill.
function signal_words(i,    s) {
    if (v(i, "action") == "continue") return "SIG" v(i, "signal")
    s = "SIG" v(i, "signal") (v(i, "action") == "handler" ? " to handler" : "")
    return v(i, "ms") == "" ? s : s ", " v(i, "ms") " ms"
}

# A write made while a signal is held back, and the mask set back after
# it, are one step: the write (and its wait, if it blocked), with the
# signal held back meanwhile. A signal that comes meanwhile is drawn at
# its kill, or is ignored: either way it is no step of this lane's own.
function fold_held_writes(    i, j, w, k) {
    for (i = 1; i <= n; i++) {
        if (skip[i] || !holds_back(i)) continue
        j = next_own_step(i); w = kind[j] == "wait-write" ? next_own_step(j) : j; k = next_own_step(w)
        if (k > n || kind[w] != "write" || !sets_back(k)) continue
        held[j] = held[w] = v(i, "set")
        skip[i] = skip[k] = 1
    }
}
function next_own_step(i,    j) {
    for (j = i + 1; j <= n && (who[j] != who[i] || skip[j] || drawn_at_kill_or_ignored(j)); j++) {}
    return j
}
function drawn_at_kill_or_ignored(i) { return kind[i] == "ignored" || kind[i] == "signal" && v(i, "ms") != "" }
function holds_back(i) { return kind[i] == "mask" && v(i, "how") == "block" && v(i, "set") != "" }
# The mask set back: to a given set, or by blocking nothing more.
function sets_back(i) {
    return kind[i] == "mask" && (v(i, "how") == "setmask" || v(i, "how") == "block" && v(i, "set") == "")
}

function put(row, col, s) {
    if (!all && col + length(s) > width) s = substr(s, 1, width - col - 3) "..."
    return substr(row, 1, col) s substr(row, col + length(s) + 1)
}
function col(id) { return margin + (column_of[id] - 1) * lane_width }
function fit(s) { return !all && length(s) > lane_width - 1 ? substr(s, 1, lane_width - 4) "..." : s }
function dashes(count,    s) { s = ""; while (count-- > 0) s = s "-"; return s }
# A mark tells what the picture saw; strace's own line, where kept, stands alone.
function is_mark(i) { return (kind[i] == "stopped" || kind[i] == "ignored") && v(i, "line") == "" }

# A row: a bar in every lane that is alive, then what happens in it.
function row(t,    s, i) {
    s = t == "" ? sprintf("%-" width "s", "") : sprintf("%7.3f %-" (width - margin) "s", t, "")
    for (i = 1; i <= lanes; i++) if (alive[lane[i]]) s = put(s, col(lane[i]), "|")
    return s
}
function print_row(s) { sub(/ +$/, "", s); print s }

function terminal(    i, s, a, b, from, gap, last) {
    lane_width = int((width - margin) / (lanes > 0 ? lanes : 1))
    s = sprintf("%-" width "s", "seconds")
    for (i = 1; i <= lanes; i++) s = put(s, col(lane[i]), fit(label[lane[i]]))
    print_row(s)
    print_row(dashes(width))
    alive[lane[1]] = 1
    last = 0
    for (i = 1; i <= n; i++) {
        if (skip[i]) continue
        gap = at[i] - last
        if (gap >= 0.5) print_row(put(row(""), col(lane[1]) + 2, sprintf("... %.2f s ...", gap)))
        last = at[i]
        s = row(at[i])
        a = who[i]
        if (kind[i] == "fork") {
            b = v(i, "child")
            s = put(s, col(a), text[i] " " dashes(col(b) - col(a) - length(text[i]) - 3) "> ")
            s = put(s, col(b), "starts")
            alive[b] = 1
        } else if (kind[i] == "signal") {
            from = v(i, "from")
            if (flag(i, "outside")) {
                s = put(s, col(a), fit("<== " text[i] " from " sender(i)))
            } else if (column_of[from] > column_of[a]) {
                s = put(s, col(a), "<-- " text[i] " " dashes(col(from) - col(a) - length(text[i]) - 6) " ")
                s = put(s, col(from), "kill")
            } else {
                s = put(s, col(from), "kill -- " text[i] " " dashes(col(a) - col(from) - length(text[i]) - 11) "> ")
            }
        } else if (is_mark(i)) {
            s = put(s, col(a), fit("* " text[i]))
        } else {
            s = put(s, col(a), fit(text[i]))
            if (kind[i] == "end") alive[a] = 0
        }
        print_row(s)
    }
    for (i = 1; i <= outsiders; i++) print "from " outsider[i] ": outside the picture, " outsider_is[outsider[i]]
}

function quoted(s) { gsub(/;/, ",", s); gsub(/#/, "no. ", s); return s }
function part(id) { return "P" id }
function mermaid_diagram(    i, outside, gap, last) {
    print "sequenceDiagram"
    for (i = 1; i <= n; i++) if (kind[i] == "signal" && flag(i, "outside")) outside = 1
    if (outside) print "    participant outside as outside"
    for (i = 1; i <= lanes; i++) print "    participant " part(lane[i]) " as " label[lane[i]]
    last = 0
    for (i = 1; i <= n; i++) {
        if (skip[i]) continue
        gap = at[i] - last
        if (gap >= 0.5) printf "    Note over %s,%s: %.2f s pass\n", part(lane[1]), part(lane[lanes]), gap
        last = at[i]
        if (kind[i] == "fork") printf "    %s->>%s: %s\n", part(who[i]), part(v(i, "child")), quoted(text[i])
        else if (kind[i] == "signal" && flag(i, "outside"))
            printf "    outside->>%s: %s from %s\n", part(who[i]), quoted(text[i]), sender(i)
        else if (kind[i] == "signal") printf "    %s->>%s: %s\n", part(v(i, "from")), part(who[i]), quoted(text[i])
        else printf "    Note over %s: %.3f s, %s\n", part(who[i]), at[i], quoted(text[i])
    }
    for (i = 1; i <= outsiders; i++) printf "    Note over outside: %s, %s\n", outsider[i], outsider_is[outsider[i]]
}

# The steps, worded as the terminal picture words them, in its order: a
# first line "program<TAB>NAME", then a line a step, "SECONDS<TAB>KEY<TAB>
# LANE<TAB>WORDS". LANE is the lane's role (its id, without one), empty for
# a pause; KEY is what matches it with a lane of another run: its LANE, or
# "thread N" for the Nth thread started, whose role the program may not
# have told. An arrow is two steps: "fork" or "kill" where it starts,
# "starts" or the signal where it ends.
function steps_list(    i, a, from, last, gap, threads) {
    printf "program\t%s\n", program
    last = 0
    for (i = 1; i <= n; i++) {
        if (skip[i]) continue
        gap = at[i] - last
        if (gap >= 0.5) printf "%.6f\t\t\t... %.2f s ...\n", at[i], gap
        last = at[i]
        a = who[i]
        from = v(i, "from")
        if (kind[i] == "fork") {
            if (flag(i, "thread")) key_of[v(i, "child")] = "thread " ++threads
            step(i, a, text[i])
            step(i, v(i, "child"), "starts")
        } else if (kind[i] == "signal" && flag(i, "outside")) step(i, a, "<== " text[i] " from " sender(i))
        else if (kind[i] == "signal") {
            if (from != a) step(i, from, "kill")
            step(i, a, "<-- " text[i])
        } else step(i, a, is_mark(i) ? "* " text[i] : text[i])
    }
}
function step(i, id, s) { printf "%.6f\t%s\t%s\t%s\n", at[i], id in key_of ? key_of[id] : name_of(id), name_of(id), s }

END {
    fold_held_writes()
    find_outsiders()
    for (i = 1; i <= n; i++) text[i] = words(i)
    if (steps) steps_list()
    else if (mermaid) mermaid_diagram()
    else terminal()
}
