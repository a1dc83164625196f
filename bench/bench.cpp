// SPDX-License-Identifier: MIT
// Measures the programs as a user meets them, beside /bin/true on the same
// machine in the same run: wall time and peak resident size (medians over
// many runs), and for quizhint the time to the hint with no answer and the
// length of a run with an immediate right answer, against the reminder's delay.
#include "expected.h"
#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Sample {
    double seconds = 0;
    long max_rss_kib = 0;
};

struct Started {
    pid_t pid;
    double at;
};

// Plain fork and exec: this process stays small, and a forked child's peak
// size starts from what its parent had mapped, so the figures are the
// program's own. Standard output goes to /dev/null.
Started start(const char* path, const char* input_file)
{
    const double at = harness::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(input_file, O_RDONLY);
        const int out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0)
            _exit(126);
        execl(path, path, static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        std::perror("fork");
        std::exit(1);
    }
    return {pid, at};
}

Sample finish(const Started& started)
{
    int status = 0;
    rusage usage{};
    if (wait4(started.pid, &status, 0, &usage) != started.pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a run failed: %s\n", harness::describe_end(status).c_str());
        std::exit(1);
    }
    return {harness::now() - started.at, usage.ru_maxrss};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Summary {
    double seconds;
    double rss_kib;
};

Summary summarize(const std::vector<Sample>& samples)
{
    std::vector<double> seconds;
    std::vector<double> rss;
    for (const Sample& s : samples) {
        seconds.push_back(s.seconds);
        rss.push_back(static_cast<double>(s.max_rss_kib));
    }
    return {median(seconds), median(rss)};
}

// Runs that mostly wait, overlapped: each starts `stagger` seconds after the
// one before, so that no two compete for the processor while starting.
constexpr double stagger = 0.1;

std::vector<Sample> run_overlapped(const char* path, const char* input_file, int runs)
{
    std::vector<Started> started;
    for (int i = 0; i < runs; ++i) {
        started.push_back(start(path, input_file));
        usleep(static_cast<useconds_t>(stagger * 1e6));
    }
    std::vector<Sample> samples;
    for (const Started& s : started)
        samples.push_back(finish(s));
    return samples;
}

// Seconds from the start until the hint had fully arrived, with no answer
// given; input ends a second after the delay so that the run then ends.
double time_to_hint(const std::string& quizhint)
{
    using expected::hint;
    using expected::prompt;
    harness::Launch launch;
    launch.argv = {quizhint};
    launch.close_at = expected::reminder_delay + 1;
    const harness::Outcome outcome = harness::run(launch);
    if (outcome.out_text().compare(0, prompt.size() + hint.size(), prompt + hint) != 0) {
        std::fprintf(stderr, "quizhint wrote something else:\n%s\n", outcome.out_text().c_str());
        std::exit(1);
    }
    return outcome.time_of_byte_count(prompt.size() + hint.size());
}

std::string answer_file(const std::string& text)
{
    char path[] = "/tmp/bench-answer-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        std::perror("answer file");
        std::exit(1);
    }
    close(fd);
    return path;
}

void print_row(const std::string& name, const Summary& s, const Summary& baseline)
{
    std::printf("| %-31s | %10.3f ms | %8.2f MiB | %8.2fx | %+8.2f MiB |\n", name.c_str(), s.seconds * 1e3,
                s.rss_kib / 1024, s.seconds / baseline.seconds, (s.rss_kib - baseline.rss_kib) / 1024);
}

const char* verdict(bool met)
{
    return met ? "met" : "NOT MET";
}

// One build of the two programs, and what was measured of it.
struct Build {
    std::string name; // "" for the build the benchmark belongs to
    std::string quizhint;
    std::string pairjoin;
    std::vector<Sample> pairjoin_samples;
    std::vector<Sample> quiz_samples;
    std::vector<double> hint_times;
};

std::string row_name(const Build& build, const char* what)
{
    return build.name.empty() ? what : build.name + " " + what;
}

void measure_quiz(Build& build, const std::string& right_answer, int runs)
{
    build.quiz_samples = run_overlapped(build.quizhint.c_str(), right_answer.c_str(), runs);
    std::vector<std::future<double>> hints;
    for (int i = 0; i < runs; ++i) {
        hints.push_back(std::async(std::launch::async, time_to_hint, build.quizhint));
        usleep(static_cast<useconds_t>(stagger * 1e6));
    }
    for (auto& hint : hints)
        build.hint_times.push_back(hint.get());
}

void print_targets(const Build& build, const Summary& base, double wall_ratio, double rss_margin_kib,
                   double late_ms)
{
    const Summary pair = summarize(build.pairjoin_samples);
    const Summary quiz = summarize(build.quiz_samples);
    const double hint_at = median(build.hint_times);
    const std::string name = build.name.empty() ? "" : build.name + " ";
    const double mib = 1024;
    std::printf("- %spairjoin wall time within %.2fx of /bin/true's: %.2fx, %s\n", name.c_str(), wall_ratio,
                pair.seconds / base.seconds, verdict(pair.seconds <= wall_ratio * base.seconds));
    for (const auto& [program, summary] : {std::pair{"pairjoin", pair}, std::pair{"quizhint", quiz}})
        std::printf("- %s%s peak RSS at most %+.2f MiB from /bin/true's: %+.2f MiB, %s\n", name.c_str(), program,
                    rss_margin_kib / mib, (summary.rss_kib - base.rss_kib) / mib,
                    verdict(summary.rss_kib - base.rss_kib <= rss_margin_kib));
    const double delay = expected::reminder_delay;
    std::printf("- %shint within %.0f ms of %g s: %+.1f ms, %s\n", name.c_str(), late_ms, delay,
                (hint_at - delay) * 1e3, verdict(hint_at >= delay && (hint_at - delay) * 1e3 <= late_ms));
    std::printf("- %srun with an immediate right answer ends within %.0f ms of %g s: %+.1f ms, %s\n", name.c_str(),
                late_ms, delay, (quiz.seconds - delay) * 1e3,
                verdict(quiz.seconds >= delay && (quiz.seconds - delay) * 1e3 <= late_ms));
}

} // namespace

// Usage: bench [RUNS [STATIC_BUILD_DIR]]. With a static build's tree (such
// as build/static), its programs are measured beside these, in the same run.
int main(int argc, char** argv)
{
    const int quick_runs = argc > 1 ? std::atoi(argv[1]) : 1000;
    constexpr int quiz_runs = 10;
    const std::string right_answer = answer_file(std::to_string(expected::answer) + "\n");

    std::vector<Build> builds = {{"", QUIZHINT_PATH, PAIRJOIN_PATH, {}, {}, {}}};
    if (argc > 2) {
        const std::string dir = argv[2];
        builds.push_back({"static", dir + "/quizhint/quizhint", dir + "/pairjoin/pairjoin", {}, {}, {}});
    }

    // /bin/true and each pairjoin in turn, so that all see the same machine.
    std::vector<Sample> true_samples;
    for (int i = 0; i < quick_runs; ++i) {
        true_samples.push_back(finish(start("/bin/true", "/dev/null")));
        for (Build& build : builds)
            build.pairjoin_samples.push_back(finish(start(build.pairjoin.c_str(), "/dev/null")));
    }
    for (Build& build : builds)
        measure_quiz(build, right_answer, quiz_runs);
    unlink(right_answer.c_str());

    const Summary base = summarize(true_samples);
    std::printf("Medians of %d runs each of /bin/true and pairjoin, %d of quizhint with an immediate\n"
                "right answer, and %d of quizhint with no answer (stdout a pipe there, else /dev/null).\n\n",
                quick_runs, quiz_runs, quiz_runs);
    std::printf("| %-31s | %13s | %12s | %9s | %12s |\n", "run", "wall time", "peak RSS", "wall/true",
                "RSS - true");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(33, '-').c_str(), std::string(15, '-').c_str(),
                std::string(14, '-').c_str(), std::string(11, '-').c_str(), std::string(14, '-').c_str());
    print_row("/bin/true", base, base);
    for (const Build& build : builds) {
        print_row(row_name(build, "pairjoin"), summarize(build.pairjoin_samples), base);
        print_row(row_name(build, "quizhint, answer at once"), summarize(build.quiz_samples), base);
        std::printf("| %-31s | %10.3f ms | %12s | %9s | %12s |\n", row_name(build, "quizhint, start to hint").c_str(),
                    median(build.hint_times) * 1e3, "", "", "");
    }

    std::printf("\nTargets:\n");
    print_targets(builds[0], base, 1.3, 1024, 20);
    if (builds.size() > 1)
        print_targets(builds[1], base, 1.10, 0, 10);
    return 0;
}
