// Between the settings form's controls and the settings values (validated and
// mapped to the device record in SettingsForm): clearing, and the write starter.

#include "panel/BtThread.h"
#include "jobs/SettingsForm.h"
#include "protocol/DeviceState.h"

bool MainComponent::readForm (uint8_t typeCode)
{
    // An open editor's text counts: the user may still be typing.
    SettingsValues values;
    values.name = nameField.getText (true).toStdString();
    values.pin = pinField.getText (true).toStdString();
    values.gpoNormallyOpen = gpoSelector.getSelectedId() == 1;
    values.stereo = stereoSelector.getSelectedId() == 1;
    values.singleDevice = maxDevicesSelector.getSelectedId() == 1;
    values.ledControl = ledToggle.getToggleState();
    values.restoreControl = restoreToggle.getToggleState();

    // What the receiver holds now is written back as it is, even where the
    // form's rules would refuse it (a 32-byte name set by another tool).
    const SettingsValues held = loadSettings (typeCode, link.device);
    formProblems = settingsProblems (values, &held);
    return storeSettings (typeCode, values, link.device, &held);
}

void MainComponent::fillForm (uint8_t typeCode)
{
    if (! isKnownDeviceType (typeCode))
        return;

    const auto values = loadSettings (typeCode, link.device);
    nameField.setText (juce::String::fromUTF8 (values.name.c_str()), juce::dontSendNotification);
    pinField.setText (juce::String::fromUTF8 (values.pin.c_str()), juce::dontSendNotification);

    if (! typeHasFullSettings (typeCode))
        return;

    gpoSelector.setSelectedId (values.gpoNormallyOpen ? 1 : 2, juce::dontSendNotification);
    stereoSelector.setSelectedId (values.stereo ? 1 : 2, juce::dontSendNotification);
    maxDevicesSelector.setSelectedId (values.singleDevice ? 1 : 2, juce::dontSendNotification);
    ledToggle.setToggleState (values.ledControl, juce::dontSendNotification);
    restoreToggle.setToggleState (values.restoreControl, juce::dontSendNotification);
}

void MainComponent::clearForm()
{
    gpoSelector.setSelectedId (0, juce::dontSendNotification);
    maxDevicesSelector.setSelectedId (0, juce::dontSendNotification);
    nameField.setText ({}, juce::dontSendNotification);
    pinField.setText ({}, juce::dontSendNotification);
    stereoSelector.setSelectedId (0, juce::dontSendNotification);
    ledToggle.setToggleState (false, juce::dontSendNotification);
    restoreToggle.setToggleState (false, juce::dontSendNotification);
}

void MainComponent::startWriteConfig()
{
    if (worker != nullptr)
        return;

    if (! readForm (link.device.typeCode))
    {
        juce::AlertWindow::showMessageBox (juce::MessageBoxIconType::WarningIcon, "Failed",
                                           juce::String (invalidSettingsText)
                                               + (formProblems.empty() ? "" : "\n" + juce::String::fromUTF8 (formProblems.c_str())));
        return;
    }

    if (! deviceDetected())
        return;

    startOverlaidJob (JobKind::WriteConfig, link.portIndex, slowBaud);
}
