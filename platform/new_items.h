#pragma once

#include "engine/filesystem.h"
#include "platform/handles.h"

#include <windows.h>

#include <string>
#include <vector>

// Making what a restore puts back: each folder and file new, below a removal
// root reached step by step through no link, never over anything.
namespace uninst::win32 {

class NewItems {
public:
    // The folders below which anything may be made (the removal roots).
    void setRoots(const std::vector<std::string>& roots);

    Creation createFolder(const std::string& path);
    Creation copyNewFile(const std::string& from, const std::string& to);

private:
    // The held folder that is to hold `path`, and the new item's name. The
    // files come folder by folder, so the last folder reached is kept: it
    // stays the folder it was when reached, whatever is renamed around it.
    HANDLE parentOf(const std::string& path, const char* operation, std::wstring& name);

    std::vector<std::string> roots_;
    std::string heldFor_;
    FileHandle held_;
    std::vector<char> buffer_;
};

} // namespace uninst::win32
