#pragma once
// Validation and byte encoding of the texts the form sends to a receiver.
// Texts are UTF-8; nothing here depends on the process locale, so a user's
// name is judged the same way whatever language the desktop runs in.

#include <cstdint>
#include <string>

namespace TextRules
{
    /** Letters, marks, digits, punctuation, symbols and spaces are printable;
        control and format characters, line/paragraph separators, surrogates
        and non-characters are not. */
    bool isPrintable (char32_t c) noexcept;

    /** Longest name in bytes of UTF-8: the receivers keep 32 bytes, and every
        type reads 31 back whole. */
    constexpr int maxNameBytes = 31;

    /** 1 to 31 bytes of UTF-8, every character printable; text that is not valid
        UTF-8 is not a name. */
    bool isValidName (const std::string& text);

    /** Why text is not a valid name, as the user reads it ("" when it is one). */
    std::string nameProblem (const std::string& text);

    /** Empty, or exactly four ASCII digits. */
    bool isValidPin (const std::string& text);

    /** The text's UTF-8 form cut at the last whole character within maxBytes,
        zero-padded to maxBytes. */
    void encodeText (const std::string& text, uint8_t* dest, int maxBytes);

    /** text as it may be shown on a terminal, in a window or in a log: control
        characters (C0, DEL, C1) and bytes that are not valid UTF-8 become visible
        escapes ("\x1B", "\u009B"), so a string from outside the program (a
        receiver's name, a USB product string, a program's name) cannot move the
        cursor, retitle or clear a terminal. With keepLineBreaks, '\n' stays. */
    std::string visible (const std::string& text, bool keepLineBreaks = false);

    /** The bytes up to the first zero (at most maxBytes), read as UTF-8 when they
        are valid UTF-8 and as ISO 8859-1 otherwise; returned as UTF-8. */
    std::string decodeText (const uint8_t* bytes, int maxBytes);
}
