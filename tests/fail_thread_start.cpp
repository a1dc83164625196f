// SPDX-License-Identifier: MIT
// Preloaded into a program under test: the pthread_create calls whose
// numbers (from 1, in the order the program makes them) are listed in
// FAIL_THREAD_STARTS, such as "1,2", fail with EAGAIN as they do when the
// thread limit is reached, and leave garbage in the handle, as a failure
// may; the others start their thread as usual. DELAY_THREAD_STARTS, such
// as "100,0", makes each started thread wait that many milliseconds first.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <pthread.h>

namespace {

using create_function = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

std::atomic<long> calls{0};

// The numbers in a comma-separated list, such as "1,2".
int list_of(const char* name, long* numbers, int capacity)
{
    const char* list = std::getenv(name);
    int count = 0;
    while (list != nullptr && *list != '\0' && count < capacity) {
        char* end = nullptr;
        const long number = std::strtol(list, &end, 10);
        if (end == list) {
            ++list;
            continue;
        }
        numbers[count++] = number;
        list = end;
    }
    return count;
}

bool listed(long number)
{
    long numbers[16];
    const int count = list_of("FAIL_THREAD_STARTS", numbers, 16);
    for (int i = 0; i < count; ++i)
        if (numbers[i] == number)
            return true;
    return false;
}

long delay_ms(long number)
{
    long numbers[16];
    const int count = list_of("DELAY_THREAD_STARTS", numbers, 16);
    return number >= 1 && number <= count ? numbers[number - 1] : 0;
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
    if (listed(number)) {
        std::memset(static_cast<void*>(thread), 0xa5, sizeof *thread);
        return EAGAIN;
    }
    static const auto real = reinterpret_cast<create_function>(dlsym(RTLD_NEXT, "pthread_create"));
    const long ms = delay_ms(number);
    if (ms <= 0)
        return real(thread, attributes, start, argument);
    delayed[number - 1] = {start, argument, ms};
    return real(thread, attributes, start_late, &delayed[number - 1]);
}
