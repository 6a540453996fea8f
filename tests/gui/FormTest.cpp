// The settings form: the mapping to and from the device record, and the
// write starter's refusal. The text rules themselves: tests/jobs/TextRulesTest.cpp.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"
#include "tests/TestResets.h"

class Form : public testing::Test
{
protected:
    void SetUp() override
    {
        resetPortTable();
        panel = std::make_unique<MainComponent>();
    }

    /** As after a detect: the type known, nothing else. */
    void detectedAs (uint8_t type)
    {
        MainComponentTestAccess (*panel).link().device.typeCode = type;
        std::memset (&MainComponentTestAccess (*panel).link().device.config, 0, sizeof (DeviceConfig));
    }

    std::unique_ptr<MainComponent> panel;
};

TEST_F (Form, EmptySelectorsAndTogglesMapToTheirDefaults)
{
    MainComponentTestAccess a (*panel);
    a.nameField().setText ("Kitchen", juce::dontSendNotification);
    a.pinField().setText ("", juce::dontSendNotification);
    auto& config = MainComponentTestAccess (*panel).link().device.config;
    std::memset (&config, 0x55, sizeof (config));

    ASSERT_TRUE (panel->readForm (0xF0));
    EXPECT_STREQ (reinterpret_cast<const char*> (config.name), "Kitchen");
    EXPECT_EQ (config.name[32], 0x55) << "the terminator byte is never written by the form";
    EXPECT_EQ (std::vector<uint8_t> (config.pin, config.pin + 4), std::vector<uint8_t> (4, 0));
    EXPECT_EQ (config.maxDevices, 8);
    EXPECT_EQ (config.gpoNormallyOpen, 0);
    EXPECT_EQ (config.stereo, 0);
    EXPECT_EQ (config.ledControl, 0);
    EXPECT_EQ (config.restoreControl, 0);
}

TEST_F (Form, SetControlsMapToTheRecordAndBack)
{
    MainComponentTestAccess a (*panel);
    a.nameField().setText ("Garden", juce::dontSendNotification);
    a.pinField().setText ("0427", juce::dontSendNotification);
    a.stereoSelector().setSelectedId (1);
    a.maxDevicesSelector().setSelectedId (1);
    a.gpoSelector().setSelectedId (1);
    a.ledToggle().setToggleState (true, juce::dontSendNotification);
    ASSERT_TRUE (panel->readForm (0xF2));

    const auto& config = MainComponentTestAccess (*panel).link().device.config;
    EXPECT_EQ (juce::String (reinterpret_cast<const char*> (config.pin), 4), "0427");
    EXPECT_EQ (config.stereo, 1);
    EXPECT_EQ (config.maxDevices, 1);
    EXPECT_EQ (config.gpoNormallyOpen, 1);
    EXPECT_EQ (config.ledControl, 1);
    EXPECT_EQ (config.restoreControl, 0);

    panel->clearForm();
    EXPECT_EQ (a.stereoSelector().getSelectedId(), 0);
    EXPECT_TRUE (a.nameField().getText().isEmpty());

    panel->fillForm (0xF2);
    EXPECT_EQ (a.nameField().getText(), "Garden");
    EXPECT_EQ (a.pinField().getText(), "0427");
    EXPECT_EQ (a.stereoSelector().getSelectedId(), 1);
    EXPECT_EQ (a.maxDevicesSelector().getSelectedId(), 1);
    EXPECT_EQ (a.gpoSelector().getSelectedId(), 1);
    EXPECT_TRUE (a.ledToggle().getToggleState());
    EXPECT_FALSE (a.restoreToggle().getToggleState());
}

TEST_F (Form, HciDevicesTakeOnlyNameAndPin)
{
    MainComponentTestAccess a (*panel);
    a.nameField().setText ("Van", juce::dontSendNotification);
    a.pinField().setText ("1111", juce::dontSendNotification);
    a.stereoSelector().setSelectedId (1);
    const auto configBefore = MainComponentTestAccess (*panel).link().device.config;

    ASSERT_TRUE (panel->readForm (0xF1));
    EXPECT_STREQ (reinterpret_cast<const char*> (MainComponentTestAccess (*panel).link().device.hciConfig.name), "Van");
    EXPECT_EQ (std::memcmp (&configBefore, &MainComponentTestAccess (*panel).link().device.config, sizeof (DeviceConfig)), 0);

    panel->clearForm();
    panel->fillForm (0xF1);
    EXPECT_EQ (a.nameField().getText(), "Van");
    EXPECT_EQ (a.pinField().getText(), "1111");
    EXPECT_EQ (a.stereoSelector().getSelectedId(), 0) << "selectors are not touched for this type";
}

TEST_F (Form, InvalidFormsOrUnknownTypesAreRefusedWithoutChangingTheRecord)
{
    MainComponentTestAccess a (*panel);
    const auto before = MainComponentTestAccess (*panel).link().device.config;

    struct Case { const char* name; const char* pin; uint8_t type; };
    const Case cases[] = {
        { "", "", 0xF0 }, { "Ok", "123", 0xF0 }, { "Ok", "12345", 0xF2 }, { "Ok", "12a4", 0xF1 },
        { "Ok", "1234", 0x00 }, { "Ok", "1234", 0x55 },
    };

    for (const auto& c : cases)
    {
        a.nameField().setText (c.name, juce::dontSendNotification);
        a.pinField().setText (c.pin, juce::dontSendNotification);
        EXPECT_FALSE (panel->readForm (c.type)) << c.name << "/" << c.pin;
    }

    EXPECT_EQ (std::memcmp (&before, &MainComponentTestAccess (*panel).link().device.config, sizeof (DeviceConfig)), 0);
}

TEST_F (Form, WriteWithNoDeviceShowsTheRefusalAndStartsNoJob)
{
    ModalResponder responder;
    MainComponentTestAccess (*panel).nameField().setText ("Fine", juce::dontSendNotification);
    panel->startWriteConfig();

    ASSERT_EQ (responder.seen.size(), 1u);
    EXPECT_EQ (responder.seen[0].title, "Failed");
    EXPECT_EQ (responder.seen[0].message, "Please check parameters. It seems not valid");
    EXPECT_EQ (responder.seen[0].icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (panel->getWorker(), nullptr);
    EXPECT_EQ (MainComponent::getBusyOverlay(), nullptr);
}

// Names are judged in bytes, with the same message as the command line; a name
// the receiver holds is written back as it is, even one the rules refuse.
TEST_F (Form, NamesAreJudgedInBytesAndOnlyWhenChanged)
{
    MainComponentTestAccess a (*panel);
    juce::String cyrillic;
    for (int i = 0; i < 17; ++i)
        cyrillic += juce::String::fromUTF8 ("\xd0\x96");   // 17 letters, 34 bytes

    detectedAs (0xF0);
    a.nameField().setText (cyrillic, juce::dontSendNotification);
    {
        ModalResponder responder;
        panel->startWriteConfig();
        ASSERT_EQ (responder.seen.size(), 1u);
        EXPECT_TRUE (responder.seen[0].message.startsWith ("Please check parameters. It seems not valid\n"));
        EXPECT_TRUE (responder.seen[0].message.contains ("34 bytes")) << responder.seen[0].message;
        EXPECT_TRUE (responder.seen[0].message.contains ("at most 31 bytes"));
    }

    const std::string held (32, 'x');
    std::memcpy (MainComponentTestAccess (*panel).link().device.config.name, held.data(), held.size());
    a.nameField().setText (juce::String (held), juce::dontSendNotification);
    EXPECT_TRUE (panel->readForm (0xF0)) << "the receiver's own 32-byte name goes back unchanged";
    EXPECT_EQ (std::string (reinterpret_cast<const char*> (MainComponentTestAccess (*panel).link().device.config.name), 32), held);

    a.nameField().setText (juce::String (std::string (32, 'y')), juce::dontSendNotification);
    EXPECT_FALSE (panel->readForm (0xF0)) << "a new 32-byte name is refused";
}
