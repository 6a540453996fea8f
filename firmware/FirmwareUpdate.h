#pragma once
// What the panel and the worker call for a firmware update: the decision on a
// chosen file, the transfer conversation, and its progress fraction.

#include "protocol/Job.h"

#include <atomic>
#include <cstdint>
#include <string>

/** What the user reads when acceptFirmwareFile refuses a file. */
constexpr const char* incompatibleImageText = "Selected file is not compatible with your hardware";

/** Message thread: the compatibility decision for a chosen file. The header
    must carry compatibleModel (panelState), the file must load, and a dry run
    of the transfer must find every tag and keep every section inside the
    payload, and find the DSP and configuration sections without which the
    update cannot complete. On acceptance the image is held, its window rewound, and the
    image's address is written to the debug output. A file that cannot be
    opened is not accepted; an image refused by the dry run is released. */
bool acceptFirmwareFile (const std::string& path, int panelState);

/** The transfer's progress, 0 to 1: written by the worker, read by the
    progress bar without a lock. The panel sets it to 0 before a job starts. */
std::atomic<double>& updateProgress();

/** Data bytes of the image the receiver has acknowledged so far in the running
    (or last) transfer: written by the worker, read by progress displays. */
std::atomic<uint32_t>& updateBytesAcknowledged();

/** Worker thread: sends the accepted image on the job's port, one command per
    acknowledgement, and waits for the acknowledgement of the final UpdateClose.
    Leaves job.status Done, Failed (a refusal: detail refused for UpdateBegin,
    refusedMidUpdate once the update began; an unexpected reply, or silence
    past an acknowledgement's time limit: detail noAnswer), PortError (the port
    was lost) or Aborted (the exit request). */
void transferFirmware (JobContext& job);
