// SPDX-License-Identifier: MIT
// What the programs are built to say and do, each value written once: every
// test row, the benchmark and the scripts in scripts/ take them from here.
// Changed a value in a program? Change it here too, and nowhere else.
#pragma once

#include <algorithm>
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

// What is wrong with a pairjoin run's output, or "" when nothing is: it must
// hold a line from each worker whose start result is 0, in any order (but
// with worker `last`'s line after the others, unless `last` is 0), then the
// summary of every worker, in the order they were started.
inline std::string pairjoin_output_problem(const std::string& text, const std::vector<int>& start_results,
                                           int last = 0)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line + "\n");
    std::vector<std::string> started;
    std::string summaries;
    for (int worker = 1; worker <= static_cast<int>(start_results.size()); ++worker) {
        if (start_results[static_cast<std::size_t>(worker - 1)] == 0)
            started.push_back(worker_line(worker));
        summaries += summary_line(worker, start_results[static_cast<std::size_t>(worker - 1)]);
    }
    std::vector<std::string> worker_lines;
    std::string rest;
    for (const std::string& line : lines)
        if (worker_lines.size() < started.size())
            worker_lines.push_back(line);
        else
            rest += line;
    std::sort(worker_lines.begin(), worker_lines.end());
    std::sort(started.begin(), started.end());
    std::ostringstream problem;
    if (worker_lines != started || rest != summaries || (!text.empty() && text.back() != '\n'))
        problem << "expected a line from each started worker, in any order, then the summaries:\n";
    else if (last != 0 && !started.empty() && lines[started.size() - 1] != worker_line(last))
        problem << "expected worker " << last << "'s line last of the worker lines:\n";
    else
        return "";
    for (const std::string& line : started)
        problem << "  (any order) " << line;
    problem << summaries << "but came:\n" << text;
    return problem.str();
}

} // namespace expected
