// SPDX-License-Identifier: MIT
// The programs depend on the platform's C library (and its thread services)
// and nothing else: no C++ runtime, no libm, no libgcc_s.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>

namespace {

struct Linkage {
    std::string name;
    std::string path;
    std::set<std::string> required;
    std::set<std::string> allowed; // besides the required ones
};

void PrintTo(const Linkage& c, std::ostream* os)
{
    *os << c.name;
}

std::set<std::string> needed_libraries(const std::string& path)
{
    harness::Launch launch;
    launch.argv = {READELF_PATH, "--dynamic", path};
    const harness::Outcome outcome = harness::run(launch);
    EXPECT_TRUE(outcome.exited_with(0)) << outcome.err;
    std::set<std::string> needed;
    const std::regex entry(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
    const std::string text = outcome.out_text();
    for (std::sregex_iterator it(text.begin(), text.end(), entry), end; it != end; ++it)
        needed.insert((*it)[1]);
    return needed;
}

// GCC links to its sanitizer runtimes; clang links them into the program,
// and they need the C++ runtime and libm, which the program itself does not.
bool is_sanitizer_runtime(const std::string& library)
{
    if (SANITIZER_RUNTIME_BUILT_IN && (library.starts_with("libstdc++.") || library.starts_with("libm.") ||
                                       library.starts_with("libgcc_s.")))
        return true;
    return library.starts_with("libasan.") || library.starts_with("libubsan.") ||
           library.starts_with("libtsan.");
}

class Links : public testing::TestWithParam<Linkage> {};

TEST_P(Links, OnlyThePlatformLibraries)
{
    const Linkage& c = GetParam();
    std::set<std::string> needed = needed_libraries(c.path);
    if (PROGRAMS_SANITIZED)
        std::erase_if(needed, is_sanitizer_runtime);
    for (const std::string& library : c.required)
        EXPECT_EQ(needed.count(library), 1U) << "missing " << library;
    for (const std::string& library : needed)
        EXPECT_TRUE(c.required.count(library) + c.allowed.count(library) == 1) << "also needs " << library;
}

// A static program needs no library at all.
const std::set<std::string> c_library =
    PROGRAMS_STATIC ? std::set<std::string>{} : std::set<std::string>{"libc.so.6"};
const std::set<std::string> thread_library =
    PROGRAMS_STATIC ? std::set<std::string>{} : std::set<std::string>{"libpthread.so.0"};

INSTANTIATE_TEST_SUITE_P(Programs, Links,
                         testing::Values(Linkage{"quizhint", QUIZHINT_PATH, c_library, {}},
                                         Linkage{"pairjoin", PAIRJOIN_PATH, c_library, thread_library}),
                         [](const testing::TestParamInfo<Linkage>& param) { return param.param.name; });

} // namespace
