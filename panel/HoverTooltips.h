#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The panel's tooltip window, there only while the mouse is over the panel.

    A TooltipWindow asks the display where the mouse is eight times a second,
    a round trip to the X server or the window system each time, for as long as
    it exists. Outside the panel there is no tip to show, so an idle window
    need not wake for it: the tooltip window is made when the mouse comes in
    and let go when it leaves. Inside, it behaves as if it had always been. */
class HoverTooltips final : public juce::MouseListener
{
public:
    /** Follows the mouse over panel and its children; tips appear after delayMs. */
    HoverTooltips (juce::Component& panel, int delayMs);
    ~HoverTooltips() override;

    /** The tooltip window while the mouse is over the panel, else nullptr. */
    juce::TooltipWindow* window() const { return tips.get(); }

    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;

private:
    juce::Component& panel;
    const int delayMs;
    std::unique_ptr<juce::TooltipWindow> tips;

    JUCE_DECLARE_NON_COPYABLE (HoverTooltips)
};
