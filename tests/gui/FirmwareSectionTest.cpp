// The panel's firmware section: checking a chosen file against the device
// shown, and what the button and label show afterwards.

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "PanelAccess.h"
#include "firmware/FirmwareImage.h"
#include "serial/PortTable.h"
#include "tools/imagebuilder/ImageBuilder.h"
#include "tests/TestResets.h"

namespace
{
    juce::File writeImage (const juce::File& dir, const char* name, const char* model)
    {
        imagebuilder::ImageRecipe recipe;
        recipe.model = model;
        recipe.mcuCode = imagebuilder::patternBytes (1000, 1);
        recipe.dspHeader = imagebuilder::patternBytes (100, 2);
        recipe.dspCode = imagebuilder::patternBytes (1500, 3);
        recipe.config = imagebuilder::patternBytes (600, 4);
        const auto file = dir.getChildFile (name);
        imagebuilder::writeFile (file.getFullPathName().toStdString(), imagebuilder::buildImage (recipe));
        return file;
    }
}

TEST (FirmwareSection, AcceptedAndRefusedFilesAsTheUserSeesThem)
{
    resetPortTable();
    auto dir = juce::File::createTempFile ("korva-images");
    dir.createDirectory();
    const auto rulko = writeImage (dir, "rulko.bin", "RULKO");
    const auto doru = writeImage (dir, "doru.bin", "DORU-415QX");

    MainComponent panel;
    MainComponentTestAccess a (panel);
    ModalResponder responder;
    const juce::Colour dark (0xFF263224), red (0xFFFF0000);

    // A Rulko is shown: the DORU image is refused and the prompt comes back.
    panel.setPanelState (1);
    EXPECT_FALSE (panel.checkFirmwareFile (doru));
    ASSERT_EQ (responder.seen.size(), 1u);
    EXPECT_EQ (responder.seen[0].title, "Some error ocurred");
    EXPECT_EQ (responder.seen[0].message, "Selected file is not compatible with your hardware");
    EXPECT_EQ (responder.seen[0].icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (a.firmwareLabel().getText(), "Click browse to select a firmware to update");
    EXPECT_EQ (a.firmwareButton().getButtonText(), "Browse");
    EXPECT_EQ (a.firmwareButton().findColour (juce::TextButton::buttonColourId), dark);

    // The Rulko image is accepted: "Update", red, and the file's name without its folders.
    EXPECT_TRUE (panel.checkFirmwareFile (rulko));
    EXPECT_EQ (a.firmwareButton().getButtonText(), "Update");
    EXPECT_EQ (a.firmwareButton().findColour (juce::TextButton::buttonColourId), red);
    EXPECT_EQ (a.firmwareLabel().getText(), "rulko.bin");

    // A DORU shown next: the Rulko image no longer fits, and the section starts over.
    panel.setPanelState (3);
    EXPECT_EQ (a.firmwareButton().getButtonText(), "Browse");
    EXPECT_FALSE (panel.checkFirmwareFile (rulko));
    EXPECT_TRUE (panel.checkFirmwareFile (doru));

    // With no device, or an HCI device, there is nothing to choose: no chooser opens.
    for (int state : { 0, 2 })
    {
        panel.setPanelState (state);
        panel.chooseFirmwareFile();
        EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
        EXPECT_FALSE (panel.checkFirmwareFile (rulko)) << "state " << state;
    }

    dir.deleteRecursively();
}
