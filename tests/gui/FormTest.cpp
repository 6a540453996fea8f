// The settings form: validation, the mapping to and from the device record,
// and the write starter's refusal.

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "jobs/TextRules.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"

namespace
{
    juce::String utf8 (const char* s) { return juce::String::fromUTF8 (s); }
    juce::String repeat (const char* s, int n) { return juce::String::repeatedString (utf8 (s), n); }
}

TEST (TextRules, NameValidation)
{
    struct Case { juce::String name; bool valid; };
    const Case cases[] = {
        { "", false },
        { "a", true },
        { repeat ("a", 31), true },
        { repeat ("a", 32), false },
        { "Living room", true },
        { "Living\troom", false },
        { "Line\nbreak", false },
        { utf8 ("Caf\xc3\xa9"), true },                       // é, under any process locale
        { repeat ("\xc3\xa9", 31), true },                    // 31 characters, 62 bytes
        { utf8 ("Zero\xe2\x80\x8bwidth"), false },            // U+200B, a format character
        { utf8 ("\xe6\x97\xa5\xe6\x9c\xac"), true },          // CJK letters
        { utf8 ("Music \xe2\x99\xab"), true },                // a symbol
        { utf8 ("a\xc2\x85"), false },                        // C1 control
    };

    for (const auto& c : cases)
        EXPECT_EQ (TextRules::isValidName (c.name), c.valid) << c.name;
}

TEST (TextRules, PinValidation)
{
    struct Case { juce::String pin; bool valid; };
    const Case cases[] = {
        { "", true }, { "0000", true }, { "9999", true }, { "1234", true },
        { "123", false }, { "12345", false }, { "12a4", false }, { " 123", false },
        { utf8 ("\xd9\xa1\xd9\xa2\xd9\xa3\xd9\xa4"), false },   // Arabic-Indic digits are not ASCII digits
    };

    for (const auto& c : cases)
        EXPECT_EQ (TextRules::isValidPin (c.pin), c.valid) << c.pin;
}

TEST (TextRules, NamesAreCutAtWholeCharactersAndReadBackAsTheyWereWritten)
{
    uint8_t bytes[33] = {};

    // 31 characters, 62 bytes: only the first 16 whole characters fit.
    TextRules::encodeText (repeat ("\xc3\xa9", 31), bytes, 32);
    EXPECT_EQ (TextRules::decodeText (bytes, 32), repeat ("\xc3\xa9", 16));

    // 30 ASCII letters and a two-byte letter would end on byte 32 exactly...
    TextRules::encodeText (repeat ("a", 30) + utf8 ("\xc3\xa9"), bytes, 32);
    EXPECT_EQ (TextRules::decodeText (bytes, 32), repeat ("a", 30) + utf8 ("\xc3\xa9"));

    // ...but after 31 of them it would be split, so it is left out.
    TextRules::encodeText (repeat ("a", 31) + utf8 ("\xc3\xa9"), bytes, 32);
    EXPECT_EQ (bytes[31], 0);
    EXPECT_EQ (TextRules::decodeText (bytes, 32), repeat ("a", 31));

    const uint8_t hello[] = { 0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x00 };
    EXPECT_EQ (TextRules::decodeText (hello, 32), "Hello");

    const uint8_t latin1[] = { 0x43, 0x61, 0x66, 0xE9, 0x00 };      // not valid UTF-8
    EXPECT_EQ (TextRules::decodeText (latin1, 32), utf8 ("Caf\xc3\xa9"));

    const uint8_t unicode[] = { 0x43, 0x61, 0x66, 0xC3, 0xA9, 0x00 };
    EXPECT_EQ (TextRules::decodeText (unicode, 32), utf8 ("Caf\xc3\xa9"));

    // Round trip: what is written is what is read.
    for (const auto& name : { utf8 ("Caf\xc3\xa9"), utf8 ("\xe6\x97\xa5\xe6\x9c\xac"), juce::String ("Plain") })
    {
        TextRules::encodeText (name, bytes, 32);
        EXPECT_EQ (TextRules::decodeText (bytes, 32), name);
    }
}

class Form : public testing::Test
{
protected:
    void SetUp() override
    {
        resetPortTable();
        resetDeviceState();
        panel = std::make_unique<MainComponent>();
    }

    std::unique_ptr<MainComponent> panel;
};

TEST_F (Form, EmptySelectorsAndTogglesMapToTheirDefaults)
{
    MainComponentTestAccess a (*panel);
    a.nameField().setText ("Kitchen", juce::dontSendNotification);
    a.pinField().setText ("", juce::dontSendNotification);
    auto& config = deviceState().config;
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

    const auto& config = deviceState().config;
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
    const auto configBefore = deviceState().config;

    ASSERT_TRUE (panel->readForm (0xF1));
    EXPECT_STREQ (reinterpret_cast<const char*> (deviceState().hciConfig.name), "Van");
    EXPECT_EQ (std::memcmp (&configBefore, &deviceState().config, sizeof (DeviceConfig)), 0);

    panel->clearForm();
    panel->fillForm (0xF1);
    EXPECT_EQ (a.nameField().getText(), "Van");
    EXPECT_EQ (a.pinField().getText(), "1111");
    EXPECT_EQ (a.stereoSelector().getSelectedId(), 0) << "selectors are not touched for this type";
}

TEST_F (Form, InvalidFormsOrUnknownTypesAreRefusedWithoutChangingTheRecord)
{
    MainComponentTestAccess a (*panel);
    const auto before = deviceState().config;

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

    EXPECT_EQ (std::memcmp (&before, &deviceState().config, sizeof (DeviceConfig)), 0);
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
