// GoogleTest on the JUCE message thread, with a real display (Xvfb in the test command).

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "GuiTestSupport.h"

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    RecordingLookAndFeel lookAndFeel;
    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);

    testing::InitGoogleTest (&argc, argv);
    const int result = RUN_ALL_TESTS();

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    return result;
}
