// The user's inputs on the panel: the port choice, the buttons, the function
// keys and the hidden gesture on the version read-out that shows the event log.

#include "panel/BtThread.h"
#include "protocol/DeviceState.h"

namespace
{
    constexpr int clicksToToggleLog = 10;
    constexpr juce::int64 maxClickGapMs = 1500;

    /** Puts the box's button with this caption first in the focus order, so
        that it has the focus when the box opens; the others follow. */
    void focusFirst (juce::AlertWindow& box, const juce::String& caption)
    {
        for (auto* child : box.getChildren())
            if (auto* button = dynamic_cast<juce::Button*> (child))
                button->setExplicitFocusOrder (button->getButtonText() == caption ? 1 : 2);
    }
}

void MainComponent::comboBoxChanged (juce::ComboBox* box)
{
    if (box != &portSelector)
        return;

    // A link still coming up is given up for the port chosen now.
    if (! choosingPort)
        stopConnecting();

    // A second choice while the question of the first is open is not taken, and
    // behind the overlay nothing may change the port: put the selection back.
    if (choosingPort || (worker != nullptr && worker->kind != JobKind::Listen))
    {
        portSelector.setSelectedItemIndex (portNames.indexOf (selectedPortName), juce::dontSendNotification);
        return;
    }

    // A new port is always detected first: listening on the old one stops, and
    // nothing but detect reaches the new one until it succeeds.
    stopListen();
    detectedPort = -1;

    const int index = portSelector.getSelectedItemIndex();
    link.portIndex = index;
    showPortHelp (index);

    if (index == -1)
        return;

    selectedPortName = portSelector.getItemText (index);

    juce::AlertWindow question ("Device type", "Select the connected device type",
                                juce::MessageBoxIconType::QuestionIcon, nullptr);
    question.addButton ("zVARNELO7QX", 1);
    question.addButton ("Rulko/DORU-QX", 0);

    // The family named last time for this port answers on Return: its button
    // takes the keyboard focus when the box opens (the focused button is the
    // one Return and Space press).
    if (const auto remembered = portMemory.slowBaudFor (selectedPortName))
        focusFirst (question, *remembered ? "zVARNELO7QX" : "Rulko/DORU-QX");

    // Closing the box without a choice selects the fast family.
    {
        const juce::ScopedValueSetter<bool> asking (choosingPort, true);
        slowBaud = question.runModalLoop() == 1;
    }

    startDetect (link.portIndex);
}

void MainComponent::buttonClicked (juce::Button* button)
{
    if (button == &restoreButton)
    {
        startRestoreDefaults();
    }
    else if (button == &writeButton)
    {
        startWriteConfig();
    }
    else if (button == &firmwareButton)
    {
        const auto caption = firmwareButton.getButtonText();

        if (caption == "Browse")
            chooseFirmwareFile();
        else if (caption == "Update")
            startFirmwareUpdate();
    }
}

bool MainComponent::keyPressed (const juce::KeyPress& key, juce::Component*)
{
    const auto mods = key.getModifiers();

    if (mods.isShiftDown() || mods.isCtrlDown() || mods.isAltDown())
        return false;

    const int code = key.getKeyCode();

    if (code == juce::KeyPress::F5Key)
    {
        startDetect (link.portIndex);
        return true;
    }

    if (code == juce::KeyPress::F3Key)
    {
        startReadConfig();
        return true;
    }

    if (code == juce::KeyPress::F2Key || code == juce::KeyPress::returnKey)
    {
        startWriteConfig();
        return true;
    }

    return false;
}

void MainComponent::mouseDown (const juce::MouseEvent& event)
{
    if (event.eventComponent != &versionReadout)
        return;

    const juce::int64 now = juce::Time::currentTimeMillis();
    clickCount = (now - lastClickTime <= maxClickGapMs) ? clickCount + 1 : 1;
    lastClickTime = now;

    if (clickCount < clicksToToggleLog)
        return;

    clickCount = 0;
    logVisible = ! logVisible;
    logView.setVisible (logVisible);
    setPanelState (currentPanelState);

    if (logVisible)
    {
        if (worker == nullptr && currentPanelState != 0 && link.portIndex != -1)
            startListen();   // refused unless the receiver on this port was detected
    }
    else if (worker != nullptr && worker->kind == JobKind::Listen && worker->isThreadRunning())
    {
        worker->signalThreadShouldExit();
    }
}
