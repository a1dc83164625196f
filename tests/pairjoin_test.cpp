// SPDX-License-Identifier: MIT
// pairjoin driven from outside: many ordinary runs to a pipe and to a file,
// and runs in which starting some of the workers fails, or a worker is slow.
#include "expected.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <future>
#include <string>
#include <vector>

using harness::Launch;
using harness::Outcome;
using harness::Output;

namespace {

// The start results of a run in which the listed workers (from 1) fail to start.
std::vector<int> start_results(const std::vector<int>& failing = {})
{
    std::vector<int> results(expected::workers, 0);
    for (int worker : failing)
        results.at(static_cast<std::size_t>(worker - 1)) = EAGAIN;
    return results;
}

std::string comma_separated(const std::vector<int>& numbers)
{
    std::string list;
    for (int number : numbers)
        list += (list.empty() ? "" : ",") + std::to_string(number);
    return list;
}

Outcome run_pairjoin(Output output, const std::vector<int>& failing_starts = {}, std::vector<int> ignored_signals = {},
                     const std::vector<int>& delays = {}, std::vector<int> blocked_signals = {})
{
    Launch launch;
    launch.argv = {PAIRJOIN_PATH};
    launch.input = harness::Input::closed;
    launch.output = output;
    launch.ignored_signals = std::move(ignored_signals);
    launch.blocked_signals = std::move(blocked_signals);
    if (!failing_starts.empty() || !delays.empty())
        launch.extra_env = {"LD_PRELOAD=" FAIL_THREAD_START_PATH, "FAIL_THREAD_STARTS=" + comma_separated(failing_starts),
                            "DELAY_THREAD_STARTS=" + comma_separated(delays), "ASAN_OPTIONS=verify_asan_link_order=0"};
    return harness::run(launch);
}

// What is wrong with a run's output and end, or "" when nothing is.
std::string run_problem(const Outcome& outcome, const std::vector<int>& results, int last = 0)
{
    std::string problem = expected::pairjoin_output_problem(outcome.out_text(), results, last);
    if (!outcome.exited_with(0))
        problem += "expected exit status 0, but the wait status was " + std::to_string(outcome.wait_status) + "\n";
    if (!outcome.err.empty())
        problem += "expected nothing on standard error, but came:\n" + outcome.err;
    return problem;
}

// Every run must be whole: the worker lines in any order, then the
// summaries in order. Runs go four at a time.
struct OrderCounts {
    int in_start_order = 0;
    int in_another_order = 0;
    int broken = 0;
};

OrderCounts run_many(Output output, int runs)
{
    std::string in_start_order;
    for (int worker = 1; worker <= expected::workers; ++worker)
        in_start_order += expected::worker_line(worker);
    auto run_share = [&](int count) {
        OrderCounts counts;
        for (int i = 0; i < count; ++i) {
            const Outcome outcome = run_pairjoin(output);
            const std::string problem = run_problem(outcome, start_results());
            if (problem.empty() && outcome.out_text().starts_with(in_start_order))
                ++counts.in_start_order;
            else if (problem.empty())
                ++counts.in_another_order;
            else if (++counts.broken == 1)
                ADD_FAILURE() << problem;
        }
        return counts;
    };
    constexpr int lanes = 4;
    std::vector<std::future<OrderCounts>> shares;
    for (int lane = 0; lane < lanes; ++lane)
        shares.push_back(std::async(std::launch::async, run_share, runs / lanes));
    OrderCounts total;
    for (auto& share : shares) {
        const OrderCounts counts = share.get();
        total.in_start_order += counts.in_start_order;
        total.in_another_order += counts.in_another_order;
        total.broken += counts.broken;
    }
    return total;
}

// Sanitized builds start each run far more slowly; fewer runs still mix the
// workers' timing enough to show a torn line.
constexpr int repeated_runs = PROGRAMS_SANITIZED ? 200 : 1000;

struct Destination {
    std::string name;
    Output output;
};

void PrintTo(const Destination& c, std::ostream* os)
{
    *os << c.name;
}

class ManyRuns : public testing::TestWithParam<Destination> {};

TEST_P(ManyRuns, AreEachWholeAndInOrder)
{
    const OrderCounts counts = run_many(GetParam().output, repeated_runs);
    EXPECT_EQ(counts.broken, 0) << "runs broken of " << repeated_runs << " (the first is shown above)";
    EXPECT_EQ(counts.in_start_order + counts.in_another_order, repeated_runs);
    std::printf("worker lines in the start order: %d, in another order: %d, of %d runs\n", counts.in_start_order,
                counts.in_another_order, repeated_runs);
}

INSTANTIATE_TEST_SUITE_P(Runs, ManyRuns,
                         testing::Values(Destination{"ToPipe", Output::pipe}, Destination{"ToFile", Output::file}),
                         [](const testing::TestParamInfo<Destination>& param) { return param.param.name; });

constexpr const char* no_preload = "a static program loads no preloaded library";

struct FailedStart {
    std::string name;
    std::vector<int> failing_starts; // which workers fail to start, from 1
    int slow = 0;                    // a worker that waits 200 ms first, whose line must come last
};

void PrintTo(const FailedStart& c, std::ostream* os)
{
    *os << c.name << (PROGRAMS_STATIC ? std::string(" (skipped: ") + no_preload + ")" : "");
}

class FailedStarts : public testing::TestWithParam<FailedStart> {};

TEST_P(FailedStarts, AreReportedNotJoined)
{
    if (PROGRAMS_STATIC)
        GTEST_SKIP() << no_preload;
    const FailedStart& c = GetParam();
    std::vector<int> delays;
    if (c.slow != 0) {
        delays.resize(static_cast<std::size_t>(c.slow), 0);
        delays.back() = 200;
    }
    for (Output output : {Output::pipe, Output::file}) {
        const std::string problem =
            run_problem(run_pairjoin(output, c.failing_starts, {}, delays), start_results(c.failing_starts), c.slow);
        EXPECT_EQ(problem, "") << (output == Output::pipe ? "to a pipe" : "to a file");
    }
}

std::vector<int> every_worker()
{
    std::vector<int> all;
    for (int worker = 1; worker <= expected::workers; ++worker)
        all.push_back(worker);
    return all;
}

INSTANTIATE_TEST_SUITE_P(Runs, FailedStarts,
                         testing::Values(FailedStart{"FirstFails", {1}}, FailedStart{"SecondFails", {2}},
                                         FailedStart{"AllFail", every_worker()},
                                         // Not a failure: the summaries wait for a worker that is slow.
                                         FailedStart{"FirstIsSlow", {}, 1}, FailedStart{"SecondIsSlow", {}, 2},
                                         FailedStart{"FirstFailsSecondIsSlow", {1}, 2}),
                         [](const testing::TestParamInfo<FailedStart>& param) { return param.param.name; });

// Lines that cannot arrive are never a success; a reader that has gone ends
// the run by SIGPIPE, as it does for any program in a pipeline.
struct LostOutput {
    std::string name;
    Output output;
    std::vector<int> ignored_signals;
    int exit_status; // or -1: killed by SIGPIPE
    std::vector<int> blocked_signals = {};
};

void PrintTo(const LostOutput& c, std::ostream* os)
{
    *os << c.name;
}

class LostOutputs : public testing::TestWithParam<LostOutput> {};

TEST_P(LostOutputs, AreNotASuccess)
{
    const LostOutput& c = GetParam();
    const Outcome outcome = run_pairjoin(c.output, {}, c.ignored_signals, {}, c.blocked_signals);
    EXPECT_EQ(outcome.err, "");
    if (c.exit_status < 0)
        EXPECT_TRUE(outcome.killed_by(SIGPIPE))
            << "expected an end by SIGPIPE, but the wait status was " << outcome.wait_status;
    else
        EXPECT_TRUE(outcome.exited_with(c.exit_status))
            << "expected exit status " << c.exit_status << ", but the wait status was " << outcome.wait_status;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, LostOutputs,
    testing::Values(LostOutput{"ToFullDisk", Output::full, {}, 1},
                    LostOutput{"ToClosedOutput", Output::closed, {}, 1},
                    LostOutput{"ToPipeWithoutReader", Output::pipe_no_reader, {SIGPIPE}, 1},
                    LostOutput{"ToPipeWithoutReaderSigpipeBlocked", Output::pipe_no_reader, {}, 1, {SIGPIPE}},
                    LostOutput{"ToPipeWithoutReaderKilledBySigpipe", Output::pipe_no_reader, {}, -1}),
    [](const testing::TestParamInfo<LostOutput>& param) { return param.param.name; });

} // namespace
