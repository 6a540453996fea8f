#pragma once
// The hidden event log's view: a read-only list of trace lines that looks like
// the multi-line text box it replaces (its colours, border, monospaced font,
// wrapped lines and scroll bar), but lays out and paints only the rows in
// sight, so a line costs the same however long the log has grown. It keeps a
// bounded scrollback and says in its first line how many older lines went, and
// where lines were lost on their way to it, how many.
// Lines are selected whole (click, shift-click, drag) and copied as text.

#include <juce_gui_basics/juce_gui_basics.h>

#include <string>
#include <vector>

#include "panel/LogLineStore.h"

class EventLogView final : public juce::Component,
                           private juce::ScrollBar::Listener
{
public:
    EventLogView();
    ~EventLogView() override;

    void setFont (const juce::Font& newFont);
    const juce::Font& getFont() const noexcept { return font; }

    /** Appends lines at the end (UTF-8, without line feeds). While the last line
        is in sight the view follows the end; scrolled up, it holds still. */
    void appendLines (const std::vector<std::string>& lines);
    void appendLine (const std::string& line);

    /** Lines lost on the way, between the last line held and the next appended:
        marks the place with a line that says how many. They are not older lines
        dropped, so the selection stays on the lines it was on. */
    void noteDropped (juce::uint64 count);

    //==============================================================================
    int getNumLines() const noexcept { return static_cast<int> (lines.size()); }
    juce::uint64 getNumDropped() const noexcept { return lines.droppedCount(); }

    /** Line index, 0 being the oldest held. */
    juce::String getLine (int index) const;

    /** What the first row says while older lines have been dropped, else empty. */
    juce::String getDroppedNotice() const;

    /** Every line held, each followed by a line feed, as the text box held them. */
    juce::String getText() const;

    //==============================================================================
    /** Selects the lines first to last (indices, either order, clamped); -1 clears. */
    void selectLines (int first, int last);

    /** The selected lines as indices [start, end), empty when none. */
    juce::Range<int> getSelectedLines() const;

    /** The selected lines joined by line feeds. */
    juce::String getSelectedText() const;

    /** Puts the selected lines on the clipboard; false when none are selected. */
    bool copySelection();

    /** True while the view follows the end of the log. */
    bool isFollowingEnd() const noexcept { return followingEnd; }

    /** The first row in sight (the dropped notice, when there is one, is row 0). */
    juce::int64 getTopRow() const noexcept { return topRow; }

    /** Rows of the whole log (the dropped notice included) and how many are in sight. */
    juce::int64 getTotalRows() const noexcept;
    int getVisibleRows() const noexcept;

    /** Scrolls so that row is the first in sight (clamped). */
    void scrollToRow (juce::int64 row);

    /** The line shown at a point of the view, -1 for none (the notice, or below the last). */
    int getLineAt (juce::Point<int> position) const;

    //==============================================================================
    void paint (juce::Graphics&) override;
    void resized() override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    bool keyPressed (const juce::KeyPress&) override;

private:
    void scrollBarMoved (juce::ScrollBar*, double newRangeStart) override;

    /** Where text rows go: inside the border and indents, left of the scroll bar. */
    juce::Rectangle<int> textArea() const;
    int rowHeight() const;
    int headerRows() const noexcept { return lines.droppedCount() > 0 ? 1 : 0; }

    /** After the content or the size changed: the scroll bar's range, the position
        (the end when following, else held), and a repaint of the rows in sight. */
    void contentChanged (juce::int64 rowsRemovedAbove);
    void updateScrollBar();

    /** The line at a row of the whole log, -1 for the notice. */
    int lineAtRow (juce::int64 row) const;
    juce::int64 serialOf (int index) const noexcept { return static_cast<juce::int64> (lines.droppedCount()) + index; }
    void selectTo (int index, bool extend);
    void showMenu();

    LogLineStore lines;
    juce::Font font;
    juce::ScrollBar scrollBar { true };
    juce::int64 topRow = 0;
    bool followingEnd = true;

    // The selection as line serials (counted from the first line ever appended),
    // so it stays on its lines as older ones are dropped; -1 for none.
    juce::int64 anchorSerial = -1, caretSerial = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EventLogView)
};
