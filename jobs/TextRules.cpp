#include "jobs/TextRules.h"

#include <algorithm>
#include <cstring>

namespace
{
    struct Range { char32_t first, last; };

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

    /** Length of the UTF-8 sequence at bytes[0..available), or 0 when none starts there. */
    int sequenceLength (const unsigned char* bytes, size_t available, char32_t& c) noexcept
    {
        const unsigned char lead = bytes[0];
        int n = 0;
        char32_t min = 0;

        if (lead < 0x80)                { c = lead; return 1; }
        else if ((lead & 0xE0) == 0xC0) { n = 2; c = lead & 0x1F; min = 0x80; }
        else if ((lead & 0xF0) == 0xE0) { n = 3; c = lead & 0x0F; min = 0x800; }
        else if ((lead & 0xF8) == 0xF0) { n = 4; c = lead & 0x07; min = 0x10000; }
        else                            return 0;

        if ((size_t) n > available)
            return 0;

        for (int i = 1; i < n; ++i)
        {
            if ((bytes[i] & 0xC0) != 0x80)
                return 0;
            c = (c << 6) | (bytes[i] & 0x3F);
        }

        return c >= min && c <= 0x10FFFF ? n : 0;   // no overlong forms
    }

    /** Number of characters in valid UTF-8 text, or -1 when it is not valid UTF-8. */
    int countCharacters (const unsigned char* bytes, size_t size, bool (*accept) (char32_t) noexcept = nullptr)
    {
        int count = 0;

        for (size_t i = 0; i < size; ++count)
        {
            char32_t c = 0;
            const int n = sequenceLength (bytes + i, size - i, c);
            if (n == 0 || (accept != nullptr && ! accept (c)))
                return -1;
            i += (size_t) n;
        }

        return count;
    }

    void appendUtf8 (std::string& out, char32_t c)
    {
        if (c < 0x80)
            out += (char) c;
        else if (c < 0x800)
        {
            out += (char) (0xC0 | (c >> 6));
            out += (char) (0x80 | (c & 0x3F));
        }
        else
        {
            out += (char) (0xE0 | (c >> 12));
            out += (char) (0x80 | ((c >> 6) & 0x3F));
            out += (char) (0x80 | (c & 0x3F));
        }
    }
}

bool TextRules::isPrintable (char32_t c) noexcept
{
    if (c > 0x10FFFF || (c & 0xFFFE) == 0xFFFE)
        return false;

    for (const auto& r : unprintable)
        if (c >= r.first && c <= r.last)
            return false;

    return true;
}

bool TextRules::isValidName (const std::string& text)
{
    return nameProblem (text).empty();
}

std::string TextRules::nameProblem (const std::string& text)
{
    if (text.empty())
        return "The name is empty: give 1 to " + std::to_string (maxNameBytes) + " bytes of text.";

    if (countCharacters (reinterpret_cast<const unsigned char*> (text.data()), text.size(), isPrintable) < 0)
        return "The name holds a character that cannot be shown (a control or format character, or bytes that are not UTF-8).";

    // The receiver keeps bytes, not characters: a letter outside ASCII takes two to four.
    if (text.size() > (size_t) maxNameBytes)
        return "The name is " + std::to_string (text.size()) + " bytes long in UTF-8; the receiver keeps at most "
             + std::to_string (maxNameBytes) + " bytes (one per ASCII character, two to four for others).";

    return {};
}

bool TextRules::isValidPin (const std::string& text)
{
    if (text.empty())
        return true;

    return text.size() == 4
        && std::all_of (text.begin(), text.end(), [] (char c) { return c >= '0' && c <= '9'; });
}

void TextRules::encodeText (const std::string& text, uint8_t* dest, int maxBytes)
{
    std::fill (dest, dest + maxBytes, uint8_t (0));
    const auto* bytes = reinterpret_cast<const unsigned char*> (text.data());
    size_t used = 0;

    while (used < text.size())
    {
        char32_t c = 0;
        const int size = sequenceLength (bytes + used, text.size() - used, c);

        if (size == 0 || used + (size_t) size > (size_t) maxBytes)
            break;

        std::memcpy (dest + used, bytes + used, (size_t) size);
        used += (size_t) size;
    }
}

std::string TextRules::decodeText (const uint8_t* bytes, int maxBytes)
{
    int length = 0;
    while (length < maxBytes && bytes[length] != 0)
        ++length;

    if (countCharacters (bytes, (size_t) length) >= 0)
        return std::string (reinterpret_cast<const char*> (bytes), (size_t) length);

    std::string latin1;
    latin1.reserve ((size_t) length * 2);

    for (int i = 0; i < length; ++i)
        appendUtf8 (latin1, bytes[i]);

    return latin1;
}

std::string TextRules::visible (const std::string& text, bool keepLineBreaks)
{
    static const char hex[] = "0123456789ABCDEF";
    const auto* bytes = reinterpret_cast<const unsigned char*> (text.data());
    std::string out;
    out.reserve (text.size());

    for (size_t i = 0; i < text.size();)
    {
        char32_t c = 0;
        const int n = sequenceLength (bytes + i, text.size() - i, c);
        const bool surrogate = c >= 0xD800 && c <= 0xDFFF;

        if (n == 0 || surrogate)
        {
            // Not UTF-8: the byte itself, shown as a byte.
            out += "\\x";
            out += hex[bytes[i] >> 4];
            out += hex[bytes[i] & 0xF];
            ++i;
            continue;
        }

        if ((c < 0x20 && ! (keepLineBreaks && c == '\n')) || c == 0x7F)
        {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
        else if (c >= 0x80 && c <= 0x9F)
        {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
        else
        {
            out.append (text, i, (size_t) n);
        }
        i += (size_t) n;
    }

    return out;
}
