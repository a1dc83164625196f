// SPDX-License-Identifier: MIT
// quizhint: asks one multiplication question while a forked reminder process
// sends SIGUSR1 after its delay; the handler prints a hint if no answer is in.
// Shows fork, a signal from child to parent, a handler, a read that carries on
// after the signal (SA_RESTART), and a parent that reaps its child.

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

static constexpr std::string_view prompt = "what is the result of 3 * 6 : ";
static constexpr std::string_view right_verdict = "Right!";
static constexpr std::string_view wrong_verdict = "Wrong!";
static constexpr std::string_view hint =
    "\n(HINT Remember that multiplication is repetitive addition\n)";
static_assert(prompt.size() == 30 && hint.size() == 60);

static constexpr std::int32_t expected_answer = 18;
static constexpr unsigned reminder_delay_seconds = 5;
// The signal the reminder sends and the handler takes (the comments call
// it SIGUSR1).
static constexpr int reminder_signal = SIGUSR1;

// The answer; 0 means none yet. The handler may interrupt the store at any
// instruction, so x must be an object it can read whole: a lock-free atomic
// is never seen half-written, and needs no lock the handler could deadlock on.
static std::atomic<std::int32_t> x{0};
static_assert(std::atomic<std::int32_t>::is_always_lock_free);

// Set once any of our text could not be written. The handler may set it
// too, and a volatile sig_atomic_t is what a handler may safely store to.
static volatile std::sig_atomic_t output_lost = 0;

// write(2) is async-signal-safe, so the handler and the main flow share this.
// A short write or one interrupted before any byte went out is carried on;
// any other failure (stdout closed, disk full, a reader gone) loses the rest
// of the text, which is recorded for the exit status: there is no message,
// as there is nowhere to write one.
static void write_text(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = write(STDOUT_FILENO, text.data(), text.size());
        if (written > 0) {
            text.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0 || errno != EINTR) {
            output_lost = 1;
            return;
        }
    }
}

static sigset_t only_reminder_signal()
{
    sigset_t set{};
    sigemptyset(&set);
    sigaddset(&set, reminder_signal);
    return set;
}

// The hint can arrive between any two write(2) calls. Holding SIGUSR1 back
// while one of our own texts goes out keeps that text whole, on a terminal or
// a pipe that takes it in pieces as well.
static void write_whole(std::string_view text)
{
    const sigset_t hold = only_reminder_signal();
    sigset_t previous{};
    sigprocmask(SIG_BLOCK, &hold, &previous);
    write_text(text);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

static void handle_sigusr1(int /*signal_number*/)
{
    const int saved_errno = errno;
    if (x.load() == 0)
        write_text(hint);
    errno = saved_errno;
}

static void set_reminder_signal_action(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(reminder_signal, &action, nullptr);
}

// SIG_BLOCK holds SIGUSR1 back, SIG_UNBLOCK lets it through.
static void mask_reminder_signal(int how)
{
    const sigset_t signal_only = only_reminder_signal();
    sigprocmask(how, &signal_only, nullptr);
}

// The reminder inherits the handler, but has no answer to hint at. It keeps
// the mask it inherited, with SIGUSR1 held back, so a SIGUSR1 sent to the
// whole process group (or by name, to both processes) waits in it unused:
// the quiz process alone gives the hint, and the reminder's own signal
// still comes when its delay is over. It ends with _exit, not exit: a forked child must not run the
// atexit handlers or flush the stdio buffers it shares with the quiz
// process.
[[noreturn]] static void run_reminder(pid_t quiz_pid)
{
    // The reminder must signal only the process that created it. If that one
    // dies, the kernel kills the reminder too; the parent check catches a quiz
    // process that was already gone before the death signal was armed.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && getppid() == quiz_pid) {
        sleep(reminder_delay_seconds);
        kill(getppid(), reminder_signal);
    }
    _exit(0);
}

static std::int32_t append_digit(std::int32_t value, int digit_char, bool negative)
{
    constexpr std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t highest = std::numeric_limits<std::int32_t>::max();
    const std::int64_t digit = digit_char - '0';
    const std::int64_t next = std::int64_t{value} * 10 + (negative ? -digit : digit);
    return static_cast<std::int32_t>(std::clamp(next, lowest, highest));
}

// The "%d" conversion, done here rather than by scanf: skips white space,
// takes an optional sign and the longest run of decimal digits, and leaves
// *answer alone when no digit comes. Unlike scanf it has a defined result for
// a number out of range: it saturates at INT32_MIN or INT32_MAX, so
// 4294967314 is never taken for 18. It reads one character at a time, so its
// memory stays constant however long the run of digits or blanks. Like
// scanf, it puts back the character that ended the number, so that in a
// file it stays for whoever reads next.
static bool read_answer(std::int32_t* answer)
{
    int c = std::getchar();
    while (std::isspace(c) != 0)
        c = std::getchar();
    const bool negative = c == '-';
    if (c == '+' || c == '-')
        c = std::getchar();
    const bool converted = std::isdigit(c) != 0;
    std::int32_t value = 0;
    for (; std::isdigit(c) != 0; c = std::getchar())
        value = append_digit(value, c, negative);
    (void)std::ungetc(c, stdin); // EOF when c is EOF: nothing to put back
    if (converted)
        *answer = value;
    return converted;
}

// True when reading stopped on an error rather than at the end of input. A
// standard input that is not open at all counts as an input that is over;
// one open only for writing fails with EBADF too, but is a failed read.
static bool input_failed()
{
    return std::ferror(stdin) != 0 && fcntl(STDIN_FILENO, F_GETFD) != -1;
}

// Returns false when the answer could not be read.
static bool run_quiz()
{
    write_whole(prompt);
    // Held back since the start, so no hint can come ahead of the prompt.
    // This also undoes a mask inherited with SIGUSR1 blocked, which would
    // otherwise hold the reminder's signal back for good: a mask survives
    // fork and exec.
    mask_reminder_signal(SIG_UNBLOCK);
    std::int32_t answer = 0;
    const bool converted = read_answer(&answer);
    const bool answer_read = !input_failed();
    // Stored before the verdict goes out: a hint due while "Right!" is being
    // written must already find the answer in.
    if (converted)
        x.store(answer);
    const bool right = x.load() == expected_answer;
    write_whole(right ? right_verdict : wrong_verdict);
    return answer_read;
}

// Reaps the reminder itself: wait() would take any child, and a process may
// start with children it did not fork (a shell that backgrounds a job and
// then execs us). With SIGCHLD ignored, the call returns once the reminder
// has ended, since there is no status left to collect.
static void reap(pid_t reminder_pid)
{
    while (waitpid(reminder_pid, nullptr, 0) == -1 && errno == EINTR) {
    }
}

int main()
{
    // SIGUSR1 is held back until the prompt is out. One may be pending
    // since before the exec, if our parent had it blocked; setting the
    // action to ignore discards it. The handler is then installed before
    // the fork, so it is in place whenever the reminder's signal comes,
    // however late the quiz process is scheduled.
    mask_reminder_signal(SIG_BLOCK);
    set_reminder_signal_action(SIG_IGN);
    set_reminder_signal_action(handle_sigusr1);
    const pid_t quiz_pid = getpid();

    // Nothing has been written or read yet, so the reminder inherits empty
    // stdio buffers and cannot write out a copy of ours when it ends.
    const pid_t reminder_pid = fork();
    if (reminder_pid == -1)
        return 1;
    if (reminder_pid == 0)
        run_reminder(quiz_pid);

    const bool answer_read = run_quiz();
    // This also keeps the run going until the reminder has signalled, so the
    // hint, if any, has been written (or lost) by the time we look.
    reap(reminder_pid);
    return answer_read && output_lost == 0 ? 0 : 1;
}
