// GoogleTest on the JUCE message thread, with a real display (Xvfb in the test command).

#include <gtest/gtest.h>

#include <stdlib.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "GuiTestSupport.h"

int main (int argc, char** argv)
{
    // The window keeps the user's settings: the tests keep theirs in a folder of their own.
    const auto config = juce::File::createTempFile ("korva-gui-config");
    config.createDirectory();
    ::setenv ("XDG_CONFIG_HOME", config.getFullPathName().toRawUTF8(), 1);

    juce::ScopedJuceInitialiser_GUI juce;
    RecordingLookAndFeel lookAndFeel;
    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);

    testing::InitGoogleTest (&argc, argv);
    const int result = RUN_ALL_TESTS();

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    config.deleteRecursively();
    return result;
}
