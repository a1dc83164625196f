// SPDX-License-Identifier: MIT
// Preloaded into a program under test: a prctl(PR_SET_PDEATHSIG) call waits
// HOLD_DEATH_SIGNAL_MS milliseconds before it is made, as if the process had
// not been scheduled for that long, so its parent can end meanwhile.
#include <cstdarg>
#include <cstdlib>
#include <ctime>

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" int prctl(int option, ...) noexcept
{
    va_list arguments;
    va_start(arguments, option);
    unsigned long values[4];
    for (unsigned long& value : values)
        value = va_arg(arguments, unsigned long);
    va_end(arguments);
    const char* hold = std::getenv("HOLD_DEATH_SIGNAL_MS");
    if (option == PR_SET_PDEATHSIG && hold != nullptr) {
        const long ms = std::strtol(hold, nullptr, 10);
        const timespec pause{ms / 1000, (ms % 1000) * 1000000};
        nanosleep(&pause, nullptr);
    }
    return static_cast<int>(syscall(SYS_prctl, option, values[0], values[1], values[2], values[3]));
}
