#include "firmware/FirmwareUpdate.h"

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "protocol/DebugOutput.h"
#include "protocol/EventReceiver.h"
#include "protocol/Pass.h"
#include "protocol/Trace.h"
#include "protocol/Transmit.h"
#include "serial/PortTable.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace
{
/** Short commands are framed in the link's transmit buffer, long frames go as
    built; both to the job's port, and nothing once the job is asked to exit. */
class PortSink final : public FrameSink
{
public:
    explicit PortSink (const JobContext& j) noexcept : job (j) {}

    void sendShort (const uint8_t* payload, int count) override
    {
        sendCommand (job, payload, count);
    }

    void sendLong (const uint8_t* frame, int length) override
    {
        sendPacket (job, traceLabelDspHeader, frame, length);
    }

private:
    const JobContext& job;
};

// How long the module may take to acknowledge each command before the update
// counts as interrupted. UpdateBegin makes the module erase its update area
// first (a few seconds for a megabyte of flash; 30 s leaves room for slow
// parts). Ends of sections and of the update may verify or commit what was
// written (10 s). A data chunk is programmed in milliseconds; 3 s still covers
// a Bluetooth link that retransmits.
constexpr int64_t beginAckLimitMs = 30000;
constexpr int64_t closingAckLimitMs = 10000;
constexpr int64_t chunkAckLimitMs = 3000;

/** The limit for the acknowledgement of the command that the step of state sends. */
int64_t ackLimitAfterStep (TransferState state)
{
    switch (state)
    {
        case TransferState::SendMcuEnd:
        case TransferState::SendDspEnd:
        case TransferState::SendConfigEnd:
        case TransferState::SendUpdateEnd:
        case TransferState::SendUpdateClose:
            return closingAckLimitMs;
        default:
            return chunkAckLimitMs;
    }
}

} // namespace

//==============================================================================
std::shared_ptr<const FirmwareImage> acceptFirmwareFile (const std::string& path, int panelState)
{
    const char* model = compatibleModel (panelState);
    if (model == nullptr)
        return nullptr;

    // Only a regular file is an image: opening a FIFO would wait for a writer for good.
    std::error_code error;
    if (! std::filesystem::is_regular_file (path, error))
        return nullptr;

    {
        std::ifstream stream (path, std::ios::binary);
        if (! stream.is_open() || ! checkHeader (stream, model))
            return nullptr;
    }

    auto image = std::make_shared<FirmwareImage>();
    if (! image->load (path))
        return nullptr;

    // The transfer would send bytes that are not firmware, stall waiting for an
    // answer to a command it never sent, or write the MCU section and then end
    // Failed for want of a DSP or configuration section: refuse such an image now.
    if (! dryRunTransfer (*image).phasesComplete)
        return nullptr;

    char line[64];
    std::snprintf (line, sizeof (line), "\n\nbootImageAddress : %p\n\n", static_cast<const void*> (image->data.data()));
    debugOutput (line);
    return image;
}

void transferFirmware (JobContext& job)
{
    Link& link = job.link;
    const std::shared_ptr<const FirmwareImage> image = link.image;
    if (image == nullptr)
    {
        job.status = JobStatus::Failed;
        return;
    }

    FirmwareTransfer transfer (*image);
    PortSink sink (job);

    pollEvents (job, true);
    job.status = JobStatus::Running;
    transfer.start (sink);

    Deadline deadline = Deadline::afterMs (beginAckLimitMs);
    bool begun = false;   // UpdateBegin was acknowledged: the receiver may have erased its flash
    link.bytesAcknowledged.store (0);

    runPasses (job, framedReceiver(), deadline, [&] (EventResult result)
    {
        link.updateProgress.store (static_cast<double> (transfer.progress()));

        switch (result)
        {
            case EventResult::AckCmd49:
                begun = true;
                link.bytesAcknowledged.store (transfer.totalSent());
                if (transfer.state() == TransferState::Idle)
                {
                    // The acknowledgement of UpdateClose: only now is the update complete.
                    job.status = transfer.phasesComplete() ? JobStatus::Done : JobStatus::Failed;
                }
                else
                {
                    const int64_t limit = ackLimitAfterStep (transfer.state());
                    if (! transfer.runStep (sink))
                        job.status = JobStatus::Failed;
                    deadline = Deadline::afterMs (limit);
                }
                break;

            case EventResult::None:
            case EventResult::AckCmd02:
            case EventResult::StatusTwo:
                break;

            case EventResult::Rejected:
                job.fail (begun ? JobDetail::refusedMidUpdate : JobDetail::refused);
                break;

            default:
                job.status = JobStatus::Failed;
                break;
        }
    });

    if (job.status == JobStatus::Running)
        job.status = JobStatus::Aborted;
}
