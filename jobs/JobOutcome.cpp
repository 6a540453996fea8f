#include "jobs/JobOutcome.h"

namespace
{
    using B = JobOutcome::Before;
    using A = JobOutcome::After;
    using F = JobOutcome::FollowUp;
    constexpr auto info = juce::MessageBoxIconType::InfoIcon;
    constexpr auto warning = juce::MessageBoxIconType::WarningIcon;
    constexpr auto noIcon = juce::MessageBoxIconType::NoIcon;

    const char* const configDone = "Device configuration is done [success]";
    const char* const noDeviceHere = "Doesn't appear to be any KORVA Bluetooth device on this port";
    const char* const portBusy = "Serial port might be busy. Please select another port or check it and press F5 to refresh";

    JobOutcome silent() { return {}; }
}

JobOutcome jobOutcome (JobStatus status, JobKind kind)
{
    if (kind == JobKind::Listen)
        return silent();

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
