// The job starters: each refuses while a job exists, prepares the panel,
// covers it with the busy overlay and starts the worker.

#include "panel/BtThread.h"
#include "protocol/DeviceState.h"

namespace
{
    /** A plain component that catches every click on the panel while a job runs,
        and takes the keyboard focus so that keys cannot reach the controls
        behind it (arrows on the port selector, Return on a button). */
    class BusyOverlay final : public juce::Component
    {
    public:
        BusyOverlay()
        {
            setMouseCursor (juce::MouseCursor::WaitCursor);
            setWantsKeyboardFocus (true);
        }

        bool keyPressed (const juce::KeyPress&) override { return true; }
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
    busyOverlay = std::make_unique<BusyOverlay>();
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
