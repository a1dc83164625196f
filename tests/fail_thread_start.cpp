// SPDX-License-Identifier: MIT
// Preloaded into a program under test. THREAD_START_RESULTS, such as "11,0",
// gives the result of each pthread_create call, in the order the program
// makes them: a nonzero one fails with that error number, as EAGAIN (11)
// does when the thread limit is reached, and leaves garbage in the handle,
// as a failure may. DELAY_THREAD_STARTS, such as "100,0", makes each
// started thread wait that many milliseconds first. Unlisted calls start
// their thread at once.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <pthread.h>

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
