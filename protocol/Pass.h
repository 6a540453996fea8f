#pragma once
// The rhythm of every conversation: poll the receiver, act on what it decoded,
// and when nothing is left to decode, wait on the port until bytes arrive, the
// time limit passes, the port is lost or the job is asked to exit. Time limits
// are counted in passes of 10 ms and measured on a monotonic clock.

#include "protocol/EventResult.h"
#include "protocol/Job.h"

#include <chrono>
#include <cstdint>

/** Reply countdown armed by each receiver's reset (about 2 s). */
constexpr int32_t replyPassLimit = 200;

/** Countdown of the HCI identity probe in detectModule (about 100 ms). */
constexpr int32_t probePassLimit = 10;

/** Time a receiver may take to restart after its settings were written or
    restored (about 30 s): long enough for the restart, short enough that a
    silent receiver cannot hold the job for ever. */
constexpr int32_t writeConfigPassLimit = 3000;

/** Length of one pass. */
constexpr int passSleepMs = 10;

/** A point on the monotonic clock after which a conversation stops waiting. */
class Deadline
{
public:
    /** No limit. */
    Deadline() = default;

    static Deadline afterMs (int64_t ms)
    {
        Deadline d;
        d.at = std::chrono::steady_clock::now() + std::chrono::milliseconds (ms);
        d.set = true;
        return d;
    }

    /** passes of 10 ms from now; 0 passes means no limit. */
    static Deadline afterPasses (int32_t passes) { return passes > 0 ? afterMs (int64_t (passes) * passSleepMs) : Deadline(); }

    bool passed() const { return set && std::chrono::steady_clock::now() >= at; }
    int64_t remainingMs() const;

private:
    std::chrono::steady_clock::time_point at {};
    bool set = false;
};

/** Waits on the job's port until bytes arrive, the deadline passes, the port is
    lost or the job is asked to exit, whichever comes first. */
void waitForInput (JobContext& worker, const Deadline& deadline);

/** Ends a conversation whose port was lost (unplugged adapter, dropped link, a
    packet torn by a failed write): PortError, unless the job is being stopped
    anyway. True when it did. */
bool endOnLostPort (JobContext& worker);

/** A receive step: one poll, and whether bytes are still buffered that a
    further poll would work through without reading the port. */
struct Receiver
{
    EventResult (*poll) (JobContext&, bool reset);
    bool (*hasBuffered) (const Link&);
};

Receiver framedReceiver();
Receiver hciReceiver();

/** Runs passes while status is Running: one poll each, its result handed to
    onResult; a wait on the port only when nothing is left to decode. When the
    deadline passes with the conversation still running, status = Failed
    (no answer). onResult may move the deadline. */
template <typename OnResult>
void runPasses (JobContext& worker, Receiver receiver, Deadline& deadline, OnResult onResult)
{
    while (worker.status == JobStatus::Running)
    {
        if (worker.shouldExit())
            break;

        const EventResult result = receiver.poll (worker, false);
        onResult (result);

        if (worker.status != JobStatus::Running || endOnLostPort (worker))
            break;

        // A goal reached in the last poll stands: only a conversation still
        // waiting runs out of time.
        if (deadline.passed())
        {
            worker.fail (JobDetail::noAnswer);
            break;
        }

        if (result == EventResult::None && ! receiver.hasBuffered (worker.link))
            waitForInput (worker, deadline);
    }
}

/** runPasses with the deadline armed from link.waitTicks (set by the receiver's reset). */
template <typename OnResult>
void runPasses (JobContext& worker, Receiver receiver, OnResult onResult)
{
    Deadline deadline = Deadline::afterPasses (worker.link.waitTicks);
    runPasses (worker, receiver, deadline, onResult);
}
