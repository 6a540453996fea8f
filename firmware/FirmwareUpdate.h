#pragma once
// What the front ends and the job thread call for a firmware update: the
// decision on a chosen file, and the transfer conversation.

#include "firmware/FirmwareImage.h"
#include "protocol/Job.h"

#include <cstdint>
#include <memory>
#include <string>

/** What the user reads when acceptFirmwareFile refuses a file. */
constexpr const char* incompatibleImageText = "Selected file is not compatible with your hardware";

/** Message thread: the compatibility decision for a chosen file. The header
    must carry compatibleModel (panelState), the file must load, and a dry run
    of the transfer must find every tag and keep every section inside the
    payload, and find the DSP and configuration sections without which the
    update cannot complete. The accepted image is returned, to be handed to
    the link (or links) it updates, and its address is written to the debug
    output. A file that cannot be opened, or is refused, gives nullptr. */
std::shared_ptr<const FirmwareImage> acceptFirmwareFile (const std::string& path, int panelState);

/** Job thread: sends the link's image on the job's port, one command per
    acknowledgement, and waits for the acknowledgement of the final UpdateClose.
    The link's updateProgress and bytesAcknowledged follow the transfer.
    Leaves job.status Done, Failed (a refusal: detail refused for UpdateBegin,
    refusedMidUpdate once the update began; an unexpected reply, or silence
    past an acknowledgement's time limit: detail noAnswer), PortError (the port
    was lost) or Aborted (the exit request). Without an image: Failed at once. */
void transferFirmware (JobContext& job);
