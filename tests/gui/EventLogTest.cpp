// The event log's view and the queue that feeds it: the bounded scrollback and
// what it says about dropped lines, following the end or holding still, line
// selection and copying, and lines handed over from another thread in batches.

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "panel/EventLogView.h"
#include "panel/LogLineQueue.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include <malloc.h>

namespace
{
    std::vector<std::string> numbered (int first, int count, const std::string& prefix = "line ")
    {
        std::vector<std::string> lines;
        for (int i = first; i < first + count; ++i)
            lines.push_back (prefix + std::to_string (i));
        return lines;
    }

    juce::String lostMarker (int count)
    {
        return juce::String::fromUTF8 ("\xe2\x80\xa6 ") + juce::String (count) + (count == 1 ? " line" : " lines")
             + juce::String::fromUTF8 (" lost here (the window was busy) \xe2\x80\xa6");
    }

    class EventLog : public testing::Test
    {
    protected:
        void SetUp() override { view.setSize (305, 140); }

        /** A press of the mouse's main button at a point of the view. */
        void click (juce::Point<int> at, juce::ModifierKeys mods = {})
        {
            const auto pos = at.toFloat();
            const auto now = juce::Time::getCurrentTime();
            view.mouseDown (juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), pos,
                                              mods.withFlags (juce::ModifierKeys::leftButtonModifier), 0.0f, 0.0f,
                                              0.0f, 0.0f, 0.0f, &view, &view, now, pos, now, 1, false));
        }

        /** The centre of the row in sight at index (0 is the first). */
        juce::Point<int> row (int index) const { return { 100, 5 + 6 + 12 * index }; }

        /** The first and last line wholly in sight. */
        int firstInSight() const { return view.getLineAt (row (0)); }
        int lastInSight() const { return view.getLineAt (row (view.getVisibleRows() - 1)); }

        EventLogView view;
    };
}

TEST_F (EventLog, KeepsTheLastLinesAndSaysHowManyOlderOnesWentInItsFirstRow)
{
    const int max = static_cast<int> (LogLineStore::maxLines);
    EXPECT_GE (max, 100000);

    for (int i = 0; i < max; i += 1000)
        view.appendLines (numbered (i, 1000));
    EXPECT_EQ (view.getNumLines(), max);
    EXPECT_EQ (view.getNumDropped(), 0u);
    EXPECT_EQ (view.getDroppedNotice(), "");
    view.scrollToRow (0);
    EXPECT_EQ (firstInSight(), 0) << "no notice while nothing was dropped";

    view.appendLines (numbered (max, 12345));
    EXPECT_EQ (view.getNumLines(), max);
    EXPECT_EQ (view.getNumDropped(), 12345u);
    EXPECT_EQ (view.getLine (0), "line 12345");
    EXPECT_EQ (view.getLine (max - 1), "line " + juce::String (max + 12345 - 1));
    EXPECT_EQ (view.getDroppedNotice(), juce::String::fromUTF8 ("\xe2\x80\xa6 12345 older lines dropped"));

    // At the top, the notice takes the first row and the oldest line kept follows it.
    view.scrollToRow (0);
    EXPECT_EQ (firstInSight(), -1);
    EXPECT_EQ (view.getLineAt (row (1)), 0);

    // Lines lost on the way to the view are not older ones: the notice keeps its count.
    view.noteDropped (5);
    EXPECT_EQ (view.getDroppedNotice(), juce::String::fromUTF8 ("\xe2\x80\xa6 12346 older lines dropped"));
    EXPECT_EQ (view.getLine (max - 1), lostMarker (5));
}

TEST_F (EventLog, MarksLinesLostOnTheWayWhereTheyWereLostAndKeepsTheSelection)
{
    view.appendLines (numbered (0, 5));
    view.scrollToRow (0);
    click (row (1));
    click (row (3), juce::ModifierKeys::shiftModifier);

    view.noteDropped (37);
    view.appendLines (numbered (42, 3));
    view.noteDropped (1);
    view.appendLines (numbered (46, 1));

    EXPECT_EQ (view.getNumDropped(), 0u);
    EXPECT_EQ (view.getDroppedNotice(), "");
    EXPECT_EQ (view.getText(), "line 0\nline 1\nline 2\nline 3\nline 4\n" + lostMarker (37)
                                   + "\nline 42\nline 43\nline 44\n" + lostMarker (1) + "\nline 46\n");

    juce::SystemClipboard::copyTextToClipboard ("before");
    EXPECT_TRUE (view.keyPressed (juce::KeyPress ('c', juce::ModifierKeys::commandModifier, 0)));
    EXPECT_EQ (juce::SystemClipboard::getTextFromClipboard(), "line 1\nline 2\nline 3");
}

TEST_F (EventLog, ShowsBytesThatAreNotUtf8AsReplacementCharactersOnRowsMeasuredAsDrawn)
{
    struct Case
    {
        const char* what;
        std::string bytes;
        const char* shown;   // UTF-8
    };
    const Case cases[] = {
        { "well-formed text stays", "caf\xc3\xa9 \xe2\x80\xa6 \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x80\xa6 \xf0\x9f\x98\x80" },
        { "a byte that only continues a sequence", "ab\xa9", "ab\xef\xbf\xbd" },
        { "a continuation byte of value 0x80", "ab\x80", "ab\xef\xbf\xbd" },
        { "a sequence cut short is one character", "\xe2\x82" "A", "\xef\xbf\xbd" "A" },
        { "a four-byte sequence cut short", "\xf0\x9f\x98x", "\xef\xbf\xbdx" },
        { "an overlong form", "\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd" },
        { "a surrogate", "\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd" },
        { "bytes UTF-8 never uses", "\xff\xfe", "\xef\xbf\xbd\xef\xbf\xbd" },
        { "a NUL, which would end the text", std::string ("a\0b", 3), "a\xef\xbf\xbd" "b" },
    };

    for (const auto& c : cases)
    {
        // Repeated so that the line wraps onto several rows; its end must be on the last.
        std::string line, expected;
        for (int i = 0; i < 40; ++i)
        {
            line += c.bytes;
            expected += c.shown;
        }
        line += " END";
        expected += " END";

        EventLogView withBytes, asShown;
        for (auto* v : { &withBytes, &asShown })
            v->setSize (305, 140);
        withBytes.appendLine (line);
        asShown.appendLine (expected);

        EXPECT_EQ (withBytes.getLine (0), juce::String::fromUTF8 (expected.data(), (int) expected.size())) << c.what;
        EXPECT_EQ (withBytes.getTotalRows(), asShown.getTotalRows()) << c.what;
        EXPECT_GT (asShown.getTotalRows(), 1) << c.what;
    }
}

TEST_F (EventLog, LongLinesBoundTheTextItKeeps)
{
    // Lines as long as a firmware data frame's trace: still 100,000 of them, and no more text than the bound.
    const std::string longLine (1014, 'a');
    for (int i = 0; i < 150000; ++i)
        view.appendLine (longLine);
    EXPECT_GE (view.getNumLines(), 100000);
    EXPECT_LT (view.getNumLines(), 150000);
    EXPECT_EQ (view.getNumDropped(), static_cast<juce::uint64> (150000 - view.getNumLines()));
}

TEST_F (EventLog, FollowsTheEndUntilScrolledUpThenHoldsStill)
{
    view.appendLines (numbered (0, 1000));
    EXPECT_TRUE (view.isFollowingEnd());
    EXPECT_EQ (lastInSight(), 999);

    view.appendLines (numbered (1000, 10));
    EXPECT_EQ (lastInSight(), 1009) << "following, the newest line is in sight";

    // Scrolled up, new lines leave the rows in sight alone.
    view.scrollToRow (100);
    EXPECT_FALSE (view.isFollowingEnd());
    const auto shown = view.getLine (firstInSight());
    view.appendLines (numbered (1010, 500));
    EXPECT_EQ (view.getTopRow(), 100);
    EXPECT_EQ (view.getLine (firstInSight()), shown);

    // Also while older lines are dropped above them: the same line stays on top.
    view.appendLines (numbered (1510, static_cast<int> (LogLineStore::maxLines) - 1510 + 50));
    ASSERT_EQ (view.getNumDropped(), 50u);
    EXPECT_EQ (view.getLine (firstInSight()), shown);
    EXPECT_EQ (view.getTopRow(), 100 - 50 + 1) << "50 rows went above, the notice came";

    // Back at the end (End key), it follows again.
    EXPECT_TRUE (view.keyPressed (juce::KeyPress (juce::KeyPress::endKey)));
    EXPECT_TRUE (view.isFollowingEnd());
    view.appendLines ({ "newest" });
    EXPECT_EQ (view.getLine (lastInSight()), "newest");

    // A wheel notch up leaves the end; keys move by rows and pages.
    view.mouseWheelMove ({ juce::Desktop::getInstance().getMainMouseSource(), {}, {}, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                           &view, &view, juce::Time::getCurrentTime(), {}, juce::Time::getCurrentTime(), 0, false },
                         { 0.0f, 1.0f, false, false, false });
    EXPECT_FALSE (view.isFollowingEnd());
    const auto top = view.getTopRow();
    view.keyPressed (juce::KeyPress (juce::KeyPress::pageUpKey));
    EXPECT_EQ (view.getTopRow(), top - view.getVisibleRows());
    view.keyPressed (juce::KeyPress (juce::KeyPress::homeKey));
    EXPECT_EQ (view.getTopRow(), 0);
}

TEST_F (EventLog, WrapsLongLinesOntoRowsOfTheirOwn)
{
    view.appendLines ({ "short", std::string (200, 'f'), "after" });
    EXPECT_GT (view.getTotalRows(), 4) << "the long line takes several rows";
    EXPECT_EQ (view.getLineAt (row (0)), 0);
    EXPECT_EQ (view.getLineAt (row (1)), 1);
    EXPECT_EQ (view.getLineAt (row (2)), 1);
    EXPECT_EQ (view.getLineAt (row (static_cast<int> (view.getTotalRows()) - 1)), 2);

    // Wider, the same line takes fewer rows; the rows are measured again.
    const auto rowsNarrow = view.getTotalRows();
    view.setSize (600, 140);
    EXPECT_LT (view.getTotalRows(), rowsNarrow);
}

TEST_F (EventLog, SelectsLinesWithClicksAndCopiesThemAsText)
{
    view.appendLines (numbered (0, 5));
    view.scrollToRow (0);

    struct Step
    {
        const char* what;
        int row;
        bool shift;
        juce::Range<int> selected;
    };
    const Step steps[] = {
        { "a click selects its line", 1, false, { 1, 2 } },
        { "shift-click extends to another", 3, true, { 1, 4 } },
        { "shift-click above the anchor selects upwards", 0, true, { 0, 2 } },
        { "a click alone starts again", 4, false, { 4, 5 } },
        { "a click below the last line selects nothing", 8, false, {} },
    };
    for (const auto& s : steps)
    {
        click (row (s.row), s.shift ? juce::ModifierKeys::shiftModifier : 0);
        EXPECT_EQ (view.getSelectedLines(), s.selected) << s.what;
    }

    click (row (1));
    click (row (3), juce::ModifierKeys::shiftModifier);
    juce::SystemClipboard::copyTextToClipboard ("before");
    EXPECT_TRUE (view.keyPressed (juce::KeyPress ('c', juce::ModifierKeys::commandModifier, 0)));
    EXPECT_EQ (juce::SystemClipboard::getTextFromClipboard(), "line 1\nline 2\nline 3");

    // Read-only: typing changes nothing, and the keys it does not use go on to the panel.
    EXPECT_FALSE (view.keyPressed (juce::KeyPress ('x', 0, 'x')));
    EXPECT_FALSE (view.keyPressed (juce::KeyPress (juce::KeyPress::F2Key)));
    EXPECT_FALSE (view.keyPressed (juce::KeyPress (juce::KeyPress::returnKey)));
    EXPECT_EQ (view.getText(), "line 0\nline 1\nline 2\nline 3\nline 4\n");

    // The selection stays on its lines while older ones go, and goes with them.
    view.appendLines (numbered (5, static_cast<int> (LogLineStore::maxLines) - 3));
    EXPECT_EQ (view.getSelectedText(), "line 2\nline 3");
    view.appendLines (numbered (0, 10, "more "));
    EXPECT_TRUE (view.getSelectedLines().isEmpty());
    EXPECT_FALSE (view.copySelection());

    // Ctrl+A takes every line.
    EXPECT_TRUE (view.keyPressed (juce::KeyPress ('a', juce::ModifierKeys::commandModifier, 0)));
    EXPECT_EQ (view.getSelectedLines(), juce::Range<int> (0, view.getNumLines()));
}

TEST (EventLogQueue, LinesFromAnotherThreadArriveInOrderInFewBatches)
{
    std::vector<std::string> received;
    juce::uint64 dropped = 0;
    int callbacks = 0;
    LogLineQueue queue ([&] (const std::vector<std::string>& lines, juce::uint64 droppedBefore)
    {
        EXPECT_TRUE (juce::MessageManager::getInstance()->isThisTheMessageThread());
        received.insert (received.end(), lines.begin(), lines.end());
        dropped += droppedBefore;
        ++callbacks;
    });

    // A burst, then a trickle of one line every millisecond, as a busy worker posts them.
    constexpr int burst = 50000, trickle = 500;
    std::atomic<bool> done { false };
    std::thread worker ([&]
    {
        for (int i = 0; i < burst; ++i)
            queue.post (std::to_string (i));
        for (int i = burst; i < burst + trickle; ++i)
        {
            queue.post (std::to_string (i));
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
        done = true;
    });

    const auto start = juce::Time::getMillisecondCounter();
    const bool all = pumpUntil ([&] { return done && received.size() == burst + trickle; }, 30000);
    const auto elapsed = juce::Time::getMillisecondCounter() - start;
    worker.join();

    ASSERT_TRUE (all) << received.size() << " of " << burst + trickle << " lines arrived";
    EXPECT_EQ (dropped, 0u);
    for (size_t i = 0; i < received.size(); ++i)
        if (received[i] != std::to_string (i))
        {
            ADD_FAILURE() << "line " << i << " arrived as " << received[i];
            break;
        }

    // At most one hand-over a frame, however many lines came.
    EXPECT_LE (callbacks, (int) elapsed / LogLineQueue::handOverIntervalMs + 2);
    EXPECT_EQ (queue.getNumHandOvers(), callbacks);

    // Nothing pending, nothing runs.
    pump (200);
    EXPECT_EQ (callbacks, queue.getNumHandOvers());
    EXPECT_EQ (queue.getNumHandOvers(), callbacks);
}

TEST (EventLogQueue, AHeldUpMessageThreadCostsNoMoreThanTheLogKeeps)
{
    EventLogView view;
    view.setSize (305, 140);
    juce::uint64 lost = 0;
    LogLineQueue queue ([&] (const std::vector<std::string>& lines, juce::uint64 droppedBefore)
    {
        lost += droppedBefore;
        view.noteDropped (droppedBefore);
        view.appendLines (lines);
    });

    // The message thread takes nothing while the worker posts more than the log keeps.
    const int max = static_cast<int> (LogLineStore::maxLines);
    std::thread worker ([&]
    {
        for (int i = 0; i < max + max / 4; ++i)
            queue.post (std::to_string (i));
    });
    worker.join();

    queue.flush();
    ASSERT_GT (lost, 0u);
    EXPECT_EQ (view.getNumDropped(), 0u) << "lost lines are not older lines dropped";
    EXPECT_EQ (static_cast<juce::uint64> (view.getNumLines() - 1) + lost, static_cast<juce::uint64> (max + max / 4));
    EXPECT_EQ (view.getLine (view.getNumLines() - 1), juce::String (max + max / 4 - 1));
    EXPECT_EQ (view.getLine (0), lostMarker ((int) lost)) << "the loss is marked where it happened";
    EXPECT_EQ (view.getLine (1), juce::String (static_cast<juce::int64> (lost)))
        << "what is kept is the newest, without a gap";
    EXPECT_EQ (queue.getNumHandOvers(), 1);
}

TEST (LogLineStore, HoldsNoMoreMemoryThanItsBoundForLinesOfAnyLength)
{
    // What the heap holds, measured outside the store: its blocks in use and its mapped ones.
    const auto heapInUse = []
    {
        const auto info = ::mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    constexpr size_t bound = LogLineStore::maxBytes;
    constexpr size_t room = 8u << 20;   // the line index and the test's own line

    for (const size_t length : { (size_t) 1014, (size_t) 100 << 10, ((size_t) 128 << 10) + 1, (size_t) 200 << 10,
                                 (size_t) 3 << 20, bound + (16u << 20) })
    {
        const std::string line (length, 'x');
        const auto before = heapInUse();
        {
            LogLineStore store;
            const size_t count = std::max<size_t> (2, 2 * bound / length + 1);
            for (size_t i = 0; i < count; ++i)
                store.append (line);

            const auto held = heapInUse() - before;
            EXPECT_LE (held, bound + room) << "lines of " << length << " bytes";
            EXPECT_GE (store.textBytes(), std::min (length, bound)) << "lines of " << length << " bytes";
            EXPECT_GE (store.textBytes() + std::min (length, bound), bound * 9 / 10)
                << "lines of " << length << " bytes: the bound is used, not wasted";
        }
    }
}

TEST (LogLineStore, GivesEachRowItsOwnCharactersOfAWrappedLine)
{
    LogLineStore store;
    store.setColumns (4);
    store.append ("abcdefghij");
    store.append ("\xc3\xa9\xe2\x80\xa6\xf0\x9f\x98\x80xyz\xc3\xa9");   // five characters of 1 to 4 bytes, then ASCII
    store.append ("ab\xffz");                                        // held with U+FFFD for the byte

    struct Row
    {
        size_t line;
        uint32_t row;
        const char* text;
    };
    const Row rows[] = {
        { 0, 0, "abcd" }, { 0, 1, "efgh" }, { 0, 2, "ij" },
        { 1, 0, "\xc3\xa9\xe2\x80\xa6\xf0\x9f\x98\x80x" }, { 1, 1, "yz\xc3\xa9" },
        { 2, 0, "ab\xef\xbf\xbdz" },
    };
    for (const auto& r : rows)
        EXPECT_EQ (store.rowOf (r.line, r.row), r.text) << "line " << r.line << ", row " << r.row;

    EXPECT_EQ (store.totalRows(), 3u + 2u + 1u);
    EXPECT_EQ (store.firstRowOf (2), 5u);
}
