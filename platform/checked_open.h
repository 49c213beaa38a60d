#pragma once

#include "engine/filesystem.h"
#include "platform/handles.h"

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

// Opening what is to be deleted, and making sure through that same handle
// that it is the item at that path below a removal root, not something a link
// leads to. Reparse points (junctions, symbolic links) are reported but never
// entered, deleted or followed: on some systems deleting one acts on its
// target.
namespace uninst::win32 {

inline bool isFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
inline bool isLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

inline constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A folder that paths to be deleted are checked against, in the form the
// wide API is given and as the system names it.
struct Anchor {
    std::wstring api;
    std::wstring final;
    bool isVolume = false;
    bool settled = false;
    bool isLink = false;
};

// An item opened to be deleted. `link`: it is a link or lies behind one, and
// is left alone. `deleteRefused`: a folder someone holds without leave to
// delete, opened only to empty it.
struct Opened {
    FileHandle handle;
    DWORD error = 0;
    DWORD deleteRefused = 0;
    bool missing = false;
    bool link = false;
};

// Buffers for the system's name of what a handle holds, one set per thread
// that asks.
struct NameScratch {
    std::vector<LONGLONG> buffer;
    std::wstring final;
};

// What the system calls the item a handle holds, every symbolic link on the
// way resolved: Wine 8 gives the path the item had when it was opened;
// Windows resolves every link but a last one opened with
// FILE_FLAG_OPEN_REPARSE_POINT. Asked of the object manager rather than with
// GetFinalPathNameByHandleW, whose Wine 8 version fails past 260 characters.
// The name is in the system's own namespace, so it is only ever compared
// with another such name.
DWORD systemName(HANDLE handle, std::vector<LONGLONG>& buffer, std::wstring& out);

bool hasReparseTag(HANDLE handle);
bool isFolderHandle(HANDLE handle);

// Deleting through the handle that was checked: the item goes when the
// handle is closed. A folder that still holds something refuses here.
bool markForDeletion(HANDLE handle);

// Opens `api` to delete it, and makes sure through that same handle that it
// is the item at that path below its root: the system's own name for what
// the handle holds must be the root's followed by the same steps. A link at
// any step below the root, made before or after the listing, gives another
// name. A folder is also asked whether it is itself a link, which Windows
// opens as the link and names by its own path. `anchor` is the settled root,
// or null with the reason in `rootError`. Unless `named`, the handle's name
// is not compared: only for a file opened to be asked about and closed,
// never to delete through.
Opened openBelow(const Anchor* anchor, DWORD rootError, const std::wstring& api, bool folder,
                 DWORD share, DWORD extraAccess, NameScratch& scratch, bool named = true);

// Whether `handle`, opened on `api`, holds the item at that path itself.
// False with `error` set when the system cannot name what it holds.
bool namesItself(const Anchor& anchor, const std::wstring& api, HANDLE handle, bool folder,
                 NameScratch& scratch, DWORD& error);

// Whether what stands at `api` is a link, or is reached through one. Opened
// for its attributes only, which no program's sharing refuses; false when
// even that open fails, as nothing can then be told.
bool leadsElsewhere(const Anchor& anchor, const std::wstring& api, NameScratch& scratch);

// Whether what stands at `api` is the item itself rather than a link: named
// as itself, or as Wine 8 names a twin whose last step ends in dots or
// blanks ("data.mdb." as "data.mdb"). True when it cannot be opened to be
// asked.
bool standsAsItself(const Anchor& anchor, const std::wstring& api, NameScratch& scratch);

// Marks a file opened for deletion: what deleteFile answers, or the code it
// fails with.
DWORD deleteOpened(const Opened& opened, Removal& removal);

// The roots paths are checked against: the removal roots, and the drives'
// and shares' roots met for paths below none of them, each learnt once.
// Not for several threads at once (held_files.h says how the batches share
// out their work).
class RemovalRoots {
public:
    // Only drive and share paths can be roots; others are left out.
    void set(const std::vector<std::string>& roots);
    // The root `api` lies below, settled; null with the reason in `error`.
    // What it answers stays valid until the roots change.
    const Anchor* settledAnchor(const std::wstring& api, DWORD& error);
    // openBelow with the root found here, on this thread's scratch space.
    Opened openChecked(const std::wstring& api, bool folder, DWORD share = shareAll,
                       DWORD extraAccess = 0);
    NameScratch& scratch() { return scratch_; }

private:
    Anchor* anchorFor(const std::wstring& api);
    DWORD settle(Anchor& anchor);

    std::vector<Anchor> anchors_;
    // A deque, so that a root found earlier stays where it is.
    std::deque<Anchor> volumes_;
    NameScratch scratch_;
};

} // namespace uninst::win32
