// SPDX-License-Identifier: MIT
#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace harness {

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string Outcome::out_text() const
{
    std::string text;
    for (const Chunk& chunk : out)
        text += chunk.bytes;
    return text;
}

double Outcome::time_of_byte_count(std::size_t count) const
{
    std::size_t seen = 0;
    for (const Chunk& chunk : out) {
        seen += chunk.bytes.size();
        if (seen >= count)
            return chunk.at;
    }
    return count == 0 ? 0 : -1;
}

bool Outcome::exited_with(int code) const
{
    return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == code;
}

bool Outcome::killed_by(int signal_number) const
{
    return WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == signal_number;
}

std::string describe_end(const Outcome& outcome)
{
    return outcome.timed_out ? "killed at the time limit" : describe_end(outcome.wait_status);
}

// The signals that end a run most often, in the words of what sends them;
// the others as the C library describes them.
std::string describe_end(int wait_status)
{
    if (WIFEXITED(wait_status))
        return "exit status " + std::to_string(WEXITSTATUS(wait_status));
    if (!WIFSIGNALED(wait_status))
        return "wait status " + std::to_string(wait_status);
    static const std::map<int, std::string> plain_words = {
        {SIGSEGV, "a segmentation fault"},
        {SIGBUS, "a bus error: memory that is mapped but not there"},
        {SIGABRT, "abort(), as a failed assertion calls it"},
        {SIGFPE, "an arithmetic fault, such as a division by zero"},
        {SIGPIPE, "a write to a pipe whose reader has gone"},
        {SIGXFSZ, "a write past the file-size limit"},
        {SIGKILL, "sent from outside; it cannot be caught"},
        {SIGINT, "Ctrl-C at a terminal"},
        {SIGTERM, "a request to end, as kill sends by default"},
    };
    const int number = WTERMSIG(wait_status);
    const char* abbreviation = sigabbrev_np(number);
    const char* description = sigdescr_np(number);
    const auto known = plain_words.find(number);
    const std::string name = abbreviation != nullptr ? "SIG" + std::string(abbreviation) : "signal " + std::to_string(number);
    const std::string words = known != plain_words.end() ? known->second : description != nullptr ? description : "";
    return "killed by " + name + " (" + words + ")";
}

namespace {

[[noreturn]] void fail(const char* what)
{
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

int checked(int result, const char* what)
{
    if (result < 0)
        fail(what);
    return result;
}

// CI may start us with no standard input; a pipe made then would take
// descriptor 0, and handing it to the child as 0 would go wrong.
void ensure_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1)
            checked(open("/dev/null", O_RDWR), "open /dev/null");
}

int anonymous_file()
{
    return checked(memfd_create("harness", MFD_CLOEXEC), "memfd_create");
}

void write_all(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR)
            fail("write");
        if (n > 0)
            done += static_cast<std::size_t>(n);
    }
}

void set_nonblocking(int fd)
{
    checked(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK), "fcntl");
}

// Descriptors as the child sees them (-1: closed) and as we use them.
struct Plumbing {
    int child_in = -1;
    int child_out = -1;
    int child_err = -1;
    int terminal_slave = -1;
    int feed = -1;      // we write the input here: pipe or terminal master
    int out = -1;       // we read stdout here: pipe, file or terminal master
    int err = -1;
    int terminal = -1;  // terminal master, drained even when not stdout
    std::size_t filling = 0; // bytes put into a held pipe before the start
};

constexpr std::size_t page = 4096;

void hold_pipe(Plumbing& p, std::size_t room)
{
    int fds[2];
    checked(pipe2(fds, O_CLOEXEC), "pipe2");
    checked(fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(page)), "F_SETPIPE_SZ");
    p.filling = page - std::min(room, page);
    write_all(fds[1], std::string(p.filling, '.'));
    p.out = fds[0];
    p.child_out = fds[1];
}

void open_terminal(Plumbing& p)
{
    p.terminal = checked(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC), "posix_openpt");
    checked(grantpt(p.terminal), "grantpt");
    checked(unlockpt(p.terminal), "unlockpt");
    char name[64];
    if (ptsname_r(p.terminal, name, sizeof name) != 0)
        fail("ptsname_r");
    p.terminal_slave = checked(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC), "open pty");
}

Plumbing make_plumbing(const Launch& launch)
{
    Plumbing p;
    if (launch.input == Input::terminal || launch.output == Output::terminal)
        open_terminal(p);

    int fds[2];
    switch (launch.input) {
    case Input::pipe:
    case Input::nonblocking:
        checked(pipe2(fds, O_CLOEXEC | (launch.input == Input::nonblocking ? O_NONBLOCK : 0)), "pipe2");
        p.child_in = fds[0];
        p.feed = fds[1];
        break;
    case Input::file: {
        p.child_in = anonymous_file();
        for (const Feed& feed : launch.feeds)
            for (std::size_t i = 0; i < feed.times; ++i)
                write_all(p.child_in, feed.text);
        checked(static_cast<int>(lseek(p.child_in, 0, SEEK_SET)), "lseek");
        break;
    }
    case Input::closed:
        break;
    case Input::terminal:
        p.child_in = p.terminal_slave;
        p.feed = p.terminal;
        break;
    case Input::directory:
        p.child_in = checked(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC), "open /");
        break;
    case Input::write_only:
        p.child_in = checked(open("/dev/null", O_WRONLY | O_CLOEXEC), "open /dev/null");
        break;
    }

    switch (launch.output) {
    case Output::pipe:
        checked(pipe2(fds, O_CLOEXEC), "pipe2");
        p.out = fds[0];
        p.child_out = fds[1];
        break;
    case Output::file:
        p.out = anonymous_file();
        p.child_out = p.out;
        break;
    case Output::terminal:
        p.out = p.terminal;
        p.child_out = p.terminal_slave;
        break;
    case Output::full:
        p.child_out = checked(open("/dev/full", O_WRONLY | O_CLOEXEC), "open /dev/full");
        break;
    case Output::closed:
        break;
    case Output::pipe_no_reader:
        checked(pipe2(fds, O_CLOEXEC), "pipe2");
        close(fds[0]);
        p.child_out = fds[1];
        break;
    case Output::held_pipe:
        hold_pipe(p, launch.room);
        break;
    }

    checked(pipe2(fds, O_CLOEXEC), "pipe2");
    p.err = fds[0];
    p.child_err = fds[1];
    return p;
}

void set_disposition(int signal_number, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigaction(signal_number, &action, nullptr);
}

// Between fork and exec: async-signal-safe calls only.
[[noreturn]] void exec_child(const Launch& launch, const Plumbing& p, char* const argv[], char* const envp[])
{
    const char* directory = launch.directory.c_str();
    if (*directory != '\0' && chdir(directory) != 0)
        _exit(127);
    if (launch.controlling_terminal) {
        setsid();
        ioctl(p.terminal_slave, TIOCSCTTY, 0);
    } else {
        setpgid(0, launch.group); // a signal to the program's group must not reach us
    }
    if (p.child_in >= 0)
        dup2(p.child_in, STDIN_FILENO);
    else
        close(STDIN_FILENO);
    dup2(p.child_err, STDERR_FILENO);
    if (p.child_out >= 0)
        dup2(p.child_out, STDOUT_FILENO);
    else
        close(STDOUT_FILENO);

    // Dispositions set to ignore and the signal mask survive exec; the
    // program starts with none of ours, only with those it is to inherit.
    set_disposition(SIGPIPE, SIG_DFL);
    for (int signal_number : launch.ignored_signals)
        set_disposition(signal_number, SIG_IGN);
    sigset_t mask;
    sigemptyset(&mask);
    for (int signal_number : launch.blocked_signals)
        sigaddset(&mask, signal_number);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    for (int signal_number : launch.pending_signals)
        kill(getpid(), signal_number);

    execve(argv[0], argv, envp);
    _exit(127);
}

std::vector<std::string> merged_environment(const std::vector<std::string>& extra)
{
    std::vector<std::string> env(extra);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string item(*entry);
        const std::string name = item.substr(0, item.find('=') + 1);
        const bool overridden = std::any_of(extra.begin(), extra.end(), [&](const std::string& e) {
            return e.compare(0, name.size(), name) == 0;
        });
        if (!overridden)
            env.push_back(item);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

void close_if_open(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Several roles may share one descriptor (a terminal is both input and
// output); each is closed once, and those in `keep` not at all.
void close_each_once(std::vector<int> fds, const std::vector<int>& keep)
{
    std::sort(fds.begin(), fds.end());
    fds.erase(std::unique(fds.begin(), fds.end()), fds.end());
    for (int fd : fds)
        if (fd >= 0 && std::find(keep.begin(), keep.end(), fd) == keep.end())
            close(fd);
}

// Reads what is there now; false at end of stream: 0 at the end of a pipe,
// EIO once a terminal has no slave. A terminal's master reports EIO when it
// finds nothing to read and the slave closed, but it looks for the bytes
// before it looks at the slave: a program that writes its last bytes and
// exits between those two looks leaves them still on their way, and they
// are there for the next read, which first waits for all that was written
// before the close. So an EIO is taken as the end only when the read right
// after it finds nothing either.
bool drain(int fd, std::vector<Chunk>* into, std::string* text, double at)
{
    char buffer[65536];
    bool eio_before = false;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const std::string bytes(buffer, static_cast<std::size_t>(n));
            if (into != nullptr)
                into->push_back({at, bytes});
            if (text != nullptr)
                *text += bytes;
            eio_before = false;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        if (n < 0 && errno == EIO && !eio_before) {
            eio_before = true;
            continue;
        }
        return false;
    }
}

void drain_file(int fd, off_t& offset, std::vector<Chunk>& into, double at)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0)
            return;
        into.push_back({at, std::string(buffer, static_cast<std::size_t>(n))});
        offset += n;
    }
}

// The running side of one launch: what is still to feed and to read.
struct Session {
    explicit Session(const Launch& l) : launch(l) {}
    const Launch& launch;
    Plumbing p;
    pid_t pid = -1;
    double start = 0;
    double schedule_start = never; // see Feed
    std::size_t next_feed = 0;
    std::size_t next_signal = 0;
    int child_pidfd = -1;   // the program's child, while a held pipe waits for its end
    double release_at = never;
    bool released = false;
    std::string pending;
    bool input_ended = false;
    bool killed = false;
    bool reaped = false;
    int pidfd = -1;         // readable once the program has ended
    off_t file_offset = 0;
    std::map<pid_t, double> run_delays; // the last seen of each process
    Outcome outcome;
};

bool output_seen(const Launch& launch)
{
    return launch.output == Output::pipe || launch.output == Output::file || launch.output == Output::terminal;
}

bool reading_pipe(const Session& s)
{
    return s.launch.output == Output::pipe || (s.launch.output == Output::held_pipe && s.released);
}

// The children of a single-threaded process, as the kernel lists them.
std::vector<pid_t> children_of(pid_t parent)
{
    const std::string path = "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
    std::vector<pid_t> found;
    std::ifstream listed(path);
    for (pid_t child = 0; listed >> child;)
        found.push_back(child);
    return found;
}

// Seconds a process has waited, runnable, for a processor (the second field
// of /proc/PID/schedstat, in nanoseconds), or -1 once it is gone. A zombie
// still has it, until it is reaped.
double run_delay(pid_t pid)
{
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long ran = 0;
    unsigned long long waited = 0;
    return schedstat >> ran >> waited ? static_cast<double>(waited) / 1e9 : -1;
}

// Looks at how long the program and its children have waited for a
// processor so far. Each time the harness wakes, and before the program is
// reaped: a child that the program reaps at once may never be seen.
void note_run_delays(Session& s)
{
    if (s.reaped)
        return;
    std::vector<pid_t> processes = children_of(s.pid);
    processes.push_back(s.pid);
    for (pid_t pid : processes)
        if (const double waited = run_delay(pid); waited >= 0)
            s.run_delays[pid] = std::max(s.run_delays[pid], waited);
    s.outcome.waited_for_processor = 0;
    for (const auto& [pid, waited] : s.run_delays)
        s.outcome.waited_for_processor += waited;
}

// The name a process runs under.
std::string command_of(pid_t pid)
{
    std::string name;
    std::ifstream("/proc/" + std::to_string(pid) + "/comm") >> name;
    return name;
}

// The first child of a single-threaded process, or -1 if it has none. A
// replay under strace -DD forks a passing strace of its own, which is not
// the program's.
pid_t find_child(pid_t parent)
{
    for (pid_t child : children_of(parent))
        if (command_of(child) != "strace")
            return child;
    return -1;
}

bool has_ended(int pidfd)
{
    pollfd fd{pidfd, POLLIN, 0};
    return poll(&fd, 1, 0) == 1;
}

// Keeps a held pipe full until the program's child has ended, then lets a
// moment pass, so the signal it sent is taken while the write is blocked.
void watch_held_pipe(Session& s, double t)
{
    if (s.launch.output != Output::held_pipe || s.released)
        return;
    if (s.child_pidfd < 0 && !s.reaped) {
        const pid_t child = find_child(s.pid);
        if (child > 0)
            s.child_pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    }
    if (s.release_at == never && (s.reaped || (s.child_pidfd >= 0 && has_ended(s.child_pidfd))))
        s.release_at = t + 0.3;
    if (s.release_at == never || t < s.release_at)
        return;
    s.released = true;
    std::string filling;
    while (filling.size() < s.p.filling && drain(s.p.out, nullptr, &filling, t)) {
    }
    if (filling.size() > s.p.filling)
        s.outcome.out.push_back({t, filling.substr(s.p.filling)});
}

// Times on the schedule of feeds and kill; negative until it has started.
double schedule_time(const Session& s, double t)
{
    return s.schedule_start == never ? -1 : t - s.schedule_start;
}

void feed_input(Session& s, double t)
{
    if (s.p.feed < 0 || s.input_ended || t < 0)
        return;
    for (; s.next_feed < s.launch.feeds.size() && s.launch.feeds[s.next_feed].at <= t; ++s.next_feed)
        for (std::size_t i = 0; i < s.launch.feeds[s.next_feed].times; ++i)
            s.pending += s.launch.feeds[s.next_feed].text;
    while (!s.pending.empty()) {
        const ssize_t n = write(s.p.feed, s.pending.data(), s.pending.size());
        if (n < 0 && errno == EAGAIN)
            return;
        if (n < 0) { // the program has stopped reading for good
            s.pending.clear();
            break;
        }
        s.pending.erase(0, static_cast<std::size_t>(n));
    }
    const bool all_fed = s.next_feed == s.launch.feeds.size();
    if (all_fed && s.launch.close_at != never && s.launch.close_at <= t) {
        s.input_ended = true;
        if (s.launch.input == Input::terminal) {
            const ssize_t typed = write(s.p.feed, "\x04", 1); // ^D: end of input
            (void)typed;
        } else {
            close_if_open(s.p.feed);
        }
    }
}

void read_output(Session& s, double t)
{
    if (s.launch.output == Output::file)
        drain_file(s.p.out, s.file_offset, s.outcome.out, t);
    if (s.p.terminal >= 0 && !drain(s.p.terminal, s.launch.output == Output::terminal ? &s.outcome.out : nullptr, nullptr, t)) {
        if (s.p.feed == s.p.terminal)
            s.p.feed = -1;
        if (s.p.out == s.p.terminal)
            s.p.out = -1;
        close_if_open(s.p.terminal);
    }
    if (reading_pipe(s) && s.p.out >= 0 && !drain(s.p.out, &s.outcome.out, nullptr, t))
        close_if_open(s.p.out);
    if (s.p.err >= 0 && !drain(s.p.err, nullptr, &s.outcome.err, t))
        close_if_open(s.p.err);
}

void send_signals(Session& s, double scheduled)
{
    for (; !s.reaped && s.next_signal < s.launch.signals.size() && s.launch.signals[s.next_signal].at <= scheduled;
         ++s.next_signal) {
        const Signal& signal = s.launch.signals[s.next_signal];
        kill(signal.to_group ? -s.pid : s.pid, signal.number);
    }
}

void reap(Session& s, double t)
{
    if (s.reaped)
        return;
    const double scheduled = schedule_time(s, t);
    if (!s.killed && ((s.launch.kill_at != never && scheduled >= s.launch.kill_at) || t >= s.launch.time_limit)) {
        s.outcome.timed_out = t >= s.launch.time_limit;
        kill(s.pid, SIGKILL);
        s.killed = true;
    }
    rusage usage{};
    int status = 0;
    if (wait4(s.pid, &status, WNOHANG, &usage) == s.pid) {
        s.reaped = true;
        s.outcome.wait_status = status;
        s.outcome.seconds = t;
        s.outcome.max_rss_kib = usage.ru_maxrss;
    }
}

bool streams_open(const Session& s)
{
    const bool out_open = s.launch.output != Output::file && s.p.out >= 0;
    return out_open || s.p.err >= 0 || (s.p.terminal >= 0 && s.launch.output == Output::terminal);
}

// Seconds from `t` until the next thing on the schedule, or the time limit.
double until_next_event(const Session& s, double t)
{
    double next = s.launch.time_limit;
    if (s.schedule_start != never) {
        const Launch& l = s.launch;
        if (!s.input_ended && s.next_feed < l.feeds.size())
            next = std::min(next, s.schedule_start + l.feeds[s.next_feed].at);
        else if (!s.input_ended && l.close_at != never)
            next = std::min(next, s.schedule_start + l.close_at);
        if (l.kill_at != never && !s.killed)
            next = std::min(next, s.schedule_start + l.kill_at);
        if (s.next_signal < l.signals.size())
            next = std::min(next, s.schedule_start + l.signals[s.next_signal].at);
    }
    // Past the time limit, only the last of the output is left to wait for.
    return next > t ? next - t : 0.05;
}

// Sleeps until there is output, the program ends, input can be taken or the
// schedule says so. Event-driven, so that many runs side by side leave the
// processor to the programs under test; only a growing file is polled.
void wait_for_activity(const Session& s, double t)
{
    pollfd fds[6];
    nfds_t count = 0;
    if (reading_pipe(s) && s.p.out >= 0)
        fds[count++] = {s.p.out, POLLIN, 0};
    if (!s.released && s.child_pidfd >= 0)
        fds[count++] = {s.child_pidfd, POLLIN, 0};
    for (int fd : {s.p.err, s.p.terminal})
        if (fd >= 0)
            fds[count++] = {fd, POLLIN, 0};
    if (!s.reaped)
        fds[count++] = {s.pidfd, POLLIN, 0};
    if (!s.pending.empty() && s.p.feed >= 0)
        fds[count++] = {s.p.feed, POLLOUT, 0};
    double wait = until_next_event(s, t);
    if (s.launch.output == Output::file)
        wait = std::min(wait, 0.005);
    if (s.launch.output == Output::held_pipe && !s.released)
        wait = std::min(wait, s.release_at != never ? std::max(s.release_at - t, 0.0) : 0.01);
    if (s.reaped && count == 0)
        return;
    poll(fds, count, static_cast<int>(std::ceil(wait * 1000)));
}

void run_session(Session& s)
{
    if (!output_seen(s.launch))
        s.schedule_start = 0;
    for (;;) {
        const double t = now() - s.start;
        read_output(s, t);
        if (s.schedule_start == never && !s.outcome.out.empty())
            s.schedule_start = s.outcome.out.front().at;
        feed_input(s, schedule_time(s, t));
        send_signals(s, schedule_time(s, t));
        note_run_delays(s);
        reap(s, t);
        watch_held_pipe(s, t);
        if (s.reaped && (s.launch.until_reaped || !streams_open(s) || t > s.launch.time_limit + 5))
            break;
        wait_for_activity(s, t);
    }
    read_output(s, now() - s.start);
    s.outcome.schedule_start = s.schedule_start;
}

} // namespace

std::string program_under_test(const char* variable, const char* built)
{
    const char* named = std::getenv(variable);
    return named != nullptr && *named != '\0' ? named : built;
}

bool replaying()
{
    const char* replay = std::getenv("REPLAY");
    return replay != nullptr && *replay != '\0';
}

std::string replay_command(const std::string& row, const std::string& program)
{
    return std::string(TESTS_SOURCE_DIR "/scripts/replay ") + row + " --program " + program;
}

namespace {

// The log that REPLAY_TRACE names, or "".
std::string trace_log()
{
    const char* log = std::getenv("REPLAY_TRACE");
    return log != nullptr && replaying() ? log : "";
}

// The command line under strace. With -DD the tracer is the program's
// grandchild, in a process group of its own: the program keeps its own
// process id and group, so that the row's signals, to it or to its group,
// reach it and not the tracer.
std::vector<std::string> under_strace(const std::vector<std::string>& argv, const std::string& log)
{
    std::vector<std::string> traced = {STRACE_PATH, "-DD", "-f", "-ttt", "-T", "-q", "-s", "64", "-o", log, "--"};
    traced.insert(traced.end(), argv.begin(), argv.end());
    return traced;
}

// The tracer outlives the program by the time it takes to write the last of
// its log. As a subreaper this process adopts it; it is waited for (10 s at
// most), so that the log is whole when the row is over.
void wait_for_tracer()
{
    for (const double until = now() + 10; now() < until; usleep(10000)) {
        bool tracing = false;
        for (pid_t child : children_of(getpid())) {
            if (command_of(child) == "strace") {
                tracing = true;
                waitpid(child, nullptr, WNOHANG);
            }
        }
        if (!tracing)
            return;
    }
}

} // namespace

Outcome run(const Launch& launch)
{
    ensure_standard_descriptors();
    static const bool sigpipe_ignored = [] {
        std::signal(SIGPIPE, SIG_IGN); // a program that stops reading must not end us
        return true;
    }();
    (void)sigpipe_ignored;

    Session s{launch};
    s.p = make_plumbing(launch);
    const std::string log = trace_log();
    if (!log.empty())
        checked(prctl(PR_SET_CHILD_SUBREAPER, 1), "prctl");
    std::vector<std::string> argv_strings = log.empty() ? launch.argv : under_strace(launch.argv, log);
    std::vector<std::string> env_strings = merged_environment(launch.extra_env);
    const std::vector<char*> argv = pointers(argv_strings);
    const std::vector<char*> envp = pointers(env_strings);

    s.start = now();
    s.pid = checked(fork(), "fork");
    if (s.pid == 0)
        exec_child(launch, s.p, argv.data(), envp.data());
    s.outcome.pid = s.pid;
    s.pidfd = checked(static_cast<int>(syscall(SYS_pidfd_open, s.pid, 0)), "pidfd_open");

    close_each_once({s.p.child_in, s.p.child_out, s.p.child_err, s.p.terminal_slave},
                    {s.p.feed, s.p.out, s.p.err, s.p.terminal});
    for (int fd : {s.p.feed, s.p.out, s.p.err, s.p.terminal})
        if (fd >= 0)
            set_nonblocking(fd);

    run_session(s);
    if (!log.empty())
        wait_for_tracer();

    close_each_once({s.p.feed, s.p.out, s.p.err, s.p.terminal, s.pidfd, s.child_pidfd}, {});
    return s.outcome;
}

} // namespace harness
