#pragma once

#include "engine/filesystem.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <cstddef>
#include <deque>
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
    std::string foldCase(const std::string& text) override;
    FolderListing listFolder(const std::string& path) override;
    bool folderExists(const std::string& path) override;
    void setRemovalRoots(const std::vector<std::string>& roots) override;
    Removal deleteFile(const std::string& path) override;
    Removal deleteFolder(const std::string& path) override;
    bool removeEmptyFolder(const std::string& path) override;
    std::string readTextFile(const std::string& path) override;
    DeleteCheck checkDelete(const std::string& path) override;
    std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths) override;
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override;
    void deleteAtRestart(const std::string& path) override;
    // The listing's answer, less what is a link or lies behind one (Wine 8
    // shows a host link to a file as an ordinary file).
    std::vector<std::string> filesStillThere(const std::string& folder,
                                             const std::vector<std::string>& paths) override;

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

    // Buffers for the system's name of what a handle holds, one set per
    // thread that asks.
    struct NameScratch {
        std::vector<LONGLONG> buffer;
        std::wstring final;
    };

    Anchor* anchorFor(const std::wstring& api);
    DWORD settle(Anchor& anchor);
    // The root `api` lies below, settled; null with the reason in `error`.
    // Not for several threads at once; what it answers is, until the roots
    // change.
    const Anchor* settledAnchor(const std::wstring& api, DWORD& error);
    static constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    Opened openChecked(const std::wstring& api, bool folder, DWORD share = shareAll,
                       DWORD extraAccess = 0);
    // openChecked with the root found already: safe on several threads.
    // Unless `named`, the handle's name is not compared: only for a file
    // opened to be asked about and closed, never to delete through.
    static Opened openBelow(const Anchor* anchor, DWORD rootError, const std::wstring& api,
                            bool folder, DWORD share, DWORD extraAccess, NameScratch& scratch,
                            bool named = true);
    static bool namesItself(const Anchor& anchor, const std::wstring& api, HANDLE handle,
                            bool folder, NameScratch& scratch, DWORD& error);
    static bool leadsElsewhere(const Anchor& anchor, const std::wstring& api, NameScratch& scratch);
    // Whether what stands at `api` is the item itself rather than a link:
    // named as itself, or as Wine 8 names a twin whose last step ends in
    // dots or blanks ("data.mdb." as "data.mdb"). True when it cannot be
    // opened to be asked.
    static bool standsAsItself(const Anchor& anchor, const std::wstring& api, NameScratch& scratch);
    // Marks a file opened for deletion: what deleteFile answers, or the code
    // it fails with.
    static DWORD deleteOpened(const Opened& opened, Removal& removal);
    // What checkDelete answers for a file opened as deleteFile opens it. The
    // handle stays open when the answer is yes, and only then.
    static DeleteCheck checkOpened(const std::string& path, const std::wstring& api,
                                   Opened& opened);
    // The pre-flight's question for one file: opened as its deletion opens
    // it, name compared, asked to be marked for deletion and unmarked. One
    // to be held keeps its handle in `opened` when it can go; any other is
    // closed again, and its deletion opens and compares it once more.
    static DeleteCheck checkFile(const Anchor* anchor, DWORD rootError, const std::wstring& api,
                                 const std::string& path, bool hold, NameScratch& scratch,
                                 Opened& opened);
    void stopHolding();
    void removeTree(Opened top, std::wstring& path);

    std::vector<Anchor> anchors_;
    // Drives' and shares' roots met so far, for paths below no removal root.
    // A deque, so that a root found earlier stays where it is.
    std::deque<Anchor> volumes_;
    // Files checkDelete found deletable, by their API path, each held open
    // for deletion until deleteFiles uses the handle (deleteFile lets it go
    // and opens the file again without sharing).
    std::unordered_map<std::wstring, FileHandle> held_;
    std::size_t heldFileLimit_;
    NameScratch scratch_;
    std::vector<LONGLONG> directoryBuffer_;

    // Scratch space reused across calls: listing a large tree converts tens
    // of thousands of names, and allocating afresh for each shows.
    std::wstring pattern_;
};

} // namespace uninst
