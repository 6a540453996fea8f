// The job starters: each refuses while a job exists, prepares the panel,
// covers it with the busy overlay and starts the worker.

#include "panel/BtThread.h"
#include "protocol/DeviceState.h"
#include "serial/PortTable.h"

namespace
{
    /** A plain component that catches every click on the panel while a job runs,
        and takes the keyboard focus so that keys cannot reach the controls
        behind it (arrows on the port selector, Return on a button). */
    class BusyOverlay final : public juce::Component,
                              private juce::Timer
    {
    public:
        /** connectingPort: the name of the port whose link is still coming up, ""
            when none is; stop: ends the job (Esc while connecting); selectorArea:
            the port selector, left free while connecting so another port can be chosen. */
        BusyOverlay (std::function<juce::String()> connectingPort, std::function<void()> stop,
                     std::function<juce::Rectangle<int>()> selectorArea)
            : connecting (std::move (connectingPort)), stopJob (std::move (stop)), freeArea (std::move (selectorArea))
        {
            setMouseCursor (juce::MouseCursor::WaitCursor);
            setWantsKeyboardFocus (true);
            startTimer (100);
        }

        bool keyPressed (const juce::KeyPress& key) override
        {
            // A Bluetooth connection takes seconds: Esc gives up on it.
            if (key == juce::KeyPress::escapeKey && connectingText.isNotEmpty())
                stopJob();
            return true;
        }

        bool hitTest (int x, int y) override
        {
            return connectingText.isEmpty() || ! freeArea().contains (x, y);
        }

        /** What the cover says while a link comes up; "" otherwise. */
        const juce::String& text() const noexcept { return connectingText; }

        void paint (juce::Graphics& g) override
        {
            if (connectingText.isEmpty())
                return;
            g.fillAll (findColour (juce::ResizableWindow::backgroundColourId).withAlpha (0.85f));
            g.setColour (findColour (juce::Label::textColourId));
            g.setFont (14.0f);
            g.drawFittedText (connectingText, getLocalBounds().reduced (8), juce::Justification::centred, 3);
        }

    private:
        void timerCallback() override
        {
            const auto port = connecting();
            const auto now = port.isEmpty() ? juce::String()
                                            : "Connecting to " + port + " over Bluetooth...\n(Esc stops)";
            if (now != connectingText)
            {
                connectingText = now;
                setTitle (now);   // what a screen reader says, and what tests read
                repaint();
            }
        }

        std::function<juce::String()> connecting;
        std::function<void()> stopJob;
        std::function<juce::Rectangle<int>()> freeArea;
        juce::String connectingText;
    };

    std::unique_ptr<juce::Component> busyOverlay;
}

juce::Component* MainComponent::getBusyOverlay() noexcept
{
    return busyOverlay.get();
}

void MainComponent::removeBusyOverlay()
{
    busyOverlay.reset();
}

void MainComponent::showBusyOverlay()
{
    busyOverlay = std::make_unique<BusyOverlay> (
        [this] {
            return worker != nullptr && portConnecting (link.portIndex)
                       ? juce::String::fromUTF8 (portDisplayName (link.portIndex)) : juce::String();
        },
        [this] {
            if (worker != nullptr)
                worker->signalThreadShouldExit();
        },
        [this] { return getLocalArea (&portSelector, portSelector.getLocalBounds()); });
    busyOverlay->setBounds (0, 0, getWidth(), getHeight());
    busyOverlay->setAlwaysOnTop (true);
    addAndMakeVisible (*busyOverlay);
    busyOverlay->toFront (false);
    busyOverlay->grabKeyboardFocus();
}

void MainComponent::startWorker (JobKind kind, int portIndex, bool slow)
{
    // An index of -1 (no port) reaches the worker as 255, never a valid entry.
    link.portIndex = portIndex;
    worker = std::make_unique<BtThread> (kind, link, slow);

    // Every job after detection checks that the port still leads to the receiver detected.
    if (kind != JobKind::Detect)
        worker->expectedDevice = detectedDevice;

    worker->startWorker (this);
}

void MainComponent::startOverlaidJob (JobKind kind, int portIndex, bool slow)
{
    writeButton.setEnabled (false);
    restoreButton.setEnabled (false);
    showBusyOverlay();
    startWorker (kind, portIndex, slow);
}

void MainComponent::disposeWorker()
{
    if (worker == nullptr)
        return;

    if (worker->isThreadRunning())
        worker->signalThreadShouldExit();

    worker.reset();
}

bool MainComponent::deviceDetected() const noexcept
{
    return detectedPort >= 0 && detectedPort == link.portIndex;
}

void MainComponent::stopListen()
{
    if (worker == nullptr || worker->kind != JobKind::Listen)
        return;

    worker->signalThreadShouldExit();
    worker.reset();          // at once: the exit request wakes the listen from its wait
    cancelPendingUpdate();   // its notification has nothing left to report
}

void MainComponent::stopConnecting()
{
    if (worker == nullptr || ! portConnecting (worker->portIndex))
        return;

    worker->signalThreadShouldExit();
    worker.reset();          // the exit request ends the connection attempt at once
    cancelPendingUpdate();   // nothing was done: nothing to report
    removeBusyOverlay();
}

void MainComponent::startDetect (int portIndex)
{
    if (worker != nullptr)
        return;

    clearDevice();
    startOverlaidJob (JobKind::Detect, portIndex, slowBaud);
}

void MainComponent::startReadConfig()
{
    if (worker != nullptr || ! deviceDetected())
        return;

    clearForm();
    startOverlaidJob (JobKind::ReadConfig, link.portIndex, slowBaud);
}

void MainComponent::startRestoreDefaults()
{
    if (worker != nullptr || ! deviceDetected())
        return;

    clearForm();
    // Receivers that take this command always talk at 921600 baud.
    startOverlaidJob (JobKind::RestoreDefaults, link.portIndex, false);
}

void MainComponent::startListen()
{
    if (worker != nullptr || ! deviceDetected())
        return;

    startWorker (JobKind::Listen, link.portIndex, slowBaud);
}
