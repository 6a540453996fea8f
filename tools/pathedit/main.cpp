// korva-pathedit: adds the install folder to, or takes it off, the user's or
// the system's PATH in the registry, for the installer and the uninstaller.
// The value is read whole, however long, and written back with its type
// (REG_EXPAND_SZ or REG_SZ) and every other entry as it was; running programs
// are told. A value that cannot be read whole is left untouched.
//
//   korva-pathedit add|remove user|system FOLDER
//
// Exit status: 0 done (or nothing to do), 1 usage, 2 the PATH was left
// untouched (unreadable, not text, or not writable).

#include "tools/pathedit/PathList.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace
{
const wchar_t userKey[] = L"Environment";
const wchar_t systemKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const wchar_t valueName[] = L"Path";

struct PathValue
{
    bool exists = false;
    DWORD type = REG_EXPAND_SZ;   // a new PATH may hold %VARIABLE% references
    std::wstring text;
};

void report(const wchar_t* format, const wchar_t* a, const wchar_t* b = L"")
{
    std::fwprintf(stdout, format, a, b);
    std::fputwc(L'\n', stdout);
    std::fflush(stdout);
}

/** Reads the value whole: false if it is there but cannot be (error, type, odd size). */
bool readPath(HKEY key, PathValue& value)
{
    std::vector<BYTE> data(4096);
    for (;;)
    {
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(data.size());
        const LONG rc = RegQueryValueExW(key, valueName, nullptr, &type, data.data(), &size);
        if (rc == ERROR_FILE_NOT_FOUND)
            return true;
        if (rc == ERROR_MORE_DATA)
        {
            data.resize(size + 2);
            continue;
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size % 2 != 0)
            return false;
        value.exists = true;
        value.type = type;
        value.text.assign(reinterpret_cast<const wchar_t*>(data.data()), size / 2);
        // Stored with its terminator, usually: the text ends at the first one.
        const auto nul = value.text.find(L'\0');
        if (nul != std::wstring::npos)
        {
            if (value.text.find_first_not_of(L'\0', nul) != std::wstring::npos)
                return false;   // text after a terminator: not ours to rewrite
            value.text.resize(nul);
        }
        return true;
    }
}

bool writePath(HKEY key, const PathValue& value)
{
    if (value.text.empty())
    {
        const LONG rc = RegDeleteValueW(key, valueName);
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }
    const auto bytes = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, valueName, 0, value.type, reinterpret_cast<const BYTE*>(value.text.c_str()), bytes)
           == ERROR_SUCCESS;
}

void announce()
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 5000, &result);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring action = argc == 4 ? argv[1] : L"";
    const std::wstring scope = argc == 4 ? argv[2] : L"";
    const std::wstring folder = argc == 4 ? argv[3] : L"";
    if ((action != L"add" && action != L"remove") || (scope != L"user" && scope != L"system") || folder.empty())
    {
        std::fputws(L"usage: korva-pathedit add|remove user|system FOLDER\n", stderr);
        return 1;
    }

    HKEY key = nullptr;
    const LONG rc = scope == L"user"
        ? RegCreateKeyExW(HKEY_CURRENT_USER, userKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr)
        : RegOpenKeyExW(HKEY_LOCAL_MACHINE, systemKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (rc != ERROR_SUCCESS)
    {
        report(L"The %ls PATH cannot be opened: it was not changed.", scope.c_str());
        return 2;
    }

    PathValue value;
    if (!readPath(key, value))
    {
        RegCloseKey(key);
        report(L"The %ls PATH cannot be read whole: it was not changed.", scope.c_str());
        return 2;
    }
    PathValue edited = value;
    edited.text = action == L"add" ? pathedit::withFolder(value.text, folder)
                                   : pathedit::withoutFolder(value.text, folder);
    if (edited.text == value.text)
    {
        RegCloseKey(key);
        report(action == L"add" ? L"%ls is already on the %ls PATH." : L"%ls is not on the %ls PATH.",
               folder.c_str(), scope.c_str());
        return 0;
    }
    const bool written = writePath(key, edited);
    RegCloseKey(key);
    if (!written)
    {
        report(L"The %ls PATH cannot be written: it was not changed.", scope.c_str());
        return 2;
    }
    announce();
    report(action == L"add" ? L"Added %ls to the %ls PATH." : L"Took %ls off the %ls PATH.", folder.c_str(),
           scope.c_str());
    return 0;
}
