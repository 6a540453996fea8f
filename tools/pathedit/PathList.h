#pragma once
// The PATH as a list of folders separated by ';', edited for one folder of our
// own: added at the end if it is not there yet, taken out again exactly.
// Pure functions over the value's text, whatever its length; every other
// entry (empty ones, %VARIABLE% references, spacing) stays byte for byte.

#include <string>

namespace pathedit
{
/** Whether a PATH entry names the folder: equal ignoring ASCII case and
    trailing backslashes, as Windows would find the same folder through both.
    Other letters must match exactly, so a spelling not recognised is kept. */
bool sameFolder(const std::wstring& entry, const std::wstring& folder);

/** The PATH with the folder added at the end, or unchanged if an entry
    already names it. */
std::wstring withFolder(const std::wstring& path, const std::wstring& folder);

/** The PATH without the entries naming the folder, each taken out with one
    separator, so that withoutFolder(withFolder(p, f), f) == p whenever p
    did not name f. */
std::wstring withoutFolder(const std::wstring& path, const std::wstring& folder);
} // namespace pathedit
