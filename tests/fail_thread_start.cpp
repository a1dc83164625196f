// SPDX-License-Identifier: MIT
// Preloaded into a program under test: the pthread_create calls whose
// numbers (from 1, in the order the program makes them) are listed in
// FAIL_THREAD_STARTS, such as "1,2", fail with EAGAIN as they do when the
// thread limit is reached; the others start their thread as usual.
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include <dlfcn.h>
#include <pthread.h>

namespace {

using create_function = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

std::atomic<long> calls{0};

bool listed(long number)
{
    const char* list = std::getenv("FAIL_THREAD_STARTS");
    while (list != nullptr && *list != '\0') {
        char* end = nullptr;
        const long listed_number = std::strtol(list, &end, 10);
        if (end == list) {
            ++list;
            continue;
        }
        if (listed_number == number)
            return true;
        list = end;
    }
    return false;
}

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) noexcept
{
    if (listed(++calls))
        return EAGAIN;
    static const auto real = reinterpret_cast<create_function>(dlsym(RTLD_NEXT, "pthread_create"));
    return real(thread, attributes, start, argument);
}
