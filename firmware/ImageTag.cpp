#include "firmware/ImageTag.h"

namespace
{
// Indexed by ImageTag.
const TagLayout tagTable[] = {
    { "MCUSIZE",      { { 0, 'M' }, { 1, 'C' }, { 2, 'U' } },                                   3, 11, 6, 0 },
    { "DSPSIZE",      { { 0, 'D' }, { 1, 'S' }, { 2, 'P' } },                                   3, 11, 6, 0 },
    { "CONFIGSIZE",   { { 0, 'C' }, { 1, 'O' }, { 2, 'N' }, { 5, 'G' } },                       4, 14, 6, 0 },
    { "MCUCODESTART", { { 0, 'M' }, { 1, 'C' }, { 6, 'E' }, { 7, 'S' }, { 8, 'T' }, { 11, 'T' } }, 6, 25, 4, 31 },
    { "DSPHDRSTART",  { { 0, 'D' }, { 1, 'S' }, { 3, 'H' }, { 4, 'D' }, { 6, 'S' }, { 10, 'T' } }, 6, 24, 4, 28 },
    { "SIZE",         { { 0, 'S' }, { 1, 'I' }, { 3, 'E' } },                                   3, 7,  6, 5 },
    { "DSPCODESTART", { { 0, 'D' }, { 1, 'S' }, { 6, 'E' }, { 7, 'S' }, { 8, 'T' }, { 11, 'T' } }, 6, 25, 4, 31 },
    { "CONFIGSTART",  { { 0, 'C' }, { 1, 'O' }, { 5, 'G' }, { 6, 'S' }, { 7, 'T' }, { 10, 'T' } }, 6, 24, 4, 30 },
};

int hexDigit (uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}
} // namespace

const TagLayout& tagLayout (ImageTag tag)
{
    return tagTable[static_cast<size_t> (tag)];
}

int tagExtent (ImageTag tag)
{
    const TagLayout& layout = tagLayout (tag);
    return layout.letters[layout.letterCount - 1].offset;
}

bool tagMatchesAt (ImageTag tag, const uint8_t* bytes, size_t limit, size_t pos)
{
    const TagLayout& layout = tagLayout (tag);

    if (pos >= limit || limit - pos <= static_cast<size_t> (tagExtent (tag)))
        return false;

    for (int i = 0; i < layout.letterCount; ++i)
        if (bytes[pos + layout.letters[i].offset] != static_cast<uint8_t> (layout.letters[i].letter))
            return false;

    return true;
}

int32_t readHexField (const uint8_t* chars, size_t available, int maxChars)
{
    int32_t value = 0;

    for (size_t i = 0; i < available && i < static_cast<size_t> (maxChars); ++i)
    {
        if (chars[i] == ']')
            break;
        value = value * 16 + hexDigit (chars[i]);
    }

    return value;
}
