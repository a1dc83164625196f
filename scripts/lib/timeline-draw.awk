# SPDX-License-Identifier: MIT
# Draws the events that timeline-events.awk found, sorted by time: lanes of
# text for a terminal, 80 columns wide, or with mermaid=1 a Mermaid
# sequenceDiagram. With all=1 (every call, as strace wrote it), a lane's
# text runs on past its column, and the line past 80. Reads them all first, so that a lane's calls that belong
# together can be told as one.
BEGIN { FS = "\t"; width = 80; margin = 8 }

$4 == "lane" { lane[++lanes] = $3; column_of[$3] = lanes; label[$3] = $5; short[$3] = $6; next }
{ n++; at[n] = $1 + 0; who[n] = $3; kind[n] = $4; text[n] = $5; other[n] = $6 }

function named(s,    id) {
    while (match(s, /@[0-9]+@/)) {
        id = substr(s, RSTART + 1, RLENGTH - 2)
        s = substr(s, 1, RSTART - 1) (id in short ? short[id] : id) substr(s, RSTART + RLENGTH)
    }
    return s
}

# A text written while a signal is held back, and the mask set back after
# it, is one step: the write, with the signal held back meanwhile.
function fold_held_writes(    i, j, k, held) {
    for (i = 1; i <= n; i++) {
        if (kind[i] != "text" || text[i] !~ /^(handler: )?holds back [A-Z]/ || text[i] ~ / only$/) continue
        for (j = i + 1; j <= n && (who[j] != who[i] || kind[j] == "skip"); j++) {}
        for (k = j + 1; k <= n && (who[k] != who[i] || kind[k] == "skip"); k++) {}
        if (j > n || k > n || text[j] !~ /^(handler: )?write / || text[k] !~ /^(handler: )?holds back (nothing|.* only)$/) continue
        held = text[i]; sub(/^(handler: )?holds back /, "", held)
        text[j] = text[j] " (" held " held back)"
        kind[i] = kind[k] = "skip"
    }
}

function put(row, col, s) {
    if (!all && col + length(s) > width) s = substr(s, 1, width - col - 3) "..."
    return substr(row, 1, col) s substr(row, col + length(s) + 1)
}
function col(id) { return margin + (column_of[id] - 1) * lane_width }
function fit(s) { return !all && length(s) > lane_width - 1 ? substr(s, 1, lane_width - 4) "..." : s }
function dashes(count,    s) { s = ""; while (count-- > 0) s = s "-"; return s }

# A row: a bar in every lane that is alive, then what happens in it.
function row(t,    s, i) {
    s = t == "" ? sprintf("%-" width "s", "") : sprintf("%7.3f %-" (width - margin) "s", t, "")
    for (i = 1; i <= lanes; i++) if (alive[lane[i]]) s = put(s, col(lane[i]), "|")
    return s
}
function print_row(s) { sub(/ +$/, "", s); print s }

function terminal(    i, s, a, b, label_text, from, gap, last) {
    lane_width = int((width - margin) / (lanes > 0 ? lanes : 1))
    s = sprintf("%-" width "s", "seconds")
    for (i = 1; i <= lanes; i++) s = put(s, col(lane[i]), fit(label[lane[i]]))
    print_row(s)
    print_row(dashes(width))
    alive[lane[1]] = 1
    last = 0
    for (i = 1; i <= n; i++) {
        if (kind[i] == "skip") continue
        gap = at[i] - last
        if (gap >= 0.5) print_row(put(row(""), col(lane[1]) + 2, sprintf("... %.2f s ...", gap)))
        last = at[i]
        s = row(at[i])
        a = who[i]
        if (kind[i] == "fork") {
            b = other[i]
            s = put(s, col(a), text[i] " " dashes(col(b) - col(a) - length(text[i]) - 3) "> ")
            s = put(s, col(b), "starts")
            alive[b] = 1
        } else if (kind[i] == "signal") {
            label_text = named(text[i])
            from = other[i]
            if (from ~ /^outside:/) {
                s = put(s, col(a), fit("<== " label_text " from " substr(from, 9)))
            } else if (column_of[from] > column_of[a]) {
                s = put(s, col(a), "<-- " label_text " " dashes(col(from) - col(a) - length(label_text) - 6) " ")
                s = put(s, col(from), "kill")
            } else {
                s = put(s, col(from), "kill -- " label_text " " dashes(col(a) - col(from) - length(label_text) - 11) "> ")
            }
        } else if (kind[i] == "mark") {
            s = put(s, col(a), fit("* " named(text[i])))
        } else {
            s = put(s, col(a), fit(named(text[i])))
            if (kind[i] == "end") alive[a] = 0
        }
        print_row(s)
    }
}

function quoted(s) { gsub(/;/, ",", s); gsub(/#/, "no. ", s); return s }
function part(id) { return "P" id }
function mermaid_diagram(    i, from, outside, gap, last) {
    print "sequenceDiagram"
    for (i = 1; i <= n; i++) if (kind[i] == "signal" && other[i] ~ /^outside:/) outside = 1
    if (outside) print "    participant outside as outside"
    for (i = 1; i <= lanes; i++) print "    participant " part(lane[i]) " as " label[lane[i]]
    last = 0
    for (i = 1; i <= n; i++) {
        if (kind[i] == "skip") continue
        gap = at[i] - last
        if (gap >= 0.5) printf "    Note over %s,%s: %.2f s pass\n", part(lane[1]), part(lane[lanes]), gap
        last = at[i]
        if (kind[i] == "fork") printf "    %s->>%s: %s\n", part(who[i]), part(other[i]), quoted(text[i])
        else if (kind[i] == "signal") {
            from = other[i]
            if (from ~ /^outside:/) printf "    outside->>%s: %s from %s\n", part(who[i]), quoted(named(text[i])), substr(from, 9)
            else printf "    %s->>%s: %s\n", part(from), part(who[i]), quoted(named(text[i]))
        } else printf "    Note over %s: %.3f s, %s\n", part(who[i]), at[i], quoted(named(text[i]))
    }
}

END {
    fold_held_writes()
    if (mermaid) mermaid_diagram()
    else terminal()
}
