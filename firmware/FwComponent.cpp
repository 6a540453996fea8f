#include "firmware/FwComponent.h"

#include "firmware/FirmwareUpdate.h"

FwComponent::FwComponent()
{
    updateProgress() = 0.0;
    addAndMakeVisible (bar);
    setSize (300, 70);
}

FwComponent::~FwComponent()
{
    stopTimer();
}

void FwComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xFF323E44));
}

void FwComponent::resized()
{
    bar.setBounds (30, 15, 240, 25);
}

void FwComponent::parentHierarchyChanged()
{
    // Follow the transfer only while inside the progress window.
    if (getParentComponent() != nullptr)
    {
        shownProgress = updateProgress().load();
        startTimerHz (20);
    }
    else
    {
        stopTimer();
    }
}

void FwComponent::timerCallback()
{
    shownProgress = updateProgress().load();
}
