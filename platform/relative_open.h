#pragma once

#include "platform/handles.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Opening one step at a time below a held folder, never through a link: what
// the run's log and its backup use to write only where they were meant to.
namespace uninst {

// `path` without the long-path prefix, local or UNC.
std::wstring withoutLongPrefix(std::wstring_view path);

// The system's name for what `handle` holds, every link resolved; empty when
// it cannot say (Wine 8 fails past 260 characters).
std::wstring finalName(HANDLE handle);

// Whether the system names what `handle` holds `path` (in full, on a drive
// or a share), every link resolved. False when it cannot say: a name that
// cannot be asked is no proof that nothing leads elsewhere.
bool isNamed(HANDLE handle, std::wstring_view path);

// A reparse point, or an item whose attributes cannot be read.
bool isLinkHandle(HANDLE handle);

// What a held item is, asked of the handle alone. GetFileInformationByHandle
// tells the same and also asks the volume for its serial number, which Wine
// answers through the mount manager: half a millisecond an item, a quarter
// of a minute over a backup's copies.
struct HeldItemFacts {
    DWORD attributes = 0;
    std::uint64_t size = 0;
    DWORD links = 0;
};
// Nothing when the system cannot say.
std::optional<HeldItemFacts> heldItemFacts(HANDLE handle);

namespace nt {
inline constexpr ULONG openExisting = 1; // FILE_OPEN
inline constexpr ULONG createNew = 2;    // FILE_CREATE
inline constexpr ULONG openOrCreate = 3; // FILE_OPEN_IF
inline constexpr ULONG_PTR created = 2;  // FILE_CREATED
inline constexpr ULONG directoryOnly = 0x1;
inline constexpr ULONG fileOnly = 0x40;
} // namespace nt

// NtCreateFile on `name` inside the folder `root`: one step, no link
// followed. The handle is empty on failure, with the system's error code.
DWORD openRelative(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share,
                   ULONG disposition, ULONG options, FileHandle& out,
                   ULONG_PTR* information = nullptr);

} // namespace uninst
