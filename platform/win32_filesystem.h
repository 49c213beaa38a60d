#pragma once

#include "engine/filesystem.h"

#include <string>

namespace uninst {

// The file system through the wide Win32 API. Drive-letter paths are used in
// their "\\?\" form so that paths past 260 characters work. Reparse points
// (junctions, symbolic links) are reported but never entered, deleted or
// followed: on some systems deleting one acts on its target.
class Win32FileSystem : public FileSystem {
public:
    FolderListing listFolder(const std::string& path) override;
    bool folderExists(const std::string& path) override;
    Removal deleteFile(const std::string& path) override;
    Removal deleteFolder(const std::string& path) override;
    bool removeEmptyFolder(const std::string& path) override;
    std::string readTextFile(const std::string& path) override;

private:
    // Returns false when a link kept something below `folder` in place.
    bool removeTree(std::wstring& folder);

    // Scratch space reused across calls: listing a large tree converts tens
    // of thousands of names, and allocating afresh for each shows.
    std::wstring pattern_;
};

} // namespace uninst
