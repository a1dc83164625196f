// SPDX-License-Identifier: MIT
// What the programs are built to say and do, each value written once: every
// test row, the benchmark and the checks in tests/ and .ci/ take them from here.
// Changed a value in a program? Change it here too, and nowhere else.
#pragma once

#include <algorithm>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

namespace expected {

// quizhint (quizhint/quizhint.cpp)
inline const std::string prompt = "what is the result of 3 * 6 : ";
inline constexpr int answer = 18;
inline const std::string hint = "\n(HINT Remember that multiplication is repetitive addition\n)";
inline const std::string right = "Right!";
inline const std::string wrong = "Wrong!";
inline constexpr double reminder_delay = 5; // seconds
inline constexpr int reminder_signal = SIGUSR1;

// pairjoin (pairjoin/pairjoin.cpp)
inline constexpr int workers = 2;

inline std::string worker_line(int worker)
{
    return "Thread " + std::to_string(worker) + " \n";
}

inline std::string summary_line(int worker, int start_result)
{
    return "Thread " + std::to_string(worker) + " returns: " + std::to_string(start_result) + "\n";
}

// Each line of `text` on a line of its own, quoted, with its line feed and
// any blank or control character in sight: "Thread 1" and "Thread 1 " must
// not look the same in a failure.
inline std::string quoted_lines(const std::string& text)
{
    std::string shown;
    bool open = false;
    for (const char c : text) {
        if (!open)
            shown += "  \"";
        open = true;
        if (c == '\n' || c == '"' || c == '\\')
            shown += c == '\n' ? "\\n" : std::string("\\") + c;
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            shown += "\\x" + std::string(1, "0123456789abcdef"[(c >> 4) & 0xf]) + "0123456789abcdef"[c & 0xf];
        else
            shown += c;
        if (c == '\n') {
            shown += "\"\n";
            open = false;
        }
    }
    return open ? shown + "\" (no line feed at the end)\n" : shown;
}

// What is wrong with a pairjoin run's output, or "" when nothing is: a line
// from each worker whose start result is 0, in any order (but with worker
// `last`'s line last, unless `last` is 0), then every worker's summary, in
// the order they were started.
inline std::string pairjoin_output_problem(const std::string& text, const std::vector<int>& start_results,
                                           int last = 0)
{
    std::vector<std::string> started;
    std::string summaries;
    for (int worker = 1; worker <= static_cast<int>(start_results.size()); ++worker) {
        const int result = start_results[static_cast<std::size_t>(worker - 1)];
        if (result == 0)
            started.push_back(worker_line(worker));
        summaries += summary_line(worker, result);
    }
    const std::string head = text.substr(0, text.size() - std::min(text.size(), summaries.size()));
    std::vector<std::string> lines;
    std::istringstream stream(head);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line + "\n");
    const bool last_is_last = last == 0 || (!lines.empty() && lines.back() == worker_line(last));
    std::sort(lines.begin(), lines.end());
    std::sort(started.begin(), started.end());
    if (text.ends_with(summaries) && (head.empty() || head.back() == '\n') && lines == started && last_is_last)
        return "";
    std::string problem = "expected, in any order";
    problem += last == 0 ? ":\n" : " but with worker " + std::to_string(last) + "'s last:\n";
    for (const std::string& line : started)
        problem += quoted_lines(line);
    return problem + "then:\n" + quoted_lines(summaries) + "but came:" +
           (text.empty() ? std::string(" nothing\n") : "\n" + quoted_lines(text));
}

} // namespace expected
