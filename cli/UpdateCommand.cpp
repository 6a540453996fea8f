// korva update: the image checked once per model, then each port's transfer.

#include "cli/Commands.h"

#include "cli/Batch.h"
#include "cli/CommandSteps.h"
#include "cli/Console.h"
#include "cli/ProgressReport.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/FirmwareUpdate.h"
#include "jobs/JobDispatch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

namespace korvacli
{
namespace
{
    /** The image as checked for one model: nullptr when refused, and the data
        bytes its transfer carries. */
    struct CheckedImage
    {
        std::shared_ptr<const FirmwareImage> image;
        uint32_t dataBytes = 0;
    };

    /** The image, checked once per model whatever the number of receivers of that
        model, then shared read-only by their transfers. */
    class CheckedImages
    {
    public:
        explicit CheckedImages (std::string imagePath) : path (std::move (imagePath)) {}

        CheckedImage forPanelState (int panelState)
        {
            const std::lock_guard<std::mutex> lock (mutex);
            const auto known = checked.find (panelState);
            if (known != checked.end())
                return known->second;

            CheckedImage result { acceptFirmwareFile (path, panelState) };
            if (result.image != nullptr)
                result.dataBytes = dryRunTransfer (*result.image).dataBytes;
            return checked[panelState] = result;
        }

    private:
        const std::string path;
        std::mutex mutex;
        std::map<int, CheckedImage> checked;
    };

    int updateOnLink (Output& out, Link& link, const CommonOptions& options, CheckedImages& images)
    {
        out.doc()["image"] = options.image;
        bool slow = false;

        if (const int code = detectStep (out, link, options, slow); code != goOn)
            return code;

        const auto type = link.device.typeCode;
        if (conversationFor (JobKind::UpdateFirmware, type) == nullptr)
            return out.finish (exitFailed, std::string ("The ") + modelNameFor (type)
                                               + " does not take firmware updates through korva.");

        // The window's panel state for the detected type picks the compatible model.
        const int panelState = type == 0xF0 ? 1 : type == 0xF2 ? 3 : 0;

        const auto checked = images.forPanelState (panelState);
        if (checked.image == nullptr)
            return out.finish (exitFailed, std::string (incompatibleImageText) + " (" + modelNameFor (type) + ").");

        link.image = checked.image;
        const uint32_t total = checked.dataBytes;
        out.doc()["totalBytes"] = total;
        link.updateProgress = 0.0;

        // Once the transfer starts, SIGTERM and SIGHUP wait for its end: a receiver
        // left half-written is worse than a late exit. Ctrl-C still stops it.
        CliJob job (JobKind::UpdateFirmware, link, slow);
        out.state ("updating");
        if (! holdTerminationSignals (true))
        {
            link.image.reset();
            return out.finish (exitInterrupted, "Interrupted before the update began: nothing was written to the receiver.");
        }
        const auto transferStart = std::chrono::steady_clock::now();
        {
            std::unique_ptr<ProgressReport> progress;
            if (! out.live())
                progress = std::make_unique<ProgressReport> (out, link, total);
            runJob (job);
            if (progress != nullptr)
                progress->finish (job.status == JobStatus::Done);
        }
        holdTerminationSignals (false);
        const double seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - transferStart).count();
        out.doc()["transferSeconds"] = std::round (seconds * 1000.0) / 1000.0;
        link.image.reset();

        const auto result = resultOf (job);
        if (result.exitCode != exitOk)
            return out.finish (result.exitCode, result.message);

        // As the window does: detect again, so the user sees the version now running.
        if (heldTerminationSignal() == 0 && ! interrupted())
        {
            out.state ("detecting");
            bool slowAfter = slow;
            const auto again = detectDevice (link, slow ? Family::zvarnelo : Family::rulko, slowAfter);
            if (again.exitCode == exitOk)
            {
                out.doc()["device"] = deviceJson (link.device);
                const auto& version = out.doc()["device"]["version"];
                if (! version.is_null())
                    out.line ("version now   " + version.get<std::string>());
            }
            else
            {
                out.note ("the receiver did not answer a detection after the update; korva detect shows its version once it runs.");
            }
        }

        return out.finish (exitOk, "Update firmware is done [success]");
    }
}

int prepareUpdate (const CommonOptions& options)
{
    Output out ("update", options.json);
    out.doc()["image"] = options.image;

    // Before the ports: a FIFO would hold the image check for good.
    if (const auto why = notRegularFile (options.image); ! why.empty())
        return usageError (out, why);

    // Without PORT the scan comes next: an image no receiver model takes ends here.
    if (options.ports.empty())
    {
        const int updatable[] = { 1, 3 };   // the window's panel states of the types that take updates
        if (std::none_of (std::begin (updatable), std::end (updatable),
                          [&] (int state) { return acceptFirmwareFile (options.image, state) != nullptr; }))
            return out.finish (exitFailed, std::string (incompatibleImageText) + " (no receiver model takes it).");
    }
    return goOn;
}

int updateCommand (const CommonOptions& options)
{
    CheckedImages images (options.image);
    return runOnPorts ("update", options.json, options.ports, [&] (Output& out, Link& link)
    {
        return updateOnLink (out, link, options, images);
    });
}
}
