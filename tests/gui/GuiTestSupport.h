#pragma once
// In-process GUI testing: the tests run on the JUCE message thread, pump the
// message loop while they wait, and answer modal boxes as a user would.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <vector>

/** Runs the message loop until pred() holds or timeoutMs passes; returns pred(). */
bool pumpUntil (const std::function<bool()>& pred, int timeoutMs = 10000);

/** Runs the message loop for ms milliseconds. */
void pump (int ms);

/** Saves what component paints as artifacts/name.png: under KORVA_ARTIFACTS when
    set, else build/artifacts beside the test binary's folder. Returns the file. */
juce::File saveSnapshot (juce::Component& component, const juce::String& name);

/** What a modal box showed. */
struct SeenBox
{
    juce::String title;
    juce::String message;   // empty for boxes built directly as AlertWindows
    juce::MessageBoxIconType icon;
    juce::StringArray buttons;
    juce::String returnAnswers;   // the button Return clicks (the focused one), "" when none
};

/** Watches for modal alert boxes and clicks a button in each; records what they showed.
    Boxes created through the look-and-feel (message boxes) also have their message recorded. */
class ModalResponder final : private juce::Timer
{
public:
    ModalResponder();
    ~ModalResponder() override;

    /** The button to click in the next boxes, in order; when empty, "OK" or the first button. */
    void answerNext (const juce::String& buttonText) { answers.push_back (buttonText); }

    std::vector<SeenBox> seen;

private:
    void timerCallback() override;
    std::vector<juce::String> answers;
};

/** Records the message of every alert window created through the look-and-feel. */
class RecordingLookAndFeel final : public juce::LookAndFeel_V4
{
public:
    juce::AlertWindow* createAlertWindow (const juce::String& title, const juce::String& message,
                                          const juce::String& button1, const juce::String& button2,
                                          const juce::String& button3, juce::MessageBoxIconType iconType,
                                          int numButtons, juce::Component* associatedComponent) override;

    static juce::String messageFor (const juce::Component* window);
};
