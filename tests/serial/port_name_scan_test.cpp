// COMn number scan over Windows DOS device name lists, built from literal names.

#include "serial/PortNameScan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
    /** Names as QueryDosDevice lists them: each zero-terminated, closed by an empty name. */
    std::string nameList (const std::vector<std::string>& names)
    {
        std::string list;
        for (const auto& n : names)
            list.append (n).push_back ('\0');
        list.push_back ('\0');
        return list;
    }

    std::vector<int> portsIn (const std::string& list, int maxCount = 64)
    {
        std::vector<int> numbers ((size_t) maxCount + 1, -1);
        const int n = collectPortNumbers (list.data(), list.size(), numbers.data(), maxCount);
        numbers.resize ((size_t) n);
        return numbers;
    }

    struct ScanCase
    {
        const char* what;
        std::vector<std::string> names;
        std::vector<int> ports;
    };
}

TEST (PortNameScan, FindsPortNumbersInListOrder)
{
    const std::vector<ScanCase> cases {
        { "empty list",                        {},                                    {} },
        { "kept in the order found",           { "COM3", "COM10", "COM4" },           { 3, 10, 4 } },
        { "other devices skipped",             { "C:", "LPT1", "COM5", "NUL", "COM7" }, { 5, 7 } },
        { "COM0 is skipped",                   { "COM1", "COM0", "COM2" },            { 1, 2 } },
        { "name ending in COM is skipped",     { "COM1", "MYCOM", "COM2" },           { 1, 2 } },
        { "bare COM is skipped",               { "COM", "COM2" },                     { 2 } },
        { "zero-numbered names in a row",      { "COM0", "COM", "COM00", "LPT1", "COM9" }, { 9 } },
        { "only zero-numbered names",          { "COM0", "XCOM" },                    {} },
        { "zero-numbered name last",           { "COM5", "COM0" },                    { 5 } },
        { "broken prefix: CCOM1",              { "CCOM1", "COM2" },                   { 2 } },
        { "trailing character: COM1A",         { "COM1A", "COM2" },                   { 2 } },
        { "COM after other characters",        { "XCOM7", "COM8" },                   { 7, 8 } },
        { "lowercase is another name",         { "com1", "COM2" },                    { 2 } },
        { "four digits are no port",           { "COM1234", "COM8" },                 { 8 } },
        { "three digits anywhere in the list", { "COM100", "COM128", "COM255", "COM3" }, { 100, 128, 255, 3 } },
        { "largest three-digit number",        { "COM999" },                          { 999 } },
        { "three digits with value 0 skipped", { "COM000", "COM2" },                  { 2 } },
        { "leading zeros keep the number",     { "COM007", "COM010" },                { 7, 10 } },
        { "last name in the list",             { "LPT1", "COM12" },                   { 12 } },
    };

    for (const auto& c : cases)
        EXPECT_EQ (portsIn (nameList (c.names)), c.ports) << c.what;
}

TEST (PortNameScan, StopsAtTheTableLimit)
{
    // Skipped names take no place in the table.
    std::vector<std::string> names { "COM0", "COM" };
    std::vector<int> first64;
    for (int i = 1; i <= 70; ++i)
    {
        names.push_back ("COM" + std::to_string (i));
        if (i % 10 == 0)
            names.push_back ("COM0");
        if (i <= 64)
            first64.push_back (i);
    }

    EXPECT_EQ (portsIn (nameList (names)), first64);
}

TEST (PortNameScan, CursorStaysOnTheClosingEmptyName)
{
    const std::string list = nameList ({ "COM4", "LPT1" });
    const char* cursor = list.data();
    const char* const end = list.data() + list.size();

    EXPECT_EQ (scanNextPort (cursor, end), 4);
    EXPECT_EQ (cursor, list.data() + 5);

    EXPECT_EQ (scanNextPort (cursor, end), 0);
    EXPECT_EQ (cursor, end - 1);
    EXPECT_EQ (*cursor, '\0');

    // Scanning again at the end yields nothing and does not move.
    EXPECT_EQ (scanNextPort (cursor, end), 0);
    EXPECT_EQ (cursor, end - 1);
}

TEST (PortNameScan, CursorPassesOverSkippedNames)
{
    const std::string list = nameList ({ "COM0", "COM", "COM3" });
    const char* cursor = list.data();
    const char* const end = list.data() + list.size();

    EXPECT_EQ (scanNextPort (cursor, end), 3);
    EXPECT_EQ (cursor, end - 1);
    EXPECT_EQ (scanNextPort (cursor, end), 0);
    EXPECT_EQ (cursor, end - 1);
}

TEST (PortNameScan, NeverReadsPastAnUnterminatedBuffer)
{
    // Exact-size heap buffers, so a sanitizer would catch a read past them.
    const std::vector<char> noTerminator { 'C', 'O', 'M', '5' };
    const char* cursor = noTerminator.data();
    EXPECT_EQ (scanNextPort (cursor, noTerminator.data() + noTerminator.size()), 0);
    EXPECT_EQ (cursor, noTerminator.data() + noTerminator.size());

    const std::vector<char> noEmptyName { 'C', 'O', 'M', '5', '\0', 'C', 'O', 'M', '6', '\0' };
    std::vector<int> numbers (4);
    EXPECT_EQ (collectPortNumbers (noEmptyName.data(), noEmptyName.size(), numbers.data(), 4), 2);
    EXPECT_EQ (numbers[0], 5);
    EXPECT_EQ (numbers[1], 6);

    EXPECT_EQ (collectPortNumbers (noEmptyName.data(), 0, numbers.data(), 4), 0);

    // A skipped name running into the end of the buffer ends the list there.
    const std::vector<char> skippedLast { 'C', 'O', 'M', '2', '\0', 'C', 'O', 'M', '0', '\0' };
    EXPECT_EQ (collectPortNumbers (skippedLast.data(), skippedLast.size(), numbers.data(), 4), 1);
    EXPECT_EQ (numbers[0], 2);

    const std::vector<char> skippedUnterminated { 'C', 'O', 'M', '3', '\0', 'C', 'O', 'M', '0' };
    cursor = skippedUnterminated.data();
    const char* const skippedEnd = skippedUnterminated.data() + skippedUnterminated.size();
    EXPECT_EQ (scanNextPort (cursor, skippedEnd), 3);
    EXPECT_EQ (scanNextPort (cursor, skippedEnd), 0);
    EXPECT_EQ (cursor, skippedEnd);
}

TEST (PortNameScan, PortNumberOfAUsersName)
{
    struct Case { const char* name; int number; };
    const Case cases[] = {
        { "COM1", 1 }, { "com42", 42 }, { "Com999", 999 }, { "\\\\.\\COM12", 12 }, { "//./COM7", 7 },
        { "COM", 0 }, { "COM0", 0 }, { "COM1000", 0 }, { "COM4a", 0 }, { "LPT1", 0 },
        { "/dev/ttyUSB0", 0 }, { "", 0 }, { nullptr, 0 }, { "\\\\.\\", 0 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (portNumberOf (c.name), c.number) << (c.name != nullptr ? c.name : "(null)");
}
