// What the panel does with each finished job: the outcome table, driven with
// a finished worker of every kind and status handed to the result handler.

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "panel/BtThread.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"
#include "tests/TestResets.h"

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
        JobDetail detail = JobDetail::none;
    };

    constexpr const char* noDevice = "Doesn't appear to be any KORVA Bluetooth device on this port";
    constexpr const char* portBusy =
        "Serial port might be busy. Please select another port or check it and press F5 to refresh";
    constexpr const char* configDone = "Device configuration is done [success]";
    constexpr const char* updateFailed = "Update Firmware failed.\nYou can continue using your device";
    constexpr const char* settingRefused = "The receiver refused the setting: nothing more was written.\n"
                                           "Check the values and write again.";
    constexpr const char* settingUnanswered = "The receiver did not answer: the settings may not have been written.\n"
                                              "Check that it is switched on and connected, then write again.";
    constexpr const char* restoreRefused = "The receiver refused to restore its factory defaults.";
    constexpr const char* connectionLost = "The connection to the receiver was lost: the adapter was unplugged or the "
                                           "Bluetooth link dropped.\nReconnect the receiver, then select its port again.";
    constexpr const char* updateLost = "Update firmware was interrupted: the connection to the receiver was lost.\n"
                                       "The receiver may need the update again: reconnect it, select its port and update once more.";
    constexpr const char* updateUnanswered = "Update firmware was interrupted: the receiver stopped answering.\n"
                                             "The receiver may need the update again: reconnect it, select its port and update once more.";
    constexpr const char* otherFamily = "No receiver answered at this device type's baud rate, but a zVARNELO7QX answers "
                                        "on this port.\nSelect the port again and choose \"zVARNELO7QX\" as the device type.";

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

        // Failures the user can act on: the receiver and the form stay where it is still there.
        { JobStatus::Failed, JobKind::WriteConfig, "Device configuration", settingRefused, Icon::WarningIcon, true, 1, -1,
          JobDetail::refused },
        { JobStatus::Failed, JobKind::WriteConfig, "Device configuration", settingUnanswered, Icon::WarningIcon, true, 1,
          -1, JobDetail::noAnswer },
        { JobStatus::Failed, JobKind::RestoreDefaults, "Device configuration", restoreRefused, Icon::WarningIcon, true, 1,
          -1, JobDetail::refused },
        { JobStatus::PortError, JobKind::ReadConfig, "Failed", connectionLost, Icon::WarningIcon, false, 0, -1,
          JobDetail::portLost },
        { JobStatus::PortError, JobKind::UpdateFirmware, "Update Firmware", updateLost, Icon::WarningIcon, false, 0, -1,
          JobDetail::portLost },
        { JobStatus::Failed, JobKind::UpdateFirmware, "Update Firmware", updateUnanswered, Icon::WarningIcon, false, 0, -1,
          JobDetail::noAnswer },
        { JobStatus::Failed, JobKind::UpdateFirmware, "Update Firmware", updateFailed, Icon::WarningIcon, false, 0, -1,
          JobDetail::refused },
        { JobStatus::Failed, JobKind::Detect, "Failed", otherFamily, Icon::WarningIcon, false, 0, -1,
          JobDetail::otherFamily },
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
        auto& state = access.link().device;
        state.typeCode = 0xF0;
        state.versionMajor = 1;
        state.versionMinor = 5;
        std::strcpy (reinterpret_cast<char*> (state.config.name), "Rulko kitchen");
        panel.showIdentity (0xF0, 1, 5);
        access.writeButton().setEnabled (false);
        access.restoreButton().setEnabled (false);
        access.link().portIndex = 0;
        access.setDetectedPort (0);

        auto& worker = access.worker();
        worker = std::make_unique<MainComponent::BtThread> (c.kind, access.link(), false);
        worker->status = c.status;
        worker->detail = c.detail;
        worker->otherFamilyType = 0xF1;

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
