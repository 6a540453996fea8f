// The installer's PATH edit: adding the install folder and taking it off again
// leave every other entry as it was, at any length.

#include "tools/pathedit/PathList.h"

#include <gtest/gtest.h>

#include <string>

using pathedit::sameFolder;
using pathedit::withFolder;
using pathedit::withoutFolder;

namespace
{
const std::wstring folder = L"C:\\Program Files\\Korva Bluetooth Manager";

/** Entries of about 40 characters up to at least n characters in all. */
std::wstring longPath(std::size_t n)
{
    std::wstring path = L"%SystemRoot%\\system32;%SystemRoot%";
    for (int i = 0; path.size() < n; ++i)
        path += L";C:\\Tools\\package-" + std::to_wstring(i) + L"\\bin\\with\\some\\depth";
    return path;
}
} // namespace

TEST(PathListTest, SameFolderIgnoresAsciiCaseAndTrailingBackslashesOnly)
{
    struct Case
    {
        std::wstring entry;
        bool same;
    };
    const Case cases[] = {
        {folder, true},
        {L"c:\\program files\\KORVA BLUETOOTH MANAGER", true},
        {folder + L"\\", true},
        {folder + L"\\\\", true},
        {folder + L"\\bin", false},
        {L"C:\\Program Files\\Korva Bluetooth Manager2", false},
        {L"C:\\Program Files\\Korva", false},
        {L" " + folder, false},
        {L"\"" + folder + L"\"", false},
        {L"%ProgramFiles%\\Korva Bluetooth Manager", false},
        {L"", false},
        {L"\\", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sameFolder(c.entry, folder), c.same) << std::string(c.entry.begin(), c.entry.end());
    // Letters beyond ASCII must match exactly.
    EXPECT_TRUE(sameFolder(L"C:\\Users\\J\u00f6rn\\Korva", L"c:\\users\\j\u00f6rn\\korva"));
    EXPECT_FALSE(sameFolder(L"C:\\Users\\J\u00d6RN\\Korva", L"C:\\Users\\J\u00f6rn\\Korva"));
}

TEST(PathListTest, AddsAtTheEndAndTakesOffExactly)
{
    struct Case
    {
        std::wstring path;    // before the install
        std::wstring added;   // with the folder
    };
    const std::wstring f = folder;
    const Case cases[] = {
        {L"", f},
        {L"C:\\bin", L"C:\\bin;" + f},
        {L"%WinDir%;;", L"%WinDir%;;;" + f},
        {L";", L";;" + f},
        {L"C:\\bin;", L"C:\\bin;;" + f},
        {L";C:\\bin", L";C:\\bin;" + f},
        {L"C:\\bin; D:\\x ;", L"C:\\bin; D:\\x ;;" + f},
        {f + L"\\bin;" + f + L"2", f + L"\\bin;" + f + L"2;" + f},
        {L"%USERPROFILE%\\bin;%LOCALAPPDATA%\\Microsoft\\WindowsApps",
         L"%USERPROFILE%\\bin;%LOCALAPPDATA%\\Microsoft\\WindowsApps;" + f},
    };
    for (const auto& c : cases)
    {
        const std::string label(c.path.begin(), c.path.end());
        EXPECT_EQ(withFolder(c.path, f), c.added) << label;
        EXPECT_EQ(withoutFolder(c.added, f), c.path) << label;
        // Twice changes nothing more.
        EXPECT_EQ(withFolder(c.added, f), c.added) << label;
        EXPECT_EQ(withoutFolder(c.path, f), c.path) << label;
    }
}

TEST(PathListTest, TakesOffEveryEntryNamingTheFolderWithOneSeparatorEach)
{
    struct Case
    {
        std::wstring path;
        std::wstring without;
    };
    const std::wstring f = folder;
    const Case cases[] = {
        {f, L""},
        {f + L";C:\\bin", L"C:\\bin"},
        {L"C:\\bin;" + f + L";D:\\bin", L"C:\\bin;D:\\bin"},
        {L"c:\\program files\\korva bluetooth manager\\;C:\\bin;" + f, L"C:\\bin"},
        {f + L";" + f, L""},
        {L";" + f + L";", L";"},
        {L"C:\\bin;;" + f + L";;D:\\bin", L"C:\\bin;;;D:\\bin"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withoutFolder(c.path, f), c.without) << std::string(c.path.begin(), c.path.end());
    // An entry already naming the folder, in another spelling, is not added again.
    EXPECT_EQ(withFolder(L"C:\\bin;" + f + L"\\", f), L"C:\\bin;" + f + L"\\");
}

TEST(PathListTest, LongPathsAreEditedWhole)
{
    for (const std::size_t n : {10u, 1023u, 1024u, 1100u, 5000u, 20000u, 40000u})
    {
        const auto path = longPath(n).substr(0, n);
        const auto added = withFolder(path, folder);
        EXPECT_EQ(added, path + L";" + folder) << n;
        EXPECT_EQ(withoutFolder(added, folder), path) << n;
    }
}
