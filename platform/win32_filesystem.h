#pragma once

#include "engine/filesystem.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace uninst {

// The file system through the wide Win32 API. Drive-letter and share paths
// are used in their "\\?\" form, exactly as given, so that paths past 260
// characters work and a listed name is never read as another. Reparse points
// (junctions, symbolic links) are reported but never entered, deleted or
// followed: on some systems deleting one acts on its target.
class Win32FileSystem : public FileSystem {
public:
    // How many checked files stay open for their deletion at most. Each is
    // a handle, and under Wine also a descriptor in the one server every
    // process shares, whose limit a large install would otherwise reach.
    static constexpr std::size_t defaultHeldFileLimit = 2048;

    explicit Win32FileSystem(std::size_t heldFileLimit = defaultHeldFileLimit)
        : heldFileLimit_(heldFileLimit) {}

    std::string fullPath(const std::string& path) override;
    FolderListing listFolder(const std::string& path) override;
    bool folderExists(const std::string& path) override;
    void setRemovalRoots(const std::vector<std::string>& roots) override;
    Removal deleteFile(const std::string& path) override;
    Removal deleteFolder(const std::string& path) override;
    bool removeEmptyFolder(const std::string& path) override;
    std::string readTextFile(const std::string& path) override;
    DeleteCheck checkDelete(const std::string& path) override;
    void deleteAtRestart(const std::string& path) override;

private:
    using FileHandle = UniqueHandle<HANDLE, &CloseHandle, -1>;

    // A folder that paths to be deleted are checked against, in the form
    // the wide API is given and as the system names it.
    struct Anchor {
        std::wstring api;
        std::wstring final;
        bool isVolume = false;
        bool settled = false;
        bool isLink = false;
    };

    // An item opened to be deleted. `link`: it is a link or lies behind
    // one, and is left alone. `deleteRefused`: a folder someone holds
    // without leave to delete, opened only to empty it.
    struct Opened {
        FileHandle handle;
        DWORD error = 0;
        DWORD deleteRefused = 0;
        bool missing = false;
        bool link = false;
    };

    Anchor* anchorFor(const std::wstring& api);
    DWORD settle(Anchor& anchor);
    static constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    Opened openChecked(const std::wstring& api, bool folder, DWORD share = shareAll,
                       DWORD extraAccess = 0);
    void removeTree(Opened top, std::wstring& path);

    std::vector<Anchor> anchors_;
    // Drives' and shares' roots met so far, for paths below no removal root.
    std::vector<Anchor> volumes_;
    // Files checkDelete found deletable, by their API path, each held open
    // for deletion until deleteFile uses the handle.
    std::unordered_map<std::wstring, FileHandle> held_;
    std::size_t heldFileLimit_;
    std::wstring finalScratch_;
    std::vector<LONGLONG> nameBuffer_;
    std::vector<LONGLONG> directoryBuffer_;

    // Scratch space reused across calls: listing a large tree converts tens
    // of thousands of names, and allocating afresh for each shows.
    std::wstring pattern_;
};

} // namespace uninst
