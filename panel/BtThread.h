#pragma once
// The worker thread that runs one job. It carries the job's fixed inputs and
// working fields (JobContext) and wakes the panel when the job has ended.

#include "panel/MainComponent.h"

class MainComponent::BtThread final : public juce::Thread,
                                      public JobContext,
                                      private juce::Thread::Listener
{
public:
    BtThread (JobKind kind, Link& onLink, bool slowBaud);

    /** Raises the exit request and waits up to 200 ms for run() to return; every
        wait of a job ends at once on the exit request, so it returns well before. */
    ~BtThread() override;

    void run() override;

    /** Sets the target to notify, then starts the thread at low priority;
        false when the thread already runs. */
    bool startWorker (juce::AsyncUpdater* target);

    bool shouldExit() const override { return threadShouldExit(); }

private:
    /** Any thread, on the exit request: wakes the job from a wait on its port. */
    void exitSignalSent() override;

    std::atomic<juce::AsyncUpdater*> resultTarget { nullptr };

    JUCE_DECLARE_NON_COPYABLE (BtThread)
};
