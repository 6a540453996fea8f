#include "jobs/TextRules.h"

namespace
{
    struct Range { juce::juce_wchar first, last; };

    // Control (Cc), format (Cf), line and paragraph separators (Zl, Zp),
    // surrogates (Cs) and the non-characters of the Basic Multilingual Plane.
    constexpr Range unprintable[] = {
        { 0x0000, 0x001F }, { 0x007F, 0x009F }, { 0x00AD, 0x00AD },
        { 0x0600, 0x0605 }, { 0x061C, 0x061C }, { 0x06DD, 0x06DD }, { 0x070F, 0x070F },
        { 0x0890, 0x0891 }, { 0x08E2, 0x08E2 }, { 0x180E, 0x180E },
        { 0x200B, 0x200F }, { 0x2028, 0x202E }, { 0x2060, 0x2064 }, { 0x2066, 0x206F },
        { 0xD800, 0xDFFF }, { 0xFDD0, 0xFDEF }, { 0xFEFF, 0xFEFF }, { 0xFFF9, 0xFFFB },
        { 0xFFFE, 0xFFFF }, { 0x110BD, 0x110BD }, { 0x110CD, 0x110CD },
        { 0x13430, 0x1343F }, { 0x1BCA0, 0x1BCA3 }, { 0x1D173, 0x1D17A },
        { 0xE0001, 0xE0001 }, { 0xE0020, 0xE007F },
    };
}

bool TextRules::isPrintable (juce::juce_wchar c) noexcept
{
    if (c > 0x10FFFF || (c & 0xFFFE) == 0xFFFE)
        return false;

    for (const auto& r : unprintable)
        if (c >= r.first && c <= r.last)
            return false;

    return true;
}

bool TextRules::isValidName (const juce::String& text)
{
    const int n = text.length();

    if (n < 1 || n > 31)
        return false;

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
        if (! isPrintable (p.getAndAdvance()))
            return false;

    return true;
}

bool TextRules::isValidPin (const juce::String& text)
{
    const int n = text.length();

    if (n == 0)
        return true;

    if (n != 4)
        return false;

    for (int i = 0; i < 4; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;

    return true;
}

void TextRules::encodeText (const juce::String& text, uint8_t* dest, int maxBytes)
{
    std::fill (dest, dest + maxBytes, uint8_t (0));
    int used = 0;

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto start = p.getAddress();
        p.getAndAdvance();
        const int size = (int) (p.getAddress() - start);

        if (used + size > maxBytes)
            break;

        std::memcpy (dest + used, start, (size_t) size);
        used += size;
    }
}

juce::String TextRules::decodeText (const uint8_t* bytes, int maxBytes)
{
    int length = 0;
    while (length < maxBytes && bytes[length] != 0)
        ++length;

    const auto* chars = reinterpret_cast<const char*> (bytes);

    if (juce::CharPointer_UTF8::isValidString (chars, length))
        return juce::String::fromUTF8 (chars, length);

    juce::String latin1;
    latin1.preallocateBytes ((size_t) length * 2);

    for (int i = 0; i < length; ++i)
        latin1 += juce::String::charToString ((juce::juce_wchar) bytes[i]);

    return latin1;
}
