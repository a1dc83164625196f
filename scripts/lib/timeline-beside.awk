# SPDX-License-Identifier: MIT
# Two runs side by side, from the steps that timeline-draw.awk wrote for
# each (steps=1), given as two files; left and right label them. Within
# 80 columns: a heading with the labels, the steps both runs share, once,
# then a line where they part, then the rest of each run in a column of
# its own, a step's equal across from it. Or, where no step tells them
# apart, all the steps once and "Both runs take the same steps."
# Steps are compared masked (timeline-compare.awk, which must be loaded
# first), lane by lane, lanes matched by their key; steps that come by
# chance are shown, where they came, but never compared. Needs nothing;
# writes to stdout.
BEGIN { FS = "\t"; width = 80; column = 39 }

FNR == 1 { run++ }
$1 == "program" { program[run] = $2; next }
{
    s = ++steps[run]
    t[run, s] = $1 + 0; key[run, s] = $2; lane[run, s] = $3; words[run, s] = $4
    compared_as[run, s] = masked($4)
    chance[run, s] = $2 == "" || by_chance(program[run], compared_as[run, s]) != ""
    if (!($2 in known_key)) { known_key[$2] = 1; keys[++key_count] = $2 }
    if (chance[run, s]) next
    place[run, s] = ++lane_count[run, $2]
    in_lane[run, $2, place[run, s]] = s
}

# The steps of a lane that the two runs share, from its first: how many.
function shared_in_lane(k,    j) {
    for (j = 1; j <= lane_count[1, k] && j <= lane_count[2, k]; j++)
        if (compared_as[1, in_lane[1, k, j]] != compared_as[2, in_lane[2, k, j]]) break
    return j - 1
}
function same_steps(    i, k) {
    for (i = 1; i <= key_count; i++) {
        k = keys[i]
        if (lane_count[1, k] != lane_count[2, k] || shared[k] != lane_count[1, k]) return 0
    }
    return 1
}

function cut(s, w) { return length(s) > w ? substr(s, 1, w - 3) "..." : s }
function shown(r, s) { return s == 0 ? "" : lane[r, s] == "" ? words[r, s] : lane[r, s] ": " words[r, s] }
function print_row(a, b) { print_columns_of(shown(1, a), shown(2, b)) }
function print_columns_of(l, r,    s) {
    s = sprintf("%-" column "s %s", cut(l, column), cut(r, width - column - 1))
    sub(/ +$/, "", s)
    print s
}
function dashes(n,    s) { s = ""; while (n-- > 0) s = s "-"; return s }

# The longest common subsequence of xa[1..m] and xb[1..n], as pairs:
# matched[i] = j, or 0 for an xa[i] that is in none.
function common(m, n,    i, j) {
    delete len
    for (i = m + 1; i >= 1; i--)
        for (j = n + 1; j >= 1; j--)
            len[i, j] = i > m || j > n ? 0 : xa[i] == xb[j] ? len[i + 1, j + 1] + 1 : max(len[i + 1, j], len[i, j + 1])
    delete matched
    for (i = j = 1; i <= m && j <= n;) {
        if (xa[i] == xb[j]) { matched[i++] = j++; continue }
        if (len[i + 1, j] >= len[i, j + 1]) matched[i++] = 0
        else j++
    }
    for (; i <= m; i++) matched[i] = 0
}
function max(a, b) { return a > b ? a : b }

# Rows for the rest of lane k: steps that are equal across from each
# other; between them, steps of the same kind (their first word) across
# from each other, and the others across from nothing or what is left.
function align_lane(k,    m, n, i, j, anchors, ai, aj, p) {
    m = n = 0
    for (i = 1; i <= lane_count[1, k]; i++) if (i > kept[k]) ea[++m] = in_lane[1, k, i]
    for (j = 1; j <= lane_count[2, k]; j++) if (j > kept[k]) eb[++n] = in_lane[2, k, j]
    for (i = 1; i <= m; i++) xa[i] = compared_as[1, ea[i]]
    for (j = 1; j <= n; j++) xb[j] = compared_as[2, eb[j]]
    common(m, n)
    anchors = 0
    for (i = 1; i <= m; i++) if (matched[i]) { ai[++anchors] = i; aj[anchors] = matched[i] }
    for (i = 1; i <= m; i++) la[i] = ea[i]
    for (j = 1; j <= n; j++) lb[j] = eb[j]
    ai[anchors + 1] = m + 1; aj[anchors + 1] = n + 1
    i = j = 1
    for (p = 1; p <= anchors + 1; p++) {
        align_kinds(k, i, ai[p] - 1, j, aj[p] - 1)
        if (p <= anchors) add_row(k, la[ai[p]], lb[aj[p]])
        i = ai[p] + 1; j = aj[p] + 1
    }
}
function align_kinds(k, i0, i1, j0, j1,    m, n, i, j, p, q) {
    m = n = 0
    for (i = i0; i <= i1; i++) xa[++m] = first_word(compared_as[1, la[i]])
    for (j = j0; j <= j1; j++) xb[++n] = first_word(compared_as[2, lb[j]])
    common(m, n)
    i = i0; j = j0
    for (p = 1; p <= m + 1; p++) {
        if (p <= m && !matched[p]) continue
        q = p <= m ? j0 + matched[p] - 1 : j1 + 1
        # What lies before this pair on either side, zipped.
        while (i < i0 + p - 1 || j < q) add_row(k, i < i0 + p - 1 ? la[i++] : 0, j < q ? lb[j++] : 0)
        if (p <= m) add_row(k, la[i++], lb[j++])
    }
}
function first_word(s) { sub(/ .*/, "", s); return s }
function add_row(k, a, b) { if (a && b) { partner_a[a] = b; partner_b[b] = a } }

# The two columns, each run's steps in its own order, walked together:
# a step across from its partner when both come next, else the step that
# is waited for, or the earlier. Partners that cross (each waits for a
# step that comes after the other) part. Two equal steps by chance that
# come next on both sides stand across from each other.
function print_columns(    a, b, pa, pb) {
    a = next_left(0); b = next_right(0)
    while (a <= steps[1] || b <= steps[2]) {
        pa = a <= steps[1] ? partner_a[a] : 0; pb = b <= steps[2] ? partner_b[b] : 0
        if (a <= steps[1] && b <= steps[2] && (pa == b || chance[1, a] && chance[2, b] && compared_as[1, a] == compared_as[2, b])) {
            print_row(a, b); a = next_left(a); b = next_right(b)
        } else if (b > steps[2] || a <= steps[1] && (pb && !pa || !(pa && !pb) && t[1, a] <= t[2, b])) {
            if (pa) partner_b[pa] = 0
            print_row(a, 0); a = next_left(a)
        } else {
            if (pb) partner_a[pb] = 0
            print_row(0, b); b = next_right(b)
        }
    }
}
# The next step of a column, past those shown among the shared ones.
function next_left(s) { for (s++; s <= steps[1] && (s < part && !chance[1, s] || (1, s) in shown_shared); s++) {} return s }
function next_right(s) {
    for (s++; s <= steps[2] && ((2, s) in shown_shared || !chance[2, s] && place[2, s] <= kept[key[2, s]]); s++) {}
    return s
}

# A step of the first run that came by chance is shared where the other
# run has the same step by chance too, one each.
function shared_chance(s,    o) {
    for (o = 1; o <= steps[2]; o++)
        if (chance[2, o] && !((2, o) in shown_shared) && compared_as[2, o] == compared_as[1, s]) {
            shown_shared[1, s] = shown_shared[2, o] = 1
            return 1
        }
    return 0
}

# Among the shared steps, a step by chance that only one run took stands
# in that run's column, where it came, across from this; one that the
# first run takes later too is shown once, there.
function chance_steps_of_the_other_before(o,    x) {
    for (x = 1; x < o; x++)
        if (chance[2, x] && !((2, x) in shown_shared) && !still_to_come_in_the_first(compared_as[2, x])) {
            shown_shared[2, x] = 1
            print_columns_of(alone, shown(2, x))
        }
}

function still_to_come_in_the_first(text,    y) {
    for (y = 1; y < part; y++)
        if (chance[1, y] && !((1, y) in shown_shared) && compared_as[1, y] == text) return 1
    return 0
}

END {
    alone = "(not in this run)"
    print_columns_of(left, right)
    for (i = 1; i <= key_count; i++) shared[keys[i]] = shared_in_lane(keys[i])
    if (same_steps()) {
        for (s = 1; s <= steps[1]; s++) print cut(shown(1, s), width)
        print "Both runs take the same steps."
        exit
    }
    # The first run's first step past what its lane shares: all before it
    # is shared, and shown once; the other run's steps that are shown there
    # are left out of its column.
    for (part = 1; part <= steps[1]; part++) if (!chance[1, part] && place[1, part] > shared[key[1, part]]) break
    for (s = 1; s < part; s++) {
        if (!chance[1, s]) chance_steps_of_the_other_before(in_lane[2, key[1, s], kept[key[1, s]] + 1])
        if (chance[1, s] && !shared_chance(s)) {
            shown_shared[1, s] = 1
            print_columns_of(shown(1, s), alone)
            continue
        }
        print cut(shown(1, s), width)
        if (!chance[1, s]) kept[key[1, s]]++
    }
    print "-- they part here " dashes(width - 19)
    for (i = 1; i <= key_count; i++) align_lane(keys[i])
    print_columns()
}
