#include "platform/win32_filesystem.h"

#include "engine/error.h"
#include "engine/text_file.h"
#include "platform/checked_open.h"
#include "platform/handles.h"
#include "platform/held_file_budget.h"
#include "platform/held_files.h"
#include "platform/new_items.h"
#include "platform/parallel_work.h"
#include "platform/path_forms.h"
#include "platform/relative_open.h"
#include "platform/system_error_text.h"
#include "platform/text_encoding.h"
#include "platform/tree_removal.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace uninst {

using namespace win32;

namespace {

// An install log is a few kilobytes; anything near this size is not one, and
// reading it whole would exhaust a 32-bit process.
constexpr LONGLONG largestTextFile = 256LL * 1024 * 1024;

FindHandle findFirst(const std::wstring& pattern, WIN32_FIND_DATAW& data) {
    return FindHandle(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
}

void addEntry(FolderListing& listing, const std::string& prefix, std::wstring_view name,
              DWORD attributes, std::uint64_t bytes) {
    std::string full = prefix;
    text::appendFromWide(full, name);
    // Reported as a link is: never listed, entered or deleted, and it
    // keeps its folder.
    if (holdsSeparator(name))
        listing.subFolders.push_back({std::move(full), true});
    else if (isFolder(attributes))
        listing.subFolders.push_back({std::move(full), isLink(attributes)});
    else {
        listing.files.push_back(std::move(full));
        listing.fileBytes.push_back(bytes);
    }
}

// What a listing that also asks for leave to delete the folder's files
// found out: asked is false where the listing could not ask.
struct LeaveToDelete {
    std::vector<LONGLONG> buffer;
    bool asked = false;
    bool granted = false;
};

// The folder opened as FindFirstFileExW opens it (reading, sharing reading
// and writing, for a backup's purposes), with leave to delete what it holds
// asked on the same open, and read through that handle: the inventory asks
// that leave of every folder it lists, and a second open is a round trip to
// the server under Wine. Nothing when the open or the reading fails, or when
// the leave is refused: the folder is then listed the run's own way, which
// gives the run's own answer, refusal or error.
std::optional<FolderListing> listAskingLeave(const std::wstring& api, const std::string& prefix,
                                             LeaveToDelete& leave) {
    FileHandle folder(CreateFileW(api.c_str(), GENERIC_READ | FILE_DELETE_CHILD,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) {
        if (GetLastError() == ERROR_ACCESS_DENIED) {
            leave.asked = true;
            leave.granted = false;
        }
        return std::nullopt;
    }
    if (leave.buffer.empty())
        leave.buffer.resize(64 * 1024 / sizeof(LONGLONG));
    const auto size = static_cast<DWORD>(leave.buffer.size() * sizeof(LONGLONG));
    FolderListing listing;
    for (auto kind = FileFullDirectoryRestartInfo;; kind = FileFullDirectoryInfo) {
        if (!GetFileInformationByHandleEx(folder.get(), kind, leave.buffer.data(), size)) {
            const DWORD code = GetLastError();
            // A drive's root has no "." entries, so an empty one finds nothing.
            if (code == ERROR_NO_MORE_FILES || code == ERROR_FILE_NOT_FOUND)
                break;
            return std::nullopt;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(leave.buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes);
            const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                addEntry(listing, prefix, name, entry->FileAttributes,
                         static_cast<std::uint64_t>(entry->EndOfFile.QuadPart));
            if (entry->NextEntryOffset == 0)
                break;
            bytes += entry->NextEntryOffset;
        }
    }
    leave.asked = true;
    leave.granted = true;
    return listing;
}

FolderListing listWith(const std::string& path, std::wstring& pattern,
                       LeaveToDelete* leave = nullptr) {
    constexpr std::string_view operation = "open folder";
    if (path.empty())
        fail(operation, path, ERROR_PATH_NOT_FOUND);

    pattern.clear();
    appendApiPath(pattern, path);
    const DWORD attributes = GetFileAttributesW(pattern.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        fail(operation, path, GetLastError());
    if (!isFolder(attributes))
        fail(operation, path, ERROR_DIRECTORY);
    if (isLink(attributes))
        refuse(operation, path, "It is a link to another folder, which is never entered.");

    std::string prefix = path;
    if (prefix.back() != '\\')
        prefix += '\\';
    if (leave != nullptr) {
        if (std::optional<FolderListing> listed = listAskingLeave(pattern, prefix, *leave))
            return std::move(*listed);
    }

    if (pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';

    FolderListing listing;
    WIN32_FIND_DATAW data;
    FindHandle find = findFirst(pattern, data);
    if (!find) {
        const DWORD code = GetLastError();
        // A drive's root has no "." entries, so an empty one finds nothing.
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES)
            return listing;
        fail(operation, path, code);
    }

    do {
        if (isDotEntry(data.cFileName))
            continue;
        addEntry(listing, prefix, data.cFileName, data.dwFileAttributes,
                 (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
    } while (FindNextFileW(find.get(), &data));

    const DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES)
        fail(operation, path, code);
    return listing;
}

} // namespace

struct Win32FileSystem::State {
    State(std::size_t heldFileLimit, bool checksMark) : held(heldFileLimit, checksMark) {}

    RemovalRoots roots;
    NewItems made;
    HeldFiles held;
    std::vector<LONGLONG> directoryBuffer;
    // Scratch space reused across calls: listing a large tree converts tens
    // of thousands of names, and allocating afresh for each shows.
    std::wstring pattern;
    // A run that changes nothing is an inventory's or a preview's: its
    // listings also ask for leave to delete each folder's files, and the
    // answers wait here, by the path listed, for the question of whether
    // the files can go.
    bool asksLeaveToDelete = false;
    std::mutex leaveMutex;
    std::unordered_map<std::string, bool> leaveToDelete;
    LeaveToDelete leaveScratch;

    void noteLeave(const std::string& path, const LeaveToDelete& leave) {
        if (!leave.asked)
            return;
        const std::lock_guard<std::mutex> lock(leaveMutex);
        leaveToDelete[path] = leave.granted;
    }
};

Win32FileSystem::Win32FileSystem() : Win32FileSystem(win32::heldFileBudget()) {}

Win32FileSystem::Win32FileSystem(std::size_t heldFileLimit)
    : Win32FileSystem(heldFileLimit, true) {}

Win32FileSystem::Win32FileSystem(std::size_t heldFileLimit, bool checksMark)
    : state_(std::make_unique<State>(heldFileLimit, checksMark)) {}

Win32FileSystem::Win32FileSystem(ChangesNothing) : Win32FileSystem(0, false) {
    state_->asksLeaveToDelete = true;
}

Win32FileSystem::~Win32FileSystem() = default;

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
    if (!state_->asksLeaveToDelete)
        return listWith(path, state_->pattern);
    LeaveToDelete& leave = state_->leaveScratch;
    leave.asked = false;
    FolderListing listing = listWith(path, state_->pattern, &leave);
    state_->noteLeave(path, leave);
    return listing;
}

// Each listing waits on its folder's open and on the reading of its entries
// (under Wine, the open on the server and the reading in this process), and
// the folders of a tree's level share nothing: listed on a few threads at
// once, a large tree lists in about half the time on two cores.
std::vector<ListedFolder> Win32FileSystem::listFolders(const std::vector<std::string>& paths) {
    std::vector<ListedFolder> listed(paths.size());
    forEachInParallel(paths.size(), [&](std::size_t i) {
        std::wstring pattern;
        thread_local LeaveToDelete leave;
        leave.asked = false;
        try {
            listed[i].listing =
                listWith(paths[i], pattern, state_->asksLeaveToDelete ? &leave : nullptr);
            state_->noteLeave(paths[i], leave);
        } catch (...) {
            listed[i].failure = std::current_exception();
        }
        return true;
    });
    return listed;
}

bool Win32FileSystem::folderExists(const std::string& path) {
    if (path.empty())
        return false;
    const DWORD attributes = GetFileAttributesW(apiPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && isFolder(attributes);
}

bool Win32FileSystem::isMissing(const std::string& path) {
    if (path.empty())
        return true;
    if (GetFileAttributesW(apiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void Win32FileSystem::setRemovalRoots(const std::vector<std::string>& roots) {
    state_->roots.set(roots);
    state_->made.setRoots(roots);
}

Creation Win32FileSystem::createFolder(const std::string& path) {
    return state_->made.createFolder(path);
}

Creation Win32FileSystem::copyNewFile(const std::string& from, const std::string& to) {
    return state_->made.copyNewFile(from, to);
}

std::vector<std::string> Win32FileSystem::filesStillThere(const std::string& folder,
                                                          const std::vector<std::string>& paths) {
    std::vector<std::string> left;
    for (std::string& path : FileSystem::filesStillThere(folder, paths)) {
        const std::wstring api = apiPath(path);
        DWORD rootError = ERROR_SUCCESS;
        const Anchor* anchor = state_->roots.settledAnchor(api, rootError);
        if (anchor != nullptr &&
            (anchor->isLink || !standsAsItself(*anchor, api, state_->roots.scratch())))
            continue;
        left.push_back(std::move(path));
    }
    return left;
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
    state_->held.release(api);
    // A folder, or a link to one, does not open as a file: some systems
    // delete a directory link's target when asked to delete it as a file.
    Removal removal = Removal::notFound;
    if (const DWORD code = deleteOpened(state_->roots.openChecked(api, false, 0), removal);
        code != ERROR_SUCCESS)
        fail(operation, path, code);
    return removal;
}

FileRemovals Win32FileSystem::deleteFiles(const std::vector<std::string>& paths) {
    return state_->held.deleteFiles(state_->roots, paths);
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
    Opened opened = state_->roots.openChecked(wide, true);
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
    removeTree(state_->roots, std::move(opened), wide, state_->directoryBuffer);
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
        const Opened opened = state_->roots.openChecked(wide, true);
        return opened.handle && opened.deleteRefused == 0 && isFolderHandle(opened.handle.get()) &&
               markForDeletion(opened.handle.get());
    } catch (const Error&) {
        return false;
    }
}

// A few folders at once, as the deletion takes its files: each removal is
// an open, a name query, two attribute queries, the mark and the close, a
// round trip each under Wine. The roots are settled here first, which is not
// safe on several threads.
std::vector<bool> Win32FileSystem::removeEmptyFolders(const std::vector<std::string>& paths) {
    struct Job {
        std::wstring api;
        const Anchor* anchor = nullptr;
        DWORD rootError = ERROR_SUCCESS;
        bool asked = false;
        bool removed = false;
    };
    std::vector<Job> jobs(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        try {
            if (!isDriveAbsolute(paths[i]))
                continue;
            jobs[i].api = apiPath(paths[i]);
            if (isDriveRoot(jobs[i].api))
                continue;
            jobs[i].anchor = state_->roots.settledAnchor(jobs[i].api, jobs[i].rootError);
            jobs[i].asked = true;
        } catch (const Error&) {
        }
    }
    forEachInParallel(jobs.size(), [&](std::size_t i) {
        Job& job = jobs[i];
        if (!job.asked)
            return true;
        NameScratch scratch;
        const Opened opened =
            openBelow(job.anchor, job.rootError, job.api, true, shareAll, 0, scratch);
        job.removed = opened.handle && opened.deleteRefused == 0 &&
                      isFolderHandle(opened.handle.get()) && markForDeletion(opened.handle.get());
        return true;
    });
    std::vector<bool> removed;
    removed.reserve(jobs.size());
    for (const Job& job : jobs)
        removed.push_back(job.removed);
    return removed;
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
    return state_->held.checkDeletes(state_->roots, paths);
}

// Deleting a file takes leave to delete it or leave from its folder to
// delete what the folder holds; the second is one question for all the
// folder's files. A folder this run listed has been asked on the listing's
// own open; any other is opened as a folder only, for that access alone and
// without a backup's privileges, sharing everything, so that no program
// holding it refuses it. Each file's attributes are asked by path,
// which under Wine needs no round trip to the server: what is read-only,
// not a plain file, or cannot be named by its path is left to the check.
std::vector<bool> Win32FileSystem::deletableUnlessInUse(const std::vector<std::string>& paths) {
    std::vector<std::string> folders;
    std::unordered_map<std::string, std::size_t> folderIndex;
    std::vector<std::size_t> folderOf(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::size_t slash = paths[i].rfind('\\');
        const std::string folder = paths[i].substr(0, slash == std::string::npos ? 0 : slash);
        const auto [found, added] = folderIndex.emplace(folder, folders.size());
        if (added)
            folders.push_back(folder);
        folderOf[i] = found->second;
    }
    std::vector<char> grants(folders.size(), 0);
    std::vector<char> known(folders.size(), 0);
    {
        const std::lock_guard<std::mutex> lock(state_->leaveMutex);
        for (std::size_t i = 0; i < folders.size(); ++i) {
            const auto found = state_->leaveToDelete.find(folders[i]);
            if (found != state_->leaveToDelete.end()) {
                known[i] = 1;
                grants[i] = found->second;
            }
        }
    }
    forEachInParallel(folders.size(), [&](std::size_t i) {
        if (known[i])
            return true;
        // The system's own form of the long path: "\\?\" as "\??\".
        std::wstring name = apiPath(folders[i]);
        if (name.compare(0, longPrefix.size(), longPrefix) != 0)
            return true;
        name[1] = L'?';
        FileHandle folder;
        grants[i] = openRelative(nullptr, name, FILE_DELETE_CHILD, shareAll, nt::openExisting,
                                 nt::directoryOnly, folder) == ERROR_SUCCESS;
        return true;
    });
    constexpr DWORD refusing =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    std::vector<char> vouched(paths.size(), 0);
    forEachInParallel(paths.size(), [&](std::size_t i) {
        if (paths[i].empty() || !grants[folderOf[i]])
            return true;
        const DWORD attributes = GetFileAttributesW(apiPath(paths[i]).c_str());
        vouched[i] = attributes != INVALID_FILE_ATTRIBUTES && (attributes & refusing) == 0;
        return true;
    });
    return std::vector<bool>(vouched.begin(), vouched.end());
}

void Win32FileSystem::deleteAtRestart(const std::string& path) {
    if (path.empty())
        fail("schedule the deletion of", path, ERROR_PATH_NOT_FOUND);
    const std::wstring api = apiPath(path);
    state_->held.release(api);
    // The restart deletes by path, following whatever links stand on it
    // then; one standing there now is never handed over.
    DWORD rootError = ERROR_SUCCESS;
    const Anchor* anchor = state_->roots.settledAnchor(api, rootError);
    if (anchor != nullptr &&
        (anchor->isLink || leadsElsewhere(*anchor, api, state_->roots.scratch())))
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
