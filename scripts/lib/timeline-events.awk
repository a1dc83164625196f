# SPDX-License-Identifier: MIT
# Reads a log of `strace -f -ttt -T -s 64` and writes the story of the run
# as events, a line each, tab-separated: seconds since the start, order,
# process or thread id, kind, text, other id. Kinds: lane (time -1: a
# lane's heading), text, mark, fork (to the other id), signal (from the
# other id, or "outside:" and who sent it), end. A lane's line gives its
# heading and its short name; in a text, @ID@ stands for that short name.
# With all=1, every system call is kept, as strace wrote it.
# scripts/timeline sorts the events and hands them to timeline-draw.awk.

function emit(t, id, kind, text, other) {
    printf "%.6f\t%d\t%s\t%s\t%s\t%s\n", t - t0, ++order, id, kind, text, other
}
function shorten(s, n) { return length(s) > n ? substr(s, 1, n - 3) "..." : s }
# A signal set as strace writes it, [USR1 CHLD], in words: USR1 CHLD.
function set_words(s) { gsub(/[][]/, "", s); return s == "" ? "nothing" : s }
function signal_of(s) { sub(/^SIG/, "", s); return s }
function fatal_by_default(sig) { return sig !~ /^(CHLD|CONT|WINCH|URG)$/ }

# What a lane shows; a handler's own calls are marked as the handler's.
function say(t, id, text) {
    if (in_handler[id]) text = "handler: " text
    emit(t, id, "text", text, "")
}

# A lane for a process or thread, when it is first seen; its parent is
# known only from the clone, whose result strace may write after the new
# one's own first call.
function new_lane(id, parent, thread) {
    if (!(id in seen)) { seen[id] = ++lanes; lane_order[lanes] = id }
    if (parent == "") return
    parent_of[id] = parent
    is_thread[id] = thread
    for (k in action) {
        split(k, key, SUBSEP)
        if (key[1] == parent) action[id, key[2]] = action[k]
    }
}

# Every tv_sec and tv_nsec pair of a call's text, in seconds, in order.
function timespecs(text, found,    n, s, ns) {
    n = 0
    while (match(text, /tv_sec=[0-9]+, tv_nsec=[0-9]+/)) {
        s = substr(text, RSTART + 7, RLENGTH - 7); ns = s
        sub(/,.*/, "", s); sub(/.*tv_nsec=/, "", ns)
        found[++n] = s + ns / 1e9
        text = substr(text, RSTART + RLENGTH)
    }
    return n
}

# One system call, whole: `name(args) = result`, entered at t and lasting d.
function call(id, t, d, text,    name, args, result, blocked, again, n, sig, target, parts, fd, data, ts) {
    name = text; sub(/\(.*/, "", name)
    result = text; if (!sub(/.* = /, "", result)) result = ""
    args = text; sub(/^[a-z0-9_]+\(/, "", args); sub(/\) += .*$/, "", args)
    blocked = d > 0.05
    # The same call made again after a signal: the kernel carried it on
    # (SA_RESTART), or, after a stop or a signal that is ignored, only the
    # stop broke it off (strace's own, or the job's), which is not the
    # program's doing.
    again = restarted[id] == name
    if (again && !quiet[id] && !all) say(t, id, name " carried on (SA_RESTART)")
    if (again) { restarted[id] = ""; quiet[id] = 0 }
    if (result ~ /^\? ERESTART/) {
        # Broken off by a signal or a stop; what follows tells which.
        interrupted[id] = name
        if (all) say(t + d, id, shorten(text, 200))
        else if (name ~ /^(read|wait4|clock_nanosleep|nanosleep)$/ && !again) say(t, id, waiting_text(name, args))
        n = timespecs(text, ts)
        if (name ~ /nanosleep/ && n >= 2) stopped_at[id] = stop_estimate = t + ts[1] - ts[n]
        return
    }

    if (name ~ /^(clone|clone3|fork|vfork)$/) {
        if (result ~ /^[0-9]+$/) {
            new_lane(result, id, text ~ /CLONE_THREAD/)
            if (all) say(t, id, shorten(text, 120))
            emit(t, id, "fork", text ~ /CLONE_THREAD/ ? "starts a thread" : "fork", result)
        } else say(t, id, name " fails: " result)
        return
    }
    if (name ~ /^(kill|tgkill|tkill)$/) {
        n = split(args, parts, /, */)
        sig = signal_of(parts[n]); target = parts[n - 1]
        if (result == "0") { sent_at[id, sig] = t; sent_to[id, sig] = target; unmatched[id, sig] = t }
        else say(t, id, "sends SIG" sig " to " target ": fails, " result)
        if (all) say(t, id, shorten(text, 200))
        return
    }
    if (name == "rt_sigreturn") {
        in_handler[id] = 0
        if (all) say(t, id, shorten(text, 200))
        if (result ~ /EINTR/) say(t, id, interrupted[id] " ended: EINTR (not carried on)")
        else if (interrupted[id] != "") { restarted[id] = interrupted[id]; quiet[id] = 0 }
        interrupted[id] = ""
        return
    }
    if (name == "rt_sigaction") {
        split(args, parts, /, /)
        sig = signal_of(parts[1])
        if (parts[2] != "NULL")
            action[id, sig] = args ~ /sa_handler=SIG_IGN/ ? "ignore" : args ~ /sa_handler=SIG_DFL/ ? "default" : "handler"
        if (all || sig ~ /^RT/ || parts[2] == "NULL") { if (all) say(t, id, shorten(text, 200)); return }
        if (action[id, sig] == "ignore") say(t, id, "SIG" sig " set to ignore")
        else if (action[id, sig] == "default") say(t, id, "SIG" sig " back to its default")
        else say(t, id, "handler for SIG" sig (args ~ /SA_RESTART/ ? ", SA_RESTART" : ", no SA_RESTART"))
        return
    }
    # pairjoin's summaries, which tell which workers started.
    if (name == "write" && id == main) summaries = summaries args
    # Every call, when its result came.
    if (all) { say(blocked ? t + d : t, id, shorten(text, 200)); return }
    if (name == "rt_sigprocmask") {
        split(args, parts, /, /)
        # The C library's own changes, around a thread's start, are left out.
        if (parts[2] ~ /~|RT|NULL/ || (parts[2] == "[]" && !holds[id])) return
        if (parts[1] == "SIG_BLOCK") { holds[id] = 1; say(t, id, "holds back " set_words(parts[2])) }
        else if (parts[1] == "SIG_UNBLOCK") say(t, id, "lets " set_words(parts[2]) " through")
        else say(t, id, "holds back " set_words(parts[2]) (parts[2] == "[]" ? "" : " only"))
        return
    }
    if (name == "read" || name == "write") {
        fd = args; sub(/,.*/, "", fd)
        if (fd > 2) return
        data = args; sub(/^[0-9]+, /, "", data); sub(/, [0-9]+$/, "", data)
        if (name == "read" && blocked && !again) say(t, id, "waits to read")
        if (result ~ /^-1/) text = name " fails: " result
        else if (name == "read" && result == "0") text = "read: end of input"
        else text = name " " data
        say(blocked ? t + d : t, id, text)
        return
    }
    if (name ~ /nanosleep/) {
        if (timespecs(text, ts) >= 1) say(t, id, "sleeps " ts[1] " s")
        return
    }
    if (name == "wait4" || name == "waitpid") {
        target = args; sub(/,.*/, "", target)
        if (blocked && !again) say(t, id, "waits for @" target "@")
        say(blocked ? t + d : t, id, result ~ /^[0-9]+$/ ? "reaps @" result "@" : "wait: " result)
        return
    }
    if (name == "futex") {
        split(args, parts, /, /)
        # Threads wait for each other in microseconds: both ends are told.
        if (parts[2] ~ /FUTEX_WAIT_BITSET/ && (parts[3] in seen)) {
            # A join: the kernel clears the thread's id and wakes the waiter.
            say(t, id, "joins @" parts[3] "@: waits")
            say(t + d, id, "@" parts[3] "@ ended, joined")
        } else if (parts[2] ~ /FUTEX_WAIT/ && result !~ /EAGAIN/) {
            say(t, id, "waits for a lock")
            say(t + d, id, "has the lock")
        }
        return
    }
}

function waiting_text(name, args,    target, ts) {
    if (name == "read") return "waits to read"
    if (name == "wait4") { target = args; sub(/,.*/, "", target); return "waits for @" target "@" }
    return timespecs(args, ts) >= 1 ? "sleeps " ts[1] " s" : "sleeps"
}

function delivered(id, t, info,    sig, from, code, act, to) {
    sig = info; sub(/^--- SIG/, "", sig); sub(/ .*/, "", sig)
    from = info; if (!sub(/.*si_pid=/, "", from)) from = "?"; sub(/,.*/, "", from)
    code = info; sub(/.*si_code=/, "", code); sub(/[,}].*/, "", code)
    act = (id, sig) in action ? action[id, sig] : "default"
    if (code == "SI_KERNEL") from = "the kernel"
    if (sig == "CONT") {
        # strace sees no stop, only the continue; a sleep cut short tells
        # when the stop came.
        if (stopped_at[id] == "" && stop_estimate != "" && stop_estimate < t) stopped_at[id] = stop_estimate
        emit(stopped_at[id] != "" ? stopped_at[id] : t, id, "mark", stopped_at[id] != "" ? "stopped" : "was stopped", "")
        stopped_at[id] = ""
        emit(t, id, "signal", "SIGCONT, continues", from in seen ? from : "outside:" from)
        if (interrupted[id] != "" && !in_handler[id]) { restarted[id] = interrupted[id]; quiet[id] = 1; interrupted[id] = "" }
        return
    }
    if (act == "ignore" || (act == "default" && !fatal_by_default(sig))) {
        emit(t, id, "mark", "SIG" sig ", ignored", "")
        if (interrupted[id] != "" && !in_handler[id]) { restarted[id] = interrupted[id]; quiet[id] = 1; interrupted[id] = "" }
        return
    }
    to = act == "handler" ? " to handler" : ""
    if ((from, sig) in sent_at) {
        delete unmatched[from, sig]
        # Drawn when it was sent, with the time it took to arrive.
        emit(sent_at[from, sig], id, "signal", sprintf("SIG%s%s, %.1f ms", sig, to, (t - sent_at[from, sig]) * 1000), from)
    } else emit(t, id, "signal", "SIG" sig to, "outside:" from)
    if (act == "handler") in_handler[id] = 1
    # A call that a stop broke off and that was not yet made again when
    # this handler came is carried on by SA_RESTART, not by the continue.
    if (act == "handler" && interrupted[id] == "" && restarted[id] != "" && quiet[id]) {
        interrupted[id] = restarted[id]; restarted[id] = ""; quiet[id] = 0
    }
}

BEGIN { FS = " " }
{
    id = $1; t = $2 + 0
    if (t0 == "") t0 = t
    rest = $0; sub(/^[0-9]+ +[0-9.]+ /, "", rest)
    new_lane(id, "", 0)
    d = 0
    if (match(rest, / <[0-9.]+>$/)) { d = substr(rest, RSTART + 2, RLENGTH - 3) + 0; rest = substr(rest, 1, RSTART - 1) }
}
rest ~ /^\+\+\+ exited with / { s = rest; sub(/.*with /, "", s); sub(/ .*/, "", s); emit(t, id, "end", "exit " s, ""); next }
rest ~ /^\+\+\+ killed by / { s = rest; sub(/.*by /, "", s); sub(/ .*/, "", s); emit(t, id, "end", "killed by " s, ""); next }
rest ~ /^--- stopped by / { emit(t, id, "mark", "stopped", ""); stopped_at[id] = ""; next }
rest ~ /^--- SIG/ { delivered(id, t, rest); next }
rest ~ /<unfinished \.\.\.>$/ { sub(/ <unfinished \.\.\.>$/, "", rest); pending[id] = rest; pending_t[id] = t; next }
rest ~ /^<\.\.\. [a-z0-9_]+ resumed>/ {
    sub(/^<\.\.\. [a-z0-9_]+ resumed>/, "", rest)
    # Without -T, the end of a call that was cut in two is when it resumed.
    call(id, pending_t[id], d > t - pending_t[id] ? d : t - pending_t[id], pending[id] rest)
    next
}
rest ~ /^execve\(/ {
    if (program == "") { program = rest; sub(/^execve\("/, "", program); sub(/".*/, "", program); sub(/.*\//, "", program); main = id }
    if (all) say(t, id, shorten(rest, 200))
    next
}
{ call(id, t, d, rest) }

END {
    for (k in unmatched) {
        split(k, key, SUBSEP)
        emit(unmatched[k], key[1], "text", "sends SIG" key[2] " to " sent_to[k] ": never arrives", "")
    }
    # pairjoin's workers, in the order they started: those whose summary
    # ("Thread N returns: 0") says they did, or all in order without one.
    started = 0
    while (match(summaries, /Thread [0-9]+ returns: [0-9]+/)) {
        line = substr(summaries, RSTART + 7, RLENGTH - 7); summaries = substr(summaries, RSTART + RLENGTH)
        split(line, parts, / returns: /)
        if (parts[2] == 0) worker_number[++started] = parts[1]
    }
    workers = 0
    for (i = 1; i <= lanes; i++) {
        id = lane_order[i]
        role = ""
        if (program == "quizhint") role = id == main ? "quiz" : parent_of[id] == main && !is_thread[id] ? "reminder" : ""
        if (program == "pairjoin" && id == main) role = "main thread"
        else if (program == "pairjoin" && is_thread[id]) role = "worker " (++workers in worker_number ? worker_number[workers] : workers)
        printf "-1\t%d\t%s\tlane\t%s\t%s\n", i, id, (role == "" ? "" : role " ") id, role == "" ? id : role
    }
}
