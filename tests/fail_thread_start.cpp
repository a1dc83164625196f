// SPDX-License-Identifier: MIT
// Preloaded into a program under test. THREAD_START_RESULTS, such as "11,0",
// gives the result of each pthread_create call, in the order the program
// makes them: a nonzero one fails with that error number, as EAGAIN (11)
// does when the thread limit is reached, and leaves garbage in the handle,
// as a failure may. DELAY_THREAD_STARTS, such as "100,0", makes each
// started thread wait that many milliseconds first. Unlisted calls start
// their thread at once. With HOLD_OPEN_LINES set, a thread that leaves a
// line open in standard output's buffer waits there until another thread
// has written (2 s at most), so that a line written in parts has the other
// thread's text in the middle, as it can when both print at one instant.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

namespace {

using create_function = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

std::atomic<long> calls{0};

// The `n`th number (from 1) of a comma-separated list in the environment; 0 past its end.
long nth_of(const char* name, long n)
{
    const char* list = std::getenv(name);
    char* end = nullptr;
    for (long i = 1; list != nullptr && *list != '\0'; ++i, list = *end == ',' ? end + 1 : "") {
        const long number = std::strtol(list, &end, 10);
        if (i == n)
            return number;
    }
    return 0;
}

struct Delayed {
    void* (*start)(void*);
    void* argument;
    long ms;
};

Delayed delayed[16];

std::atomic<long> output_calls{0};

// Counts an output call, and holds a thread other than the main one that
// left a line open, if asked to.
int after_output(int result)
{
    const long mine = ++output_calls;
    const bool line_open = stdout->_IO_write_ptr > stdout->_IO_write_base && stdout->_IO_write_ptr[-1] != '\n';
    const bool hold = line_open && gettid() != getpid() && std::getenv("HOLD_OPEN_LINES") != nullptr;
    for (int ms = 0; hold && output_calls == mine && ms < 2000; ++ms)
        usleep(1000);
    return result;
}

void* start_late(void* slot)
{
    const Delayed& d = *static_cast<Delayed*>(slot);
    const timespec pause{d.ms / 1000, (d.ms % 1000) * 1000000};
    nanosleep(&pause, nullptr);
    return d.start(d.argument);
}

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) noexcept
{
    const long number = ++calls;
    if (const long result = nth_of("THREAD_START_RESULTS", number); result != 0) {
        std::memset(static_cast<void*>(thread), 0xa5, sizeof *thread);
        return static_cast<int>(result);
    }
    static const auto real = reinterpret_cast<create_function>(dlsym(RTLD_NEXT, "pthread_create"));
    const long ms = nth_of("DELAY_THREAD_STARTS", number);
    if (ms <= 0 || number > 16)
        return real(thread, attributes, start, argument);
    delayed[number - 1] = {start, argument, ms};
    return real(thread, attributes, start_late, &delayed[number - 1]);
}

extern "C" int printf(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int result = std::vprintf(format, arguments);
    va_end(arguments);
    return after_output(result);
}

// What printf calls become in a build with _FORTIFY_SOURCE.
extern "C" int __vprintf_chk(int flag, const char* format, va_list arguments);
extern "C" int __printf_chk(int flag, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int result = __vprintf_chk(flag, format, arguments);
    va_end(arguments);
    return after_output(result);
}
