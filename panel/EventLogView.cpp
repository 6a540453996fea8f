#include "panel/EventLogView.h"

namespace
{
    // The text box's geometry: a border of 1 (3 on the right), text indented by
    // 4 from the left and top, 2 pixels kept free at the right edge.
    const juce::BorderSize<int> border { 1, 1, 1, 3 };
    constexpr int leftIndent = 4, topIndent = 4, rightEdgeSpace = 2;

    juce::int64 toRows (double value) { return static_cast<juce::int64> (std::llround (value)); }
}

EventLogView::EventLogView()
{
    setWantsKeyboardFocus (true);
    setMouseCursor (juce::MouseCursor::IBeamCursor);
    scrollBar.setSingleStepSize (1.0);
    scrollBar.addListener (this);
    addAndMakeVisible (scrollBar);
    setFont (juce::Font (juce::Font::getDefaultMonospacedFontName(), 12.0f, juce::Font::plain));
}

EventLogView::~EventLogView()
{
    scrollBar.removeListener (this);
}

void EventLogView::setFont (const juce::Font& newFont)
{
    font = newFont;
    resized();
    repaint();
}

//==============================================================================
void EventLogView::appendLine (const std::string& line)
{
    appendLines ({ line });
}

void EventLogView::appendLines (const std::vector<std::string>& batch)
{
    if (batch.empty())
        return;

    // A move of the scroll bar whose notification has not arrived yet still counts.
    scrollBarMoved (&scrollBar, scrollBar.getCurrentRangeStart());

    const auto rowsGoneBefore = lines.rowsDroppedEver();
    const int headerBefore = headerRows();

    for (const auto& line : batch)
        lines.append (line);

    contentChanged (static_cast<juce::int64> (lines.rowsDroppedEver() - rowsGoneBefore) - (headerRows() - headerBefore));
}

void EventLogView::noteDropped (juce::uint64 count)
{
    if (count == 0)
        return;

    appendLine ((juce::String (juce::CharPointer_UTF8 ("\xe2\x80\xa6 ")) + juce::String (count)
                 + (count == 1 ? " line" : " lines")
                 + juce::String (juce::CharPointer_UTF8 (" lost here (the window was busy) \xe2\x80\xa6")))
                    .toStdString());
}

void EventLogView::contentChanged (juce::int64 rowsRemovedAbove)
{
    const auto lastTop = juce::jmax ((juce::int64) 0, getTotalRows() - getVisibleRows());

    if (followingEnd)
        topRow = lastTop;
    else
        topRow = juce::jlimit ((juce::int64) 0, lastTop, topRow - rowsRemovedAbove);

    followingEnd = topRow >= lastTop;
    updateScrollBar();

    // Held still above the end, the rows in sight change only when rows above
    // them went, or when the notice in the first row is in sight.
    if (followingEnd || rowsRemovedAbove != 0 || (topRow == 0 && headerRows() > 0))
        repaint();
}

void EventLogView::updateScrollBar()
{
    const auto total = static_cast<double> (juce::jmax ((juce::int64) 1, getTotalRows()));
    scrollBar.setRangeLimits (0.0, total, juce::dontSendNotification);
    scrollBar.setCurrentRange ((double) topRow, (double) getVisibleRows(), juce::dontSendNotification);
}

void EventLogView::scrollBarMoved (juce::ScrollBar*, double newRangeStart)
{
    const auto row = toRows (newRangeStart);
    if (row == topRow)
        return;

    topRow = row;
    followingEnd = topRow + getVisibleRows() >= getTotalRows();
    repaint();
}

void EventLogView::scrollToRow (juce::int64 row)
{
    const auto lastTop = juce::jmax ((juce::int64) 0, getTotalRows() - getVisibleRows());
    topRow = juce::jlimit ((juce::int64) 0, lastTop, row);
    followingEnd = topRow >= lastTop;
    updateScrollBar();
    repaint();
}

//==============================================================================
juce::String EventLogView::getLine (int index) const
{
    if (! juce::isPositiveAndBelow (index, getNumLines()))
        return {};
    const auto text = lines.line (static_cast<size_t> (index));
    return juce::String::fromUTF8 (text.data(), static_cast<int> (text.size()));
}

juce::String EventLogView::getDroppedNotice() const
{
    if (lines.droppedCount() == 0)
        return {};
    return juce::String (juce::CharPointer_UTF8 ("\xe2\x80\xa6 ")) + juce::String (lines.droppedCount())
         + (lines.droppedCount() == 1 ? " older line dropped" : " older lines dropped");
}

juce::String EventLogView::getText() const
{
    juce::MemoryOutputStream out;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        const auto text = lines.line (i);
        out.write (text.data(), text.size());
        out.writeByte ('\n');
    }
    return out.toUTF8();
}

juce::int64 EventLogView::getTotalRows() const noexcept
{
    return static_cast<juce::int64> (lines.totalRows()) + headerRows();
}

int EventLogView::getVisibleRows() const noexcept
{
    return juce::jmax (1, textArea().getHeight() / rowHeight());
}

int EventLogView::rowHeight() const
{
    return juce::jmax (1, juce::roundToInt (font.getHeight()));
}

juce::Rectangle<int> EventLogView::textArea() const
{
    auto area = border.subtractedFrom (getLocalBounds());
    area.removeFromRight (getLookAndFeel().getDefaultScrollbarWidth());
    area.removeFromLeft (leftIndent);
    area.removeFromTop (topIndent);
    area.removeFromRight (rightEdgeSpace);
    return area;
}

int EventLogView::lineAtRow (juce::int64 row) const
{
    const auto storeRow = row - headerRows();
    if (storeRow < 0 || storeRow >= static_cast<juce::int64> (lines.totalRows()))
        return -1;
    return static_cast<int> (lines.lineAtRow (static_cast<juce::uint64> (storeRow)));
}

int EventLogView::getLineAt (juce::Point<int> position) const
{
    const auto area = textArea();
    const auto y = juce::jlimit (area.getY(), area.getBottom() - 1, position.y);
    return lineAtRow (topRow + (y - area.getY()) / rowHeight());
}

//==============================================================================
void EventLogView::resized()
{
    auto inner = border.subtractedFrom (getLocalBounds());
    scrollBar.setBounds (inner.removeFromRight (getLookAndFeel().getDefaultScrollbarWidth()));

    // The font is monospaced: a row holds as many characters as the widest fits.
    float charWidth = 1.0f;
    for (const char* c : { "0", "W", "m", "@" })
        charWidth = juce::jmax (charWidth, font.getStringWidthFloat (c));
    lines.setColumns (juce::jmax (1, (int) ((float) textArea().getWidth() / charWidth)));

    // Measured again at the new width: keep the end in sight when it was.
    contentChanged (0);
}

void EventLogView::paint (juce::Graphics& g)
{
    g.fillAll (findColour (juce::TextEditor::backgroundColourId));

    const auto area = textArea();
    const int rh = rowHeight();
    const auto selected = getSelectedLines();
    const auto textColour = findColour (juce::TextEditor::textColourId);
    const auto ascent = font.getAscent();

    {
        juce::Graphics::ScopedSaveState clip (g);
        g.reduceClipRegion (area.withTrimmedLeft (-leftIndent).withTrimmedRight (-rightEdgeSpace));
        g.setFont (font);

        const auto total = getTotalRows();
        int y = area.getY();
        for (auto row = topRow; row < total && y < area.getBottom(); ++row, y += rh)
        {
            const int index = lineAtRow (row);
            if (index < 0)
            {
                g.setColour (textColour.withMultipliedAlpha (0.6f));
                g.drawSingleLineText (getDroppedNotice(), area.getX(), y + juce::roundToInt (ascent));
                continue;
            }

            const bool isSelected = selected.contains (index);
            if (isSelected)
            {
                g.setColour (findColour (juce::TextEditor::highlightColourId));
                g.fillRect (area.getX() - leftIndent, y, area.getWidth() + leftIndent + rightEdgeSpace, rh);
            }

            // Only the part of the line on this row is converted and drawn.
            const auto rowInLine = static_cast<uint32_t> (static_cast<juce::uint64> (row - headerRows())
                                                          - lines.firstRowOf (static_cast<size_t> (index)));
            const auto text = lines.rowOf (static_cast<size_t> (index), rowInLine);
            const auto piece = juce::String::fromUTF8 (text.data(), (int) text.size());

            g.setColour (isSelected ? findColour (juce::TextEditor::highlightedTextColourId) : textColour);
            g.drawSingleLineText (piece, area.getX(), y + juce::roundToInt (ascent));
        }
    }

    g.setColour (findColour (juce::TextEditor::outlineColourId));
    g.drawRect (getLocalBounds());
}

//==============================================================================
void EventLogView::selectLines (int first, int last)
{
    if (first < 0 || last < 0 || lines.empty())
    {
        anchorSerial = caretSerial = -1;
    }
    else
    {
        const int limit = getNumLines() - 1;
        anchorSerial = serialOf (juce::jmin (first, limit));
        caretSerial = serialOf (juce::jmin (last, limit));
    }
    repaint();
}

juce::Range<int> EventLogView::getSelectedLines() const
{
    if (anchorSerial < 0)
        return {};

    const auto firstHeld = serialOf (0);
    const auto start = juce::jmax (firstHeld, juce::jmin (anchorSerial, caretSerial));
    const auto end = juce::jmax (anchorSerial, caretSerial) + 1;
    if (end <= start)
        return {};
    return { static_cast<int> (start - firstHeld), static_cast<int> (end - firstHeld) };
}

juce::String EventLogView::getSelectedText() const
{
    const auto range = getSelectedLines();
    juce::StringArray selectedLines;
    for (int i = range.getStart(); i < range.getEnd(); ++i)
        selectedLines.add (getLine (i));
    return selectedLines.joinIntoString ("\n");
}

bool EventLogView::copySelection()
{
    if (getSelectedLines().isEmpty())
        return false;
    juce::SystemClipboard::copyTextToClipboard (getSelectedText());
    return true;
}

void EventLogView::selectTo (int index, bool extend)
{
    if (index < 0)
    {
        if (! extend)
            selectLines (-1, -1);
        return;
    }

    if (extend && anchorSerial >= 0)
    {
        caretSerial = serialOf (index);
        repaint();
    }
    else
    {
        selectLines (index, index);
    }
}

void EventLogView::mouseDown (const juce::MouseEvent& e)
{
    grabKeyboardFocus();

    if (e.mods.isPopupMenu())
    {
        showMenu();
        return;
    }

    selectTo (getLineAt (e.getPosition()), e.mods.isShiftDown());
}

void EventLogView::mouseDrag (const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu())
        return;

    // Dragged past the top or bottom, the view scrolls a row at a time.
    const auto area = textArea();
    if (e.y < area.getY())
        scrollToRow (topRow - 1);
    else if (e.y >= area.getBottom())
        scrollToRow (topRow + 1);

    selectTo (getLineAt (e.getPosition()), true);
}

void EventLogView::mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails& wheel)
{
    // As the scroll bar itself takes a wheel: ten rows a notch, at least one.
    auto rows = 10.0f * wheel.deltaY;
    rows = rows < 0 ? juce::jmin (rows, -1.0f) : rows > 0 ? juce::jmax (rows, 1.0f) : 0.0f;
    scrollToRow (topRow - juce::roundToInt (rows));
}

bool EventLogView::keyPressed (const juce::KeyPress& key)
{
    const auto command = juce::ModifierKeys::commandModifier;

    if (key == juce::KeyPress ('c', command, 0) || key == juce::KeyPress (juce::KeyPress::insertKey, command, 0))
        return copySelection();

    if (key == juce::KeyPress ('a', command, 0))
    {
        selectLines (0, getNumLines() - 1);
        return true;
    }

    const int page = getVisibleRows();
    const auto code = key.getKeyCode();
    if (code == juce::KeyPress::upKey)            scrollToRow (topRow - 1);
    else if (code == juce::KeyPress::downKey)     scrollToRow (topRow + 1);
    else if (code == juce::KeyPress::pageUpKey)   scrollToRow (topRow - page);
    else if (code == juce::KeyPress::pageDownKey) scrollToRow (topRow + page);
    else if (code == juce::KeyPress::homeKey)     scrollToRow (0);
    else if (code == juce::KeyPress::endKey)      scrollToRow (getTotalRows());
    else return false;   // the panel's own keys (F2, F3, F5, Return) pass on to it

    return true;
}

void EventLogView::showMenu()
{
    juce::Component::SafePointer<EventLogView> view (this);
    juce::PopupMenu menu;
    menu.addItem ("Copy", ! getSelectedLines().isEmpty(), false, [view]
    {
        if (view != nullptr)
            view->copySelection();
    });
    menu.addItem ("Select All", ! lines.empty(), false, [view]
    {
        if (view != nullptr)
            view->selectLines (0, view->getNumLines() - 1);
    });
    menu.showMenuAsync (juce::PopupMenu::Options().withTargetComponent (this).withMousePosition());
}
