#include "protocol/Pass.h"

#include "protocol/EventReceiver.h"
#include "protocol/HciReceiver.h"
#include "serial/PortTable.h"

#include <algorithm>
#include <chrono>

namespace
{
/** Longest single wait: a worker whose exit request cannot wake the port wait
    (tests with a plain flag) still sees it this soon. */
constexpr int64_t waitSliceMs = 50;
}

int64_t Deadline::remainingMs() const
{
    using namespace std::chrono;
    if (! set)
        return INT64_MAX;
    // Rounded up, so a wait never ends before the deadline it waits for.
    const auto left = duration_cast<microseconds> (at - steady_clock::now()).count();
    return left > 0 ? (left + 999) / 1000 : 0;
}

void waitForInput (JobContext& worker, const Deadline& deadline)
{
    if (worker.shouldExit())
        return;
    const int64_t ms = std::min (deadline.remainingMs(), waitSliceMs);
    (void) waitPort (static_cast<uint8_t> (worker.portIndex), static_cast<int> (ms));
}

bool endOnLostPort (JobContext& worker)
{
    if (! portLost (static_cast<uint8_t> (worker.portIndex)) || worker.shouldExit())
        return false;
    worker.status = JobStatus::PortError;
    worker.detail = JobDetail::portLost;
    return true;
}

Receiver framedReceiver()
{
    return { pollEvents, [] (const Link& link) { return ! link.rx.isEmpty(); } };
}

Receiver hciReceiver()
{
    return { pollHciEvents, [] (const Link& link) { return ! link.hciRx.isEmpty(); } };
}
