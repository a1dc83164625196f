// quizhint: asks one multiplication question while a forked reminder process
// sends SIGUSR1 after 5 seconds; the handler prints a hint if no answer is in.
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

// The answer; 0 means none yet. The handler may interrupt the store at any
// instruction, so x must be an object it can read whole: a lock-free atomic
// is never seen half-written, and needs no lock the handler could deadlock on.
static std::atomic<std::int32_t> x{0};
static_assert(std::atomic<std::int32_t>::is_always_lock_free);

// write(2) is async-signal-safe, so the handler and the main flow share this.
// A short write or one interrupted before any byte went out is carried on;
// any other failure (stdout closed, disk full) ends it, as there is nowhere
// to report it.
static void write_text(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = write(STDOUT_FILENO, text.data(), text.size());
        if (written > 0)
            text.remove_prefix(static_cast<std::size_t>(written));
        else if (written == 0 || errno != EINTR)
            return;
    }
}

// The hint can arrive between any two write(2) calls. Holding SIGUSR1 back
// while one of our own texts goes out keeps that text whole, on a terminal or
// a pipe that takes it in pieces as well.
static void write_whole(std::string_view text)
{
    sigset_t hold{};
    sigset_t previous{};
    sigemptyset(&hold);
    sigaddset(&hold, SIGUSR1);
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

static void set_sigusr1_action(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
}

static void run_reminder(pid_t quiz_pid)
{
    // Inherited from the quiz process; the reminder has no answer to hint at.
    set_sigusr1_action(SIG_DFL);
    // The reminder must signal only the process that created it. If that one
    // dies, the kernel kills the reminder too; the parent check catches a quiz
    // process that was already gone before the death signal was armed.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != quiz_pid)
        return;
    sleep(reminder_delay_seconds);
    kill(getppid(), SIGUSR1);
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
// memory stays constant however long the run of digits or blanks.
static bool read_answer(std::int32_t* answer)
{
    int c = std::getchar();
    while (std::isspace(c) != 0)
        c = std::getchar();
    const bool negative = c == '-';
    if (c == '+' || c == '-')
        c = std::getchar();
    if (std::isdigit(c) == 0)
        return false;
    std::int32_t value = 0;
    for (; std::isdigit(c) != 0; c = std::getchar())
        value = append_digit(value, c, negative);
    *answer = value;
    return true;
}

static void run_quiz()
{
    write_whole(prompt);
    std::int32_t answer = 0;
    if (read_answer(&answer))
        x.store(answer);
    write_whole(x.load() == expected_answer ? right_verdict : wrong_verdict);
}

int main()
{
    // Installed before the fork, so the handler is in place whenever the
    // signal comes, however late the quiz process is scheduled.
    set_sigusr1_action(handle_sigusr1);
    const pid_t quiz_pid = getpid();

    // Nothing has been written or read yet, so the reminder inherits empty
    // stdio buffers and cannot write out a copy of ours when it ends.
    const pid_t reminder_pid = fork();
    if (reminder_pid == -1)
        return 1;
    if (reminder_pid == 0) {
        run_reminder(quiz_pid);
        return 0;
    }

    run_quiz();
    // Reap the reminder; this also keeps the run going until it has signalled.
    wait(nullptr);
    return 0;
}
