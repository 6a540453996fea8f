#pragma once
// Trace lines on their way from the worker thread to the event log. The worker
// only appends to a vector under a lock; the message thread takes the whole
// vector at once. The first line after a quiet spell schedules one hand-over,
// later lines join it, and hand-overs come at most once a frame, so a receiver
// sending hundreds of events a second costs the message thread one callback a
// frame. While no lines arrive nothing runs: no timer, no wake-ups.

#include <juce_events/juce_events.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class LogLineQueue final : private juce::AsyncUpdater,
                           private juce::Timer
{
public:
    /** Message thread: takes a batch of lines, oldest first, and the count of
        lines lost before them (the queue is bounded too). */
    using Receiver = std::function<void (const std::vector<std::string>& lines, juce::uint64 droppedBefore)>;

    /** Shortest time between two hand-overs: one frame at 60 Hz. */
    static constexpr int handOverIntervalMs = 16;

    explicit LogLineQueue (Receiver receiver);
    ~LogLineQueue() override;

    /** Any thread: queues a line for the message thread. */
    void post (std::string line);

    /** Message thread: hands over whatever is queued now, at once. */
    void flush();

    /** Batches handed over so far. */
    int getNumHandOvers() const noexcept { return handOvers; }

private:
    void handleAsyncUpdate() override;
    void timerCallback() override;

    Receiver receiver;

    std::mutex lock;
    std::vector<std::string> pending;   // under lock
    juce::uint64 droppedPending = 0;    // under lock
    bool scheduled = false;             // under lock: a hand-over is on its way

    std::vector<std::string> batch;     // message thread: the last batch, its storage reused
    juce::uint32 lastHandOver = 0;
    int handOvers = 0;

    JUCE_DECLARE_NON_COPYABLE (LogLineQueue)
};
