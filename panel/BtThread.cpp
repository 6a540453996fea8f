#include "panel/BtThread.h"

#include "jobs/JobDispatch.h"

MainComponent::BtThread::BtThread (JobKind k, Link& onLink, bool slow)
    : juce::Thread ("Korva job"), JobContext (k, onLink, slow)
{
    addListener (this);
}

MainComponent::BtThread::~BtThread()
{
    stopThread (200);
    removeListener (this);
}

void MainComponent::BtThread::exitSignalSent()
{
    interruptPortWaits();
}

bool MainComponent::BtThread::startWorker (juce::AsyncUpdater* target)
{
    resultTarget = target;

    if (isThreadRunning())
        return false;

    // Priority 2 of the old 0..10 scale, below the message thread.
    return startThread (juce::Thread::Priority::low);
}

void MainComponent::BtThread::run()
{
    runJob (*this);

    // The one hand-over: everything the job stored happens before this.
    if (auto* target = resultTarget.load())
        target->triggerAsyncUpdate();
}
