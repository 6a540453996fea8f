#include "panel/LogLineQueue.h"

#include "panel/LogLineStore.h"

LogLineQueue::LogLineQueue (Receiver r) : receiver (std::move (r)) {}

LogLineQueue::~LogLineQueue()
{
    cancelPendingUpdate();
    stopTimer();
}

void LogLineQueue::post (std::string line)
{
    bool first = false;
    {
        const std::lock_guard<std::mutex> guard (lock);

        // A message thread held up for long must not cost memory without end: past
        // what the log keeps, the older half goes (the log would drop it anyway).
        if (pending.size() >= LogLineStore::maxLines)
        {
            const auto half = static_cast<std::ptrdiff_t> (pending.size() / 2);
            pending.erase (pending.begin(), pending.begin() + half);
            droppedPending += static_cast<juce::uint64> (half);
        }

        pending.push_back (std::move (line));
        first = ! scheduled;
        scheduled = true;
    }

    if (first)
        triggerAsyncUpdate();
}

void LogLineQueue::handleAsyncUpdate()
{
    // Within a frame of the last hand-over the lines wait for the frame to pass.
    // Both clocks count whole milliseconds, so the wait is one longer than the gap.
    const auto sinceLast = juce::Time::getMillisecondCounter() - lastHandOver;
    if (handOvers > 0 && sinceLast < (juce::uint32) handOverIntervalMs)
        startTimer (handOverIntervalMs - (int) sinceLast + 1);
    else
        flush();
}

void LogLineQueue::timerCallback()
{
    flush();
}

void LogLineQueue::flush()
{
    stopTimer();
    cancelPendingUpdate();

    juce::uint64 dropped = 0;
    {
        const std::lock_guard<std::mutex> guard (lock);
        batch.swap (pending);
        std::swap (dropped, droppedPending);
        scheduled = false;
    }

    if (batch.empty() && dropped == 0)
        return;

    lastHandOver = juce::Time::getMillisecondCounter();
    ++handOvers;
    receiver (batch, dropped);
    batch.clear();
}
