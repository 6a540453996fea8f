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
                            false)
{
    setUsingNativeTitleBar (true);
    setContentOwned (new MainComponent(), true);
    setResizable (false, true);
    centreWithSize (getWidth(), getHeight());

    // The native window is made only now, at its final size and place. Made
    // earlier (at 128 x 128 in the corner) and then moved, it could stay there
    // on a busy machine: JUCE took the window manager's late report of the
    // first geometry as the window's bounds and pinned its size to it.
    addToDesktop();
    setVisible (true);
}

void korvaplenvarfirmwareApplication::MainWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
