#pragma once

#include "engine/filesystem.h"

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
    std::vector<std::string> roots_;
    std::vector<char> buffer_;
};

} // namespace uninst::win32
