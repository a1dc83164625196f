// SPDX-License-Identifier: MIT
// What a user gets: the programs and pages installed under a prefix, the
// pages free of mdoc mistakes, and one Debian package holding it all, with
// the programs run from where each of these put them.
#include "expected.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using harness::Outcome;

namespace {

Outcome run_command(std::vector<std::string> argv)
{
    harness::Launch launch;
    launch.argv = std::move(argv);
    launch.input = harness::Input::closed;
    launch.time_limit = 120;
    return harness::run(launch);
}

void expect_success(const Outcome& outcome)
{
    EXPECT_TRUE(outcome.exited_with(0)) << harness::describe_end(outcome) << "\n"
                                        << outcome.out_text() << outcome.err;
}

// A directory of its own, removed at the end of the test.
struct ScratchDirectory {
    std::string name = (fs::temp_directory_path() / "quizpair-XXXXXX").string();
    const fs::path path = mkdtemp(name.data());
    ~ScratchDirectory() { fs::remove_all(path); }
};

// Both programs, run from `bin`, do what they do when built.
void expect_programs_work(const fs::path& bin)
{
    auto quiz = std::async(std::launch::async, [&] {
        harness::Launch launch;
        launch.argv = {(bin / "quizhint").string()};
        launch.input = harness::Input::file;
        launch.feeds = {{0, std::to_string(expected::answer) + "\n"}};
        return harness::run(launch);
    });
    const Outcome pair = run_command({(bin / "pairjoin").string()});
    EXPECT_EQ(expected::pairjoin_output_problem(pair.out_text(), std::vector<int>(expected::workers, 0)), "");
    expect_success(pair);
    const Outcome quiz_outcome = quiz.get();
    EXPECT_EQ(quiz_outcome.out_text(), expected::prompt + expected::right);
    expect_success(quiz_outcome);
}

const std::vector<std::string> installed_files = {
    "bin/quizhint", "bin/pairjoin", "share/man/man1/quizhint.1.gz", "share/man/man1/pairjoin.1.gz",
    "share/doc/quizpair/copyright", "share/doc/quizpair/changelog.gz"};

TEST(Install, PutsProgramsAndPagesUnderThePrefix)
{
    const ScratchDirectory prefix;
    expect_success(run_command({CMAKE_COMMAND_PATH, "--install", BUILD_DIR, "--prefix", prefix.path.string()}));
    for (const std::string& file : installed_files)
        EXPECT_TRUE(fs::is_regular_file(prefix.path / file)) << file;
    expect_programs_work(prefix.path / "bin");
}

// Both pages at once, from their directory, so that their references to
// each other resolve. Errors and warnings in our pages fail; the style
// notes are left out, since whether fork(2) and the like are "found"
// depends on which other pages the machine happens to have.
TEST(ManualPages, PassMandocLint)
{
    harness::Launch launch;
    launch.argv = {MANDOC_PATH, "-T", "lint", "-W", "warning", "quizhint.1", "pairjoin.1"};
    launch.directory = MAN_DIR;
    const Outcome outcome = harness::run(launch);
    expect_success(outcome);
    EXPECT_EQ(outcome.out_text() + outcome.err, "");
}

#if DEBIAN_PACKAGE_TEST
fs::path only_package_in(const fs::path& directory)
{
    std::vector<fs::path> packages;
    for (const auto& entry : fs::directory_iterator(directory))
        if (entry.path().extension() == ".deb")
            packages.push_back(entry.path());
    EXPECT_EQ(packages.size(), 1U);
    return packages.empty() ? fs::path() : packages.front();
}

TEST(DebianPackage, HoldsBothProgramsAndPagesAndDependsOnTheCLibrary)
{
    const ScratchDirectory work;
    expect_success(run_command({CPACK_COMMAND_PATH, "-G", "DEB", "-B", work.path.string(), "--config",
                                BUILD_DIR "/CPackConfig.cmake"}));
    const fs::path package = only_package_in(work.path);
    ASSERT_FALSE(package.empty());

    const Outcome contents = run_command({DPKG_DEB_PATH, "--contents", package.string()});
    expect_success(contents);
    for (const std::string& file : installed_files)
        EXPECT_NE(contents.out_text().find(" ./usr/" + file + "\n"), std::string::npos) << file;

    const Outcome depends = run_command({DPKG_DEB_PATH, "--field", package.string(), "Depends"});
    expect_success(depends);
    EXPECT_TRUE(std::regex_match(depends.out_text(), std::regex(R"(libc6 \(>= [0-9.]+\)\n)")))
        << depends.out_text();

    const fs::path root = work.path / "root";
    expect_success(run_command({DPKG_DEB_PATH, "--extract", package.string(), root.string()}));
    expect_programs_work(root / "usr/bin");
}
#endif

} // namespace
