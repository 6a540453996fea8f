#pragma once
// The application object: names the tool, refuses a second instance, owns the
// one main window and quits without asking.

#include <juce_gui_basics/juce_gui_basics.h>

class korvaplenvarfirmwareApplication final : public juce::JUCEApplication
{
public:
    korvaplenvarfirmwareApplication() = default;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    class MainWindow final : public juce::DocumentWindow
    {
    public:
        explicit MainWindow (const juce::String& title);
        void closeButtonPressed() override;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

private:
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<juce::Timer> repaintPump;
};
