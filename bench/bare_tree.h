#pragma once

#include "platform/handles.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

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

// Lists the whole tree below `folder`, parents before children: the full
// path of every file goes into `files`, and `onFolder(path, depth)` is told of
// each folder, `folder` itself at depth 0. False when a folder cannot be
// listed.
template <typename OnFolder>
bool listTree(std::wstring& folder, std::vector<std::wstring>& files, OnFolder& onFolder,
              std::size_t depth = 0) {
    std::vector<std::wstring> subFolders;
    const bool listed = forEachEntry(folder, [&](const WIN32_FIND_DATAW& data) {
        std::wstring path = folder + L"\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            subFolders.push_back(std::move(path));
        else
            files.push_back(std::move(path));
        return true;
    });
    if (!listed)
        return false;
    onFolder(folder, depth);
    for (std::wstring& sub : subFolders) {
        if (!listTree(sub, files, onFolder, depth + 1))
            return false;
    }
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
