#include "cli/LineQueue.h"

#include "cli/Output.h"

#include <cstdio>
#include <utility>

namespace korvacli
{
namespace
{
    void sayDropped (uint64_t count, const char* when)
    {
        std::fprintf (stderr, "korva: %llu line%s dropped %s: the output did not keep up\n", (unsigned long long) count,
                      count == 1 ? "" : "s", when);
        std::fflush (stderr);
    }
}

LineQueue::LineQueue (size_t lineCapacity) : capacity (lineCapacity), writer ([this] { run(); })
{
}

LineQueue::~LineQueue()
{
    finish();
}

void LineQueue::push (std::string line)
{
    {
        const std::lock_guard<std::mutex> lock (mutex);
        if (lines.size() >= capacity)
        {
            ++droppedUnsaid;
            ++droppedInAll;
            return;
        }
        lines.push_back (std::move (line));
    }
    wake.notify_one();
}

void LineQueue::run()
{
    std::unique_lock<std::mutex> lock (mutex);
    for (;;)
    {
        wake.wait (lock, [this] { return ! lines.empty() || ! running; });
        if (lines.empty())
            return;   // stopped, and everything printed

        std::deque<std::string> batch;
        batch.swap (lines);
        lock.unlock();

        std::string text;
        for (auto& line : batch)
            text += line + "\n";
        writeStdout (text);   // may wait on a stalled reader: only this thread does

        lock.lock();
        if (droppedUnsaid > 0)
        {
            const uint64_t count = std::exchange (droppedUnsaid, 0);
            lock.unlock();
            sayDropped (count, "while the output was stalled");
            lock.lock();
        }
    }
}

uint64_t LineQueue::finish()
{
    {
        const std::lock_guard<std::mutex> lock (mutex);
        if (! running)
            return droppedInAll;
        running = false;
    }
    wake.notify_all();
    writer.join();
    if (droppedInAll > 0)
        sayDropped (droppedInAll, "in all");
    return droppedInAll;
}
}
