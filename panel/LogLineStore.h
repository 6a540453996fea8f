#pragma once
// The event log's lines: held compactly (their bytes packed into large chunks,
// a small index entry per line), bounded (the oldest lines go once there are too
// many, or their text takes too much memory), and measured in rows, wrapped at a
// column count, so that the view finds the line at any row without laying out
// the others. Lines are held as well-formed UTF-8, so that a row holds the same
// characters whether it is measured here or drawn.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

class LogLineStore
{
public:
    /** Lines kept at most; older ones are dropped. */
    static constexpr size_t maxLines = 200000;

    /** Bytes of memory held for text at most, so that long lines cannot make the
        bound a large one: room for 100,000 of the longest trace lines (a firmware
        data frame, about 1,000 characters), and for all 200,000 of the usual 20
        to 60. A longer line is cut to it. */
    static constexpr size_t maxBytes = 128u << 20;

    LogLineStore();

    /** Appends a line (UTF-8, without its line feed), then drops the oldest lines
        beyond the bounds. Whatever is not well-formed UTF-8 is held as U+FFFD (one
        for each byte, or for each sequence cut short), and so is a NUL, which
        would end the text where it is drawn. */
    void append (std::string_view line);

    void clear();

    size_t size() const noexcept { return entries.size(); }
    bool empty() const noexcept { return entries.empty(); }

    /** Lines dropped since the start, oldest first: every one is older than line 0. */
    uint64_t droppedCount() const noexcept { return dropped; }

    /** Line index (0 is the oldest held), without its line feed. */
    std::string_view line (size_t index) const;

    /** The characters of line index on its row rowInLine (0 is the first). */
    std::string_view rowOf (size_t index, uint32_t rowInLine) const;

    /** The columns rows are wrapped at (at least 1). Changing it measures every
        line again: a resize, not a per-line cost. */
    void setColumns (int columns);
    int getColumns() const noexcept { return columns; }

    /** Rows of all lines held, wrapped at the column count. */
    uint64_t totalRows() const noexcept;

    /** The first row of line index. */
    uint64_t firstRowOf (size_t index) const;

    /** The line that row (below totalRows()) is part of. */
    size_t lineAtRow (uint64_t row) const;

    /** Rows of every line ever appended before line 0, dropped ones: how far the
        rows have moved up since the start. */
    uint64_t rowsDroppedEver() const noexcept { return entries.empty() ? rowsEver : entries.front().rowsBefore; }

    /** Bytes of text held (not counting the index). */
    size_t textBytes() const noexcept { return bytesHeld; }

    /** Bytes of memory held for the text, at most maxBytes. */
    size_t storageBytes() const noexcept { return storageHeld; }

private:
    struct Entry
    {
        const char* text;
        uint32_t length;      // bytes
        uint32_t rows;        // rows at the column count
        uint64_t rowsBefore;  // rows of every line appended before this one, dropped ones too
    };

    struct Chunk
    {
        std::unique_ptr<char[]> text;
        size_t capacity = 0, used = 0;
        size_t lines = 0;     // lines held in it
    };

    uint32_t rowsFor (size_t characters) const;
    char* place (std::string_view text);
    void dropOldest();

    std::deque<Entry> entries;
    std::deque<Chunk> chunks;                     // the short lines, in order
    std::deque<std::unique_ptr<char[]>> longLines; // the long ones, each in a block its own size, in order
    std::string repaired;     // a line being made well-formed, its storage reused
    uint64_t rowsEver = 0;    // rows of every line appended, dropped ones too
    uint64_t dropped = 0;
    size_t bytesHeld = 0;
    size_t storageHeld = 0;   // chunks' capacity and long lines' blocks
    int columns = 1;
};
