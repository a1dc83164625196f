// SPDX-License-Identifier: MIT
// pairjoin: starts two POSIX threads that each print a message, joins them
// in the order they were started, then reports each start request's result.
// Shows thread creation with an argument and waiting for a thread's end.

#include <cstdio>
#include <cstdlib>

#include <pthread.h>

static void* print_message_function(void* message)
{
    // One printf call holds the stream's lock for the whole line, so the
    // two workers' lines never mix.
    std::printf("%s \n", static_cast<const char*>(message));
    return nullptr;
}

// pthread_create reports failure by its result, not errno. A worker whose
// start failed has no thread behind its handle, and must not be joined.
static void join_if_started(pthread_t thread, int start_result)
{
    if (start_result == 0)
        pthread_join(thread, nullptr);
}

int main()
{
    // String literals live as long as the process, so the workers can be
    // handed pointers to them; the routine only reads its text, and the cast
    // is for the start routine's signature.
    const char* const message1 = "Thread 1";
    const char* const message2 = "Thread 2";
    pthread_t thread1{};
    pthread_t thread2{};
    const int iret1 = pthread_create(&thread1, nullptr, print_message_function, const_cast<char*>(message1));
    const int iret2 = pthread_create(&thread2, nullptr, print_message_function, const_cast<char*>(message2));

    join_if_started(thread1, iret1);
    join_if_started(thread2, iret2);

    std::printf("Thread 1 returns: %d\n", iret1);
    std::printf("Thread 2 returns: %d\n", iret2);
    // A line that never arrived (stdout closed, disk full, reader gone) must
    // not end in success. Standard output is buffered unless it is a
    // terminal, so its writes happen here, and the stream keeps their error.
    const bool output_lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    std::exit(output_lost ? 1 : 0); // NOLINT(concurrency-mt-unsafe): every started worker has been joined
}
