#pragma once
// The content of the "Updating firmware" window: one progress bar following
// the transfer's progress. It belongs to the panel and outlives each window.

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>

class FwComponent final : public juce::Component,
                          private juce::Timer
{
public:
    /** Follows progress, the link's update progress (0 to 1). */
    explicit FwComponent (const std::atomic<double>& progress);
    ~FwComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;

private:
    void parentHierarchyChanged() override;
    void timerCallback() override;

    // The worker publishes progress atomically; the bar reads this copy, taken
    // on the message thread while the component is showing.
    const std::atomic<double>& progress;
    double shownProgress = 0.0;
    juce::ProgressBar bar { shownProgress };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FwComponent)
};
