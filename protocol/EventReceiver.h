#pragma once
// Receive step for CommandFrame modules (types 0xF0, 0xF2): reads the job's
// port into its link's ring, assembles frames, traces and decodes one frame per
// poll, and acknowledges every event (command acknowledgements excepted).

#include "protocol/EventResult.h"
#include "protocol/Job.h"

#include <cstdint>

/** One poll: reads once from worker.portIndex, then works through the buffered
    bytes and decodes at most one frame into the link's device state. With reset:
    empties the link's framed receive path, sets link.waitTicks = 200 and returns
    None without reading. */
EventResult pollEvents (JobContext& worker, bool reset);

/** pollEvents without the port: appends bytes[0..n) as if read (dropped whole when
    they do not fit), then does the rest of a poll. Acknowledgements still go to
    worker.portIndex. For tests and fuzzing. */
EventResult feedEvents (JobContext& worker, const uint8_t* bytes, int n);
