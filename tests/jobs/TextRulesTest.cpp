// The text rules of the settings form: which names and PINs pass, and how
// texts are cut to the receiver's fields and read back. Pure, so they also
// run in the Windows build.

#include "jobs/TextRules.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
    std::string utf8 (const char* s) { return s; }
    std::string repeat (const char* s, int n)
    {
        std::string r;
        for (int i = 0; i < n; ++i)
            r += s;
        return r;
    }
}

TEST (TextRules, NameValidation)
{
    struct Case { std::string name; bool valid; };
    const Case cases[] = {
        { "", false },
        { "a", true },
        { repeat ("a", 31), true },
        { repeat ("a", 32), false },
        { "Living room", true },
        { "Living\troom", false },
        { "Line\nbreak", false },
        { utf8 ("Caf\xc3\xa9"), true },                       // é, under any process locale
        { repeat ("\xc3\xa9", 31), false },                   // 31 characters, but 62 bytes
        { repeat ("\xc3\xa9", 15) + "a", true },              // 31 bytes exactly
        { repeat ("\xc3\xa9", 16), false },                   // 16 characters, 32 bytes
        { repeat ("\xd0\x96", 17), false },                   // 17 Cyrillic letters, 34 bytes
        { utf8 ("Zero\xe2\x80\x8bwidth"), false },            // U+200B, a format character
        { utf8 ("\xe6\x97\xa5\xe6\x9c\xac"), true },          // CJK letters
        { utf8 ("Music \xe2\x99\xab"), true },                // a symbol
        { utf8 ("a\xc2\x85"), false },                        // C1 control
    };

    for (const auto& c : cases)
        EXPECT_EQ (TextRules::isValidName (c.name), c.valid) << c.name;
}

TEST (TextRules, ANameTooLongSaysItsLengthAndTheLimitInBytes)
{
    const auto why = TextRules::nameProblem (repeat ("\xd0\x96", 17));
    EXPECT_NE (why.find ("34 bytes"), std::string::npos) << why;
    EXPECT_NE (why.find ("at most 31 bytes"), std::string::npos) << why;
    EXPECT_EQ (TextRules::nameProblem (repeat ("a", 31)), "");
    EXPECT_NE (TextRules::nameProblem ("").find ("empty"), std::string::npos);
}

TEST (TextRules, PinValidation)
{
    struct Case { std::string pin; bool valid; };
    const Case cases[] = {
        { "", true }, { "0000", true }, { "9999", true }, { "1234", true },
        { "123", false }, { "12345", false }, { "12a4", false }, { " 123", false },
        { utf8 ("\xd9\xa1\xd9\xa2\xd9\xa3\xd9\xa4"), false },   // Arabic-Indic digits are not ASCII digits
    };

    for (const auto& c : cases)
        EXPECT_EQ (TextRules::isValidPin (c.pin), c.valid) << c.pin;
}

TEST (TextRules, NamesAreCutAtWholeCharactersAndReadBackAsTheyWereWritten)
{
    uint8_t bytes[33] = {};

    // 31 characters, 62 bytes: only the first 16 whole characters fit.
    TextRules::encodeText (repeat ("\xc3\xa9", 31), bytes, 32);
    EXPECT_EQ (TextRules::decodeText (bytes, 32), repeat ("\xc3\xa9", 16));

    // 30 ASCII letters and a two-byte letter would end on byte 32 exactly...
    TextRules::encodeText (repeat ("a", 30) + utf8 ("\xc3\xa9"), bytes, 32);
    EXPECT_EQ (TextRules::decodeText (bytes, 32), repeat ("a", 30) + utf8 ("\xc3\xa9"));

    // ...but after 31 of them it would be split, so it is left out.
    TextRules::encodeText (repeat ("a", 31) + utf8 ("\xc3\xa9"), bytes, 32);
    EXPECT_EQ (bytes[31], 0);
    EXPECT_EQ (TextRules::decodeText (bytes, 32), repeat ("a", 31));

    const uint8_t hello[] = { 0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x00 };
    EXPECT_EQ (TextRules::decodeText (hello, 32), "Hello");

    const uint8_t latin1[] = { 0x43, 0x61, 0x66, 0xE9, 0x00 };      // not valid UTF-8
    EXPECT_EQ (TextRules::decodeText (latin1, 32), utf8 ("Caf\xc3\xa9"));

    const uint8_t unicode[] = { 0x43, 0x61, 0x66, 0xC3, 0xA9, 0x00 };
    EXPECT_EQ (TextRules::decodeText (unicode, 32), utf8 ("Caf\xc3\xa9"));

    // Round trip: what is written is what is read.
    for (const auto& name : { utf8 ("Caf\xc3\xa9"), utf8 ("\xe6\x97\xa5\xe6\x9c\xac"), std::string ("Plain") })
    {
        TextRules::encodeText (name, bytes, 32);
        EXPECT_EQ (TextRules::decodeText (bytes, 32), name);
    }
}


TEST (TextRules, TextThatIsNotUtf8IsNoName)
{
    EXPECT_FALSE (TextRules::isValidName ("Caf\xe9"));
    EXPECT_FALSE (TextRules::isValidName ("\xc0\xaf"));        // an overlong '/'
}

TEST (TextRules, TextFromOutsideIsShownWithItsControlsEscaped)
{
    struct Case { std::string text; std::string shown; };
    const Case cases[] = {
        { "Kitchen", "Kitchen" },
        { utf8 ("K\xC3\xBC" "che \xE2\x82\xAC"), utf8 ("K\xC3\xBC" "che \xE2\x82\xAC") },      // printable UTF-8 stays
        { "\x1b]0;owned\a\x1b[2J", "\\x1B]0;owned\\x07\\x1B[2J" },                            // a retitle and a clear
        { "a\tb\rc\nd", "a\\x09b\\x0Dc\\x0Ad" },
        { std::string ("x\0y", 3), "x\\x00y" },
        { "del\x7f", "del\\x7F" },
        { utf8 ("\xC2\x9B" "2J"), "\\u009B2J" },                                                // C1 CSI, as UTF-8
        { "\x9b" "2J", "\\x9B2J" },                                                             // a lone C1 byte: no UTF-8
        { "\xC0\xAF", "\\xC0\\xAF" },                                                           // overlong
        { "\xED\xA0\x80", "\\xED\\xA0\\x80" },                                                  // a surrogate
        { "cut \xE2\x82", "cut \\xE2\\x82" },                                                   // cut mid-character
    };
    for (const auto& c : cases)
        EXPECT_EQ (TextRules::visible (c.text), c.shown) << c.shown;

    EXPECT_EQ (TextRules::visible ("one\ntwo\x1b", true), "one\ntwo\\x1B");
}
