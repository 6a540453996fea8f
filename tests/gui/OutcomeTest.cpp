// What the panel does with each finished job: the outcome table, driven with
// a finished worker of every kind and status handed to the result handler.

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "jobs/BtThread.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"

namespace
{
    using Icon = juce::MessageBoxIconType;

    struct OutcomeCase
    {
        JobStatus status;
        JobKind kind;
        const char* title;     // nullptr: no box
        const char* message;
        Icon icon;
        bool buttonsEnabled;   // after the handler, before any follow-up ran
        int panelState;
        int followUp;          // -1 none, else the JobKind of the job started
    };

    constexpr const char* noDevice = "Doesn't appear to be any KORVA Bluetooth device on this port";
    constexpr const char* portBusy =
        "Serial port might be busy. Please select another port or check it and press F5 to refresh";
    constexpr const char* configDone = "Device configuration is done [success]";
    constexpr const char* updateFailed = "Update Firmware failed.\nYou can continue using your device";

    const OutcomeCase cases[] = {
        { JobStatus::Done, JobKind::Detect, "Korva Bluetooth device found",
          "There is an KORVA Bluetooth device on this port", Icon::InfoIcon, false, 1, (int) JobKind::ReadConfig },
        { JobStatus::Done, JobKind::ReadConfig, nullptr, nullptr, Icon::NoIcon, true, 1, -1 },
        { JobStatus::Done, JobKind::WriteConfig, "Device configuration", configDone, Icon::InfoIcon, true, 1, -1 },
        { JobStatus::Done, JobKind::RestoreDefaults, "Device configuration", configDone, Icon::InfoIcon, false, 1,
          (int) JobKind::ReadConfig },
        { JobStatus::Done, JobKind::UpdateFirmware, "Device update firmware", "Update firmware is done [success]",
          Icon::InfoIcon, false, 0, (int) JobKind::Detect },
        { JobStatus::Done, JobKind::Listen, nullptr, nullptr, Icon::NoIcon, false, 1, -1 },
        { JobStatus::Aborted, JobKind::UpdateFirmware, "Abort", "Accept to continue", Icon::WarningIcon, false, 1,
          (int) JobKind::ReadConfig },
        { JobStatus::Aborted, JobKind::WriteConfig, nullptr, nullptr, Icon::NoIcon, false, 1, -1 },
        { JobStatus::PortError, JobKind::Detect, "Failed", portBusy, Icon::WarningIcon, false, 0, -1 },
        { JobStatus::PortError, JobKind::ReadConfig, "Failed", portBusy, Icon::WarningIcon, false, 0, -1 },
        { JobStatus::PortError, JobKind::UpdateFirmware, "Failed", portBusy, Icon::WarningIcon, false, 0, -1 },
        { JobStatus::PortError, JobKind::Listen, nullptr, nullptr, Icon::NoIcon, false, 1, -1 },
        { JobStatus::Failed, JobKind::Detect, "Failed", noDevice, Icon::WarningIcon, false, 0, -1 },
        { JobStatus::Failed, JobKind::WriteConfig, "Failed", noDevice, Icon::WarningIcon, false, 0, -1 },
        { JobStatus::Running, JobKind::RestoreDefaults, "Failed", noDevice, Icon::WarningIcon, false, 0, -1 },
        { JobStatus::Failed, JobKind::UpdateFirmware, "Update Firmware", updateFailed, Icon::WarningIcon, false, 0, -1 },
        { JobStatus::Running, JobKind::UpdateFirmware, "Update Firmware", updateFailed, Icon::WarningIcon, false, 0, -1 },
        { JobStatus::Failed, JobKind::Listen, nullptr, nullptr, Icon::NoIcon, false, 1, -1 },
    };
}

TEST (Outcome, EveryStatusAndKindEndsAsTheTableSays)
{
    resetPortTable();
    MainComponent panel;
    MainComponentTestAccess access (panel);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String::formatted ("status %d kind %d", (int) c.status, (int) c.kind).toStdString());

        // A device of type 0xF0 is shown with its buttons disabled, as while a job runs.
        auto& state = deviceState();
        state.typeCode = 0xF0;
        state.versionMajor = 1;
        state.versionMinor = 5;
        std::strcpy (reinterpret_cast<char*> (state.config.name), "Rulko kitchen");
        panel.showIdentity (0xF0, 1, 5);
        access.writeButton().setEnabled (false);
        access.restoreButton().setEnabled (false);
        deviceState().currentPortIndex = -1;

        auto& worker = access.worker();
        worker = std::make_unique<MainComponent::BtThread> (c.kind, 255, false);
        worker->status = c.status;

        ModalResponder responder;
        panel.showBusyOverlay();
        panel.handleAsyncUpdate();

        EXPECT_EQ (MainComponent::getBusyOverlay() != nullptr, c.followUp >= 0 && c.followUp != (int) JobKind::Listen);

        if (c.title == nullptr)
        {
            EXPECT_TRUE (responder.seen.empty());
        }
        else
        {
            ASSERT_EQ (responder.seen.size(), 1u);
            EXPECT_EQ (responder.seen[0].title, c.title);
            EXPECT_EQ (responder.seen[0].message, c.message);
            EXPECT_EQ (responder.seen[0].icon, c.icon);
            EXPECT_EQ (responder.seen[0].buttons, juce::StringArray ({ "OK" }));
        }

        if (c.followUp >= 0)
        {
            ASSERT_NE (panel.getWorker(), nullptr);
            EXPECT_EQ ((int) panel.getWorker()->kind, c.followUp);
            // The follow-up starters disable the buttons again; read them before it runs on.
            EXPECT_FALSE (access.writeButton().isEnabled());
        }
        else
        {
            EXPECT_EQ (panel.getWorker(), nullptr);
            EXPECT_EQ (access.writeButton().isEnabled(), c.buttonsEnabled);
            EXPECT_EQ (access.restoreButton().isEnabled(), c.buttonsEnabled);
        }

        if (c.followUp != (int) JobKind::Detect)
        {
            EXPECT_EQ (MainComponent::panelState(), c.panelState);
        }

        if (c.kind == JobKind::ReadConfig && c.status == JobStatus::Done)
        {
            EXPECT_EQ (access.nameField().getText(), "Rulko kitchen");
        }

        // Stop a follow-up job before its own result arrives.
        panel.disposeWorker();
        MainComponent::removeBusyOverlay();
        pump (20);
    }
}
