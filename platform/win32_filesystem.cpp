#include "platform/win32_filesystem.h"

#include "engine/error.h"
#include "engine/text_file.h"
#include "platform/parallel_work.h"
#include "platform/text_encoding.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace uninst {

namespace {

using FindHandle = UniqueHandle<HANDLE, &FindClose, -1>;
using FileHandle = UniqueHandle<HANDLE, &CloseHandle, -1>;
using LocalMemory = UniqueHandle<HLOCAL, &LocalFree, 0>;

constexpr std::wstring_view longPrefix = L"\\\\?\\";

// An install log is a few kilobytes; anything near this size is not one, and
// reading it whole would exhaust a 32-bit process.
constexpr LONGLONG largestTextFile = 256LL * 1024 * 1024;

// The system's own description of an error code, in the user's language.
std::string systemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    LocalMemory owner(buffer);
    std::wstring_view message(buffer != nullptr ? buffer : L"", length);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.remove_suffix(1);
    if (message.empty())
        return "system error " + std::to_string(code) + ".";
    return text::fromWide(message) + ".";
}

std::string shown(const std::string& path) {
    return path.empty() ? "(empty path)" : path;
}

// "Cannot delete file C:\App\a.dll: Access is denied."
[[noreturn]] void fail(std::string_view operation, const std::string& path, DWORD code) {
    throw Error("Cannot " + std::string(operation) + " " + shown(path) + ": " + systemText(code));
}

[[noreturn]] void refuse(std::string_view operation, const std::string& path,
                         std::string_view why) {
    throw Error("Cannot " + std::string(operation) + " " + shown(path) + ": " + std::string(why));
}

bool isNotFound(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool isDriveAbsolute(std::string_view path) {
    const auto letter = static_cast<unsigned char>(path.size() > 0 ? path[0] : 0);
    const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    return isLetter && path.size() >= 2 && path[1] == ':' &&
           (path.size() == 2 || path[2] == '\\' || path[2] == '/');
}

// "\\server\share...", not the device namespace ("\\?\", "\\.\").
bool isShareForm(std::string_view path) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    return path.size() > 2 && separator(path[0]) && separator(path[1]) &&
           !((path[2] == '?' || path[2] == '.') && (path.size() == 3 || separator(path[3])));
}

// Appends the form of `path` that the wide API is given. Drive and share paths
// take the long-path form, which the system uses exactly as it stands: no
// separator is added or dropped, no "." or ".." step is read, no trailing dot
// or blank goes. Nothing is cleaned up here: the engine resolves the folders
// it did not list itself once (fullPath), and a listed name joined to one of
// them must name that item and no other ("data.mdb." is not "data.mdb"). A
// path that would need clean-up names nothing in this form and fails. "C:" on
// its own is the drive's root, as a folder path without its separator.
void appendApiPath(std::wstring& out, const std::string& path) {
    if (isDriveAbsolute(path)) {
        out += longPrefix;
        text::appendWide(out, path);
        if (path.size() == 2)
            out += L'\\';
        return;
    }
    if (isShareForm(path)) {
        out += longPrefix;
        out += L"UNC";
        text::appendWide(out, std::string_view(path).substr(1));
        return;
    }
    text::appendWide(out, path);
}

std::wstring apiPath(const std::string& path) {
    std::wstring out;
    appendApiPath(out, path);
    return out;
}

// For messages: the path as the user knows it.
std::string userPath(std::wstring_view apiForm) {
    constexpr std::wstring_view sharePrefix = L"\\\\?\\UNC\\";
    if (apiForm.substr(0, sharePrefix.size()) == sharePrefix) {
        std::string path = "\\";
        text::appendFromWide(path, apiForm.substr(sharePrefix.size() - 1));
        return path;
    }
    if (apiForm.substr(0, longPrefix.size()) == longPrefix)
        apiForm.remove_prefix(longPrefix.size());
    return text::fromWide(apiForm);
}

// "\\?\C:\" and its like: nothing here ever deletes a whole drive.
bool isDriveRoot(std::wstring_view apiForm) {
    if (apiForm.substr(0, longPrefix.size()) == longPrefix)
        apiForm.remove_prefix(longPrefix.size());
    while (!apiForm.empty() && apiForm.back() == L'\\')
        apiForm.remove_suffix(1);
    return apiForm.size() == 2 && apiForm[1] == L':';
}

bool isDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Wine shows a host name holding "\\" as it is ("..\\Other\\a.txt"); Windows
// has no such names, but a share served from another system may. Joined to
// its folder, such a name is a path to another item, outside the tree when
// it climbs with "..", so it is never acted on.
bool holdsSeparator(std::wstring_view name) {
    return name.find_first_of(L"\\/") != std::wstring_view::npos;
}

bool isFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
bool isLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool sameText(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// What the system calls the item a handle holds, every symbolic link on the
// way resolved: Wine 8 gives the path the item had when it was opened;
// Windows resolves every link but a last one opened with
// FILE_FLAG_OPEN_REPARSE_POINT. Asked of the object manager rather than with
// GetFinalPathNameByHandleW, whose Wine 8 version fails past 260 characters.
// The name is in the system's own namespace, so it is only ever compared
// with another such name.
DWORD systemName(HANDLE handle, std::vector<LONGLONG>& buffer, std::wstring& out) {
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    using StatusToError = ULONG(WINAPI*)(LONG);
    static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
    static const auto toError = reinterpret_cast<StatusToError>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    if (query == nullptr || toError == nullptr)
        return ERROR_PROC_NOT_FOUND;

    struct Name {
        USHORT length;
        USHORT maximumLength;
        PWSTR text;
    };
    constexpr int objectNameInformation = 1;
    if (buffer.size() < 1024)
        buffer.resize(1024);
    for (int attempt = 0;; ++attempt) {
        ULONG needed = 0;
        const auto size = static_cast<ULONG>(buffer.size() * sizeof(LONGLONG));
        const LONG status = query(handle, objectNameInformation, buffer.data(), size, &needed);
        if (status >= 0) {
            const auto* name = reinterpret_cast<const Name*>(buffer.data());
            out.assign(name->text, name->length / sizeof(wchar_t));
            while (!out.empty() && out.back() == L'\\')
                out.pop_back();
            return ERROR_SUCCESS;
        }
        if (needed <= size || attempt == 2)
            return toError(status);
        buffer.resize(needed / sizeof(LONGLONG) + 1);
    }
}

bool hasReparseTag(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO info{};
    return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info) &&
           isLink(info.FileAttributes);
}

bool isFolderHandle(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO info{};
    return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info) &&
           isFolder(info.FileAttributes);
}

// Deleting through the handle that was checked: the item goes when the
// handle is closed. A folder that still holds something refuses here.
bool markForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

// What the system answers when asked to delete the file a handle holds, the
// request taken back at once. A file another process has mapped (a loaded
// DLL, a running program, a mapped view of data) opens for deletion without
// trouble, and only the request is refused: Windows documents
// STATUS_CANNOT_DELETE for a read-only file or one with a mapped view, and
// Wine 8 refuses it while any mapping of the file exists (measured, image
// and data alike). The POSIX deletion of newer Windows may pass over the
// image check unless told to force it; nothing here asks for it. Nobody
// else can mark or unmark the file meanwhile: the handle shares reading
// only, so no other handle with delete access can be open beside it, and
// clearing a mark this handle set is refused only to a handle opened to
// delete on close, which this is not.
DWORD refusesDeletion(HANDLE handle) {
    if (!markForDeletion(handle))
        return GetLastError();
    FILE_DISPOSITION_INFO keep{};
    keep.DeleteFile = FALSE;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (SetFileInformationByHandle(handle, FileDispositionInfo, &keep, sizeof keep))
            return ERROR_SUCCESS;
    }
    return GetLastError();
}

FindHandle findFirst(const std::wstring& pattern, WIN32_FIND_DATAW& data) {
    return FindHandle(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
}

} // namespace

std::string Win32FileSystem::foldCase(const std::string& text) {
    std::wstring wide = text::toWide(text);
    if (wide.empty())
        return text;
    // Without LCMAP_LINGUISTIC_CASING the mapping is the file system's: one
    // UTF-16 unit for one, the same in every locale.
    std::wstring upper(wide.size(), L'\0');
    const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                                     static_cast<int>(wide.size()), upper.data(),
                                     static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (length != static_cast<int>(wide.size()))
        return text;
    return text::fromWide(upper);
}

std::string Win32FileSystem::fullPath(const std::string& path) {
    constexpr std::string_view operation = "resolve path";
    if (path.empty())
        fail(operation, path, ERROR_INVALID_NAME);
    const std::wstring wide = text::toWide(path);
    std::wstring full(wide.size() + MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    }
    if (length == 0 || length >= full.size())
        fail(operation, path, length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
    full.resize(length);
    return text::fromWide(full);
}

FolderListing Win32FileSystem::listFolder(const std::string& path) {
    constexpr std::string_view operation = "open folder";
    if (path.empty())
        fail(operation, path, ERROR_PATH_NOT_FOUND);

    pattern_.clear();
    appendApiPath(pattern_, path);
    const DWORD attributes = GetFileAttributesW(pattern_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        fail(operation, path, GetLastError());
    if (!isFolder(attributes))
        fail(operation, path, ERROR_DIRECTORY);
    if (isLink(attributes))
        refuse(operation, path, "It is a link to another folder, which is never entered.");

    if (pattern_.back() != L'\\')
        pattern_ += L'\\';
    pattern_ += L'*';

    FolderListing listing;
    WIN32_FIND_DATAW data;
    FindHandle find = findFirst(pattern_, data);
    if (!find) {
        const DWORD code = GetLastError();
        // A drive's root has no "." entries, so an empty one finds nothing.
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES)
            return listing;
        fail(operation, path, code);
    }

    std::string prefix = path;
    if (prefix.back() != '\\')
        prefix += '\\';
    do {
        if (isDotEntry(data.cFileName))
            continue;
        std::string full = prefix;
        text::appendFromWide(full, data.cFileName);
        // Reported as a link is: never listed, entered or deleted, and it
        // keeps its folder.
        if (holdsSeparator(data.cFileName))
            listing.subFolders.push_back({std::move(full), true});
        else if (isFolder(data.dwFileAttributes))
            listing.subFolders.push_back({std::move(full), isLink(data.dwFileAttributes)});
        else
            listing.files.push_back(std::move(full));
    } while (FindNextFileW(find.get(), &data));

    const DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES)
        fail(operation, path, code);
    return listing;
}

bool Win32FileSystem::folderExists(const std::string& path) {
    if (path.empty())
        return false;
    const DWORD attributes = GetFileAttributesW(apiPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && isFolder(attributes);
}

void Win32FileSystem::setRemovalRoots(const std::vector<std::string>& roots) {
    anchors_.clear();
    for (const std::string& root : roots) {
        if (!isDriveAbsolute(root) && root.rfind("\\\\", 0) != 0)
            continue;
        Anchor anchor;
        anchor.api = apiPath(root);
        while (anchor.api.size() > 1 && anchor.api.back() == L'\\')
            anchor.api.pop_back();
        anchors_.push_back(std::move(anchor));
    }
}

// The root `api` lies below: the nearest removal root, or else its drive's
// (or share's) root. Null when the path has neither.
Win32FileSystem::Anchor* Win32FileSystem::anchorFor(const std::wstring& api) {
    Anchor* nearest = nullptr;
    for (Anchor& anchor : anchors_) {
        const std::size_t length = anchor.api.size();
        if (api.size() >= length &&
            sameText(std::wstring_view(api).substr(0, length), anchor.api) &&
            (api.size() == length || api[length] == L'\\') &&
            (nearest == nullptr || length > nearest->api.size()))
            nearest = &anchor;
    }
    if (nearest != nullptr)
        return nearest;

    std::size_t rootLength = 0;
    if (api.rfind(longPrefix, 0) == 0 && api.size() >= 6 && api[5] == L':') {
        rootLength = 6;
    } else if (api.rfind(L"\\\\", 0) == 0) {
        const std::size_t server = api.find(L'\\', 2);
        const std::size_t share =
            server == std::wstring::npos ? server : api.find(L'\\', server + 1);
        rootLength = share == std::wstring::npos ? 0 : share;
    }
    if (rootLength == 0)
        return nullptr;
    const std::wstring_view root = std::wstring_view(api).substr(0, rootLength);
    for (Anchor& anchor : volumes_) {
        if (sameText(anchor.api, root))
            return &anchor;
    }
    Anchor volume;
    volume.api = std::wstring(root);
    volume.isVolume = true;
    volumes_.push_back(std::move(volume));
    return &volumes_.back();
}

// Learns once where a root really is. The root itself must not be a link:
// the listing refused one at start-up, and one put in its place since would
// make every path below it lead elsewhere.
DWORD Win32FileSystem::settle(Anchor& anchor) {
    if (anchor.settled)
        return ERROR_SUCCESS;
    std::wstring api = anchor.api;
    if (anchor.isVolume || api.back() == L':')
        api += L'\\';
    FileHandle handle(
        CreateFileW(api.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle)
        return GetLastError();
    if (!anchor.isVolume) {
        // Windows opens a link itself and marks it; Wine 8 opens the target
        // of a host symbolic link and marks only the path.
        const DWORD attributes = GetFileAttributesW(api.c_str());
        if (hasReparseTag(handle.get()) ||
            (attributes != INVALID_FILE_ATTRIBUTES && isLink(attributes)))
            anchor.isLink = true;
    }
    if (const DWORD code = systemName(handle.get(), scratch_.buffer, anchor.final);
        code != ERROR_SUCCESS)
        return code;
    anchor.settled = true;
    return ERROR_SUCCESS;
}

const Win32FileSystem::Anchor* Win32FileSystem::settledAnchor(const std::wstring& api,
                                                              DWORD& error) {
    Anchor* anchor = anchorFor(api);
    if (anchor == nullptr) {
        error = ERROR_BAD_PATHNAME;
        return nullptr;
    }
    error = settle(*anchor);
    return error == ERROR_SUCCESS ? anchor : nullptr;
}

Win32FileSystem::Opened Win32FileSystem::openChecked(const std::wstring& api, bool folder,
                                                     DWORD share, DWORD extraAccess) {
    DWORD rootError = ERROR_SUCCESS;
    const Anchor* anchor = settledAnchor(api, rootError);
    return openBelow(anchor, rootError, api, folder, share, extraAccess, scratch_);
}

// Opens `api` to delete it, and makes sure through that same handle that it
// is the item at that path below its root: the system's own name for what
// the handle holds must be the root's followed by the same steps. A link at
// any step below the root, made before or after the listing, gives another
// name. A folder is also asked whether it is itself a link, which Windows
// opens as the link and names by its own path.
Win32FileSystem::Opened Win32FileSystem::openBelow(const Anchor* anchor, DWORD rootError,
                                                   const std::wstring& api, bool folder,
                                                   DWORD share, DWORD extraAccess,
                                                   NameScratch& scratch, bool named) {
    Opened opened;
    if (anchor == nullptr) {
        opened.error = rootError;
        opened.missing = isNotFound(rootError);
        return opened;
    }
    if (anchor->isLink) {
        opened.link = true;
        return opened;
    }

    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    const DWORD reading = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    DWORD access = DELETE | extraAccess | (folder ? reading : 0);
    opened.handle.reset(
        CreateFileW(api.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!opened.handle && folder && GetLastError() == ERROR_SHARING_VIOLATION) {
        // Held by someone without leave to delete: what is inside may still
        // go, and the folder's own removal reports the refusal.
        opened.deleteRefused = ERROR_SHARING_VIOLATION;
        access = reading;
        opened.handle.reset(
            CreateFileW(api.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    }
    if (!opened.handle) {
        opened.error = GetLastError();
        opened.missing = isNotFound(opened.error);
        // A refusal does not say what stands at the path: under Wine a host
        // link to another program's file in use is refused as that file is,
        // and taken for an application file in use it would be left to the
        // restart, which deletes the file behind it.
        if (!opened.missing && leadsElsewhere(*anchor, api, scratch))
            opened.link = true;
        return opened;
    }
    if (!named)
        return opened;

    DWORD code = ERROR_SUCCESS;
    if (!namesItself(*anchor, api, opened.handle.get(), folder, scratch, code)) {
        opened.error = code;
        opened.link = code == ERROR_SUCCESS;
        opened.handle.reset();
    }
    return opened;
}

// Whether `handle`, opened on `api`, holds the item at that path itself.
// False with `error` set when the system cannot name what it holds.
bool Win32FileSystem::namesItself(const Anchor& anchor, const std::wstring& api, HANDLE handle,
                                  bool folder, NameScratch& scratch, DWORD& error) {
    error = systemName(handle, scratch.buffer, scratch.final);
    if (error != ERROR_SUCCESS)
        return false;
    const std::wstring_view rest = std::wstring_view(api).substr(anchor.api.size());
    const std::wstring_view final = scratch.final;
    const bool same = final.size() == anchor.final.size() + rest.size() &&
                      sameText(final.substr(0, anchor.final.size()), anchor.final) &&
                      sameText(final.substr(anchor.final.size()), rest);
    return same && !(folder && hasReparseTag(handle));
}

// Whether what stands at `api` is a link, or is reached through one. Opened
// for its attributes only, which no program's sharing refuses; false when
// even that open fails, as nothing can then be told.
bool Win32FileSystem::leadsElsewhere(const Anchor& anchor, const std::wstring& api,
                                     NameScratch& scratch) {
    const FileHandle probe(CreateFileW(
        api.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, shareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!probe)
        return false;
    DWORD error = ERROR_SUCCESS;
    return !namesItself(anchor, api, probe.get(), true, scratch, error) && error == ERROR_SUCCESS;
}

bool Win32FileSystem::standsAsItself(const Anchor& anchor, const std::wstring& api,
                                     NameScratch& scratch) {
    const FileHandle probe(CreateFileW(
        api.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, shareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!probe)
        return true;
    if (hasReparseTag(probe.get()))
        return false;
    DWORD error = ERROR_SUCCESS;
    if (namesItself(anchor, api, probe.get(), false, scratch, error) || error != ERROR_SUCCESS)
        return true;
    std::wstring_view rest = std::wstring_view(api).substr(anchor.api.size());
    while (!rest.empty() && (rest.back() == L'.' || rest.back() == L' '))
        rest.remove_suffix(1);
    const std::wstring_view final = scratch.final;
    return rest.size() > 0 && rest.back() != L'\\' &&
           final.size() == anchor.final.size() + rest.size() &&
           sameText(final.substr(0, anchor.final.size()), anchor.final) &&
           sameText(final.substr(anchor.final.size()), rest);
}

std::vector<std::string> Win32FileSystem::filesStillThere(const std::string& folder,
                                                          const std::vector<std::string>& paths) {
    std::vector<std::string> left;
    for (std::string& path : FileSystem::filesStillThere(folder, paths)) {
        const std::wstring api = apiPath(path);
        DWORD rootError = ERROR_SUCCESS;
        const Anchor* anchor = settledAnchor(api, rootError);
        if (anchor != nullptr && (anchor->isLink || !standsAsItself(*anchor, api, scratch_)))
            continue;
        left.push_back(std::move(path));
    }
    return left;
}

DWORD Win32FileSystem::deleteOpened(const Opened& opened, Removal& removal) {
    removal = Removal::notFound;
    if (opened.missing || opened.link)
        return ERROR_SUCCESS;
    if (!opened.handle)
        return opened.error;
    if (!markForDeletion(opened.handle.get())) {
        const DWORD code = GetLastError();
        return isNotFound(code) ? ERROR_SUCCESS : code;
    }
    removal = Removal::removed;
    return ERROR_SUCCESS;
}

Removal Win32FileSystem::deleteFile(const std::string& path) {
    constexpr std::string_view operation = "delete file";
    if (path.empty())
        fail(operation, path, ERROR_PATH_NOT_FOUND);

    // One file at a time is an install log, another setup-toolkit file or a
    // shortcut. Opened again without sharing, even when held since its
    // check: a program that opened it meanwhile with leave to delete would
    // keep a marked file in place until it closes it, and an install log
    // that outlives its deletion is read again by a later run, which lowers
    // every count a second time. Refused here, the run stops while the log
    // is still whole.
    const std::wstring api = apiPath(path);
    held_.erase(api);
    // A folder, or a link to one, does not open as a file: some systems
    // delete a directory link's target when asked to delete it as a file.
    Removal removal = Removal::notFound;
    if (const DWORD code = deleteOpened(openChecked(api, false, 0), removal); code != ERROR_SUCCESS)
        fail(operation, path, code);
    return removal;
}

FileRemovals Win32FileSystem::deleteFiles(const std::vector<std::string>& paths) {
    struct Job {
        std::wstring api;
        FileHandle held;
        const Anchor* anchor = nullptr;
        DWORD rootError = ERROR_SUCCESS;
        DWORD error = ERROR_SUCCESS;
        std::optional<Removal> removal;
    };
    // Everything that is not safe on several threads is settled here first.
    std::vector<Job> jobs(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Job& job = jobs[i];
        if (paths[i].empty()) {
            job.error = ERROR_PATH_NOT_FOUND;
            continue;
        }
        job.api = apiPath(paths[i]);
        if (const auto held = held_.find(job.api); held != held_.end()) {
            job.held = std::move(held->second);
            held_.erase(held);
        } else {
            job.anchor = settledAnchor(job.api, job.rootError);
        }
    }

    forEachInParallel(jobs.size(), [&](std::size_t i) {
        Job& job = jobs[i];
        if (job.error != ERROR_SUCCESS)
            return false;
        if (job.held) {
            if (!markForDeletion(job.held.get())) {
                job.error = GetLastError();
                return false;
            }
            job.held.reset();
            job.removal = Removal::removed;
            return true;
        }
        NameScratch scratch;
        Removal removal = Removal::notFound;
        job.error = deleteOpened(
            openBelow(job.anchor, job.rootError, job.api, false, shareAll, 0, scratch), removal);
        if (job.error == ERROR_SUCCESS)
            job.removal = removal;
        return job.error == ERROR_SUCCESS;
    });

    FileRemovals result;
    result.removals.resize(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        result.removals[i] = jobs[i].removal;
        if (jobs[i].error != ERROR_SUCCESS && !result.failure)
            result.failure =
                "Cannot delete file " + shown(paths[i]) + ": " + systemText(jobs[i].error);
    }
    return result;
}

Removal Win32FileSystem::deleteFolder(const std::string& path) {
    constexpr std::string_view operation = "delete folder";
    if (path.empty())
        fail(operation, path, ERROR_PATH_NOT_FOUND);

    std::wstring wide = apiPath(path);
    if (isDriveRoot(wide))
        fail(operation, path, ERROR_ACCESS_DENIED);
    // A link is not the application's folder: what it points to is someone
    // else's, and removing the link itself would act on that target here.
    Opened opened = openChecked(wide, true);
    if (opened.missing || opened.link)
        return Removal::notFound;
    if (!opened.handle)
        fail(operation, path, opened.error);
    if (!isFolderHandle(opened.handle.get()))
        fail(operation, path, ERROR_DIRECTORY);

    // The sweep removes folders one by one once they are empty: one call
    // settles those without listing them again.
    if (opened.deleteRefused == 0 && markForDeletion(opened.handle.get()))
        return Removal::removed;
    removeTree(std::move(opened), wide);
    return Removal::removed;
}

bool Win32FileSystem::removeEmptyFolder(const std::string& path) {
    try {
        if (!isDriveAbsolute(path))
            return false;
        const std::wstring wide = apiPath(path);
        if (isDriveRoot(wide))
            return false;
        // Wine removes a link's target in its place, so a link is never
        // marked for deletion.
        const Opened opened = openChecked(wide, true);
        return opened.handle && opened.deleteRefused == 0 && isFolderHandle(opened.handle.get()) &&
               markForDeletion(opened.handle.get());
    } catch (const Error&) {
        return false;
    }
}

// Depth first, with an explicit stack (a tree on disk is as deep as its paths
// are long), and by hand rather than with a shell or system helper, because
// none of those can be trusted to leave links alone. Every file and folder is
// opened and checked as deleteFile and deleteFolder check it, and deleted
// through the handle it was checked with. `path` is the path buffer for
// everything below the top folder.
void Win32FileSystem::removeTree(Opened top, std::wstring& path) {
    struct Frame {
        Opened folder;
        std::size_t length = 0;
        std::vector<std::wstring> subFolders;
        std::size_t next = 0;
        bool kept = false;
    };
    std::vector<Frame> stack;

    // Files go as soon as their folder has been read whole, so that deleting
    // cannot disturb the enumeration; sub-folders are entered after.
    const auto enter = [&](Opened folder) {
        Frame frame;
        frame.folder = std::move(folder);
        frame.length = path.size();
        std::vector<std::wstring> files;
        // Read through the handle already held: Wine's FindFirstFileW opens
        // the folder again without leave to delete, which that handle's
        // delete access refuses.
        if (directoryBuffer_.empty())
            directoryBuffer_.resize(64 * 1024 / sizeof(LONGLONG));
        const auto size = static_cast<DWORD>(directoryBuffer_.size() * sizeof(LONGLONG));
        for (auto kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
            if (!GetFileInformationByHandleEx(frame.folder.handle.get(), kind,
                                              directoryBuffer_.data(), size)) {
                const DWORD code = GetLastError();
                if (code == ERROR_NO_MORE_FILES || code == ERROR_FILE_NOT_FOUND)
                    break;
                fail("delete folder", userPath(path), code);
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(directoryBuffer_.data());
            for (;;) {
                const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
                const std::wstring_view name(entry->FileName,
                                             entry->FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L"..") {
                    if (holdsSeparator(name))
                        frame.kept = true;
                    else if (!isFolder(entry->FileAttributes))
                        files.emplace_back(name);
                    else if (isLink(entry->FileAttributes))
                        frame.kept = true;
                    else
                        frame.subFolders.emplace_back(name);
                }
                if (entry->NextEntryOffset == 0)
                    break;
                bytes += entry->NextEntryOffset;
            }
        }
        for (const std::wstring& name : files) {
            path += L'\\';
            path += name;
            const Opened file = openChecked(path, false);
            if (file.link) {
                frame.kept = true;
            } else if (!file.missing) {
                if (!file.handle || !markForDeletion(file.handle.get())) {
                    const DWORD code = file.handle ? GetLastError() : file.error;
                    if (!isNotFound(code))
                        fail("delete file", userPath(path), code);
                }
            }
            path.resize(frame.length);
        }
        stack.push_back(std::move(frame));
    };

    enter(std::move(top));
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.subFolders.size()) {
            path += L'\\';
            path += frame.subFolders[frame.next++];
            Opened sub = openChecked(path, true);
            if (sub.link) {
                frame.kept = true;
            } else if (sub.handle) {
                enter(std::move(sub));
                continue;
            } else if (!sub.missing) {
                fail("delete folder", userPath(path), sub.error);
            }
            path.resize(stack.back().length);
            continue;
        }

        if (!frame.kept) {
            if (frame.folder.deleteRefused != 0)
                fail("delete folder", userPath(path), frame.folder.deleteRefused);
            if (!markForDeletion(frame.folder.handle.get())) {
                const DWORD code = GetLastError();
                if (!isNotFound(code))
                    fail("delete folder", userPath(path), code);
            }
        }
        // Closing the handle is what removes a folder marked for deletion.
        const bool kept = frame.kept;
        stack.pop_back();
        if (!stack.empty()) {
            path.resize(stack.back().length);
            if (kept)
                stack.back().kept = true;
        }
    }
}

namespace {

DeleteCheck cannotDelete(Deletable answer, const std::string& path, DWORD code) {
    return DeleteCheck{answer, "Cannot delete file " + shown(path) + ": " + systemText(code)};
}

} // namespace

DeleteCheck Win32FileSystem::checkOpened(const std::string& path, const std::wstring& api,
                                         Opened& opened) {
    // deleteFile leaves a link, or what lies behind one, alone.
    if (opened.missing || opened.link)
        return {Deletable::missing, {}};
    if (!opened.handle) {
        const DWORD code = opened.error;
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
            return cannotDelete(Deletable::inUse, path, code);
        return cannotDelete(Deletable::refused, path, code);
    }
    // The open succeeds on a read-only file, whose deletion the system still
    // refuses; a folder is never a file to delete here. Asked by path, which
    // under Wine needs no round trip to the server as a handle query does;
    // the deletion goes through the handle, whatever the path shows.
    const DWORD attributes = GetFileAttributesW(api.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        opened.handle.reset();
        return cannotDelete(Deletable::refused, path, code);
    }
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        opened.handle.reset();
        return cannotDelete(Deletable::refused, path, ERROR_ACCESS_DENIED);
    }
    return {};
}

DeleteCheck Win32FileSystem::checkFile(const Anchor* anchor, DWORD rootError,
                                       const std::wstring& api, const std::string& path, bool hold,
                                       NameScratch& scratch, Opened& opened) {
    opened = openBelow(anchor, rootError, api, false, FILE_SHARE_READ, FILE_READ_ATTRIBUTES,
                       scratch, hold);
    DeleteCheck check = checkOpened(path, api, opened);
    if (check.answer == Deletable::yes) {
        // Nothing is ever marked through a handle that may hold another
        // item: under Wine a host link opens as its target, someone else's.
        DWORD code = ERROR_SUCCESS;
        if (!hold && !namesItself(*anchor, api, opened.handle.get(), false, scratch, code)) {
            opened.handle.reset();
            return code == ERROR_SUCCESS ? DeleteCheck{Deletable::missing, {}}
                                         : cannotDelete(Deletable::refused, path, code);
        }
        if (const DWORD refusal = refusesDeletion(opened.handle.get()); refusal != ERROR_SUCCESS) {
            opened.handle.reset();
            // The attributes allowed it, so what refuses is a mapping.
            check =
                cannotDelete(refusal == ERROR_ACCESS_DENIED ? Deletable::inUse : Deletable::refused,
                             path, refusal);
        }
    }
    if (!hold)
        opened.handle.reset();
    // Unnamed, a link to someone else's read-only file would read as a file
    // that refuses, and stop the run over what it never deletes.
    if (!hold && check.answer == Deletable::refused && anchor != nullptr &&
        leadsElsewhere(*anchor, api, scratch))
        return {Deletable::missing, {}};
    return check;
}

// One file is a batch of one: checked on this thread, and held as the
// batch holds it.
DeleteCheck Win32FileSystem::checkDelete(const std::string& path) {
    return checkDeletes({path}).front();
}

// The check is the deletion's own open: the handle is kept, so the deletion
// costs no second open (a round trip to the server under Wine each), and
// nobody can take the file between the check and the deletion. Sharing
// reading only lets the run read its install log meanwhile; whoever opens a
// held file must leave it to be deleted. Past the limit a file is checked and
// closed again: its deletion opens it once more, and a program that takes it
// in between makes that deletion fail, which still stops the run before any
// count is lowered.
std::vector<DeleteCheck> Win32FileSystem::checkDeletes(const std::vector<std::string>& paths) {
    struct Job {
        std::wstring api;
        const Anchor* anchor = nullptr;
        DWORD rootError = ERROR_SUCCESS;
        // The earlier job for the same path: opened once, since a second
        // open would meet the first one's handle and read as in use.
        std::size_t sameAs = 0;
        bool repeated = false;
        FileHandle kept;
        bool checked = false;
        // Refused a handle to hold because the system had none left.
        bool exhausted = false;
    };
    std::vector<Job> jobs(paths.size());
    std::unordered_map<std::wstring, std::size_t> seen;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Job& job = jobs[i];
        if (paths[i].empty())
            continue;
        job.api = apiPath(paths[i]);
        held_.erase(job.api);
        if (const auto [first, inserted] = seen.emplace(job.api, i); !inserted) {
            job.sameAs = first->second;
            job.repeated = true;
            continue;
        }
        job.anchor = settledAnchor(job.api, job.rootError);
    }
    const std::size_t room = heldFileLimit_ > held_.size() ? heldFileLimit_ - held_.size() : 0;

    std::vector<DeleteCheck> checks(paths.size());
    const auto check = [&](std::size_t i, bool hold) {
        Job& job = jobs[i];
        job.checked = true;
        if (paths[i].empty()) {
            checks[i] = cannotDelete(Deletable::refused, paths[i], ERROR_PATH_NOT_FOUND);
        } else if (!job.repeated) {
            NameScratch scratch;
            Opened opened;
            checks[i] =
                checkFile(job.anchor, job.rootError, job.api, paths[i], hold, scratch, opened);
            job.kept = std::move(opened.handle);
            job.exhausted = hold && opened.error == ERROR_TOO_MANY_OPEN_FILES;
        }
        return !job.exhausted;
    };
    // The first files checked are the ones held. The first refusal for want
    // of handles stops the pass at once, so that the system stays out of
    // handles only for as long as the few opens under way take; everything
    // held is then given back in one go and the rest is checked without
    // holding.
    forEachInParallel(jobs.size(), [&](std::size_t i) { return check(i, i < room); });
    std::vector<std::size_t> rest;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].exhausted || !jobs[i].checked)
            rest.push_back(i);
    }
    if (!rest.empty()) {
        stopHolding();
        forEachInParallel(jobs.size(), [&](std::size_t i) {
            jobs[i].kept.reset();
            return true;
        });
        forEachInParallel(rest.size(), [&](std::size_t k) { return check(rest[k], false); });
    }

    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].repeated)
            checks[i] = checks[jobs[i].sameAs];
        else if (jobs[i].kept)
            held_.insert_or_assign(std::move(jobs[i].api), std::move(jobs[i].kept));
    }
    return checks;
}

// Under Wine every held file is a descriptor of the one server all programs
// share. Should the system allow fewer than the limit, the run gives back
// every one it holds at the first refusal rather than starve other programs,
// and checks without holding from then on.
void Win32FileSystem::stopHolding() {
    held_.clear();
    heldFileLimit_ = 0;
}

void Win32FileSystem::deleteAtRestart(const std::string& path) {
    if (path.empty())
        fail("schedule the deletion of", path, ERROR_PATH_NOT_FOUND);
    const std::wstring api = apiPath(path);
    held_.erase(api);
    // The restart deletes by path, following whatever links stand on it
    // then; one standing there now is never handed over.
    DWORD rootError = ERROR_SUCCESS;
    const Anchor* anchor = settledAnchor(api, rootError);
    if (anchor != nullptr && (anchor->isLink || leadsElsewhere(*anchor, api, scratch_)))
        refuse("schedule the deletion of", path,
               "It is a link, or lies behind one, and what it leads to is never deleted.");
    if (!MoveFileExW(api.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        fail("schedule the deletion of", path, GetLastError());
}

std::string Win32FileSystem::readTextFile(const std::string& path) {
    constexpr std::string_view operation = "open file";
    if (path.empty())
        fail(operation, path, ERROR_PATH_NOT_FOUND);

    FileHandle file(CreateFileW(apiPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        fail(operation, path, GetLastError());

    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        fail(operation, path, GetLastError());
    if (size.QuadPart > largestTextFile)
        refuse(operation, path, "It is too large to be an install log.");

    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(bytes.size() - filled);
        if (!ReadFile(file.get(), bytes.data() + filled, want, &got, nullptr))
            fail(operation, path, GetLastError());
        if (got == 0)
            break;
        filled += got;
    }
    bytes.resize(filled);
    std::optional<std::string> text = text::fromTextFile(bytes);
    if (!text)
        refuse(operation, path, unknownEncodingReason);
    return std::move(*text);
}

} // namespace uninst
