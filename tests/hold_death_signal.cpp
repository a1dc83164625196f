// SPDX-License-Identifier: MIT
// Preloaded into a program under test: a prctl(PR_SET_PDEATHSIG) call made
// in a child of the program's process is held back until that process has
// ended, HOLD_DEATH_SIGNAL_MS milliseconds at most, as if the child had not
// been scheduled for that long: the death signal is armed only once the
// parent it was meant for is gone. The program's own writes wait for the
// hold to begin (as long at most), so that a program that ends at its
// first write, as one whose output has no reader does, ends inside it.
// With HOLD_DEATH_SIGNAL_BEGUN_FD, the hold begins by writing the child's
// parent's id (a pid_t) to that descriptor, so that a test can end the
// parent while the call is held.
#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <ctime>

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Taken as the program starts, before it forks.
const pid_t program = getpid();
const char* const hold_setting = std::getenv("HOLD_DEATH_SIGNAL_MS");
const long hold_ms = hold_setting != nullptr ? std::strtol(hold_setting, nullptr, 10) : -1;

// Shared with the program's children, which inherit the mapping.
auto* const hold_begun = static_cast<std::atomic<bool>*>(
    mmap(nullptr, sizeof(std::atomic<bool>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));

// Waits a millisecond at a time while `holding` says so, `hold_ms` at most.
template <typename Condition> void wait_while(Condition holding)
{
    const timespec millisecond{0, 1000000};
    for (long waited = 0; waited < hold_ms && holding(); ++waited)
        nanosleep(&millisecond, nullptr);
}

void tell_hold_begun()
{
    if (const char* begun = std::getenv("HOLD_DEATH_SIGNAL_BEGUN_FD")) {
        const pid_t parent = getppid();
        const ssize_t told = write(std::atoi(begun), &parent, sizeof parent);
        (void)told;
    }
    hold_begun->store(true);
}

} // namespace

extern "C" int prctl(int option, ...) noexcept
{
    va_list arguments;
    va_start(arguments, option);
    unsigned long values[4];
    for (unsigned long& value : values)
        value = va_arg(arguments, unsigned long);
    va_end(arguments);
    if (option == PR_SET_PDEATHSIG && hold_ms >= 0 && getpid() != program) {
        tell_hold_begun();
        wait_while([] { return getppid() == program; });
    }
    return static_cast<int>(syscall(SYS_prctl, option, values[0], values[1], values[2], values[3]));
}

extern "C" ssize_t write(int fd, const void* data, size_t size)
{
    if (hold_ms >= 0 && getpid() == program)
        wait_while([] { return !hold_begun->load(); });
    return syscall(SYS_write, fd, data, size);
}
