#include "tools/pathedit/PathList.h"

#include <vector>

namespace pathedit
{
namespace
{
std::wstring::size_type endWithoutBackslashes(const std::wstring& s)
{
    auto end = s.size();
    while (end > 0 && s[end - 1] == L'\\')
        --end;
    return end;
}

wchar_t foldAscii(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

std::vector<std::wstring> split(const std::wstring& path)
{
    std::vector<std::wstring> entries;
    std::wstring::size_type start = 0;
    for (;;)
    {
        const auto end = path.find(L';', start);
        entries.push_back(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos)
            return entries;
        start = end + 1;
    }
}
} // namespace

bool sameFolder(const std::wstring& entry, const std::wstring& folder)
{
    const auto n = endWithoutBackslashes(entry);
    if (n == 0 || n != endWithoutBackslashes(folder))
        return false;
    for (std::wstring::size_type i = 0; i < n; ++i)
        if (foldAscii(entry[i]) != foldAscii(folder[i]))
            return false;
    return true;
}

std::wstring withFolder(const std::wstring& path, const std::wstring& folder)
{
    if (path.empty())
        return folder;
    for (const auto& entry : split(path))
        if (sameFolder(entry, folder))
            return path;
    return path + L';' + folder;
}

std::wstring withoutFolder(const std::wstring& path, const std::wstring& folder)
{
    const auto entries = split(path);
    std::wstring out;
    bool first = true;   // the next kept entry is the first: no separator before it
    for (const auto& entry : entries)
    {
        if (sameFolder(entry, folder))
            continue;
        if (!first)
            out += L';';
        out += entry;
        first = false;
    }
    return out;
}
} // namespace pathedit
