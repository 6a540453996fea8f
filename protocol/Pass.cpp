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

int64_t monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds> (steady_clock::now().time_since_epoch()).count();
}

int64_t Deadline::remainingMs() const
{
    return set ? std::max<int64_t> (at - monotonicMs(), 0) : INT64_MAX;
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
    return { pollEvents, [] { return ! rxRing().isEmpty(); } };
}

Receiver hciReceiver()
{
    return { pollHciEvents, [] { return ! hciRing().isEmpty(); } };
}
