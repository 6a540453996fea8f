#include "panel/LogLineStore.h"

#include <algorithm>
#include <cstring>

namespace
{
    // Chunks of this size hold a few thousand trace lines each. A line longer than
    // a sixteenth of one gets a block of its own size instead, so that no chunk
    // leaves more than that unused at its end.
    constexpr size_t chunkBytes = 256 * 1024;
    constexpr size_t longLineBytes = chunkBytes / 16;

    constexpr char replacement[] = "\xef\xbf\xbd";   // U+FFFD

    bool isContinuation (unsigned char c) { return (c & 0xC0) == 0x80; }

    /** Characters of well-formed UTF-8 text: every byte that does not continue a sequence. */
    size_t characters (std::string_view text)
    {
        size_t n = 0;
        for (const char c : text)
            n += isContinuation (static_cast<unsigned char> (c)) ? 0 : 1;
        return n;
    }

    struct Sequence
    {
        size_t bytes;   // its length, or when ill-formed, the bytes one U+FFFD stands for
        bool wellFormed;
    };

    /** The UTF-8 sequence that starts at text[at], checked as Unicode's table of
        well-formed sequences has it (no overlong forms, surrogates or code points
        past U+10FFFF). A sequence cut short counts as one ill-formed character. */
    Sequence sequenceAt (std::string_view text, size_t at)
    {
        const auto byte = [&] (size_t k) -> unsigned
        {
            return at + k < text.size() ? static_cast<unsigned char> (text[at + k]) : 0u;
        };

        const unsigned lead = byte (0);
        if (lead >= 0x01 && lead < 0x80)
            return { 1, true };

        size_t length = 0;
        unsigned low = 0x80, high = 0xBF;   // the range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF)       length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)  length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        else if (lead >= 0xF0 && lead <= 0xF4)  length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        else                                    return { 1, false };   // a NUL, a stray continuation, or never used

        for (size_t k = 1; k < length; ++k, low = 0x80, high = 0xBF)
            if (byte (k) < low || byte (k) > high)
                return { k, false };
        return { length, true };
    }

    /** Counts the characters of text as it is held: when it is not well-formed,
        repaired receives it with each ill-formed part replaced by U+FFFD and is
        what is held. Returns whether it was repaired. */
    bool makeWellFormed (std::string_view text, std::string& repaired, size_t& count)
    {
        // The usual trace line is ASCII without a NUL: one quick look settles it.
        unsigned high = 0, nul = 0;
        for (const char c : text)
        {
            high |= static_cast<unsigned char> (c) & 0x80u;
            nul |= c == 0 ? 1u : 0u;
        }
        if ((high | nul) == 0)
        {
            count = text.size();
            return false;
        }

        bool wasRepaired = false;
        count = 0;
        for (size_t at = 0; at < text.size();)
        {
            // A run of ASCII, the whole of a usual trace line, is taken at once.
            size_t run = at;
            while (run < text.size() && static_cast<unsigned char> (text[run]) - 1u < 0x7Fu)
                ++run;
            if (run > at)
            {
                if (wasRepaired)
                    repaired.append (text.data() + at, run - at);
                count += run - at;
                at = run;
                continue;
            }

            const auto s = sequenceAt (text, at);
            if (! s.wellFormed && ! wasRepaired)
            {
                repaired.assign (text.data(), at);
                wasRepaired = true;
            }
            if (wasRepaired)
            {
                if (s.wellFormed)
                    repaired.append (text.data() + at, s.bytes);
                else
                    repaired.append (replacement, sizeof (replacement) - 1);
            }
            at += s.bytes;
            ++count;
        }
        return wasRepaired;
    }
}

LogLineStore::LogLineStore() = default;

uint32_t LogLineStore::rowsFor (size_t n) const
{
    const size_t cols = static_cast<size_t> (columns);
    return static_cast<uint32_t> (std::max<size_t> (1, (n + cols - 1) / cols));
}

char* LogLineStore::place (std::string_view text)
{
    char* at = nullptr;
    if (text.size() > longLineBytes)
    {
        longLines.push_back (std::make_unique<char[]> (text.size()));
        storageHeld += text.size();
        at = longLines.back().get();
    }
    else
    {
        if (chunks.empty() || chunks.back().capacity - chunks.back().used < text.size())
        {
            Chunk c;
            c.capacity = chunkBytes;
            c.text = std::make_unique<char[]> (c.capacity);
            chunks.push_back (std::move (c));
            storageHeld += chunkBytes;
        }
        Chunk& c = chunks.back();
        at = c.text.get() + c.used;
        c.used += text.size();
        ++c.lines;
    }

    if (! text.empty())
        std::memcpy (at, text.data(), text.size());
    return at;
}

void LogLineStore::append (std::string_view text)
{
    size_t count = 0;
    if (makeWellFormed (text, repaired, count))
        text = repaired;

    // A line past the bound cannot come from a trace; cut it between two characters.
    if (text.size() > maxBytes)
    {
        size_t end = maxBytes;
        while (end > 0 && isContinuation (static_cast<unsigned char> (text[end])))
            --end;
        text = text.substr (0, end);
        count = characters (text);
    }

    const uint32_t rows = rowsFor (count);
    entries.push_back ({ place (text), static_cast<uint32_t> (text.size()), rows, rowsEver });
    rowsEver += rows;
    bytesHeld += text.size();

    while (entries.size() > maxLines || (storageHeld > maxBytes && entries.size() > 1))
        dropOldest();

    // A long line's repair does not stay behind in the scratch string.
    if (repaired.capacity() > longLineBytes)
        std::string().swap (repaired);
}

void LogLineStore::dropOldest()
{
    const size_t length = entries.front().length;
    bytesHeld -= length;
    entries.pop_front();
    ++dropped;

    // Lines leave in the order they came, so the oldest line is always in the
    // first chunk, or the first long line's block.
    if (length > longLineBytes)
    {
        longLines.pop_front();
        storageHeld -= length;
    }
    else if (--chunks.front().lines == 0)
    {
        chunks.pop_front();
        storageHeld -= chunkBytes;
    }
}

void LogLineStore::clear()
{
    entries.clear();
    chunks.clear();
    longLines.clear();
    rowsEver = 0;
    dropped = 0;
    bytesHeld = 0;
    storageHeld = 0;
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
        e.rows = rowsFor (characters ({ e.text, e.length }));
        e.rowsBefore = before;
        before += e.rows;
    }
    rowsEver = before;
}

std::string_view LogLineStore::rowOf (size_t index, uint32_t rowInLine) const
{
    const std::string_view text = line (index);
    const size_t cols = static_cast<size_t> (columns);

    // Every character starts with a byte that does not continue a sequence: skip
    // whole rows of them, then take one row's worth.
    size_t start = 0;
    for (size_t skip = static_cast<size_t> (rowInLine) * cols; start < text.size(); ++start)
        if (! isContinuation (static_cast<unsigned char> (text[start])) && skip-- == 0)
            break;

    size_t end = start;
    for (size_t take = cols + 1; end < text.size(); ++end)
        if (! isContinuation (static_cast<unsigned char> (text[end])) && --take == 0)
            break;

    return text.substr (start, end - start);
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
