// SPDX-License-Identifier: MIT
// Preloaded into a program under test: every fork fails as it does when the
// process limit is reached.
#include <cerrno>

#include <unistd.h>

extern "C" pid_t fork() noexcept
{
    errno = EAGAIN;
    return -1;
}
