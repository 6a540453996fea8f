#include "panel/FwComponent.h"

FwComponent::FwComponent (const std::atomic<double>& source) : progress (source)
{
    // The bar animates on a 30 ms timer of its own while it is visible: it is
    // made visible only inside the progress window, so an idle panel sleeps.
    addChildComponent (bar);
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
        shownProgress = progress.load();
        bar.setVisible (true);
        startTimerHz (20);
    }
    else
    {
        bar.setVisible (false);
        stopTimer();
    }
}

void FwComponent::timerCallback()
{
    shownProgress = progress.load();
}
