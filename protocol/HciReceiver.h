#pragma once
// Receive step for HCI modules (type 0xF1): reads the job's port into its link's
// ring and decodes every Command Complete event buffered; HCI events are neither
// traced nor acknowledged. The parameters of the last event stay in link.hciReply.

#include "protocol/EventResult.h"
#include "protocol/Job.h"

#include <cstdint>

/** One poll: reads once from worker.portIndex, then takes every buffered byte;
    the result is that of the last event completed in this poll, None if none.
    With reset: empties the link's HCI receive path, sets link.waitTicks = 200,
    returns None. */
EventResult pollHciEvents (JobContext& worker, bool reset);

/** pollHciEvents without the port: bytes[0..n) are appended as if read. */
EventResult feedHciEvents (JobContext& worker, const uint8_t* bytes, int n);
