// SPDX-License-Identifier: MIT
// pairjoin driven from outside: many ordinary runs to a pipe and to a file,
// and runs in which starting some of the workers fails, or a worker is slow.
#include "expected.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include <sys/wait.h>

using harness::Launch;
using harness::Outcome;
using harness::Output;

namespace {

// The start results of a run in which the listed workers (from 1) fail to
// start, with that error number.
std::vector<int> start_results(const std::vector<int>& failing, int error)
{
    std::vector<int> results(expected::workers, 0);
    for (int worker : failing)
        results.at(static_cast<std::size_t>(worker - 1)) = error;
    return results;
}

std::string comma_separated(const std::vector<int>& numbers)
{
    std::string list;
    for (int number : numbers)
        list += (list.empty() ? "" : ",") + std::to_string(number);
    return list;
}

// The pairjoin this test runs: the one it was built with, or another build
// that PAIRJOIN_UNDER_TEST names (scripts/replay runs a row on a learner's).
const std::string pairjoin = harness::program_under_test("PAIRJOIN_UNDER_TEST", PAIRJOIN_PATH);

Outcome run_pairjoin(Launch launch, const std::vector<int>& results = {}, const std::vector<int>& delays = {})
{
    launch.argv = {pairjoin};
    launch.input = harness::Input::closed;
    if (!results.empty() || !delays.empty() || !launch.extra_env.empty())
        launch.extra_env.insert(launch.extra_env.end(),
                                {"LD_PRELOAD=" FAIL_THREAD_START_PATH, "THREAD_START_RESULTS=" + comma_separated(results),
                                 "DELAY_THREAD_STARTS=" + comma_separated(delays),
                                 "ASAN_OPTIONS=verify_asan_link_order=0"});
    return harness::run(launch);
}

// What is wrong with a run's output and end, or "" when nothing is.
std::string run_problem(const Outcome& outcome, const std::vector<int>& results, int last = 0)
{
    std::string problem = expected::pairjoin_output_problem(outcome.out_text(), results, last);
    if (!outcome.exited_with(0))
        problem += "expected exit status 0, but came: " + harness::describe_end(outcome) + "\n";
    if (!outcome.err.empty())
        problem += "expected nothing on standard error, but came:\n" + outcome.err;
    return problem;
}

// Sanitized builds start each run far more slowly, so they make fewer.
// REPEATED_RUNS asks for another number: scripts/learn takes 100, to give
// its verdict within seconds.
const int repeated_runs = [] {
    const char* asked = std::getenv("REPEATED_RUNS");
    return asked != nullptr ? static_cast<int>(std::strtol(asked, nullptr, 10)) : PROGRAMS_SANITIZED ? 200 : 1000;
}();

constexpr const char* no_preload = "a static program loads no preloaded library";

// Every run must be whole, to a pipe and to a file: the worker lines in any
// order, then the summaries in order; ordinary runs, many of them, and runs
// in which some workers fail to start or one is slow. Lines that cannot arrive are never a
// success; a reader that has gone ends the run by SIGPIPE, as it does for
// any program in a pipeline.
struct PairCase {
    std::string name;
    std::vector<int> failing_starts = {}; // which workers fail to start, from 1
    int slow = 0;                         // a worker that waits 200 ms first, whose line must come last
    Output lost_to = Output::pipe;        // where lines are lost, for an exit status other than 0
    int status = 0;                       // or -1: killed by SIGPIPE
    std::vector<int> ignored = {};
    std::vector<int> blocked = {};
    bool held_mid_line = false;           // a worker that leaves a line open waits for the other to write
    int runs = 1;                         // to a pipe, and as many to a file; the first broken one is shown
    int start_error = EAGAIN;             // what a failing start returns, as when the thread limit is reached
};

bool uses_preload(const PairCase& c)
{
    return !c.failing_starts.empty() || c.slow != 0 || c.held_mid_line;
}

void PrintTo(const PairCase& c, std::ostream* os)
{
    *os << c.name << (PROGRAMS_STATIC && uses_preload(c) ? std::string(" (skipped: ") + no_preload + ")" : "");
}

// What a row sets up, in words.
std::string setup(const PairCase& c, const std::vector<int>& results, const std::vector<int>& delays, Output output)
{
    static const std::map<Output, const char*> outputs = {
        {Output::pipe, "a pipe"}, {Output::file, "a file"}, {Output::full, "/dev/full"}, {Output::closed, "no descriptor at all (closed)"},
        {Output::pipe_no_reader, "a pipe whose reader has gone"}};
    std::string shown = std::string("standard input closed; output to ") + outputs.at(output);
    for (std::size_t i = 0; i < results.size(); ++i)
        if (results[i] != 0)
            shown += "; thread start " + std::to_string(i + 1) + " fails with " + strerrorname_np(results[i]) + " (" + std::to_string(results[i]) + ")";
    for (std::size_t i = 0; i < delays.size(); ++i)
        if (delays[i] != 0)
            shown += "; worker " + std::to_string(i + 1) + " waits " + std::to_string(delays[i]) + " ms first";
    if (c.held_mid_line)
        shown += "; a worker that leaves a line open waits there until the other has written";
    if (!c.ignored.empty() || !c.blocked.empty())
        shown += std::string("; started with SIGPIPE ") + (c.ignored.empty() ? "blocked" : "ignored");
    return shown + (uses_preload(c) ? " (by a preloaded library)" : "");
}

// What a replayed row set up, what came and what it expects (its lines
// indented here).
std::string replay_report(const std::string& setup_words, const Outcome& outcome, const std::string& expected)
{
    std::string indented;
    for (std::size_t from = 0; from < expected.size();) {
        const std::size_t end = std::min(expected.find('\n', from), expected.size());
        indented += "  " + expected.substr(from, end - from) + "\n";
        from = end + 1;
    }
    std::string came;
    for (const harness::Chunk& chunk : outcome.out)
        came += "  at " + std::to_string(chunk.at).substr(0, 5) + " s: " + testing::PrintToString(chunk.bytes) + "\n";
    return "What it sets up: " + setup_words + ".\nWhat came, as it arrived (seconds from the start), and how the run "
           "ended:\n" + (came.empty() ? "  nothing\n" : came) + "  at " + std::to_string(outcome.seconds).substr(0, 5) +
           " s: " + harness::describe_end(outcome) + "\nWhat the row expects:\n" + indented;
}

class Pairjoin : public testing::TestWithParam<PairCase> {};

TEST_P(Pairjoin, WritesWholeLinesAndEndsWithThisStatus)
{
    const PairCase& c = GetParam();
    if (PROGRAMS_STATIC && uses_preload(c))
        GTEST_SKIP() << no_preload;
    SCOPED_TRACE("Replay it by hand: " + harness::replay_command("Pairjoin/" + c.name, pairjoin));
    std::vector<int> delays; // the slow worker's 200 ms, and none for those started before it
    for (int worker = 1; worker <= c.slow; ++worker)
        delays.push_back(worker == c.slow ? 200 : 0);
    const std::vector<int> results = start_results(c.failing_starts, c.start_error);
    if (c.status != 0) {
        SCOPED_TRACE("What it sets up: " + setup(c, results, delays, c.lost_to));
        const Outcome outcome =
            run_pairjoin({.output = c.lost_to, .ignored_signals = c.ignored, .blocked_signals = c.blocked});
        const int expected_end = c.status < 0 ? W_EXITCODE(0, SIGPIPE) : W_EXITCODE(c.status, 0);
        if (harness::replaying())
            std::cout << replay_report(setup(c, results, delays, c.lost_to), outcome,
                                       "nothing on standard error, and " + harness::describe_end(expected_end));
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(c.status < 0 ? outcome.killed_by(SIGPIPE) : outcome.exited_with(c.status))
            << "expected " << harness::describe_end(expected_end) << ", but came: " << harness::describe_end(outcome);
        return;
    }
    const auto hold = c.held_mid_line ? std::vector<std::string>{"HOLD_OPEN_LINES=1"} : std::vector<std::string>{};
    // A replay makes one run, to a pipe.
    const int runs = harness::replaying() ? 1 : c.runs;
    for (Output output : {Output::pipe, Output::file})
        for (int run = 1; run <= runs && !(output == Output::file && harness::replaying()); ++run) {
            const Outcome outcome = run_pairjoin({.extra_env = hold, .output = output}, results, delays);
            const std::string problem = run_problem(outcome, results, c.slow);
            if (harness::replaying()) {
                const std::string expected = expected::pairjoin_output_problem("", results, c.slow);
                std::cout << replay_report(setup(c, results, delays, output), outcome,
                                           expected.substr(0, expected.find("but came:")) + "and exit status 0");
            }
            if (!problem.empty()) {
                ADD_FAILURE() << "run " << run << " of " << runs << ", with " << setup(c, results, delays, output)
                              << ":\n" << problem;
                break;
            }
        }
}

std::vector<int> every_worker()
{
    std::vector<int> all(expected::workers);
    std::iota(all.begin(), all.end(), 1);
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Pairjoin,
    testing::Values(PairCase{.name = "ManyOrdinaryRuns", .runs = repeated_runs},
                    PairCase{"FirstFails", {1}}, PairCase{"SecondFails", {2}}, PairCase{"AllFail", every_worker()},
                    // A start fails with other numbers too: EPERM where a sandbox forbids the call.
                    PairCase{.name = "FirstFailsWithEperm", .failing_starts = {1}, .start_error = EPERM},
                    // Not a failure: the summaries wait for a worker that is slow.
                    PairCase{"FirstIsSlow", {}, 1}, PairCase{"SecondIsSlow", {}, 2},
                    PairCase{"FirstFailsSecondIsSlow", {1}, 2},
                    // Nor is a worker that is held back in the middle of its line.
                    PairCase{.name = "WorkerHeldMidLine", .held_mid_line = true},
                    PairCase{"ToFullDisk", {}, 0, Output::full, 1},
                    PairCase{"ToClosedOutput", {}, 0, Output::closed, 1},
                    PairCase{"ToPipeWithoutReader", {}, 0, Output::pipe_no_reader, 1, {SIGPIPE}},
                    PairCase{"ToPipeWithoutReaderSigpipeBlocked", {}, 0, Output::pipe_no_reader, 1, {}, {SIGPIPE}},
                    PairCase{"ToPipeWithoutReaderKilledBySigpipe", {}, 0, Output::pipe_no_reader, -1}),
    [](const testing::TestParamInfo<PairCase>& param) { return param.param.name; });

} // namespace
