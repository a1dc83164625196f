// SPDX-License-Identifier: MIT
// Runs a program as a user or a script would: standard input fed on a
// schedule, standard output and error read with the time each byte arrived,
// and the process reaped with its status, run time and peak resident size.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace harness {

// Where the program's standard input comes from.
enum class Input {
    pipe,      // fed at the times of `feeds`, closed at `close_at`
    file,      // a regular file holding all of `feeds` from the start
    closed,    // descriptor 0 not open at all
    terminal,  // a pseudo-terminal, fed like the pipe; `close_at` types ^D
    directory, // open, but every read fails (EISDIR)
    write_only, // open for writing only: every read fails (EBADF)
    nonblocking, // a pipe with O_NONBLOCK, fed like the other: a read of it fails (EAGAIN) until data comes
};

// Where the program's standard output goes. A file is read while it grows.
// The last three lose every byte written: nothing of them is seen here.
enum class Output {
    pipe,
    file,
    terminal,
    full,           // /dev/full: every write fails with ENOSPC
    closed,         // descriptor 1 not open at all
    pipe_no_reader, // a pipe whose reading end is already closed
    // A one-page pipe, filled before the start but for `room` bytes, so a
    // write that does not fit blocks. It is read only once the program's
    // child process has ended and a moment more has passed (or the program
    // has ended); the filling is not part of the output seen.
    held_pipe,
};

// The times of feeds, of the end of input and of the kill count from the
// first byte of output, as the program's own clock: what it was seen to do,
// not how soon the machine started it. Where no output can be seen, they
// count from the start.
struct Feed {
    double at;              // seconds after the first output
    std::string text;
    std::size_t times = 1;  // text repeated, so a test need not hold it all
};

constexpr double never = -1;

// A signal sent to the program, or to its whole process group (the program
// runs in a group of its own, unless `Launch::group` names another).
struct Signal {
    double at;
    int number;
    bool to_group = false;
};

struct Launch {
    std::vector<std::string> argv = {};
    std::vector<std::string> extra_env = {}; // "NAME=value", added to ours
    std::string directory = {};              // where it runs; empty: where we do
    Input input = Input::pipe;
    std::vector<Feed> feeds = {};
    double close_at = never;   // end of input; never: left open until the end
    Output output = Output::pipe;
    double kill_at = never;    // SIGKILL to the program at this time
    std::vector<Signal> signals = {};
    std::size_t room = 0;      // for Output::held_pipe
    std::vector<int> ignored_signals = {}; // the program starts with these ignored
    std::vector<int> blocked_signals = {}; // and these blocked
    std::vector<int> pending_signals = {}; // blocked ones sent before the exec
    pid_t group = 0;           // a process group to join; 0: one of its own
    // The terminal becomes the program's controlling terminal, in a session
    // of its own, so that a key such as Ctrl-C signals it. Only where a row
    // needs that: a new session is a new scheduling group on Linux
    // (autogroup), and a group of its own that wakes beside busy ones was
    // seen to wait for a processor for most of a second.
    bool controlling_terminal = false;
    double time_limit = 20;    // seconds after the start: SIGKILL, and the run is marked
    bool until_reaped = false; // stop once the program is reaped, even if
                               // something it started holds its output open
};

struct Chunk {
    double at; // seconds after the start (all times below count from it too)
    std::string bytes;
};

struct Outcome {
    std::vector<Chunk> out; // stdout (for a terminal: all the terminal shows)
    std::string err;
    double schedule_start = never; // when the schedule started (see Feed)
    int wait_status = 0;
    double seconds = 0;     // from the start until the program was reaped
    long max_rss_kib = 0;
    bool timed_out = false;
    pid_t pid = 0;
    // How long the program's processes waited, runnable, for a processor
    // while it ran (the kernel's run delay, summed over the program and the
    // children it was seen with): time the machine took, not the program.
    double waited_for_processor = 0;

    std::string out_text() const;
    // Time at which the first `count` bytes of stdout had all arrived;
    // negative when fewer arrived.
    double time_of_byte_count(std::size_t count) const;
    bool exited_with(int code) const;
    bool killed_by(int signal_number) const;
};

Outcome run(const Launch& launch);

// The program a test runs: the one it was built with, or another build
// named by the environment variable (scripts/replay and the course run
// a row on a learner's build this way).
std::string program_under_test(const char* variable, const char* built);

// A row replayed by hand (scripts/replay sets REPLAY=1): it says what it
// set up, what came and what it expects even when it holds, and runs once.
// With REPLAY_TRACE=FILE as well, each run is made under strace, which
// writes its log there for scripts/timeline to draw.
bool replaying();

// The command that replays a row alone, by hand, ready to paste: ROW as
// scripts/replay names it (Quiz/LateRight), on the program this test runs.
std::string replay_command(const std::string& row, const std::string& program);

// How a run ended, in words for a failure message: "exit status 1",
// "killed by SIGSEGV (a segmentation fault)", "killed at the time limit".
std::string describe_end(const Outcome& outcome);
std::string describe_end(int wait_status);

// Seconds on a monotonic clock, for tests that time things of their own.
double now();

} // namespace harness
