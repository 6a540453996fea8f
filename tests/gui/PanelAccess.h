#pragma once
// Test access to the panel's private controls, by name.

#include "panel/MainComponent.h"

struct MainComponentTestAccess
{
    explicit MainComponentTestAccess (MainComponent& p) : panel (p) {}

    juce::ComboBox& portSelector() { return panel.portSelector; }
    juce::Label& portLabel() { return panel.portLabel; }
    juce::Label& deviceLabel() { return panel.deviceLabel; }
    juce::Label& deviceReadout() { return panel.deviceReadout; }
    juce::Label& versionLabel() { return panel.versionLabel; }
    juce::Label& versionReadout() { return panel.versionReadout; }
    juce::Label& nameLabel() { return panel.nameLabel; }
    juce::Label& nameField() { return panel.nameField; }
    juce::Label& pinLabel() { return panel.pinLabel; }
    juce::Label& pinField() { return panel.pinField; }
    juce::Label& stereoLabel() { return panel.stereoLabel; }
    juce::ComboBox& stereoSelector() { return panel.stereoSelector; }
    juce::Label& maxDevicesLabel() { return panel.maxDevicesLabel; }
    juce::ComboBox& maxDevicesSelector() { return panel.maxDevicesSelector; }
    juce::Label& gpoLabel() { return panel.gpoLabel; }
    juce::ComboBox& gpoSelector() { return panel.gpoSelector; }
    juce::Label& restoreLabel() { return panel.restoreLabel; }
    juce::ToggleButton& restoreToggle() { return panel.restoreToggle; }
    juce::Label& ledLabel() { return panel.ledLabel; }
    juce::ToggleButton& ledToggle() { return panel.ledToggle; }
    juce::TextButton& restoreButton() { return panel.restoreButton; }
    juce::TextButton& writeButton() { return panel.writeButton; }
    juce::Label& firmwareCaption() { return panel.firmwareCaption; }
    juce::TextButton& firmwareButton() { return panel.firmwareButton; }
    juce::Label& firmwareLabel() { return panel.firmwareLabel; }
    EventLogView& logView() { return panel.logView; }
    LogLineQueue& logQueue() { return panel.logQueue; }
    std::unique_ptr<MainComponent::BtThread>& worker() { return panel.worker; }
    Link& link() { return panel.link; }

    /** Marks the receiver on port index as detected, as a successful detect does. */
    void setDetectedPort (int index) { panel.detectedPort = index; }

    /** Shows or hides the log as the hidden gesture does, without the clicks. */
    void setLogVisible (bool v)
    {
        panel.logVisible = v;
        panel.logView.setVisible (v);
        panel.setPanelState (MainComponent::panelState());
    }

    /** Every control with a name for tables, in the panel's child order. */
    std::vector<std::pair<const char*, juce::Component*>> controls()
    {
        return {
            { "portLabel", &panel.portLabel }, { "portSelector", &panel.portSelector },
            { "deviceReadout", &panel.deviceReadout }, { "deviceLabel", &panel.deviceLabel },
            { "versionLabel", &panel.versionLabel }, { "versionReadout", &panel.versionReadout },
            { "nameLabel", &panel.nameLabel }, { "nameField", &panel.nameField },
            { "pinLabel", &panel.pinLabel }, { "pinField", &panel.pinField },
            { "stereoLabel", &panel.stereoLabel }, { "stereoSelector", &panel.stereoSelector },
            { "maxDevicesLabel", &panel.maxDevicesLabel }, { "maxDevicesSelector", &panel.maxDevicesSelector },
            { "gpoLabel", &panel.gpoLabel }, { "gpoSelector", &panel.gpoSelector },
            { "restoreLabel", &panel.restoreLabel }, { "restoreToggle", &panel.restoreToggle },
            { "ledLabel", &panel.ledLabel }, { "ledToggle", &panel.ledToggle },
            { "restoreButton", &panel.restoreButton }, { "writeButton", &panel.writeButton },
            { "firmwareCaption", &panel.firmwareCaption }, { "firmwareButton", &panel.firmwareButton },
            { "firmwareLabel", &panel.firmwareLabel },
        };
    }

    MainComponent& panel;
};
