// SPDX-License-Identifier: MIT
// pairjoin driven from outside: many ordinary runs to a pipe and to a file,
// and runs in which starting the first, the second or both workers fails.
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

const std::string worker1 = "Thread 1 \n";
const std::string worker2 = "Thread 2 \n";

std::string summary(int result1, int result2)
{
    return "Thread 1 returns: " + std::to_string(result1) + "\nThread 2 returns: " +
           std::to_string(result2) + "\n";
}

Outcome run_pairjoin(Output output, const std::string& failing_starts, std::vector<int> ignored_signals = {},
                     const std::string& delays = "", std::vector<int> blocked_signals = {})
{
    Launch launch;
    launch.argv = {PAIRJOIN_PATH};
    launch.input = harness::Input::closed;
    launch.output = output;
    launch.ignored_signals = std::move(ignored_signals);
    launch.blocked_signals = std::move(blocked_signals);
    if (!failing_starts.empty() || !delays.empty())
        launch.extra_env = {"LD_PRELOAD=" FAIL_THREAD_START_PATH, "FAIL_THREAD_STARTS=" + failing_starts,
                            "DELAY_THREAD_STARTS=" + delays, "ASAN_OPTIONS=verify_asan_link_order=0"};
    return harness::run(launch);
}

// Every run must be whole: the two worker lines in either order, then the
// summaries in the order 1, 2. Runs go four at a time.
struct OrderCounts {
    int one_first = 0;
    int two_first = 0;
    int other = 0;
};

OrderCounts run_many(Output output, int runs)
{
    const std::string one_first = worker1 + worker2 + summary(0, 0);
    const std::string two_first = worker2 + worker1 + summary(0, 0);
    auto run_share = [&](int count) {
        OrderCounts counts;
        for (int i = 0; i < count; ++i) {
            const Outcome outcome = run_pairjoin(output, "");
            const std::string text = outcome.out_text();
            const bool clean = outcome.exited_with(0) && outcome.err.empty();
            if (clean && text == one_first)
                ++counts.one_first;
            else if (clean && text == two_first)
                ++counts.two_first;
            else if (++counts.other == 1)
                ADD_FAILURE() << "status " << outcome.wait_status << ", stdout:\n" << text << "stderr:\n" << outcome.err;
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
        total.one_first += counts.one_first;
        total.two_first += counts.two_first;
        total.other += counts.other;
    }
    return total;
}

// Sanitized builds start each run far more slowly; fewer runs still mix the
// two workers' timing enough to show a torn line.
constexpr int repeated_runs = PROGRAMS_SANITIZED ? 200 : 1000;

class ManyRuns : public testing::TestWithParam<Output> {};

TEST_P(ManyRuns, AreEachWholeAndInOrder)
{
    const OrderCounts counts = run_many(GetParam(), repeated_runs);
    EXPECT_EQ(counts.other, 0);
    EXPECT_EQ(counts.one_first + counts.two_first, repeated_runs);
    std::printf("worker 1 first: %d, worker 2 first: %d, of %d runs\n", counts.one_first,
                counts.two_first, repeated_runs);
}

INSTANTIATE_TEST_SUITE_P(Runs, ManyRuns, testing::Values(Output::pipe, Output::file),
                         [](const testing::TestParamInfo<Output>& param) {
                             return param.param == Output::pipe ? "ToPipe" : "ToFile";
                         });

struct FailedStart {
    std::string name;
    std::string failing_starts; // which pthread_create calls fail, from 1
    std::string expected;
    std::string delays = "";    // milliseconds each started worker waits first
};

void PrintTo(const FailedStart& c, std::ostream* os)
{
    *os << c.name;
}

class FailedStarts : public testing::TestWithParam<FailedStart> {};

TEST_P(FailedStarts, AreReportedNotJoined)
{
    if (PROGRAMS_STATIC)
        GTEST_SKIP() << "a static program loads no preloaded library";
    const FailedStart& c = GetParam();
    for (Output output : {Output::pipe, Output::file}) {
        const Outcome outcome = run_pairjoin(output, c.failing_starts, {}, c.delays);
        EXPECT_EQ(outcome.out_text(), c.expected);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(outcome.exited_with(0)) << "wait status " << outcome.wait_status;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FailedStarts,
    testing::Values(FailedStart{"FirstFails", "1", worker2 + summary(EAGAIN, 0)},
                    FailedStart{"SecondFails", "2", worker1 + summary(0, EAGAIN)},
                    FailedStart{"BothFail", "1,2", summary(EAGAIN, EAGAIN)},
                    // Not a failure: the summaries wait for a worker that is slow.
                    FailedStart{"FirstIsSlow", "", worker2 + worker1 + summary(0, 0), "200,0"},
                    FailedStart{"SecondIsSlow", "", worker1 + worker2 + summary(0, 0), "0,200"},
                    FailedStart{"FirstFailsSecondIsSlow", "1", worker2 + summary(EAGAIN, 0), "0,200"}),
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
    const Outcome outcome = run_pairjoin(c.output, "", c.ignored_signals, "", c.blocked_signals);
    EXPECT_EQ(outcome.err, "");
    if (c.exit_status < 0)
        EXPECT_TRUE(outcome.killed_by(SIGPIPE))
            << "wait status " << outcome.wait_status;
    else
        EXPECT_TRUE(outcome.exited_with(c.exit_status)) << "wait status " << outcome.wait_status;
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
