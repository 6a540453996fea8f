#include "panel/MainComponent.h"

#include "panel/BtThread.h"
#include "protocol/DeviceState.h"

namespace
{
    const juce::Colour readoutColour { 0xFF263224 };
    const juce::Colour fieldColour { 0xFF00008B };
    const juce::Colour alertColour { 0xFFFF0000 };

    void setUpLabel (juce::Label& label, const juce::String& text, const juce::String& help = {},
                     bool rightJustified = true)
    {
        label.setText (text, juce::dontSendNotification);
        label.setTooltip (help);
        if (rightJustified)
            label.setJustificationType (juce::Justification::right);
        label.setEditable (false, false, false);
    }

    void setUpReadout (juce::Label& label, juce::Colour background, bool editable)
    {
        label.setColour (juce::Label::backgroundColourId, background);
        label.setEditable (editable, false, false);
    }

    // Control rows from "Name:" on: y per panel state, -1 where the row is absent
    // (absent rows are hidden and not moved).
    struct RowPlacement { int y[4]; };
    constexpr RowPlacement nameRow        { { -1, 123, 123, 123 } };
    constexpr RowPlacement pinRow         { { -1, 153, 153, 153 } };
    constexpr RowPlacement stereoRow      { { -1, 183,  -1, 183 } };
    constexpr RowPlacement maxDevicesRow  { { -1, 213,  -1, 213 } };
    constexpr RowPlacement gpoRow         { { -1, 243,  -1,  -1 } };
    constexpr RowPlacement restoreRow     { { -1, 273,  -1, 243 } };
    constexpr RowPlacement ledRow         { { -1, 303,  -1, 273 } };
    constexpr RowPlacement restoreBtnRow  { { -1, 336,  -1, 306 } };
    constexpr RowPlacement writeBtnRow    { { -1, 336, 186, 306 } };
    constexpr RowPlacement fwCaptionRow   { { -1, 369,  -1, 339 } };
    constexpr RowPlacement fwRow          { { -1, 399,  -1, 369 } };

    constexpr int rowHeight = 25;
}

int MainComponent::currentPanelState = 0;
std::atomic<MainComponent*> MainComponent::thePanel { nullptr };

MainComponent::MainComponent()
{
    portSelector.setTooltip (portSelectorHelp);
    portSelector.addListener (this);

    setUpLabel (portLabel, "Port:");
    setUpLabel (deviceLabel, "Device: ");
    setUpReadout (deviceReadout, readoutColour, false);
    setUpLabel (versionLabel, "Version: ");
    setUpReadout (versionReadout, readoutColour, false);
    versionReadout.addMouseListener (this, false);

    setUpLabel (nameLabel, "Name:", "Bluetooth device name. Couldn't be blank");
    setUpReadout (nameField, fieldColour, true);
    setUpLabel (pinLabel, "PIN:", "Set the pin number 0000-9999 or leave it blank");
    setUpReadout (pinField, fieldColour, true);

    setUpLabel (stereoLabel, "Stereo/Mono:", "Sets the output mode to Stereo (L,R) or Mono (L+R)");
    stereoSelector.addItem ("Stereo", 1);
    stereoSelector.addItem ("Mono", 2);
    setUpLabel (maxDevicesLabel, "Max devices:", "Allows pairing of 1 or 8 devices");
    maxDevicesSelector.addItem ("1", 1);
    maxDevicesSelector.addItem ("8", 2);
    setUpLabel (gpoLabel, "GPO type:", "When A2DP streaming set the relay status to open or close");
    gpoSelector.addItem ("Normally open", 1);
    gpoSelector.addItem ("Normally close", 2);

    setUpLabel (restoreLabel, "Restore ctrl:",
                "Allows user to restore factory defaults just pressing Rulko frontal button");
    restoreToggle.addListener (this);
    setUpLabel (ledLabel, "Led ctrl:", "Allows user to disable Bluetooth led");
    ledToggle.addListener (this);

    restoreButton.setButtonText ("Restore defaults");
    restoreButton.setColour (juce::TextButton::buttonColourId, alertColour);
    restoreButton.addListener (this);
    writeButton.setButtonText ("Write");
    writeButton.setTooltip ("F2 to write current config to device");
    writeButton.setColour (juce::TextButton::buttonColourId, alertColour);
    writeButton.addListener (this);

    setUpLabel (firmwareCaption, "Update device firmware", {}, false);
    firmwareCaption.setJustificationType (juce::Justification::left);
    firmwareCaption.setFont (firmwareCaption.getFont().withStyle (juce::Font::underlined));
    firmwareCaption.setColour (juce::Label::textColourId, alertColour);

    firmwareButton.setButtonText ("Browse");
    firmwareButton.setColour (juce::TextButton::buttonColourId, readoutColour);
    firmwareButton.addListener (this);

    setUpLabel (firmwareLabel, "Click browse to select a firmware to update", {}, false);
    firmwareLabel.setJustificationType (juce::Justification::left);
    firmwareLabel.setColour (juce::Label::backgroundColourId, readoutColour);

    logView.setFont (juce::Font (juce::Font::getDefaultMonospacedFontName(), 12.0f, juce::Font::plain));

    for (auto* child : std::initializer_list<juce::Component*> {
             &portLabel, &portSelector, &deviceReadout, &deviceLabel, &versionLabel, &versionReadout,
             &nameLabel, &nameField, &pinLabel, &pinField, &stereoLabel, &stereoSelector,
             &maxDevicesLabel, &maxDevicesSelector, &gpoLabel, &gpoSelector, &restoreLabel, &restoreToggle,
             &ledLabel, &ledToggle, &restoreButton, &writeButton, &firmwareCaption, &firmwareButton,
             &firmwareLabel })
        addAndMakeVisible (child);

    addChildComponent (logView);

    link.traceSink = this;
    thePanel = this;
    setPanelState (0);
    refreshPortList();
    link.portIndex = -1;
    addKeyListener (this);
    startTimer (1000);
}

void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (getLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId));
}

void MainComponent::resized()
{
    const int s = juce::jlimit (0, 3, currentPanelState);

    auto placeRow = [] (juce::Component& label, juce::Component& value, int y, int valueWidth = 200)
    {
        label.setBounds (10, y, 100, rowHeight);
        value.setBounds (110, y, valueWidth, rowHeight);
    };

    placeRow (portLabel, portSelector, 18);
    placeRow (deviceLabel, deviceReadout, 48);
    placeRow (versionLabel, versionReadout, 78);

    auto placeIn = [s] (const RowPlacement& row, auto&& place)
    {
        if (row.y[s] >= 0)
            place (row.y[s]);
    };

    placeIn (nameRow,       [&] (int y) { placeRow (nameLabel, nameField, y); });
    placeIn (pinRow,        [&] (int y) { placeRow (pinLabel, pinField, y); });
    placeIn (stereoRow,     [&] (int y) { placeRow (stereoLabel, stereoSelector, y); });
    placeIn (maxDevicesRow, [&] (int y) { placeRow (maxDevicesLabel, maxDevicesSelector, y); });
    placeIn (gpoRow,        [&] (int y) { placeRow (gpoLabel, gpoSelector, y); });
    placeIn (restoreRow,    [&] (int y) { placeRow (restoreLabel, restoreToggle, y, 90); });
    placeIn (ledRow,        [&] (int y) { placeRow (ledLabel, ledToggle, y, 90); });
    placeIn (restoreBtnRow, [&] (int y) { restoreButton.setBounds (30, y, 140, rowHeight); });
    placeIn (writeBtnRow,   [&] (int y) { writeButton.setBounds (220, y, 70, rowHeight); });
    placeIn (fwCaptionRow,  [&] (int y) { firmwareCaption.setBounds (10, y, 305, rowHeight); });
    placeIn (fwRow,         [&] (int y)
    {
        firmwareButton.setBounds (10, y, 70, rowHeight);
        firmwareLabel.setBounds (90, y, 225, rowHeight);
    });

    if (logVisible)
        logView.setBounds (10, getHeight() - 145, 305, 140);
}

//==============================================================================
MainComponent* MainComponent::panelPointer() noexcept
{
    return thePanel.load();
}

bool MainComponent::traceWanted() const
{
    return logVisible.load();
}

void MainComponent::postTraceLine (std::string line)
{
    logQueue.post (std::move (line));
}

void MainComponent::appendLogLine (const juce::String& line)
{
    if (auto* panel = panelPointer())
    {
        panel->logQueue.flush();
        panel->logView.appendLine (line.toStdString());
    }
}
