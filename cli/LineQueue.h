#pragma once
// Lines on their way to standard output from a thread that must never wait on
// it (a log's job acknowledges every event; a stalled reader — `| less`,
// Ctrl-S, `| sleep 25` — must not stop it). A writer thread of its own prints
// them; when the queue is full a line is dropped and counted, and the count is
// said on standard error once output moves again, and at the end.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace korvacli
{
    class LineQueue
    {
    public:
        /** capacity: lines held while output is stalled before newer ones are dropped. */
        explicit LineQueue (size_t capacity = defaultCapacity);
        ~LineQueue();

        static constexpr size_t defaultCapacity = 2000;

        /** Any thread, never waits on output: queues line (without its '\n'),
            or drops it when the queue is full. */
        void push (std::string line);

        /** Prints what is queued, stops the writer and returns the lines dropped in
            all (said on standard error when any were). */
        uint64_t finish();

    private:
        void run();

        const size_t capacity;
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::string> lines;
        uint64_t droppedUnsaid = 0, droppedInAll = 0;
        bool running = true;
        std::thread writer;
    };
}
