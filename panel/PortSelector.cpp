#include "panel/PortSelector.h"

void PortSelector::setDescriptions (juce::StringArray newDescriptions)
{
    descriptions = std::move (newDescriptions);
}

juce::String PortSelector::descriptionOf (int itemIndex) const
{
    return descriptions[itemIndex];
}

juce::String PortSelector::listText (int itemIndex) const
{
    const auto name = getItemText (itemIndex);
    const auto description = descriptionOf (itemIndex);
    return description.isEmpty() ? name : name + "  -  " + description;
}

void PortSelector::showPopup()
{
    juce::PopupMenu menu;
    const int selectedId = getSelectedId();

    for (int i = 0; i < getNumItems(); ++i)
    {
        const int id = getItemId (i);
        menu.addItem (id, listText (i), isItemEnabled (id), id == selectedId);
    }

    if (menu.getNumItems() == 0)
        menu.addItem (1, getTextWhenNoChoicesAvailable(), false, false);

    menu.setLookAndFeel (&getLookAndFeel());
    menu.showMenuAsync (juce::PopupMenu::Options()
                            .withTargetComponent (this)
                            .withItemThatMustBeVisible (selectedId)
                            .withInitiallySelectedItem (selectedId)
                            .withMinimumWidth (getWidth())
                            .withMaximumNumColumns (1)
                            .withStandardItemHeight (getHeight()),
                        [safe = juce::Component::SafePointer<PortSelector> (this)] (int result)
                        {
                            if (safe == nullptr)
                                return;
                            safe->hidePopup();
                            if (result != 0)
                                safe->setSelectedId (result);
                        });
}
