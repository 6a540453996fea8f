// What the panel does when a job has ended: the outcome table, the device
// identity shown, and the return to the no-device state.

#include "panel/BtThread.h"
#include "jobs/JobOutcome.h"
#include "jobs/PortFaultText.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"

namespace
{
    juce::MessageBoxIconType iconFor (JobOutcome::Icon icon)
    {
        switch (icon)
        {
            case JobOutcome::Icon::InfoIcon:    return juce::MessageBoxIconType::InfoIcon;
            case JobOutcome::Icon::WarningIcon: return juce::MessageBoxIconType::WarningIcon;
            case JobOutcome::Icon::NoIcon:      break;
        }
        return juce::MessageBoxIconType::NoIcon;
    }
}

void MainComponent::handleAsyncUpdate()
{
    if (worker == nullptr)
        return;

    const auto status = worker->status;
    const auto kind = worker->kind;
    const auto detail = worker->detail;
    removeBusyOverlay();

    const auto outcome = jobOutcome (status, kind, detail);
    const auto& state = link.device;

    // Only a detect that succeeded on this port lets other jobs reach it.
    if (kind == JobKind::Detect && status == JobStatus::Done && state.typeCode >= 0xF0 && state.typeCode <= 0xF2)
    {
        detectedPort = worker->portIndex;
        detectedDevice = portDeviceIdentity (worker->portIndex);

        // The family that found a receiver here is the one to offer first next time.
        if (const char* name = portDisplayName (worker->portIndex))
            portMemory.remember (juce::String::fromUTF8 (name), worker->slowBaud);
    }

    juce::String message (outcome.message);
    if (status == JobStatus::PortError && detail == JobDetail::none)
        message = juce::String::fromUTF8 (portFaultText (worker->openError, portDisplayName (worker->portIndex)).c_str());
    else if (detail == JobDetail::otherFamily && kind == JobKind::Detect)
        message = juce::String::fromUTF8 (otherFamilyText (worker->otherFamilyType).c_str());

    auto closeProgressWindow = [this] (int result)
    {
        if (auto* window = fwComponent.findParentComponentOfClass<juce::DialogWindow>())
            window->exitModalState (result);
    };

    switch (outcome.before)
    {
        case JobOutcome::Before::nothing:
            break;
        case JobOutcome::Before::showIdentity:
            showIdentity (state.typeCode, state.versionMajor, state.versionMinor);
            break;
        case JobOutcome::Before::fillForm:
            if (state.typeCode >= 0xF0 && state.typeCode <= 0xF2)
            {
                fillForm (state.typeCode);
                writeButton.setEnabled (true);
                restoreButton.setEnabled (true);
            }
            else
            {
                deviceReadout.setText ({}, juce::dontSendNotification);
            }
            break;
        case JobOutcome::Before::closeProgressDone:
            closeProgressWindow (0);
            break;
        case JobOutcome::Before::noDevice:
            setPanelState (0);
            break;
        case JobOutcome::Before::closeProgressFailed:
            closeProgressWindow (1234);
            setPanelState (0);
            break;
    }

    if (outcome.title != nullptr)
        juce::AlertWindow::showMessageBox (iconFor (outcome.icon), outcome.title, message);

    switch (outcome.after)
    {
        case JobOutcome::After::nothing:
            break;
        case JobOutcome::After::enableButtons:
            writeButton.setEnabled (true);
            restoreButton.setEnabled (true);
            break;
        case JobOutcome::After::clearDevice:
            clearDevice();
            break;
    }

    disposeWorker();

    switch (outcome.followUp)
    {
        case JobOutcome::FollowUp::none:
            break;
        case JobOutcome::FollowUp::readConfig:
            startReadConfig();
            break;
        case JobOutcome::FollowUp::detect:
            startDetect (link.portIndex);
            break;
    }
}

void MainComponent::clearDevice()
{
    detectedPort = -1;
    detectedDevice = 0;
    setPanelState (0);
    deviceReadout.setText ({}, juce::dontSendNotification);
    versionReadout.setText ({}, juce::dontSendNotification);
    clearForm();
    writeButton.setEnabled (false);
    restoreButton.setEnabled (false);
}

void MainComponent::showIdentity (uint8_t typeCode, uint8_t versionMajor, uint8_t versionMinor)
{
    const auto version = juce::String::formatted ("%x.%02x", versionMajor, versionMinor);

    switch (typeCode)
    {
        case 0xF0:
            setPanelState (1);
            deviceReadout.setText ("Rulko", juce::dontSendNotification);
            versionReadout.setText (version, juce::dontSendNotification);
            break;
        case 0xF1:
            setPanelState (2);
            deviceReadout.setText ("zVARNELO7QX", juce::dontSendNotification);
            versionReadout.setText ({}, juce::dontSendNotification);
            break;
        case 0xF2:
            setPanelState (3);
            deviceReadout.setText ("DORU-415QX", juce::dontSendNotification);
            versionReadout.setText (version, juce::dontSendNotification);
            break;
        default:
            // An unknown type: no model, and the version read-out stays as it was.
            setPanelState (0);
            deviceReadout.setText ({}, juce::dontSendNotification);
            break;
    }

    writeButton.setEnabled (true);
    restoreButton.setEnabled (true);
}
