#include "panel/LogLineStore.h"

#include <algorithm>
#include <cstring>

namespace
{
    // Chunks of this size hold a few thousand trace lines each; a longer line gets one of its own.
    constexpr size_t chunkBytes = 256 * 1024;

    /** Characters of UTF-8 text: every byte that does not continue a sequence. */
    size_t characters (std::string_view text)
    {
        size_t n = 0;
        for (const char c : text)
            n += (static_cast<unsigned char> (c) & 0xC0) != 0x80 ? 1 : 0;
        return n;
    }
}

LogLineStore::LogLineStore() = default;

uint32_t LogLineStore::rowsFor (std::string_view text) const
{
    const size_t n = characters (text);
    const size_t cols = static_cast<size_t> (columns);
    return static_cast<uint32_t> (std::max<size_t> (1, (n + cols - 1) / cols));
}

char* LogLineStore::place (std::string_view text)
{
    if (chunks.empty() || chunks.back().capacity - chunks.back().used < text.size())
    {
        Chunk c;
        c.capacity = std::max (chunkBytes, text.size());
        c.text = std::make_unique<char[]> (c.capacity);
        chunks.push_back (std::move (c));
    }
    Chunk& c = chunks.back();
    char* at = c.text.get() + c.used;
    if (! text.empty())
        std::memcpy (at, text.data(), text.size());
    c.used += text.size();
    ++c.lines;
    return at;
}

void LogLineStore::append (std::string_view text)
{
    // A line past 4 GB cannot come from a trace; cut rather than overflow the index.
    text = text.substr (0, std::min<size_t> (text.size(), UINT32_MAX));

    const uint32_t rows = rowsFor (text);
    entries.push_back ({ place (text), static_cast<uint32_t> (text.size()), rows, rowsEver });
    rowsEver += rows;
    bytesHeld += text.size();

    while (entries.size() > maxLines || (bytesHeld > maxBytes && entries.size() > 1))
        dropOldest();
}

void LogLineStore::dropOldest()
{
    bytesHeld -= entries.front().length;
    entries.pop_front();
    ++dropped;

    // Lines leave in the order they came, so the oldest line is always in the first chunk.
    Chunk& first = chunks.front();
    if (--first.lines == 0)
    {
        if (chunks.size() > 1)
            chunks.pop_front();
        else
            first.used = 0;
    }
}

void LogLineStore::clear()
{
    entries.clear();
    chunks.clear();
    rowsEver = 0;
    dropped = 0;
    bytesHeld = 0;
}

std::string_view LogLineStore::line (size_t index) const
{
    const Entry& e = entries[index];
    return { e.text, e.length };
}

void LogLineStore::setColumns (int newColumns)
{
    newColumns = std::max (1, newColumns);
    if (newColumns == columns)
        return;

    columns = newColumns;
    uint64_t before = entries.empty() ? 0 : entries.front().rowsBefore;
    for (Entry& e : entries)
    {
        e.rows = rowsFor ({ e.text, e.length });
        e.rowsBefore = before;
        before += e.rows;
    }
    rowsEver = before;
}

uint64_t LogLineStore::totalRows() const noexcept
{
    return entries.empty() ? 0 : rowsEver - entries.front().rowsBefore;
}

uint64_t LogLineStore::firstRowOf (size_t index) const
{
    return entries[index].rowsBefore - entries.front().rowsBefore;
}

size_t LogLineStore::lineAtRow (uint64_t row) const
{
    const uint64_t target = entries.front().rowsBefore + row;
    auto it = std::upper_bound (entries.begin(), entries.end(), target,
                                [] (uint64_t r, const Entry& e) { return r < e.rowsBefore; });
    return static_cast<size_t> (std::distance (entries.begin(), it)) - 1;
}
