// Between the settings form and the device record: validation, the two
// mappings, clearing, and the write starter.

#include "jobs/BtThread.h"
#include "jobs/TextRules.h"
#include "protocol/DeviceState.h"

namespace
{
    constexpr int nameBytes = 32;
    constexpr int pinBytes = 4;

    bool isKnownType (uint8_t t) { return t == 0xF0 || t == 0xF1 || t == 0xF2; }
}

bool MainComponent::readForm (uint8_t typeCode)
{
    if (! isKnownType (typeCode))
        return false;

    // An open editor's text counts: the user may still be typing.
    const auto name = nameField.getText (true);
    const auto pin = pinField.getText (true);

    if (! TextRules::isValidName (name) || ! TextRules::isValidPin (pin))
        return false;

    auto& state = deviceState();

    if (typeCode == 0xF1)
    {
        TextRules::encodeText (name, state.hciConfig.name, nameBytes);
        TextRules::encodeText (pin, state.hciConfig.pin, pinBytes);
        return true;
    }

    auto& config = state.config;
    TextRules::encodeText (name, config.name, nameBytes);
    TextRules::encodeText (pin, config.pin, pinBytes);
    config.gpoNormallyOpen = gpoSelector.getSelectedId() == 1 ? 1 : 0;
    config.stereo = stereoSelector.getSelectedId() == 1 ? 1 : 0;
    config.maxDevices = maxDevicesSelector.getSelectedId() == 1 ? 1 : 8;
    config.ledControl = ledToggle.getToggleState() ? 1 : 0;
    config.restoreControl = restoreToggle.getToggleState() ? 1 : 0;
    return true;
}

void MainComponent::fillForm (uint8_t typeCode)
{
    if (! isKnownType (typeCode))
        return;

    const auto& state = deviceState();

    if (typeCode == 0xF1)
    {
        nameField.setText (TextRules::decodeText (state.hciConfig.name, nameBytes), juce::dontSendNotification);
        pinField.setText (TextRules::decodeText (state.hciConfig.pin, pinBytes), juce::dontSendNotification);
        return;
    }

    const auto& config = state.config;
    nameField.setText (TextRules::decodeText (config.name, nameBytes), juce::dontSendNotification);
    pinField.setText (TextRules::decodeText (config.pin, pinBytes), juce::dontSendNotification);
    gpoSelector.setSelectedId (config.gpoNormallyOpen ? 1 : 2, juce::dontSendNotification);
    stereoSelector.setSelectedId (config.stereo ? 1 : 2, juce::dontSendNotification);
    maxDevicesSelector.setSelectedId (config.maxDevices == 1 ? 1 : 2, juce::dontSendNotification);
    ledToggle.setToggleState (config.ledControl != 0, juce::dontSendNotification);
    restoreToggle.setToggleState (config.restoreControl != 0, juce::dontSendNotification);
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

    if (! readForm (deviceState().typeCode))
    {
        juce::AlertWindow::showMessageBox (juce::MessageBoxIconType::WarningIcon, "Failed",
                                           "Please check parameters. It seems not valid");
        return;
    }

    if (! deviceDetected())
        return;

    startOverlaidJob (JobKind::WriteConfig, deviceState().currentPortIndex, slowBaud);
}
