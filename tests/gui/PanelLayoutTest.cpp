// The panel's controls, texts and geometry in each of its four states.

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"
#include "tests/TestResets.h"

namespace
{
    // Bounds by state; an empty rectangle means hidden in that state.
    struct Expected
    {
        const char* control;
        juce::Rectangle<int> bounds[4];
    };

    juce::Rectangle<int> r (int x, int y, int w) { return { x, y, w, 25 }; }
    const juce::Rectangle<int> hidden;

    const std::vector<Expected> layout = {
        { "portLabel",          { r (10, 18, 100), r (10, 18, 100), r (10, 18, 100), r (10, 18, 100) } },
        { "portSelector",       { r (110, 18, 200), r (110, 18, 200), r (110, 18, 200), r (110, 18, 200) } },
        { "deviceLabel",        { r (10, 48, 100), r (10, 48, 100), r (10, 48, 100), r (10, 48, 100) } },
        { "deviceReadout",      { r (110, 48, 200), r (110, 48, 200), r (110, 48, 200), r (110, 48, 200) } },
        { "versionLabel",       { r (10, 78, 100), r (10, 78, 100), r (10, 78, 100), r (10, 78, 100) } },
        { "versionReadout",     { r (110, 78, 200), r (110, 78, 200), r (110, 78, 200), r (110, 78, 200) } },
        { "nameLabel",          { hidden, r (10, 123, 100), r (10, 123, 100), r (10, 123, 100) } },
        { "nameField",          { hidden, r (110, 123, 200), r (110, 123, 200), r (110, 123, 200) } },
        { "pinLabel",           { hidden, r (10, 153, 100), r (10, 153, 100), r (10, 153, 100) } },
        { "pinField",           { hidden, r (110, 153, 200), r (110, 153, 200), r (110, 153, 200) } },
        { "stereoLabel",        { hidden, r (10, 183, 100), hidden, r (10, 183, 100) } },
        { "stereoSelector",     { hidden, r (110, 183, 200), hidden, r (110, 183, 200) } },
        { "maxDevicesLabel",    { hidden, r (10, 213, 100), hidden, r (10, 213, 100) } },
        { "maxDevicesSelector", { hidden, r (110, 213, 200), hidden, r (110, 213, 200) } },
        { "gpoLabel",           { hidden, r (10, 243, 100), hidden, hidden } },
        { "gpoSelector",        { hidden, r (110, 243, 200), hidden, hidden } },
        { "restoreLabel",       { hidden, r (10, 273, 100), hidden, r (10, 243, 100) } },
        { "restoreToggle",      { hidden, r (110, 273, 90), hidden, r (110, 243, 90) } },
        { "ledLabel",           { hidden, r (10, 303, 100), hidden, r (10, 273, 100) } },
        { "ledToggle",          { hidden, r (110, 303, 90), hidden, r (110, 273, 90) } },
        { "restoreButton",      { hidden, r (30, 336, 140), hidden, r (30, 306, 140) } },
        { "writeButton",        { hidden, r (220, 336, 70), r (220, 186, 70), r (220, 306, 70) } },
        { "firmwareCaption",    { hidden, r (10, 369, 305), hidden, r (10, 339, 305) } },
        { "firmwareButton",     { hidden, r (10, 399, 70), hidden, r (10, 369, 70) } },
        { "firmwareLabel",      { hidden, r (90, 399, 225), hidden, r (90, 369, 225) } },
    };

    const int heights[4] = { 115, 437, 237, 407 };

    class PanelLayout : public testing::Test
    {
    protected:
        void SetUp() override
        {
            resetPortTable();
            panel = std::make_unique<MainComponent>();
        }

        void TearDown() override { panel.reset(); }

        juce::Component* control (const char* name)
        {
            for (auto& [n, c] : MainComponentTestAccess (*panel).controls())
                if (juce::String (n) == name)
                    return c;
            ADD_FAILURE() << "no control " << name;
            return nullptr;
        }

        std::unique_ptr<MainComponent> panel;
    };
}

TEST_F (PanelLayout, StartsInStateZeroWithOnlyThePortDeviceAndVersionRows)
{
    MainComponentTestAccess access (*panel);
    EXPECT_EQ (MainComponent::panelState(), 0);
    EXPECT_EQ (panel->getWidth(), 325);
    EXPECT_EQ (panel->getHeight(), 115);
    EXPECT_TRUE (access.deviceReadout().getText().isEmpty());
    EXPECT_TRUE (access.versionReadout().getText().isEmpty());
    EXPECT_FALSE (access.logView().isVisible());
    EXPECT_EQ (MainComponentTestAccess (*panel).link().portIndex, -1);

    for (const auto& row : layout)
        EXPECT_EQ (control (row.control)->isVisible(), ! row.bounds[0].isEmpty()) << row.control;
}

TEST_F (PanelLayout, EveryStateShowsItsRowsAtTheirPlacesAndSizesThePanel)
{
    for (int withLog = 0; withLog < 2; ++withLog)
    {
        MainComponentTestAccess (*panel).setLogVisible (withLog == 1);

        for (int state : { 1, 2, 3, 0, 3, 1 })
        {
            panel->setPanelState (state);
            SCOPED_TRACE (juce::String::formatted ("state %d, log %d", state, withLog).toStdString());

            EXPECT_EQ (MainComponent::panelState(), state);
            EXPECT_EQ (panel->getWidth(), 325);
            EXPECT_EQ (panel->getHeight(), heights[state] + (withLog ? 150 : 0));

            for (const auto& row : layout)
            {
                auto* c = control (row.control);
                const auto& expected = row.bounds[state];
                EXPECT_EQ (c->isVisible(), ! expected.isEmpty()) << row.control;
                if (! expected.isEmpty())
                {
                    EXPECT_EQ (c->getBounds(), expected) << row.control;
                }
            }

            auto& log = MainComponentTestAccess (*panel).logView();
            EXPECT_EQ (log.isVisible(), withLog == 1);
            if (withLog)
            {
                EXPECT_EQ (log.getBounds(), juce::Rectangle<int> (10, panel->getHeight() - 145, 305, 140));
            }
        }
    }
}

TEST_F (PanelLayout, FormBottomEdgesMatchThePanelHeights)
{
    MainComponentTestAccess access (*panel);
    panel->setPanelState (1);
    EXPECT_EQ (access.firmwareLabel().getBottom(), 424);
    panel->setPanelState (3);
    EXPECT_EQ (access.firmwareLabel().getBottom(), 394);
    panel->setPanelState (2);
    EXPECT_EQ (access.writeButton().getBottom(), 211);
    access.setLogVisible (true);
    EXPECT_EQ (panel->getHeight(), 387);
}

TEST_F (PanelLayout, ControlsCarryTheirTextsTooltipsAndColours)
{
    MainComponentTestAccess a (*panel);

    struct LabelCase { juce::Label* label; const char* text; const char* tooltip; bool right; };
    const LabelCase labels[] = {
        { &a.portLabel(), "Port:", "", true },
        { &a.deviceLabel(), "Device: ", "", true },
        { &a.versionLabel(), "Version: ", "", true },
        { &a.nameLabel(), "Name:", "Bluetooth device name. Couldn't be blank", true },
        { &a.pinLabel(), "PIN:", "Set the pin number 0000-9999 or leave it blank", true },
        { &a.stereoLabel(), "Stereo/Mono:", "Sets the output mode to Stereo (L,R) or Mono (L+R)", true },
        { &a.maxDevicesLabel(), "Max devices:", "Allows pairing of 1 or 8 devices", true },
        { &a.gpoLabel(), "GPO type:", "When A2DP streaming set the relay status to open or close", true },
        { &a.restoreLabel(), "Restore ctrl:",
          "Allows user to restore factory defaults just pressing Rulko frontal button", true },
        { &a.ledLabel(), "Led ctrl:", "Allows user to disable Bluetooth led", true },
        { &a.firmwareCaption(), "Update device firmware", "", false },
        { &a.firmwareLabel(), "Click browse to select a firmware to update", "", false },
    };

    for (const auto& c : labels)
    {
        EXPECT_EQ (c.label->getText(), c.text);
        EXPECT_EQ (c.label->getTooltip(), c.tooltip) << c.text;
        EXPECT_EQ (c.label->getJustificationType(),
                   c.right ? juce::Justification::right : juce::Justification::left) << c.text;
        EXPECT_FALSE (c.label->isEditableOnSingleClick()) << c.text;
    }

    EXPECT_EQ (a.portSelector().getTooltip(), "Select Korva Bluetooth serial port. F5 to refresh list");
    EXPECT_EQ (a.writeButton().getTooltip(), "F2 to write current config to device");
    EXPECT_EQ (a.writeButton().getButtonText(), "Write");
    EXPECT_EQ (a.restoreButton().getButtonText(), "Restore defaults");
    EXPECT_EQ (a.firmwareButton().getButtonText(), "Browse");

    const juce::Colour dark (0xFF263224), blue (0xFF00008B), red (0xFFFF0000);
    EXPECT_EQ (a.deviceReadout().findColour (juce::Label::backgroundColourId), dark);
    EXPECT_EQ (a.versionReadout().findColour (juce::Label::backgroundColourId), dark);
    EXPECT_EQ (a.firmwareLabel().findColour (juce::Label::backgroundColourId), dark);
    EXPECT_EQ (a.nameField().findColour (juce::Label::backgroundColourId), blue);
    EXPECT_EQ (a.pinField().findColour (juce::Label::backgroundColourId), blue);
    EXPECT_EQ (a.firmwareButton().findColour (juce::TextButton::buttonColourId), dark);
    EXPECT_EQ (a.writeButton().findColour (juce::TextButton::buttonColourId), red);
    EXPECT_EQ (a.restoreButton().findColour (juce::TextButton::buttonColourId), red);
    EXPECT_EQ (a.firmwareCaption().findColour (juce::Label::textColourId), red);
    EXPECT_TRUE (a.firmwareCaption().getFont().isUnderlined());

    EXPECT_TRUE (a.nameField().isEditableOnSingleClick());
    EXPECT_TRUE (a.pinField().isEditableOnSingleClick());
    EXPECT_FALSE (a.deviceReadout().isEditable());

    struct SelectorCase { juce::ComboBox* box; juce::StringArray items; };
    const SelectorCase selectors[] = {
        { &a.stereoSelector(), { "Stereo", "Mono" } },
        { &a.maxDevicesSelector(), { "1", "8" } },
        { &a.gpoSelector(), { "Normally open", "Normally close" } },
    };
    for (const auto& s : selectors)
    {
        ASSERT_EQ (s.box->getNumItems(), 2);
        for (int i = 0; i < 2; ++i)
        {
            EXPECT_EQ (s.box->getItemText (i), s.items[i]);
            EXPECT_EQ (s.box->getItemId (i), i + 1);
        }
        EXPECT_EQ (s.box->getSelectedId(), 0);
        EXPECT_FALSE (s.box->isTextEditable());
    }

    auto& log = a.logView();
    EXPECT_EQ (log.getFont().getHeight(), 12.0f);
    EXPECT_EQ (log.getFont().getTypefaceName(), juce::Font::getDefaultMonospacedFontName());

    // The log view is in front of every control (only the always-on-top tooltip window may be above it).
    const int logIndex = panel->getIndexOfChildComponent (&log);
    for (auto& [name, c] : a.controls())
        EXPECT_LT (panel->getIndexOfChildComponent (c), logIndex) << name;
}

TEST_F (PanelLayout, EnteringAFullStateResetsTheFirmwareSection)
{
    MainComponentTestAccess a (*panel);
    panel->setPanelState (1);
    a.firmwareButton().setButtonText ("Update");
    a.firmwareButton().setColour (juce::TextButton::buttonColourId, juce::Colour (0xFFFF0000));
    a.firmwareLabel().setText ("image.bin", juce::dontSendNotification);

    panel->setPanelState (2);
    EXPECT_EQ (a.firmwareButton().getButtonText(), "Update");

    panel->setPanelState (3);
    EXPECT_EQ (a.firmwareButton().getButtonText(), "Browse");
    EXPECT_EQ (a.firmwareButton().findColour (juce::TextButton::buttonColourId), juce::Colour (0xFF263224));
    EXPECT_EQ (a.firmwareLabel().getText(), "Click browse to select a firmware to update");
}
