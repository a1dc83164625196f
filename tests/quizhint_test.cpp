// SPDX-License-Identifier: MIT
// quizhint driven from outside: answers typed at set times on pipes, files,
// a closed input and a terminal; output checked byte for byte, with the time
// each part arrived, the exit status and the run time.
#include "expected.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <future>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/sched.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using harness::Feed;
using harness::Input;
using harness::Launch;
using harness::never;
using harness::Outcome;
using harness::Output;
using harness::Signal;
using expected::hint;
using expected::prompt;
using expected::reminder_signal;
using expected::right;
using expected::wrong;

namespace {

// Every input is built from the answer, so that each row still tests what
// its name says when the answer changes.
static_assert(expected::answer != 0 && expected::answer + 1 != 0, "0 is what no answer reads as");
const std::string answer = std::to_string(expected::answer);
const std::string another = std::to_string(expected::answer + 1);  // wrong, and not 0
const std::string opposite = std::to_string(-expected::answer);    // the answer with the other sign

const std::string in_hexadecimal = (std::ostringstream() << "0x" << std::hex << expected::answer).str();

// Numbers out of range that a conversion without saturation would wrap
// onto the answer: the answer plus or minus 2^32, and plus 2^64, which is
// 1844674407370955161 * 10 + 6.
const std::string answer_plus_2_to_32 = std::to_string(std::int64_t{expected::answer} + (std::int64_t{1} << 32));
const std::string answer_minus_2_to_32 = std::to_string(std::int64_t{expected::answer} - (std::int64_t{1} << 32));
static_assert(expected::answer >= -6, "the sum below takes its last digit apart");
const std::string answer_plus_2_to_64 = std::to_string(1844674407370955161U + (expected::answer + 6) / 10) +
                                        std::to_string((expected::answer + 6) % 10);

// When each part of the output must have arrived whole, in seconds after the
// prompt began to arrive: that is when answers are typed, too, so no window
// depends on how quickly the machine started the program. The reminder is
// forked before the prompt is written, so its delay ends a little less
// than that long after the prompt, and never sooner than that long after
// the start, which is checked as well.
struct Window {
    double from;
    double to;
    double not_before_start = 0; // seconds after the start
};
// A sanitized build starts and ends each process much more slowly (the
// leak check at exit alone takes a while), so what comes late may come later.
// Every time and window is built from the reminder's delay.
constexpr double slack = PROGRAMS_SANITIZED ? 1.0 : 0.0;
constexpr double delay = expected::reminder_delay;
constexpr double early = delay / 5;  // an answer or a signal well before the hint
constexpr double late = delay + 2;   // an answer typed well after the hint
constexpr Window at_start{0, 0.5};   // the rest of the prompt, if it came in pieces
constexpr Window at_hint{delay - 0.5, delay + 0.5 + slack, delay};
constexpr Window reminder_end = at_hint;
constexpr Window soon_after(double t) { return {t, t + 0.5 + slack}; }
// Output held back in a full pipe comes once the reminder has signalled.
constexpr Window when_released{delay - 0.5, delay + 1.5 + slack, delay};
// What must have come before the hint is due: the prompt's SIGPIPE with no
// reader, or a verdict after a huge input.
constexpr Window before_hint{0, at_hint.from};

struct Part {
    std::string text;
    Window window;
};

// The quiz this test runs: the one it was built with, or another build
// that QUIZHINT_UNDER_TEST names (scripts/replay runs a row on a learner's).
const std::string quizhint = harness::program_under_test("QUIZHINT_UNDER_TEST", QUIZHINT_PATH);

// How the program is started: plainly, or with something inherited that
// could keep the reminder's signal from arriving or end the run early, or
// through a shell, or with a fault injected.
Launch inheriting(std::vector<int> ignored, std::vector<int> blocked = {}, std::vector<int> pending = {})
{
    return {.argv = {quizhint}, .ignored_signals = ignored, .blocked_signals = blocked,
            .pending_signals = pending};
}
const Launch plain = inheriting({});
Launch through_shell(const std::string& script)
{
    return {.argv = {"/bin/sh", "-c", script, quizhint}};
}
// strace makes every fork fail, as one does when the process limit is
// reached. LeakSanitizer cannot look into a traced process; the other rows
// look for leaks.
const Launch fork_fails{.argv = {STRACE_PATH, "-qq", "-o/dev/null", "--inject=fork,vfork,clone,clone3:error=EAGAIN",
                                 quizhint},
                        .extra_env = {"ASAN_OPTIONS=detect_leaks=0"}};

// A negative status: killed by that signal.
constexpr int killed_by_sigpipe = -SIGPIPE;
constexpr int killed_by_sigint = -SIGINT;

struct QuizCase {
    std::string name;
    Input input;
    std::vector<Feed> feeds;
    double close_at;
    Output output;
    std::vector<Part> expected;
    Window run_time;
    Launch start = plain;
    int status = 0; // exit status, or killed_by_...
    std::vector<Signal> signals = {};
    std::size_t room = 0; // for Output::held_pipe
    bool in_constant_memory = false; // peak size as for a short answer
    bool shares_group = false; // another process is in the quiz's process group
};

constexpr const char* no_preload = "a static program loads no preloaded library";

// Why a row cannot run in this build, or nullptr. ThreadSanitizer holds an
// asynchronous signal back until the program next enters a call it
// intercepts; stdio's own read is not one, so there a hint due while the
// answer is being read comes only once it has been read.
const char* skip_reason(const QuizCase& c)
{
    const auto is_hint = [](const Part& part) { return part.text == hint; };
    const auto hint_at = std::find_if(c.expected.begin(), c.expected.end(), is_hint);
    const bool hint_while_reading = !c.expected.empty() && hint_at < c.expected.end() - 1;
    if (PROGRAMS_THREAD_SANITIZED && hint_while_reading)
        return "ThreadSanitizer delays the handler while stdio reads";
    if (c.start.argv[0].empty())
        return "strace is not installed";
    return nullptr;
}

// Shown in test names and failure messages instead of the object's bytes;
// ctest's list shows it, so a row that is skipped says why there.
void PrintTo(const QuizCase& c, std::ostream* os)
{
    *os << c.name;
    if (const char* reason = skip_reason(c))
        *os << " (skipped: " << reason << ")";
}

// A terminal turns each line feed the program writes into CR LF, and shows
// the typed answer as its echo.
std::string as_on_terminal(const std::string& text)
{
    std::string shown;
    for (char c : text)
        shown += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return shown;
}

// Every time in a failure counts from one moment: the prompt's first byte,
// as feeds and windows do; with no output at all, the start.
double clock_origin(const Outcome& outcome)
{
    return std::max(outcome.schedule_start, 0.0);
}

std::string seconds(double t)
{
    std::ostringstream shown;
    shown << std::fixed << std::setprecision(3) << t << " s";
    return shown.str();
}

// Said once, at the head of each failure's trace.
std::string clock_statement(const Outcome& outcome)
{
    if (outcome.schedule_start <= 0)
        return "Every time here counts from the start of the program: no output was seen.";
    return "Every time here counts from the first byte of output (the prompt's), which came " +
           seconds(outcome.schedule_start) + " after the start of the program.";
}

void expect_within(const Outcome& outcome, double at, Window window, const std::string& what,
                   const std::string& if_late)
{
    const double came = at - clock_origin(outcome);
    // On this clock, a part that must not come before some time after the
    // start may come that much earlier than the prompt was late.
    const double not_before = window.not_before_start - clock_origin(outcome);
    const double earliest = std::max(window.from, not_before);
    const std::string from = seconds(earliest) + (earliest > window.from && clock_origin(outcome) > 0
                                                      ? " (" + seconds(window.not_before_start) + " after the start)"
                                                      : "");
    EXPECT_TRUE(came >= earliest && came <= window.to)
        << what << " came at " << seconds(came) << "; expected from " << from << " to " << seconds(window.to) << "\n"
        << if_late;
}

// Each piece of the output as it arrived, with its time, then the end.
std::string arrivals(const Outcome& outcome)
{
    const auto at = [&](double t) { return "  at " + seconds(t - clock_origin(outcome)) + ": "; };
    std::string shown;
    for (const harness::Chunk& chunk : outcome.out)
        shown += at(chunk.at) + testing::PrintToString(chunk.bytes) + "\n";
    return (shown.empty() ? "  nothing\n" : shown) + at(outcome.seconds) + harness::describe_end(outcome) + "\n";
}


// What a row fed the quiz, and when, and where its output went: shown with
// every failure of the row, so that a failure says what was fed.
std::string schedule(const QuizCase& c)
{
    static const std::map<Input, const char*> inputs = {
        {Input::pipe, "a pipe"}, {Input::file, "a file"}, {Input::closed, "no descriptor at all (closed)"},
        {Input::terminal, "a terminal"}, {Input::directory, "a directory"},
        {Input::write_only, "a descriptor open only for writing"}, {Input::nonblocking, "a non-blocking pipe"}};
    static const std::map<Output, const char*> outputs = {
        {Output::pipe, "a pipe"}, {Output::file, "a file"}, {Output::terminal, "a terminal"},
        {Output::full, "/dev/full"}, {Output::closed, "no descriptor at all (closed)"},
        {Output::pipe_no_reader, "a pipe whose reader has gone"}, {Output::held_pipe, "a full one-page pipe"}};
    std::ostringstream shown;
    shown << "The run " << c.name << ": input from " << inputs.at(c.input);
    for (const Feed& feed : c.feeds) {
        const std::string text = feed.text.size() > 40 ? feed.text.substr(0, 40) + "..." : feed.text;
        shown << (c.input == Input::file ? ", holding " : ", typed: ") << testing::PrintToString(text);
        if (feed.times > 1 || feed.text.size() > 40)
            shown << " (" << feed.text.size() * feed.times << " bytes)";
        if (c.input != Input::file)
            shown << " at " << feed.at << " s";
    }
    if (c.close_at != never)
        shown << ", end of input at " << c.close_at << " s";
    shown << "; output to " << outputs.at(c.output);
    if (c.output == Output::held_pipe)
        shown << " with " << c.room << " bytes free";
    for (const Signal& signal : c.signals)
        shown << "; SIG" << sigabbrev_np(signal.number) << " to the " << (signal.to_group ? "group" : "quiz")
              << " at " << signal.at << " s";
    const auto named = [](const std::vector<int>& numbers) {
        std::string names;
        for (int number : numbers)
            names += std::string(names.empty() ? "" : ", ") + "SIG" + sigabbrev_np(number);
        return names;
    };
    if (c.start.controlling_terminal)
        shown << "; the terminal is its controlling terminal";
    if (!c.start.ignored_signals.empty())
        shown << "; started with " << named(c.start.ignored_signals) << " ignored";
    if (!c.start.blocked_signals.empty())
        shown << "; started with " << named(c.start.blocked_signals) << " blocked";
    if (!c.start.pending_signals.empty())
        shown << " and " << named(c.start.pending_signals) << " pending";
    if (c.start.argv.size() > 1 || c.start.argv[0] != quizhint) {
        shown << "; started as:";
        for (const std::string& arg : c.start.argv)
            shown << " " << (arg == quizhint ? std::string("quizhint") : arg);
    }
    return shown.str();
}

// Microseconds during which some task on this machine waited, runnable, for
// a processor (the kernel's pressure stall information), or -1 where the
// kernel does not keep it.
double processor_pressure()
{
    std::ifstream pressure("/proc/pressure/cpu");
    std::string word;
    while (pressure >> word)
        if (word.rfind("total=", 0) == 0)
            return std::stod(word.substr(6));
    return -1;
}

// Added to a timing failure: whether the machine held the program up, and
// how to run the row again alone. What counts is the time the quiz's own
// processes waited, runnable, for a processor; how often any task on the
// machine waited, and the load average, say how busy it was.
std::string when_late(const std::string& row, const Outcome& outcome, double pressure_before, double seconds_ran)
{
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    const unsigned cores = std::thread::hardware_concurrency();
    const double pressure = processor_pressure();
    const double stalled = pressure_before >= 0 && pressure >= 0 && seconds_ran > 0
                               ? (pressure - pressure_before) / 1e6 / seconds_ran
                               : -1;
    const bool held_up = outcome.waited_for_processor >= 0.1;
    const char* verdict = held_up ? "The machine held the program up, not the program itself."
                          : stalled >= 0.5 || load > cores
                              ? "The machine was busy: if the row passes alone, the load held it up."
                              : "The machine kept time, so look at the program.";
    std::ostringstream note;
    note << std::fixed << std::setprecision(2) << "While this row ran, the quiz's processes waited "
         << outcome.waited_for_processor << " s in all for a processor";
    if (stalled >= 0)
        note << std::setprecision(0) << ", some task on the machine waited for one " << stalled * 100
             << "% of the time" << std::setprecision(2);
    note << ", and the load average was " << load << " on " << cores << " cores. " << verdict
         << " Run the row alone:\n"
         << "  ctest --test-dir " << TESTS_BUILD_DIR << " -R 'Quiz.*/" << row << "( |$)' --output-on-failure";
    return note.str();
}

// In gtest's diff, lines with - are what came, lines with + what was expected.
void expect_output(const Outcome& outcome, const std::vector<Part>& expected, const std::string& if_late)
{
    std::string expected_output;
    for (const Part& part : expected)
        expected_output += part.text;
    const std::string came = outcome.out_text();
    ASSERT_EQ(came, expected_output) << "what came, as it arrived, and how the run ended:\n" << arrivals(outcome);
    std::size_t bytes = 0;
    for (const Part& part : expected) {
        bytes += part.text.size();
        expect_within(outcome, outcome.time_of_byte_count(bytes), part.window, testing::PrintToString(part.text),
                      if_late);
    }
}

void expect_end(const Outcome& outcome, Window run_time, int status, const std::string& if_late)
{
    const bool as_expected = status < 0 ? outcome.killed_by(-status) : outcome.exited_with(status);
    EXPECT_TRUE(as_expected && !outcome.timed_out)
        << "expected " << harness::describe_end(status < 0 ? W_EXITCODE(0, -status) : W_EXITCODE(status, 0))
        << ", but came: " << harness::describe_end(outcome);
    EXPECT_EQ(outcome.err, "");
    expect_within(outcome, outcome.seconds, run_time, "end of the run", if_late);
}

QuizCase answered_in_time(const std::string& name, Input input, Output output,
                          const std::string& typed, const std::string& verdict, bool hint_follows)
{
    QuizCase c{name, input, {{early, typed}}, never, output, {{prompt, at_start}}, reminder_end};
    c.expected.push_back({verdict, input == Input::file ? at_start : soon_after(early)});
    if (hint_follows)
        c.expected.push_back({hint, at_hint});
    return c;
}

QuizCase answered_late(const std::string& name, Input input, Output output,
                       const std::string& typed, const std::string& verdict)
{
    return {name, input, {{late, typed}}, never, output,
            {{prompt, at_start}, {hint, at_hint}, {verdict, soon_after(late)}}, soon_after(late)};
}

// Input that is over before anything is typed: "Wrong!" at once, then the
// hint after the delay, however the program was started.
QuizCase ended_at_once(const std::string& name, Input input, Output output, const Launch& start = plain)
{
    return {name, input, {}, 0.0, output, {{prompt, at_start}, {wrong, at_start}, {hint, at_hint}}, reminder_end,
            start};
}

QuizCase from_file(const std::string& name, const std::string& content, const std::string& verdict,
                   bool hint_follows)
{
    return answered_in_time(name, Input::file, Output::pipe, content, verdict, hint_follows);
}

// A file holding `number` then `rest`, read by the quiz and then by cat,
// which must get all of `rest`.
QuizCase followed_in_file(const std::string& name, const std::string& number, const std::string& rest,
                          const std::string& verdict, bool hint_follows)
{
    QuizCase c = from_file(name, number + rest, verdict, hint_follows);
    c.expected.push_back({rest, reminder_end});
    c.start = through_shell("\"$0\"; exec cat");
    return c;
}

// Where nothing written can arrive: a right answer in time, and the run
// still waits for the reminder, but ends with status 1.
QuizCase output_lost(const std::string& name, Output output, const Launch& start = plain)
{
    return {name, Input::pipe, {{early, answer + "\n"}}, never, output, {}, reminder_end, start, 1};
}

// To a file that may hold the prompt and the verdict but no more (with
// SIGXFSZ ignored, a write past the limit fails): only the hint is lost.
QuizCase hint_lost_alone(const std::string& name)
{
    QuizCase c = answered_in_time(name, Input::pipe, Output::file, "0\n", wrong, false);
    c.start = through_shell("exec prlimit --fsize=" + std::to_string(prompt.size() + wrong.size()) + " \"$0\"");
    c.start.ignored_signals = {SIGXFSZ};
    c.status = 1;
    return c;
}

// Output to a full one-page pipe with `room` bytes free, so a text that does
// not fit is still being written when the reminder's signal comes.
QuizCase held_back(const std::string& name, std::size_t room, const std::string& typed,
                   std::vector<std::string> texts)
{
    QuizCase c{name, Input::file, {{0, typed}}, never, Output::held_pipe, {}, {delay - 0.5, delay + 2 + slack}};
    for (std::string& text : texts)
        c.expected.push_back({std::move(text), when_released});
    c.room = room;
    return c;
}

// Pages of one character, then the tail, judged with the memory a short
// answer takes: the conversion keeps no copy of what it has read. The
// verdict must come before the hint, so the input is sized to the time
// before it: 14 MiB a second of it (63 MiB with a 5 s delay), where a busy
// machine running the whole suite read 64 MiB in 1.8 s, 36 MiB a second.
// At least 4 MiB, which a copy of it would add to the peak size.
QuizCase huge(const std::string& name, char fill, const std::string& tail, const std::string& verdict)
{
    constexpr std::size_t page = 4096;
    const auto pages = std::max<std::size_t>(1024, static_cast<std::size_t>(14 * 256 * before_hint.to));
    QuizCase c = from_file(name, "", verdict, false);
    c.feeds = {{0, std::string(page, fill), pages}, {0, tail}};
    c.expected[1].window = before_hint;
    c.in_constant_memory = true;
    return c;
}

// Started with the terminal as its controlling terminal, as a shell starts
// a job, so that Ctrl-C typed there signals it.
Launch at_its_terminal(Launch start)
{
    start.controlling_terminal = true;
    return start;
}

QuizCase sharing_its_group(QuizCase c)
{
    c.shares_group = true;
    return c;
}

Signal to_group(double at, int number)
{
    return {at, number, true};
}

std::vector<QuizCase> quiz_cases()
{
    const Input pipe_in = Input::pipe;
    const Output pipe_out = Output::pipe;
    const std::string line = answer + "\n";
    std::vector<QuizCase> cases = {
        answered_in_time("RightInTime", pipe_in, pipe_out, line, right, false),
        answered_in_time("WrongInTime", pipe_in, pipe_out, another + "\n", wrong, false),
        answered_in_time("ZeroInTimeThenHint", pipe_in, pipe_out, "0\n", wrong, true),
        answered_in_time("NotANumberInTimeThenHint", pipe_in, pipe_out, "abc\n", wrong, true),
        answered_late("LateRight", pipe_in, pipe_out, line, right),
        answered_late("LateWrong", pipe_in, pipe_out, another + "\n", wrong),
        answered_late("LateZero", pipe_in, pipe_out, "0\n", wrong),
        answered_late("LateNotANumber", pipe_in, pipe_out, "eighteen\n", wrong),
        ended_at_once("EndOfInputAtOnce", pipe_in, pipe_out),
        ended_at_once("EmptyFile", Input::file, pipe_out),
        ended_at_once("ClosedInput", Input::closed, pipe_out),
        // Blank lines are no answer: the read goes on past them.
        {"BlankLinesThenLateRight", pipe_in, {{early, "\n"}, {2 * early, " \n\n"}, {late, line}}, never, pipe_out,
         {{prompt, at_start}, {hint, at_hint}, {right, soon_after(late)}}, soon_after(late)},
        {"LateEndOfInput", pipe_in, {}, late, pipe_out,
         {{prompt, at_start}, {hint, at_hint}, {wrong, soon_after(late)}}, soon_after(late)},

        // How an answer converts.
        from_file("LeadingBlanks", "   " + line, right, false),
        from_file("AllKindsOfWhiteSpace", " \t\n\r\v\f" + line, right, false),
        from_file("PlusSign", "+" + line, right, false),
        from_file("LeadingZero", "0" + line, right, false),
        from_file("ManyLeadingZeros", std::string(5000, '0') + line, right, false),
        from_file("TrailingLetters", answer + "abc\n", right, false),
        from_file("Decimal", answer + ".5\n", right, false),
        from_file("NoLineFeed", answer, right, false),
        from_file("Hexadecimal", in_hexadecimal + "\n", wrong, true),
        from_file("Negative", opposite + "\n", wrong, false),
        from_file("MinusZero", "-0\n", wrong, true),
        from_file("LoneSign", "+\n" + line, wrong, true),
        from_file("SignThenBlank", "- " + line, wrong, true),
        // Out of range saturates: never wraps onto the answer, nor onto 0 (no hint).
        from_file("WrapsOntoTheAnswer", answer_plus_2_to_32 + "\n", wrong, false),
        from_file("NegativeWrapsOntoTheAnswer", answer_minus_2_to_32 + "\n", wrong, false),
        from_file("WrapsOnto0", "4294967296\n", wrong, false),
        from_file("WrapsOntoTheAnswerIn64Bits", answer_plus_2_to_64 + "\n", wrong, false),
        from_file("FarOutOfRange", std::string(300, '9') + "\n", wrong, false),
        huge("HugeZerosThenRight", '0', line, right),
        huge("HugeBlankLinesThenRight", '\n', line, right),
        huge("HugeNinesSaturate", '9', "\n", wrong),
        // What follows the number stays in the file for the next reader, the
        // character that ended it too, as after scanf: whether or not a
        // number came, and a line feed as much as any other.
        followed_in_file("WhatFollowsStaysInTheFile", answer, "abc\nnext\n", right, false),
        followed_in_file("WhatFollowsNoNumberStaysInTheFile", "", "abc\nnext\n", wrong, true),
        followed_in_file("LineFeedAfterTheNumberStaysInTheFile", answer, "\nnext\n", right, false),

        // The prompt shows before the read blocks and the verdict before the
        // wait, whatever the output is.
        answered_in_time("RightInTimeToFile", pipe_in, Output::file, line, right, false),
        answered_late("LateRightToFile", pipe_in, Output::file, line, right),
        ended_at_once("ClosedInputToFile", Input::closed, Output::file),
        answered_in_time("RightInTimeToTerminal", pipe_in, Output::terminal, line, right, false),
        answered_late("LateWrongToTerminal", pipe_in, Output::terminal, another + "\n", wrong),
        answered_late("LateRightFromTerminalToPipe", Input::terminal, pipe_out, line, right),
        answered_late("LateRightFromTerminalToFile", Input::terminal, Output::file, line, right),
        ended_at_once("EndOfInputFromTerminal", Input::terminal, pipe_out),

        // Inherited state that must not keep the hint from coming.
        ended_at_once("BesideAnInheritedChild", pipe_in, pipe_out, through_shell("sleep 1 & exec \"$0\"")),
        ended_at_once("WithTheSignalBlocked", pipe_in, pipe_out, inheriting({}, {reminder_signal})),
        ended_at_once("WithTheSignalIgnored", pipe_in, pipe_out, inheriting({reminder_signal})),
        ended_at_once("WithSigchldIgnored", pipe_in, pipe_out, inheriting({SIGCHLD})),
        sharing_its_group(ended_at_once("BesideAnotherProcessInItsGroup", pipe_in, pipe_out)),
        // One sent before the exec is no reason for a hint ahead of the prompt.
        ended_at_once("WithTheSignalPending", pipe_in, pipe_out, inheriting({}, {reminder_signal}, {reminder_signal})),

        // The hint waits for a text that is being written; none follows a
        // right answer, even one being written when the signal comes.
        held_back("PromptHeldBack", 0, line, {prompt, hint, right}),
        held_back("RightHeldBack", prompt.size(), line, {prompt, right}),
        held_back("WrongHeldBack", prompt.size(), "0\n", {prompt, wrong, hint}),

        // Signals from outside. One to the whole group gives one hint, from
        // the quiz process alone, and the reminder's delay still holds.
        {"TheSignalToGroupThenRight", pipe_in, {{2 * early, line}}, never, pipe_out,
         {{prompt, at_start}, {hint, soon_after(early)}, {right, soon_after(2 * early)}}, reminder_end,
         plain, 0, {to_group(early, reminder_signal)}},
        // Stopped time counts: the hint that fell due comes on resume.
        {"StoppedPastTheHint", pipe_in, {}, delay + 2.5, pipe_out,
         {{prompt, at_start}, {hint, {delay + 1.5, delay + 2 + slack, delay}}, {wrong, soon_after(delay + 2.5)}},
         soon_after(delay + 2.5), plain, 0, {to_group(early, SIGSTOP), to_group(delay + 1.5, SIGCONT)}},
        // Signals of one kind merge while they wait: three give one hint.
        {"StoppedWhileThreeArrive", pipe_in, {{3 * early, line}}, never, pipe_out,
         {{prompt, at_start}, {hint, soon_after(2.5 * early)}, {right, soon_after(3 * early)}}, reminder_end,
         plain, 0,
         {to_group(early, SIGSTOP), {1.5 * early, reminder_signal}, {1.6 * early, reminder_signal},
          {1.7 * early, reminder_signal},
          to_group(2.5 * early, SIGCONT)}},
        {"CtrlCEndsTheRun", Input::terminal, {{early, "\x03"}}, never, pipe_out, {{prompt, at_start}},
         soon_after(early), at_its_terminal(plain), killed_by_sigint},
        // Unless SIGINT came ignored, as to a background job: that is kept.
        {"CtrlCIgnoredAsInherited", Input::terminal, {{early, "\x03"}}, late, pipe_out,
         {{prompt, at_start}, {hint, at_hint}, {wrong, soon_after(late)}}, soon_after(late),
         at_its_terminal(inheriting({SIGINT}))},
        // On a terminal the number needs a character or the end of input
        // after it: one ^D hands over the digits, a second one ends the input.
        {"NumberThenTwoEndsOfInputFromTerminal", Input::terminal, {{early, answer + "\x04"}, {2 * early, "\x04"}},
         never, pipe_out, {{prompt, at_start}, {right, soon_after(2 * early)}}, reminder_end},

        // Output that is lost, or an answer that cannot be read, is never a
        // success; everything that can be written still is.
        output_lost("ToFullDisk", Output::full),
        output_lost("ToClosedOutput", Output::closed),
        output_lost("ToPipeWithoutReader", Output::pipe_no_reader, inheriting({SIGPIPE})),
        output_lost("ToPipeWithoutReaderSigpipeBlocked", Output::pipe_no_reader, inheriting({}, {SIGPIPE})),
        hint_lost_alone("HintLostToAFileFullAfterTheVerdict"),
        {"ToPipeWithoutReaderKilledBySigpipe", pipe_in, {}, never, Output::pipe_no_reader, {},
         before_hint, plain, killed_by_sigpipe},
        {"FromDirectory", Input::directory, {}, never, pipe_out,
         {{prompt, at_start}, {wrong, at_start}, {hint, at_hint}}, reminder_end, plain, 1},
        {"FromWriteOnlyInput", Input::write_only, {}, never, pipe_out,
         {{prompt, at_start}, {wrong, at_start}, {hint, at_hint}}, reminder_end, plain, 1},
        {"FromNonblockingInputWithNoDataYet", Input::nonblocking, {}, never, pipe_out,
         {{prompt, at_start}, {wrong, at_start}, {hint, at_hint}}, reminder_end, plain, 1},
        // No reminder: status 1 at once, and nothing written.
        {"FailedFork", pipe_in, {}, never, pipe_out, {}, {0, 1.0}, fork_fails, 1},
    };
    QuizCase with_arguments = answered_in_time("ArgumentsIgnored", pipe_in, pipe_out, line, right, false);
    with_arguments.start.argv = {quizhint, another, "--help"};
    cases.push_back(with_arguments);
    // As a person sees it on a terminal: the typed answer is echoed after
    // the hint's closing parenthesis (the echo is part of what is expected).
    cases.push_back({"PersonAtTerminalAnswersLate", Input::terminal, {{late, line}}, never, Output::terminal,
                     {{prompt, at_start}, {hint, at_hint}, {line + right, soon_after(late)}}, soon_after(late)});
    // A hint that comes while the answer is half typed lands inside it; the
    // whole line is still the answer.
    const std::string first_key = answer.substr(0, 1);
    const std::string other_keys = answer.substr(1) + "\n";
    cases.push_back({"PersonAtTerminalHalfwayAtTheHint", Input::terminal, {{early, first_key}, {late, other_keys}},
                     never, Output::terminal,
                     {{prompt, at_start}, {first_key, soon_after(early)}, {hint, at_hint},
                      {other_keys + right, soon_after(late)}},
                     soon_after(late)});
    cases.push_back({"PersonAtTerminalAnswersInTime", Input::terminal, {{early, another + "\n"}}, never,
                     Output::terminal, {{prompt, at_start}, {another + "\n" + wrong, soon_after(early)}},
                     reminder_end});
    cases.push_back({"PersonAtTerminalAnswersRightInTime", Input::terminal, {{early, line}}, never, Output::terminal,
                     {{prompt, at_start}, {line + right, soon_after(early)}}, reminder_end});
    cases.push_back({"PersonAtTerminalAnswersZeroInTime", Input::terminal, {{early, "0\n"}}, never, Output::terminal,
                     {{prompt, at_start}, {"0\n" + wrong, soon_after(early)}, {hint, at_hint}}, reminder_end});
    return cases;
}

// Starts a process that waits in a process group of its own until `until`
// (monotonic seconds), then ends with status 1 if the quiz's signal came (held back,
// it stays pending), else 0. With `wanted`, it gets that id, or is not
// started (-1): clone3 chooses the id in the same step as it makes the
// process, so no other fork can take it in between. That takes the rights
// that may_choose_process_ids looks for.
pid_t start_witness(double until, pid_t wanted = 0)
{
    clone_args args{};
    args.exit_signal = SIGCHLD;
    if (wanted > 0) {
        args.set_tid = reinterpret_cast<std::uintptr_t>(&wanted);
        args.set_tid_size = 1;
    }
    const auto pid = static_cast<pid_t>(syscall(SYS_clone3, &args, sizeof args));
    if (pid == 0) {
        setpgid(0, 0);
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, reminder_signal);
        sigprocmask(SIG_BLOCK, &held, nullptr);
        while (harness::now() < until)
            usleep(10000);
        sigpending(&held);
        _exit(sigismember(&held, reminder_signal) == 1 ? 1 : 0);
    }
    if (pid > 0)
        setpgid(pid, pid); // the group is there before anyone joins it
    return pid;
}

Outcome run_quiz(const QuizCase& c, pid_t group = 0)
{
    Launch launch = c.start;
    launch.group = group;
    launch.signals = c.signals;
    launch.room = c.room;
    launch.input = c.input;
    launch.feeds = c.feeds;
    launch.close_at = c.close_at;
    launch.output = c.output;
    return harness::run(launch);
}

// What a replayed row set up, what came and what it expects, whether or
// not it holds; its failures follow.
std::string replay_report(const QuizCase& c, const Outcome& outcome, const std::vector<Part>& expected)
{
    const auto window = [](Window w) {
        std::string shown = "from " + seconds(w.from) + " to " + seconds(w.to);
        return w.not_before_start > 0 ? shown + ", and not before " + seconds(w.not_before_start) + " after the start"
                                      : shown;
    };
    std::ostringstream report;
    report << "What it sets up: " << schedule(c) << ".\n" << clock_statement(outcome) << "\n"
           << "What came, as it arrived, and how the run ended:\n" << arrivals(outcome) << "What the row expects:\n";
    for (const Part& part : expected)
        report << "  " << testing::PrintToString(part.text) << ", " << window(part.window) << "\n";
    if (expected.empty())
        report << "  nothing\n";
    report << "  then " << harness::describe_end(c.status < 0 ? W_EXITCODE(0, -c.status) : W_EXITCODE(c.status, 0))
           << ", " << window(c.run_time) << "\n"
           << std::fixed << std::setprecision(2) << "While it ran, the quiz's processes waited "
           << outcome.waited_for_processor << " s for a processor.\n";
    return report.str();
}

class Quiz : public testing::TestWithParam<QuizCase> {};

TEST_P(Quiz, WritesExactlyThisOnTime)
{
    const QuizCase& c = GetParam();
    if (const char* reason = skip_reason(c))
        GTEST_SKIP() << reason;
    // A forked child's peak size counts what this process held at the fork,
    // so the baseline runs beside the row, from the same process; for the
    // other rows it is never started.
    // A replay runs the row alone, as its one traced run.
    const bool in_constant_memory = c.in_constant_memory && !harness::replaying();
    auto short_answer = std::async(in_constant_memory ? std::launch::async : std::launch::deferred, [&] {
        return in_constant_memory ? run_quiz(from_file("", answer, right, false)) : Outcome{};
    });
    // As a pipeline's other processes are, in a shell without job control.
    const pid_t member = c.shares_group ? start_witness(harness::now() + delay + 2) : 0;
    ASSERT_GE(member, 0);
    const double pressure_before = processor_pressure();
    const double started = harness::now();
    const Outcome outcome = run_quiz(c, member);
    SCOPED_TRACE("Replay it by hand: " + harness::replay_command("Quiz/" + c.name, quizhint));
    SCOPED_TRACE(clock_statement(outcome) + " " + schedule(c));
    const std::string if_late = when_late(c.name, outcome, pressure_before, harness::now() - started);
    int member_status = 0;
    EXPECT_TRUE(member == 0 || (waitpid(member, &member_status, 0) == member && member_status == 0))
        << "another process in the quiz's process group got the quiz's signal";
    const long baseline_kib = short_answer.get().max_rss_kib;
    if (in_constant_memory) {
        EXPECT_LT(outcome.max_rss_kib - baseline_kib, 1024)
            << "peak " << outcome.max_rss_kib << " KiB against " << baseline_kib << " KiB for a short answer";
        EXPECT_TRUE(PROGRAMS_SANITIZED || outcome.max_rss_kib < 4096) << "peak " << outcome.max_rss_kib << " KiB";
    }
    std::vector<Part> expected = c.expected;
    if (c.output == Output::terminal)
        for (Part& part : expected)
            part.text = as_on_terminal(part.text);
    if (harness::replaying())
        std::cout << replay_report(c, outcome, expected);
    expect_output(outcome, expected, if_late);
    expect_end(outcome, c.run_time, c.status, if_late);
}

INSTANTIATE_TEST_SUITE_P(Runs, Quiz, testing::ValuesIn(quiz_cases()),
                         [](const testing::TestParamInfo<QuizCase>& param) { return param.param.name; });

} // namespace

namespace {

struct Reaped {
    pid_t pid;
    int status;
    double at; // monotonic seconds
};

// Reaps every child, adopted ones too, until none is left or the deadline,
// and says when each one was reaped.
std::vector<Reaped> reap_all_children(double until)
{
    std::vector<Reaped> reaped;
    for (int status = 0; harness::now() < until; usleep(10000)) {
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid < 0)
            break;
        if (pid > 0)
            reaped.push_back({pid, status, harness::now()});
    }
    return reaped;
}

// The quiz process ends early: its reminder is adopted by this test process
// (a subreaper), and a new process takes the quiz process's id; neither may
// receive the quiz's signal when the reminder's delay is over, and the
// reminder must end soon after its quiz, not linger until then. The quiz
// process may be gone before its reminder has even armed its death signal,
// so the reminder is held back at that step for a while in some of the runs.
struct EarlyEnd {
    std::string name;
    Output output;
    double kill_at; // or never, or as_held
    int hold_ms;    // how long at most the reminder's death signal is held back, for the quiz to end; 0: not at all
    int ended_by;
    // Started as a script that ran `trap '' TERM`, or a supervisor, may
    // start it: a death signal that can be ignored or blocked is no death.
    std::vector<int> ignored = {};
    std::vector<int> blocked = {};
};

// The quiz is killed once its reminder is inside the held prctl: after
// whatever the reminder did before it, and before the arming. A reminder
// that arms no death signal is never held, and its quiz is killed early.
constexpr double as_held = -2;

// The kernel lets a process choose a new process's id only with
// CAP_SYS_ADMIN or CAP_CHECKPOINT_RESTORE.
bool may_choose_process_ids()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("CapEff:", 0) == 0) {
            const unsigned long long effective = std::stoull(line.substr(7), nullptr, 16);
            return ((effective >> CAP_SYS_ADMIN | effective >> CAP_CHECKPOINT_RESTORE) & 1) != 0;
        }
    return false;
}

const char* skip_reason(const EarlyEnd& c)
{
    if (PROGRAMS_STATIC && c.hold_ms > 0)
        return no_preload;
    return may_choose_process_ids() ? nullptr : "this user may not choose a new process's id; root may";
}

void PrintTo(const EarlyEnd& c, std::ostream* os)
{
    *os << c.name;
    if (const char* reason = skip_reason(c))
        *os << " (skipped: " << reason << ")";
}

class OrphanedReminder : public testing::TestWithParam<EarlyEnd> {};

// Kills the quiz as its reminder's held prctl begins: the preload writes
// the reminder's parent's id to `told` then, which is this process if the
// quiz is gone already. Gives up when the quiz is killed early instead.
void kill_quiz_as_held(int told)
{
    pollfd ready{told, POLLIN, 0};
    pid_t parent = 0;
    if (poll(&ready, 1, static_cast<int>(early * 1000)) == 1 && read(told, &parent, sizeof parent) == sizeof parent &&
        parent != getpid())
        kill(parent, SIGKILL);
}

// The descendant that is neither witness is the reminder. It is gone at
// once after its quiz (a held one too, whose hold ends with the quiz): half
// the delay allows for a busy machine, and a reminder that lingers until
// its delay is over takes twice that.
void expect_reminder_ended_with_quiz(const std::vector<Reaped>& reaped, const std::vector<pid_t>& witnesses,
                                     double quiz_ended)
{
    const double in_time = delay / 2;
    int reminders = 0;
    for (const Reaped& r : reaped)
        if (std::find(witnesses.begin(), witnesses.end(), r.pid) == witnesses.end()) {
            ++reminders;
            EXPECT_LT(r.at - quiz_ended, in_time) << "the reminder ended " << seconds(r.at - quiz_ended)
                                                  << " after its quiz, expected within " << seconds(in_time)
                                                  << ": it lingered after its quiz was gone";
        }
    EXPECT_EQ(reminders, 1) << "descendants reaped besides the witnesses; the reminder should be the one";
}

TEST_P(OrphanedReminder, SignalsNobodyElse)
{
    const EarlyEnd& c = GetParam();
    if (const char* reason = skip_reason(c))
        GTEST_SKIP() << reason;
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, reminder_signal);
    ASSERT_EQ(sigprocmask(SIG_BLOCK, &held, nullptr), 0);
    const double start = harness::now();

    Launch launch;
    launch.argv = {quizhint};
    launch.output = c.output;
    launch.kill_at = c.kill_at == as_held ? early : c.kill_at;
    launch.until_reaped = true;
    launch.ignored_signals = c.ignored;
    launch.blocked_signals = c.blocked;
    // A process group keeps its leader's id taken while any member lives, so
    // the quiz joins one that a witness leads.
    launch.group = start_witness(start + delay + 2);
    ASSERT_GT(launch.group, 0);
    if (c.hold_ms > 0)
        launch.extra_env = {"LD_PRELOAD=" HOLD_DEATH_SIGNAL_PATH, "HOLD_DEATH_SIGNAL_MS=" + std::to_string(c.hold_ms),
                            "ASAN_OPTIONS=verify_asan_link_order=0"};
    // Open until every descendant is reaped: a reminder that tells late
    // must not find it closed.
    int told[2] = {-1, -1};
    ASSERT_EQ(pipe2(told, O_CLOEXEC), 0);
    if (c.kill_at == as_held) {
        fcntl(told[1], F_SETFD, 0); // for the reminder, which tells through it
        launch.extra_env.push_back("HOLD_DEATH_SIGNAL_BEGUN_FD=" + std::to_string(told[1]));
    }
    auto killer = std::async(std::launch::async, [&] {
        if (c.kill_at == as_held)
            kill_quiz_as_held(told[0]);
    });
    const Outcome quiz = harness::run(launch);
    const double quiz_ended = harness::now();
    killer.get();
    ASSERT_TRUE(quiz.killed_by(c.ended_by)) << "expected the quiz " << harness::describe_end(W_EXITCODE(0, c.ended_by))
                                            << ", but came: " << harness::describe_end(quiz);

    const pid_t taker = start_witness(start + delay + 2, quiz.pid);
    const auto reaped = reap_all_children(start + delay + 4);
    close(told[0]);
    close(told[1]);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, reminder_signal), 0) << "the adopting process got the quiz's signal";
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a descendant is still running";
    expect_reminder_ended_with_quiz(reaped, {launch.group, taker}, quiz_ended);
    const auto ended_clean = [&](pid_t pid) {
        const auto it = std::find_if(reaped.begin(), reaped.end(), [&](const Reaped& r) { return r.pid == pid; });
        return it != reaped.end() && WIFEXITED(it->status) && WEXITSTATUS(it->status) == 0;
    };
    EXPECT_TRUE(ended_clean(launch.group)) << "another process in the quiz's process group got the quiz's signal";
    ASSERT_GT(taker, 0) << "could not hand the quiz process's id " << quiz.pid << " to a new process";
    EXPECT_TRUE(ended_clean(taker)) << "the process that took over the quiz process's id got the quiz's signal";
}

INSTANTIATE_TEST_SUITE_P(
    Runs, OrphanedReminder,
    testing::Values(EarlyEnd{"KilledEarly", Output::pipe, early, 0, SIGKILL},
                    EarlyEnd{"KilledEarlyWithSigtermIgnored", Output::pipe, early, 0, SIGKILL, {SIGTERM}},
                    EarlyEnd{"KilledEarlyWithSigtermBlocked", Output::pipe, early, 0, SIGKILL, {}, {SIGTERM}},
                    EarlyEnd{"KilledBeforeTheDeathSignalIsArmed", Output::pipe, as_held, 1000, SIGKILL},
                    EarlyEnd{"SigpipeBeforeTheDeathSignalIsArmed", Output::pipe_no_reader, never, 1000, SIGPIPE}),
    [](const testing::TestParamInfo<EarlyEnd>& param) { return param.param.name; });

} // namespace
