#include "GuiTestSupport.h"

#include <map>

namespace
{
    std::map<const juce::Component*, juce::String>& recordedMessages()
    {
        static std::map<const juce::Component*, juce::String> messages;
        return messages;
    }
}

void pump (int ms)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
}

bool pumpUntil (const std::function<bool()>& pred, int timeoutMs)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! pred())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return pred();
        pump (10);
    }
    return true;
}

juce::File saveSnapshot (juce::Component& component, const juce::String& name)
{
    const auto env = juce::SystemStats::getEnvironmentVariable ("KORVA_ARTIFACTS", {});
    const auto dir = env.isNotEmpty() ? juce::File (env)
                                      : juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                                            .getParentDirectory().getParentDirectory().getParentDirectory()
                                            .getChildFile ("artifacts");
    dir.createDirectory();
    const auto file = dir.getChildFile (name + ".png");
    file.deleteFile();

    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    if (! out.openedOk() || ! png.writeImageToStream (component.createComponentSnapshot (component.getLocalBounds()), out))
        return {};
    return file;
}

juce::AlertWindow* RecordingLookAndFeel::createAlertWindow (const juce::String& title, const juce::String& message,
                                                            const juce::String& button1, const juce::String& button2,
                                                            const juce::String& button3,
                                                            juce::MessageBoxIconType iconType, int numButtons,
                                                            juce::Component* associatedComponent)
{
    auto* window = LookAndFeel_V4::createAlertWindow (title, message, button1, button2, button3, iconType,
                                                      numButtons, associatedComponent);
    recordedMessages()[window] = message;
    return window;
}

juce::String RecordingLookAndFeel::messageFor (const juce::Component* window)
{
    auto it = recordedMessages().find (window);
    return it != recordedMessages().end() ? it->second : juce::String();
}

ModalResponder::ModalResponder()
{
    startTimer (30);
}

ModalResponder::~ModalResponder()
{
    stopTimer();
}

void ModalResponder::timerCallback()
{
    auto* modal = juce::ModalComponentManager::getInstance()->getModalComponent (0);
    auto* alert = dynamic_cast<juce::AlertWindow*> (modal);

    // Mark the box itself: a new box may reuse an old one's address.
    if (alert == nullptr || alert->getProperties().contains ("answered"))
        return;

    alert->getProperties().set ("answered", true);

    SeenBox box { alert->getName(), RecordingLookAndFeel::messageFor (alert), alert->getAlertType(), {} };

    for (auto* child : alert->getChildren())
        if (auto* button = dynamic_cast<juce::TextButton*> (child))
        {
            box.buttons.add (button->getButtonText());
            if (button->isRegisteredForShortcut (juce::KeyPress (juce::KeyPress::returnKey)))
                box.returnAnswers = button->getButtonText();
        }

    // Return presses the button that has the keyboard focus, before any
    // shortcut is looked at: the one the box gives the focus to on opening.
    if (auto* first = dynamic_cast<juce::Button*> (alert->createKeyboardFocusTraverser()->getDefaultComponent (alert)))
        box.returnAnswers = first->getButtonText();

    seen.push_back (box);

    juce::String answer = box.buttons.contains ("OK") ? "OK" : box.buttons[0];
    if (! answers.empty())
    {
        answer = answers.front();
        answers.erase (answers.begin());
    }

    alert->triggerButtonClick (answer);
}
