#include "jobs/JobOutcome.h"

namespace
{
    using B = JobOutcome::Before;
    using A = JobOutcome::After;
    using F = JobOutcome::FollowUp;
    constexpr auto info = JobOutcome::Icon::InfoIcon;
    constexpr auto warning = JobOutcome::Icon::WarningIcon;
    constexpr auto noIcon = JobOutcome::Icon::NoIcon;

    const char* const configDone = "Device configuration is done [success]";
    const char* const noDeviceHere = "Doesn't appear to be any KORVA Bluetooth device on this port";
    const char* const portBusy = "Serial port might be busy. Please select another port or check it and press F5 to refresh";

    const char* const settingRefused = "The receiver refused the setting: nothing more was written.\n"
                                       "Check the values and write again.";
    const char* const settingUnanswered = "The receiver did not answer: the settings may not have been written.\n"
                                          "Check that it is switched on and connected, then write again.";
    const char* const restoreRefused = "The receiver refused to restore its factory defaults.";
    const char* const restoreUnanswered = "The receiver did not report its restart: the factory defaults may not be restored.\n"
                                          "Check that it is switched on and connected, then try again.";
    const char* const connectionLost = "The connection to the receiver was lost: the adapter was unplugged or the Bluetooth link dropped.\n"
                                       "Reconnect the receiver, then select its port again.";
    const char* const updateUnanswered = "Update firmware was interrupted: the receiver stopped answering.\n"
                                         "The receiver may need the update again: reconnect it, select its port and update once more.";
    const char* const updateLost = "Update firmware was interrupted: the connection to the receiver was lost.\n"
                                   "The receiver may need the update again: reconnect it, select its port and update once more.";
    const char* const updateRefusedMidway = "Update firmware did not complete: the receiver refused a command after the update had begun.\n"
                                            "The receiver may need the update again: reconnect it, select its port and update once more.";

    JobOutcome silent() { return {}; }

    /** Failures with a detail the user can act on; nullptr-titled when none applies. */
    JobOutcome detailedFailure (JobStatus status, JobKind kind, JobDetail detail)
    {
        const bool failed = status == JobStatus::Failed;

        // Once UpdateBegin was acknowledged the receiver's flash may be erased:
        // however the update ends short of its final acknowledgement, it may need it again.
        if (kind == JobKind::UpdateFirmware && failed && detail == JobDetail::refusedMidUpdate)
            return { B::closeProgressFailed, warning, "Update Firmware", updateRefusedMidway, A::clearDevice, F::none };

        if (kind == JobKind::UpdateFirmware
             && ((failed && detail == JobDetail::noAnswer) || (status == JobStatus::PortError && detail == JobDetail::portLost)))
            return { B::closeProgressFailed, warning, "Update Firmware", failed ? updateUnanswered : updateLost,
                     A::clearDevice, F::none };

        if (status == JobStatus::PortError && detail == JobDetail::portLost)
            return { B::noDevice, warning, "Failed", connectionLost, A::clearDevice, F::none };

        // The receiver is still there: the device and, for a write, the form as
        // the user typed it stay.
        if (failed && kind == JobKind::WriteConfig && (detail == JobDetail::refused || detail == JobDetail::noAnswer))
            return { B::nothing, warning, "Device configuration",
                     detail == JobDetail::refused ? settingRefused : settingUnanswered, A::enableButtons, F::none };

        if (failed && kind == JobKind::RestoreDefaults && (detail == JobDetail::refused || detail == JobDetail::noAnswer))
            return { B::fillForm, warning, "Device configuration",
                     detail == JobDetail::refused ? restoreRefused : restoreUnanswered, A::enableButtons, F::none };

        if (failed && kind == JobKind::Detect && detail == JobDetail::otherFamily)
            return { B::noDevice, warning, "Failed", "", A::clearDevice, F::none };   // the handler names the family

        return silent();
    }
}

JobOutcome jobOutcome (JobStatus status, JobKind kind, JobDetail detail)
{
    // Another receiver behind the detected port's name: nothing was sent, and
    // the panel detects again before any other job reaches the port.
    if (status == JobStatus::Failed && detail == JobDetail::deviceChanged)
        return { B::noDevice, noIcon, nullptr, nullptr, A::clearDevice, F::detect };

    if (kind == JobKind::Listen)
        return silent();


    if (auto detailed = detailedFailure (status, kind, detail); detailed.title != nullptr)
        return detailed;

    switch (status)
    {
        case JobStatus::Done:
            switch (kind)
            {
                case JobKind::Detect:
                    return { B::showIdentity, info, "Korva Bluetooth device found",
                             "There is an KORVA Bluetooth device on this port", A::nothing, F::readConfig };
                case JobKind::ReadConfig:
                    return { B::fillForm, noIcon, nullptr, nullptr, A::nothing, F::none };
                case JobKind::WriteConfig:
                    return { B::nothing, info, "Device configuration", configDone, A::enableButtons, F::none };
                case JobKind::RestoreDefaults:
                    return { B::nothing, info, "Device configuration", configDone, A::nothing, F::readConfig };
                case JobKind::UpdateFirmware:
                    return { B::closeProgressDone, info, "Device update firmware",
                             "Update firmware is done [success]", A::nothing, F::detect };
                case JobKind::Listen:
                    break;
            }
            return silent();

        case JobStatus::Aborted:
            if (kind == JobKind::UpdateFirmware)
                return { B::nothing, warning, "Abort", "Accept to continue", A::nothing, F::readConfig };
            return silent();

        case JobStatus::PortError:
            // A failed update's progress window is closed here as well, so it
            // does not stay open over the panel with nothing behind it.
            return { kind == JobKind::UpdateFirmware ? B::closeProgressFailed : B::noDevice,
                     warning, "Failed", portBusy, A::clearDevice, F::none };

        case JobStatus::NotStarted:
        case JobStatus::Failed:
        case JobStatus::Running:
            if (kind == JobKind::UpdateFirmware)
                return { B::closeProgressFailed, warning, "Update Firmware",
                         "Update Firmware failed.\nYou can continue using your device", A::clearDevice, F::none };
            return { B::noDevice, warning, "Failed", noDeviceHere, A::clearDevice, F::none };
    }

    return silent();
}

std::string otherFamilyText (uint8_t typeCode, FaultAdvice advice)
{
    const bool hci = typeCode == 0xF1;
    const std::string found = std::string ("No receiver answered at this device type's baud rate, but a ")
                            + (hci ? "zVARNELO7QX" : typeCode == 0xF2 ? "DORU-415QX" : "Rulko")
                            + " answers on this port.\n";

    if (advice == FaultAdvice::commandLine)
        return found + "Run the command again with --family " + (hci ? "zvarnelo" : "rulko") + " (or --family auto).";

    return found + "Select the port again and choose \"" + (hci ? "zVARNELO7QX" : "Rulko/DORU-QX") + "\" as the device type.";
}
