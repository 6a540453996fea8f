// Panel states, the live port list and the panel's destruction.

#include "panel/MainComponent.h"

#include "jobs/TextRules.h"
#include "panel/BtThread.h"
#include "protocol/DeviceState.h"
#include "serial/PortDescription.h"
#include "serial/PortTable.h"

namespace
{
    constexpr int panelWidth = 325;
    constexpr int panelHeights[4] = { 115, 437, 237, 407 };
    constexpr int logHeight = 150;
}

void MainComponent::setPanelState (int state)
{
    state = juce::jlimit (0, 3, state);
    currentPanelState = state;

    const bool form = state != 0;
    const bool full = state == 1 || state == 3;

    for (auto* c : { (juce::Component*) &nameLabel, (juce::Component*) &nameField,
                     (juce::Component*) &pinLabel, (juce::Component*) &pinField })
        c->setVisible (form);

    for (auto* c : { (juce::Component*) &stereoLabel, (juce::Component*) &stereoSelector,
                     (juce::Component*) &maxDevicesLabel, (juce::Component*) &maxDevicesSelector,
                     (juce::Component*) &restoreLabel, (juce::Component*) &restoreToggle,
                     (juce::Component*) &ledLabel, (juce::Component*) &ledToggle,
                     (juce::Component*) &restoreButton, (juce::Component*) &firmwareCaption,
                     (juce::Component*) &firmwareButton, (juce::Component*) &firmwareLabel })
        c->setVisible (full);

    gpoLabel.setVisible (state == 1);
    gpoSelector.setVisible (state == 1);
    writeButton.setVisible (form);

    // A firmware file chosen for an earlier device has to be chosen again.
    if (full)
    {
        firmwareButton.setButtonText ("Browse");
        firmwareButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xFF263224));
        firmwareLabel.setText ("Click browse to select a firmware to update", juce::dontSendNotification);
        firmwareLabel.setEditable (false, false, false);
    }

    const int height = panelHeights[state] + (logVisible ? logHeight : 0);

    // Every state has its own height, but re-lay out even when the size stays.
    if (getWidth() == panelWidth && getHeight() == height)
        resized();
    else
        setSize (panelWidth, height);
}

void MainComponent::refreshPortList()
{
    const int n = enumeratePorts();
    bool changed = n != portNames.size();

    if (! changed)
    {
        for (int i = 0; i < n; ++i)
        {
            const juce::String name (portDisplayName (i));
            if (name != portNames[i])
            {
                portNames.set (i, name);
                changed = true;
            }
        }
    }

    if (! changed)
        return;

    const juce::String previousName = selectedPortName;
    link.portIndex = -1;
    portSelector.clear (juce::sendNotificationAsync);
    portNames.clear();

    // What each port is: read by the port table once per port, so a changed list costs little.
    juce::StringArray descriptions;
    for (int i = 0; i < n; ++i)
        descriptions.add (juce::String::fromUTF8 (TextRules::visible (portDescription (i).text()).c_str()));
    portSelector.setDescriptions (descriptions);

    if (n == 0)
    {
        clearDevice();
        return;
    }

    bool found = false;

    for (int i = 0; i < n; ++i)
    {
        const juce::String name (portDisplayName (i));
        portSelector.addItem (name, i + 1);
        portNames.add (name);

        if (name == previousName && ! found)
        {
            portSelector.setSelectedId (i + 1, juce::sendNotificationAsync);
            clearDevice();
            link.portIndex = i;
            found = true;
        }
    }

    if (! found)
    {
        link.portIndex = -1;
        clearDevice();
    }
    showPortHelp (link.portIndex);
}

void MainComponent::showPortHelp (int index)
{
    // The help text names the chosen port's kind: the box itself shows only its name.
    const auto description = portSelector.descriptionOf (index);
    portSelector.setTooltip (juce::String (portSelectorHelp) + (description.isEmpty() ? "" : "\n" + description));
}

bool MainComponent::refreshHeld() const
{
    return choosingPort || choosingFile
        || juce::ModalComponentManager::getInstance()->getNumModalComponents() > 0;
}

void MainComponent::timerCallback()
{
    // Not under a job, and not under an open question or chooser, whose answer
    // belongs to the list as it was when it opened.
    if (worker != nullptr || refreshHeld())
        return;

    stopTimer();
    refreshPortList();
    startTimer (1000);
}

MainComponent::~MainComponent()
{
    thePanel = nullptr;
    link.traceSink = nullptr;

    if (worker != nullptr)
    {
        if (worker->isThreadRunning())
            worker->signalThreadShouldExit();
        worker.reset();
    }

    closeAllPorts();
    removeBusyOverlay();
}

