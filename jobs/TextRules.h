#pragma once
// Validation and byte encoding of the texts the form sends to a receiver.
// Independent of the process locale, so a user's name is judged the same way
// whatever language the desktop runs in.

#include <juce_core/juce_core.h>

#include <cstdint>

namespace TextRules
{
    /** Letters, marks, digits, punctuation, symbols and spaces are printable;
        control and format characters, line/paragraph separators, surrogates
        and non-characters are not. */
    bool isPrintable (juce::juce_wchar c) noexcept;

    /** 1 to 31 characters, every one printable. */
    bool isValidName (const juce::String& text);

    /** Empty, or exactly four ASCII digits. */
    bool isValidPin (const juce::String& text);

    /** The text's UTF-8 form cut at the last whole character within maxBytes,
        zero-padded to maxBytes. */
    void encodeText (const juce::String& text, uint8_t* dest, int maxBytes);

    /** The bytes up to the first zero (at most maxBytes), read as UTF-8 when they
        are valid UTF-8 and as ISO 8859-1 otherwise. */
    juce::String decodeText (const uint8_t* bytes, int maxBytes);
}
