#include "panel/HoverTooltips.h"

HoverTooltips::HoverTooltips (juce::Component& p, int delay) : panel (p), delayMs (delay)
{
    panel.addMouseListener (this, true);
}

HoverTooltips::~HoverTooltips()
{
    panel.removeMouseListener (this);
}

void HoverTooltips::mouseEnter (const juce::MouseEvent&)
{
    if (tips == nullptr)
        tips = std::make_unique<juce::TooltipWindow> (&panel, delayMs);
}

void HoverTooltips::mouseExit (const juce::MouseEvent& event)
{
    // Moving from one control to the next leaves one and enters the other;
    // only a mouse outside the panel lets the tooltip window go.
    if (! panel.getLocalBounds().contains (event.getEventRelativeTo (&panel).getPosition()))
        tips.reset();
}
