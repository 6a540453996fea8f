// The panel's firmware section: choosing and checking a file, and starting the
// update with its modal progress window.

#include "panel/BtThread.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareUpdate.h"

void MainComponent::chooseFirmwareFile()
{
    if (compatibleModel (currentPanelState) == nullptr || worker != nullptr || ! deviceDetected())
        return;

    juce::FileChooser chooser ("Browse to select firmware", juce::File::getCurrentWorkingDirectory(), "*.bin");

    {
        // The device the file is checked against must not change under the chooser.
        const juce::ScopedValueSetter<bool> browsing (choosingFile, true);
        if (! chooser.browseForFileToOpen())
            return;
    }

    checkFirmwareFile (chooser.getResult());
}

bool MainComponent::checkFirmwareFile (const juce::File& file)
{
    const auto previousText = firmwareLabel.getText();
    firmwareLabel.setText ("Checking firmware...", juce::dontSendNotification);

    // The check blocks the message thread; let the label draw first.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    if (auto image = acceptFirmwareFile (file.getFullPathName().toStdString(), currentPanelState))
    {
        link.image = std::move (image);
        firmwareButton.setButtonText ("Update");
        firmwareButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xFFFF0000));
        firmwareLabel.setText (file.getFileName(), juce::dontSendNotification);
        return true;
    }

    firmwareLabel.setText (previousText, juce::dontSendNotification);
    juce::NativeMessageBox::showMessageBox (juce::MessageBoxIconType::WarningIcon, "Some error ocurred",
                                            incompatibleImageText);
    firmwareButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xFF263224));
    return false;
}

void MainComponent::startFirmwareUpdate()
{
    if (worker != nullptr || ! deviceDetected())
        return;

    link.updateProgress = 0.0;

    auto& options = progressWindowOptions;
    options.dialogTitle = "Updating firmware";
    options.dialogBackgroundColour = juce::LookAndFeel::getDefaultLookAndFeel()
                                         .findColour (juce::ResizableWindow::backgroundColourId);
    options.content.setNonOwned (&fwComponent);
    options.componentToCentreAround = nullptr;
    options.escapeKeyTriggersCloseButton = false;
    options.useNativeTitleBar = false;
    options.resizable = false;
    options.useBottomRightCornerResizer = false;

    if (auto* window = options.launchAsync())
    {
        // Closing the window stops a transfer that is still running.
        juce::ModalComponentManager::getInstance()->attachCallback (
            window, juce::ModalCallbackFunction::create ([] (int)
            {
                if (auto* panel = panelPointer())
                    if (auto* job = panel->getWorker(); job != nullptr && job->isThreadRunning())
                        job->signalThreadShouldExit();
            }));
    }

    writeButton.setEnabled (false);
    restoreButton.setEnabled (false);
    startWorker (JobKind::UpdateFirmware, link.portIndex, slowBaud);
}
