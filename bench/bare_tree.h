#pragma once

#include "platform/handles.h"

#include <windows.h>

#include <cstdio>
#include <string>

// What the floor programs that walk a tree share: one find handle per folder,
// and the folder named on the command line.
namespace bench {

using uninst::FindHandle;

inline bool isDots(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// Calls `entry` with the find data of each entry of `folder` but "." and "..",
// until it returns false. The handle is closed before this returns, so a walk
// holds one per folder only while it lists it. False when the folder cannot
// be listed or `entry` stopped.
template <typename Entry> bool forEachEntry(std::wstring& folder, Entry entry) {
    const std::size_t length = folder.size();
    folder += L"\\*";
    WIN32_FIND_DATAW data;
    const FindHandle find(FindFirstFileW(folder.c_str(), &data));
    folder.resize(length);
    if (!find)
        return false;
    do {
        if (!isDots(data.cFileName) && !entry(data))
            return false;
    } while (FindNextFileW(find.get(), &data));
    return true;
}

// The one argument, a folder; false after printing `usage` when there is not
// exactly one.
inline bool folderArgument(int argc, wchar_t** argv, const char* usage, std::wstring& folder) {
    if (argc != 2) {
        std::fputs(usage, stderr);
        return false;
    }
    folder = argv[1];
    return true;
}

} // namespace bench
