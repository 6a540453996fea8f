#pragma once
// The port selector. The box shows the chosen port's name, as ever; its list
// shows each port followed by what the system says it is (a USB adapter's
// name, a Bluetooth link's direction), and may be wider than the box for it.

#include <juce_gui_basics/juce_gui_basics.h>

class PortSelector final : public juce::ComboBox
{
public:
    /** descriptions[i] belongs to item index i; "" where the system says nothing. */
    void setDescriptions (juce::StringArray descriptions);

    /** The description of item index, "" when there is none. */
    juce::String descriptionOf (int itemIndex) const;

    /** The text the list shows for item index: the name, then the description. */
    juce::String listText (int itemIndex) const;

    void showPopup() override;

private:
    juce::StringArray descriptions;
};
