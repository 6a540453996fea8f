// A JUCE window with nothing of this project in it, the size of the panel:
// the baseline bench_idle compares the application's idle wake-ups with, so
// what the framework costs by itself shows apart from what the panel adds.

#include <juce_gui_basics/juce_gui_basics.h>

class BareWindowApplication final : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "bare window"; }
    const juce::String getApplicationVersion() override { return "1"; }
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String&) override
    {
        window = std::make_unique<juce::DocumentWindow> ("bare window", juce::Colours::darkgrey,
                                                         juce::DocumentWindow::closeButton);
        window->setUsingNativeTitleBar (true);
        window->centreWithSize (325, 115);
        window->setVisible (true);
    }

    void shutdown() override { window.reset(); }

private:
    std::unique_ptr<juce::DocumentWindow> window;
};

START_JUCE_APPLICATION (BareWindowApplication)
