#include "app/KorvaApplication.h"

#include "app/PlatformGlue.h"

#include "panel/MainComponent.h"

const juce::String korvaplenvarfirmwareApplication::getApplicationName()    { return "Korva Bluetooth Manager"; }
const juce::String korvaplenvarfirmwareApplication::getApplicationVersion() { return "1.03"; }
bool korvaplenvarfirmwareApplication::moreThanOneInstanceAllowed()          { return false; }

void korvaplenvarfirmwareApplication::initialise (const juce::String&)
{
    mainWindow = std::make_unique<MainWindow> (getApplicationName() + " " + getApplicationVersion() + " (F5 refresh)");
    repaintPump = startRepaintPumpIfNeeded();
}

void korvaplenvarfirmwareApplication::shutdown()
{
    repaintPump = nullptr;
    mainWindow = nullptr;
}

void korvaplenvarfirmwareApplication::anotherInstanceStarted (const juce::String&)
{
}

void korvaplenvarfirmwareApplication::systemRequestedQuit()
{
    quit();
}

//==============================================================================
korvaplenvarfirmwareApplication::MainWindow::MainWindow (const juce::String& title)
    : juce::DocumentWindow (title,
                            juce::LookAndFeel::getDefaultLookAndFeel()
                                .findColour (juce::ResizableWindow::backgroundColourId),
                            juce::DocumentWindow::closeButton,
                            true)
{
    setUsingNativeTitleBar (true);
    setContentOwned (new MainComponent(), true);
    setResizable (false, true);
    centreWithSize (getWidth(), getHeight());
    setVisible (true);
}

void korvaplenvarfirmwareApplication::MainWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
