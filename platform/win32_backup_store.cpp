#include "platform/win32_backup_store.h"

#include "engine/error.h"
#include "platform/parallel_work.h"
#include "platform/path_forms.h"
#include "platform/relative_open.h"
#include "platform/system_error_text.h"
#include "platform/text_encoding.h"
#include "platform/win32_run_log.h"

#include <exception>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace uninst {

namespace {

constexpr ACCESS_MASK folderAccess = FILE_TRAVERSE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;

const std::string_view linkRefusal =
    "it is a link, or a folder on its path is a link, and the run writes its backup only into "
    "a folder reached through no link.";

// A write to a disk file that takes fewer bytes than it was given, and
// succeeds, has met the end of the room on the disk (Wine answers a full
// disk so); the code the system would have given leaves it unsaid.
constexpr DWORD shortWrite = ERROR_DISK_FULL;

std::string refusal(const std::string& folder, std::string_view why) {
    return "Cannot write the backup below " + folder + ": " + std::string(why) +
           " Nothing has been removed.";
}

} // namespace

Win32BackupStore::Win32BackupStore(const std::string& folder) : asked_(folder) {
    const auto refuse = [&](std::string_view why) {
        throw Error("use the backup folder", asked_, refusal(asked_, why));
    };
    const std::wstring wide = text::toWide(folder);
    std::wstring full(wide.size() + MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (wide.empty() || length == 0 || length >= full.size())
        refuse("the system can make no path of it.");
    full.resize(length);
    std::wstring longForm(full.size() + MAX_PATH, L'\0');
    length = GetLongPathNameW(full.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
    if (length > 0 && length < longForm.size()) {
        longForm.resize(length);
        full = std::move(longForm);
    }
    if (full.substr(0, 4) == L"\\\\.\\" || full.substr(0, 4) == L"\\\\?\\")
        refuse(linkRefusal);
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    std::size_t rootEnd = 0;
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        rootEnd = 3;
    } else if (full.substr(0, 2) == L"\\\\") {
        const std::size_t server = full.find(L'\\', 2);
        const std::size_t share =
            server == std::wstring::npos ? server : full.find(L'\\', server + 1);
        rootEnd = share == std::wstring::npos ? full.size() + 1 : share + 1;
        if (share == std::wstring::npos)
            full.push_back(L'\\');
    }
    if (rootEnd == 0)
        refuse("it names no folder on a drive or a share.");
    const std::wstring root = full.substr(0, rootEnd);
    folder_.reset(CreateFileW(root.c_str(), folderAccess | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder_)
        refuse(systemErrorText(GetLastError()));
    std::size_t at = rootEnd;
    while (at < full.size()) {
        std::size_t end = full.find(L'\\', at);
        if (end == std::wstring::npos)
            end = full.size();
        FileHandle step;
        const DWORD error = openRelative(folder_.get(), full.substr(at, end - at), folderAccess,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nt::openExisting,
                                         nt::directoryOnly, step);
        if (error != ERROR_SUCCESS)
            refuse(systemErrorText(
                error == ERROR_FILE_NOT_FOUND ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : error));
        if (isLinkHandle(step.get()))
            refuse(linkRefusal);
        folder_ = std::move(step);
        at = end + 1;
    }
    // Wine 8 opens a host symbolic link as its target even when asked for
    // the link itself: the name the system gives the held folder then
    // differs from the path walked.
    std::wstring walked = full;
    while (walked.size() > 3 && walked.back() == L'\\')
        walked.pop_back();
    const std::wstring named = finalName(folder_.get());
    if (named.empty() || !text::sameFolded(named, walked))
        refuse(linkRefusal);
    fullPath_ = text::fromWide(walked);
}

std::string thisMachineName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size))
        return "unknown";
    return text::fromWide(std::wstring_view(name, size));
}

std::string Win32BackupStore::machineName() {
    return thisMachineName();
}

std::string Win32BackupStore::localTime() {
    return localTimeText();
}

std::uint64_t Win32BackupStore::fileSize(const std::string& source) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win32::apiPath(source).c_str(), GetFileExInfoStandard, &data))
        throw Error("back up", source, failureText("read the size of", source, GetLastError()));
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void Win32BackupStore::fail(const char* operation, const std::string& relative, DWORD code) const {
    const bool root = !fullPath_.empty() && fullPath_.back() == '\\';
    const std::string path = fullPath_ + (root ? "" : "\\") + name_ +
                             (relative.empty() ? std::string() : "\\" + relative);
    throw Error(operation, path, failureText(operation, path, code));
}

void Win32BackupStore::create(const std::string& name) {
    name_ = name;
    const DWORD error =
        openRelative(folder_.get(), text::toWide(name), folderAccess,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nt::createNew, nt::directoryOnly, backup_);
    if (error != ERROR_SUCCESS)
        fail("create the backup folder", "", error);
}

FileHandle Win32BackupStore::walkTo(const std::wstring& folder) const {
    FileHandle held;
    HANDLE at = backup_.get();
    std::size_t begin = 0;
    while (begin <= folder.size()) {
        std::size_t end = folder.find(L'\\', begin);
        if (end == std::wstring::npos)
            end = folder.size();
        FileHandle step;
        const DWORD error = openRelative(at, folder.substr(begin, end - begin), folderAccess,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nt::openExisting,
                                         nt::directoryOnly, step);
        if (error != ERROR_SUCCESS)
            fail("open the backup folder", text::fromWide(folder.substr(0, end)), error);
        held = std::move(step);
        at = held.get();
        begin = end + 1;
    }
    return held;
}

HANDLE Win32BackupStore::parentOf(const std::string& relative, std::wstring& last) {
    const std::wstring wide = text::toWide(relative);
    const std::size_t split = wide.find_last_of(L'\\');
    last = split == std::wstring::npos ? wide : wide.substr(split + 1);
    if (split == std::wstring::npos)
        return backup_.get();
    const std::wstring folder = wide.substr(0, split);
    if (lastHeld_ && folder == lastFolder_)
        return lastHeld_.get();
    lastHeld_.reset();
    lastHeld_ = walkTo(folder);
    lastFolder_ = folder;
    return lastHeld_.get();
}

void Win32BackupStore::makeFolder(const std::string& relative) {
    std::wstring last;
    const HANDLE parent = parentOf(relative, last);
    FileHandle made;
    const DWORD error = openRelative(parent, last, folderAccess, FILE_SHARE_READ, nt::createNew,
                                     nt::directoryOnly, made);
    if (error != ERROR_SUCCESS)
        fail("create the backup folder", relative, error);
}

FileHandle Win32BackupStore::createIn(HANDLE parent, const std::wstring& last,
                                      const std::string& relative) const {
    FileHandle file;
    const DWORD error = openRelative(parent, last, FILE_GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0,
                                     nt::createNew, nt::fileOnly, file);
    if (error != ERROR_SUCCESS)
        fail("create the backup file", relative, error);
    return file;
}

FileHandle Win32BackupStore::createFile(const std::string& relative) {
    std::wstring last;
    const HANDLE parent = parentOf(relative, last);
    return createIn(parent, last, relative);
}

std::uint64_t Win32BackupStore::copyInto(HANDLE parent, const std::wstring& last, const Copy& copy,
                                         std::span<char> buffer) const {
    const std::string& source = copy.source;
    // Read with every sharing allowed: a program still running keeps its
    // file open, and the copy is what it holds now.
    FileHandle from(CreateFileW(win32::apiPath(source).c_str(), GENERIC_READ | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from)
        throw Error("back up", source, failureText("read", source, GetLastError()));
    FILE_BASIC_INFO info{};
    if (!GetFileInformationByHandleEx(from.get(), FileBasicInfo, &info, sizeof info))
        throw Error("back up", source, failureText("read the times of", source, GetLastError()));
    const FileHandle to = createIn(parent, last, copy.relative);
    std::uint64_t copied = 0;
    while (true) {
        DWORD got = 0;
        if (!ReadFile(from.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            throw Error("back up", source, failureText("read", source, GetLastError()));
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(to.get(), buffer.data(), got, &written, nullptr))
            fail("write the backup file", copy.relative, GetLastError());
        if (written != got)
            fail("write the backup file", copy.relative, shortWrite);
        copied += got;
    }
    // The attributes last: a read-only copy takes no more writes.
    info.ChangeTime.QuadPart = 0;
    if (info.FileAttributes == 0)
        info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(to.get(), FileBasicInfo, &info, sizeof info))
        fail("set the times of the backup file", copy.relative, GetLastError());
    return copied;
}

std::uint64_t Win32BackupStore::copyFile(const std::string& source, const std::string& relative) {
    std::wstring last;
    const HANDLE parent = parentOf(relative, last);
    // One buffer for every copy: most files are small, and a new one each
    // time would be filled with zeros as often as there are files.
    if (buffer_.empty())
        buffer_.resize(1 << 20);
    return copyInto(parent, last, {source, relative}, buffer_);
}

std::vector<std::uint64_t> Win32BackupStore::copyFiles(const std::vector<Copy>& copies) {
    // The copies come folder by folder. Each batch is a few of one folder's,
    // copied from that folder held once, with a buffer of its own, so that a
    // few batches run at once: each copy waits on the server four or five
    // times, and thirty thousand in a row are most of a run with a backup.
    constexpr std::size_t batchSize = 32;
    constexpr std::size_t bufferSize = 256 * 1024;
    const auto folderOf = [](const std::string& relative) {
        const std::size_t split = relative.find_last_of('\\');
        return std::string_view(relative).substr(0, split == std::string::npos ? 0 : split);
    };
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (starts.empty() || i - starts.back() == batchSize ||
            folderOf(copies[i].relative) != folderOf(copies[i - 1].relative))
            starts.push_back(i);
    }
    starts.push_back(copies.size());
    const std::size_t batches = starts.size() - 1;
    std::vector<std::uint64_t> sizes(copies.size());
    std::vector<std::exception_ptr> failures(batches);
    // Batches are started in order and every one started ends: each batch
    // before the first that failed has been copied whole.
    forEachInParallel(batches, [&](std::size_t b) {
        try {
            const std::unique_ptr<char[]> buffer(new char[bufferSize]);
            const std::string& first = copies[starts[b]].relative;
            const std::wstring folder = text::toWide(std::string(folderOf(first)));
            const FileHandle held = folder.empty() ? FileHandle() : walkTo(folder);
            const HANDLE parent = folder.empty() ? backup_.get() : held.get();
            for (std::size_t i = starts[b]; i < starts[b + 1]; ++i) {
                const std::string& relative = copies[i].relative;
                const std::wstring last = text::toWide(
                    relative.substr(relative.empty() ? 0 : folderOf(relative).size() + 1));
                sizes[i] = copyInto(parent, last, copies[i], {buffer.get(), bufferSize});
            }
        } catch (...) {
            failures[b] = std::current_exception();
            return false;
        }
        return true;
    });
    for (const std::exception_ptr& failure : failures) {
        if (failure)
            std::rethrow_exception(failure);
    }
    return sizes;
}

void Win32BackupStore::writeFile(const std::string& relative, const std::string& bytes) {
    const FileHandle to = createFile(relative);
    DWORD written = 0;
    if (!WriteFile(to.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        fail("write the backup file", relative, GetLastError());
    if (written != bytes.size())
        fail("write the backup file", relative, shortWrite);
    if (!FlushFileBuffers(to.get()))
        fail("write the backup file", relative, GetLastError());
}

} // namespace uninst
