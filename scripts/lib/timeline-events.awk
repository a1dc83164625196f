# SPDX-License-Identifier: MIT
# Reads a log of `strace -f -ttt -T -s 64` and writes what happened in the
# run as events, a line each, tab-separated: seconds since the start,
# order, process or thread id, kind, then the event's fields as NAME=VALUE.
# The words are timeline-draw.awk's, which decides from the kind and the
# fields alone. Kinds, with their fields (a child, thread or from is a
# lane's id; handler=1 marks a call made by a signal handler):
#   lane        role, program (its name, as it was run); at time -1, in
#               the lane's place
#   strace      line: strace's own line, for a call, or a signal that
#               arrives (all=1 keeps every one)
#   fork        child, thread (1: a thread)
#   fails       call, result: a clone that failed
#   action      signal, action (ignore, default, handler), restart (1: SA_RESTART)
#   mask        how (block, unblock, setmask), set (signal names; empty: none)
#   read, write fd, data, result, failed (1: an error)
#   wait-read, wait-write: a read or a write that blocks; sleep (seconds,
#               if known); wait-for (child); reap (child, or result)
#   join-wait, joined (thread); lock-wait, lock-got
#   carried-on, eintr (call): a broken-off call made again, or ended
#   send-failed (signal, target, result); never-arrives (signal, target)
#   signal      signal, action (handler, default, continue), from (an id,
#               kernel, or ?), outside (1: from no lane), caller (1: from
#               the process that ran scripts/timeline, whose id it gives
#               as caller=ID), ms (when drawn at its kill: how long it
#               took to arrive)
#   stopped     known (1: strace saw the stop; 0: only the continue)
#   ignored     signal
#   end         status, or signal (killed by it)
# With all=1, a stop and an end carry strace's own line too, as line.
# scripts/timeline sorts the events and hands them to timeline-draw.awk.

# What the tool knows of the two programs, and nothing else in it does:
# the roles of their lanes (the program's first process or thread, a
# process it forks, its threads, numbered), and pairjoin's summary line,
# written by its main thread, which tells which workers started (%d is a
# number; the second is 0 for a worker that started). A change of a
# program's name or of that line is made here too.
BEGIN {
    role["quizhint", "main"] = "quiz"
    role["quizhint", "child"] = "reminder"
    role["pairjoin", "main"] = "main thread"
    role["pairjoin", "thread"] = "worker"
    summary_format["pairjoin"] = "Thread %d returns: %d"
}

function emit(t, id, kind, fields) {
    printf "%.6f\t%d\t%s\t%s%s\n", t - t0, ++order, id, kind, fields
}
# One field of an event.
function f(name, value) { return "\t" name "=" value }
# An event in a lane; a handler's own calls are marked as the handler's.
function say(t, id, kind, fields) { emit(t, id, kind, fields (in_handler[id] ? f("handler", 1) : "")) }
# strace's own line, kept with all=1.
function say_strace(t, id, text, n) { say(t, id, "strace", f("line", shorten(text, n == "" ? 200 : n))) }

function shorten(s, n) { return length(s) > n ? substr(s, 1, n - 3) "..." : s }
# A signal set as strace writes it, [USR1 CHLD], as its members: USR1 CHLD.
function members(s) { gsub(/[][]/, "", s); return s }
function signal_of(s) { sub(/^SIG/, "", s); return s }
function fatal_by_default(sig) { return sig !~ /^(CHLD|CONT|WINCH|URG)$/ }
# A call that blocked is told when its result came.
function blocked(d) { return d > 0.05 }
function when_done(t, d) { return blocked(d) ? t + d : t }

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

# What became of the last call that a signal or a stop broke off, one
# state per process, with the call's name in restart_call[id]:
# "interrupted" (what comes next tells how it goes on), "carried-on" (the
# kernel makes it again once the handler returns, SA_RESTART, and the
# picture says so), "quiet" (made again after a stop or an ignored
# signal, which is not the program's doing: the picture says nothing), or
# "" (none).
function restart_to(id, state, name) { restart_state[id] = state; restart_call[id] = name }
function restart_is(id, state) { return restart_state[id] == state }

# Whether this call is the broken-off one, made again; the state is spent.
function made_again(id, t, name) {
    if (restart_call[id] != name || !(restart_is(id, "carried-on") || restart_is(id, "quiet"))) return 0
    if (restart_is(id, "carried-on") && !all) say(t, id, "carried-on", f("call", name))
    restart_to(id, "", "")
    return 1
}
# A stop, or a signal that is ignored, broke the call off: the kernel
# makes it again unseen.
function made_again_quietly(id) {
    if (restart_is(id, "interrupted") && !in_handler[id]) restart_to(id, "quiet", restart_call[id])
}

# One system call, whole: `name(args) = result`, entered at t and lasting d.
function call(id, t, d, text,    name, args, result, again) {
    name = text; sub(/\(.*/, "", name)
    result = text; if (!sub(/.* = /, "", result)) result = ""
    args = text; sub(/^[a-z0-9_]+\(/, "", args); sub(/\) += .*$/, "", args)
    again = made_again(id, t, name)
    if (result ~ /^\? ERESTART/) broken_off(id, t, d, text, name, args, again)
    else if (name ~ /^(clone|clone3|fork|vfork)$/) clone_call(id, t, text, name, result)
    else if (name ~ /^(kill|tgkill|tkill)$/) kill_call(id, t, text, args, result)
    else if (name == "rt_sigreturn") sigreturn_call(id, t, text, result)
    else if (name == "rt_sigaction") sigaction_call(id, t, text, args)
    else {
        # The main thread's writes, where a summary may tell which workers started.
        if (name == "write" && id == main) summaries = summaries args
        # A file opened where a standard stream was closed is no stream.
        if (name ~ /^(open|openat|creat)$/ && result ~ /^[0-2]$/) opened[result] = 1
        if (name == "close") delete opened[first_arg(args)]
        if (all) say_strace(when_done(t, d), id, text)
        else if (name == "rt_sigprocmask") sigprocmask_call(id, t, args)
        else if (name == "read" || name == "write") read_write_call(id, t, d, name, args, result, again)
        else if (name ~ /nanosleep/) sleep_call(id, t, text)
        else if (name == "wait4" || name == "waitpid") wait_call(id, t, d, args, result, again)
        else if (name == "futex") futex_call(id, t, d, args, result)
    }
}

# Broken off by a signal or a stop; what follows tells which.
function broken_off(id, t, d, text, name, args, again,    n, ts) {
    restart_to(id, "interrupted", name)
    if (all) say_strace(t + d, id, text)
    else if (name ~ /^(read|write|wait4|clock_nanosleep|nanosleep)$/ && !again) waits(t, id, name, args)
    n = timespecs(text, ts)
    if (name ~ /nanosleep/ && n >= 2) stopped_at[id] = stop_estimate = t + ts[1] - ts[n]
}
# The wait that a blocking call starts.
function waits(t, id, name, args,    ts) {
    if (name == "read" || name == "write") say(t, id, "wait-" name, "")
    else if (name ~ /^wait/) say(t, id, "wait-for", f("child", first_arg(args)))
    else say(t, id, "sleep", f("seconds", timespecs(args, ts) >= 1 ? ts[1] : ""))
}
function first_arg(args) { sub(/,.*/, "", args); return args }

function clone_call(id, t, text, name, result,    thread) {
    if (result !~ /^[0-9]+$/) { say(t, id, "fails", f("call", name) f("result", result)); return }
    thread = text ~ /CLONE_THREAD/
    new_lane(result, id, thread)
    if (all) say_strace(t, id, text, 120)
    emit(t, id, "fork", f("child", result) f("thread", thread))
}

# A kill that worked is drawn when its signal arrives, as one arrow.
function kill_call(id, t, text, args, result,    sig) {
    sig = kill_signal(args)
    if (result != "0") say(t, id, "send-failed", f("signal", sig) f("target", kill_target(args)) f("result", result))
    else if ((id, sig) in arrived_early) delete arrived_early[id, sig]
    else sent(id, sig, kill_target(args), t)
    if (all) say_strace(t, id, text)
}
# kill(PID, SIG), tkill(TID, SIG), tgkill(TGID, TID, SIG)
function kill_signal(args) { sub(/.*, */, "", args); return signal_of(args) }
function kill_target(args) { sub(/, *[^,]*$/, "", args); sub(/.*, */, "", args); return args }
function sent(id, sig, target, t) { sent_at[id, sig] = t; sent_to[id, sig] = target; unmatched[id, sig] = t }
# strace may write a signal's arrival between the two halves of the kill
# that sent it, before the kill's result: the send is that open kill.
function sent_by_open_kill(from, sig,    args) {
    if (!(from in pending)) return 0
    args = pending[from]
    if (!sub(/^(kill|tkill|tgkill)\(/, "", args) || kill_signal(args) != sig) return 0
    sent(from, sig, kill_target(args), pending_t[from])
    arrived_early[from, sig] = 1
    return 1
}

# The end of a handler: the call it broke off ends with EINTR, or is
# carried on.
function sigreturn_call(id, t, text, result,    broken) {
    in_handler[id] = 0
    if (all) say_strace(t, id, text)
    broken = restart_is(id, "interrupted") ? restart_call[id] : ""
    if (result ~ /EINTR/) { say(t, id, "eintr", f("call", broken)); if (broken != "") restart_to(id, "", "") }
    else if (broken != "") restart_to(id, "carried-on", broken)
}

function sigaction_call(id, t, text, args,    parts, sig) {
    split(args, parts, /, /)
    sig = signal_of(parts[1])
    if (parts[2] != "NULL")
        action[id, sig] = args ~ /sa_handler=SIG_IGN/ ? "ignore" : args ~ /sa_handler=SIG_DFL/ ? "default" : "handler"
    if (all) say_strace(t, id, text)
    else if (sig !~ /^RT/ && parts[2] != "NULL")
        say(t, id, "action", f("signal", sig) f("action", action[id, sig]) f("restart", args ~ /SA_RESTART/))
}

function sigprocmask_call(id, t, args,    parts, how) {
    split(args, parts, /, /)
    # The C library's own changes, around a thread's start, are left out.
    if (parts[2] ~ /~|RT|NULL/ || (parts[2] == "[]" && !holds[id])) return
    how = parts[1] == "SIG_BLOCK" ? "block" : parts[1] == "SIG_UNBLOCK" ? "unblock" : "setmask"
    if (how == "block") holds[id] = 1
    say(t, id, "mask", f("how", how) f("set", members(parts[2])))
}

# Reads and writes of the standard streams.
function read_write_call(id, t, d, name, args, result, again,    fd, data) {
    fd = first_arg(args)
    if (fd + 0 > 2 || (fd in opened)) return
    data = args; sub(/^[0-9]+, /, "", data); sub(/, [0-9]+$/, "", data)
    if (blocked(d) && !again) say(t, id, "wait-" name, "")
    say(when_done(t, d), id, name, f("fd", fd) f("data", data) f("result", result) f("failed", result ~ /^-1/))
}

function sleep_call(id, t, text,    ts) {
    if (timespecs(text, ts) >= 1) say(t, id, "sleep", f("seconds", ts[1]))
}

function wait_call(id, t, d, args, result, again) {
    if (blocked(d) && !again) say(t, id, "wait-for", f("child", first_arg(args)))
    say(when_done(t, d), id, "reap", result ~ /^[0-9]+$/ ? f("child", result) : f("result", result))
}

function futex_call(id, t, d, args, result,    parts) {
    split(args, parts, /, /)
    # Threads wait for each other in microseconds: both ends are told.
    if (parts[2] ~ /FUTEX_WAIT_BITSET/ && (parts[3] in seen)) {
        # A join: the kernel clears the thread's id and wakes the waiter.
        say(t, id, "join-wait", f("thread", parts[3]))
        say(t + d, id, "joined", f("thread", parts[3]))
    } else if (parts[2] ~ /FUTEX_WAIT/ && result !~ /EAGAIN/) {
        say(t, id, "lock-wait", "")
        say(t + d, id, "lock-got", "")
    }
}

# A signal as strace saw it arrive: --- SIGUSR1 {si_signo=...} ---
function delivered(id, t, info,    sig, from, code, act) {
    sig = info; sub(/^--- SIG/, "", sig); sub(/ .*/, "", sig)
    from = info; if (!sub(/.*si_pid=/, "", from)) from = "?"; sub(/,.*/, "", from)
    code = info; sub(/.*si_code=/, "", code); sub(/[,}].*/, "", code)
    act = (id, sig) in action ? action[id, sig] : "default"
    if (code == "SI_KERNEL") from = "kernel"
    if (all) emit(t, id, "strace", f("line", shorten(info, 200)))
    if (sig == "CONT") continued(id, t, from)
    else if (act == "ignore" || (act == "default" && !fatal_by_default(sig))) {
        emit(t, id, "ignored", f("signal", sig))
        made_again_quietly(id)
    } else arrives(id, t, sig, act, from)
}
# Who sent a signal: a lane, or a process outside the picture, which may
# be the one that ran scripts/timeline.
function sender(from, outside) { return f("from", from) f("outside", outside) (outside && from == caller ? f("caller", 1) : "") }

function continued(id, t, from) {
    # strace sees no stop, only the continue; a sleep cut short tells
    # when the stop came.
    if (stopped_at[id] == "" && stop_estimate != "" && stop_estimate < t) stopped_at[id] = stop_estimate
    emit(stopped_at[id] != "" ? stopped_at[id] : t, id, "stopped", f("known", stopped_at[id] != ""))
    stopped_at[id] = ""
    emit(t, id, "signal", f("signal", "CONT") f("action", "continue") sender(from, !(from in seen)))
    made_again_quietly(id)
}

function arrives(id, t, sig, act, from,    fields) {
    fields = f("signal", sig) f("action", act)
    if (sent_by_open_kill(from, sig) || (from, sig) in sent_at) {
        delete unmatched[from, sig]
        # Drawn when it was sent, with the time it took to arrive.
        emit(sent_at[from, sig], id, "signal", fields sender(from, 0) f("ms", sprintf("%.1f", (t - sent_at[from, sig]) * 1000)))
    } else emit(t, id, "signal", fields sender(from, 1))
    if (act != "handler") return
    in_handler[id] = 1
    # A call that a stop broke off and that was not yet made again when
    # this handler came is carried on by SA_RESTART, not by the continue.
    if (restart_is(id, "quiet")) restart_to(id, "interrupted", restart_call[id])
}

BEGIN { FS = " " }
{
    id = $1; t = $2 + 0
    if (t0 == "") t0 = t
    rest = $0; sub(/^[0-9]+ +[0-9.]+ /, "", rest)
    new_lane(id, "", 0)
    d = 0
    if (match(rest, / <[0-9.]+>$/)) { d = substr(rest, RSTART + 2, RLENGTH - 3) + 0; rest = substr(rest, 1, RSTART - 1) }
    own_line = all ? f("line", rest) : ""
}
rest ~ /^\+\+\+ exited with / { s = rest; sub(/.*with /, "", s); sub(/ .*/, "", s); emit(t, id, "end", f("status", s) own_line); next }
rest ~ /^\+\+\+ killed by / { s = rest; sub(/.*by /, "", s); sub(/ .*/, "", s); emit(t, id, "end", f("signal", signal_of(s)) own_line); next }
rest ~ /^--- stopped by / { emit(t, id, "stopped", f("known", 1) own_line); stopped_at[id] = ""; next }
rest ~ /^--- SIG/ { delivered(id, t, rest); next }
rest ~ /<unfinished \.\.\.>$/ { sub(/ <unfinished \.\.\.>$/, "", rest); pending[id] = rest; pending_t[id] = t; next }
rest ~ /^<\.\.\. [a-z0-9_]+ resumed>/ {
    sub(/^<\.\.\. [a-z0-9_]+ resumed>/, "", rest)
    # Without -T, the end of a call that was cut in two is when it resumed.
    text = pending[id] rest; delete pending[id]
    call(id, pending_t[id], d > t - pending_t[id] ? d : t - pending_t[id], text)
    next
}
rest ~ /^execve\(/ {
    if (program == "") { program = rest; sub(/^execve\("/, "", program); sub(/".*/, "", program); sub(/.*\//, "", program); main = id }
    if (all) say_strace(t, id, rest)
    next
}
{ call(id, t, d, rest) }

# The workers that started, in order, by their numbers: those whose
# summary says so, as the program table gives that line.
function started_workers(text,    format, pattern, piece, line, parts, started) {
    format = summary_format[program]
    if (format == "") return
    pattern = format; gsub(/%d/, "[0-9]+", pattern)
    split(format, piece, "%d")
    while (match(text, pattern)) {
        line = substr(text, RSTART + length(piece[1]), RLENGTH - length(piece[1]) - length(piece[3]))
        text = substr(text, RSTART + RLENGTH)
        split(line, parts, piece[2])
        if (parts[2] == 0) worker_number[++started] = parts[1]
    }
}
# A lane's role in the program table; workers in the order they started,
# numbered by their summaries; a worker that no summary numbers (the
# program ended before it wrote them) is not given a number it may not have.
function lane_role(id) {
    if (id == main) return role[program, "main"]
    if (parent_of[id] == main && !is_thread[id]) return role[program, "child"]
    if (!is_thread[id] || !((program, "thread") in role)) return ""
    return role[program, "thread"] (++workers in worker_number ? " " worker_number[workers] : "")
}

END {
    for (k in unmatched) {
        split(k, key, SUBSEP)
        emit(unmatched[k], key[1], "never-arrives", f("signal", key[2]) f("target", sent_to[k]))
    }
    started_workers(summaries)
    for (i = 1; i <= lanes; i++) printf "-1\t%d\t%s\tlane%s\n", i, lane_order[i], f("role", lane_role(lane_order[i])) f("program", program)
}
