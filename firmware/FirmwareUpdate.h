#pragma once
// What the panel and the worker call for a firmware update: the decision on a
// chosen file, the transfer conversation, and its progress fraction.

#include "protocol/Job.h"

#include <atomic>
#include <string>

/** Message thread: the compatibility decision for a chosen file. The header
    must carry compatibleModel (panelState), the file must load, and a dry run
    of the transfer must find every tag and keep every section inside the
    payload. On acceptance the image is held, its window rewound, and the
    image's address is written to the debug output. A file that cannot be
    opened is not accepted; an image refused by the dry run is released. */
bool acceptFirmwareFile (const std::string& path, int panelState);

/** The transfer's progress, 0 to 1: written by the worker, read by the
    progress bar without a lock. The panel sets it to 0 before a job starts. */
std::atomic<double>& updateProgress();

/** Worker thread: sends the accepted image on the job's port, one command per
    acknowledgement. Leaves job.status Done, Failed or Aborted. */
void transferFirmware (JobContext& job);

/** How the transfer passes the time when a poll found nothing: called with the
    job's port index, it should return as soon as bytes arrive, or after about
    a millisecond at most. The default sleeps 100 microseconds; a platform may
    install a wait on the port itself. nullptr restores the default. */
using TransferIdleWait = void (*) (int portIndex);
void setTransferIdleWait (TransferIdleWait wait);
