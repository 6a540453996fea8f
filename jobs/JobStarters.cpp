// The job starters: each refuses while a job exists, prepares the panel,
// covers it with the busy overlay and starts the worker.

#include "jobs/BtThread.h"
#include "protocol/DeviceState.h"

namespace
{
    /** A plain component that catches every click on the panel while a job runs. */
    class BusyOverlay final : public juce::Component
    {
    public:
        BusyOverlay() { setMouseCursor (juce::MouseCursor::WaitCursor); }
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
}

void MainComponent::startWorker (JobKind kind, int portIndex, bool slow)
{
    // An index of -1 (no port) reaches the worker as 255, never a valid entry.
    worker = std::make_unique<BtThread> (kind, static_cast<uint8_t> (portIndex), slow);
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

void MainComponent::startDetect (int portIndex)
{
    if (worker != nullptr)
        return;

    clearDevice();
    startOverlaidJob (JobKind::Detect, portIndex, slowBaud);
}

void MainComponent::startReadConfig()
{
    if (worker != nullptr)
        return;

    clearForm();
    startOverlaidJob (JobKind::ReadConfig, deviceState().currentPortIndex, slowBaud);
}

void MainComponent::startRestoreDefaults()
{
    if (worker != nullptr)
        return;

    clearForm();
    // Receivers that take this command always talk at 921600 baud.
    startOverlaidJob (JobKind::RestoreDefaults, deviceState().currentPortIndex, false);
}

void MainComponent::startListen()
{
    if (worker != nullptr)
        return;

    startWorker (JobKind::Listen, deviceState().currentPortIndex, slowBaud);
}
