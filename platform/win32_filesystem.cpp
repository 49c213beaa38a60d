#include "platform/win32_filesystem.h"

#include "engine/error.h"
#include "platform/text_encoding.h"
#include "platform/unique_handle.h"

#include <windows.h>

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

// The "\\?\" form skips the system's clean-up of a path, so a path that needs
// it ("/" separators, "." or ".." parts, doubled separators) is cleaned up
// first.
bool needsCleanUp(std::string_view path) {
    std::size_t start = 3;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part == "." || part == ".." || (part.empty() && end < path.size()))
            return true;
        if (end < path.size() && path[end] == '/')
            return true;
        start = end + 1;
    }
    return path.size() > 2 && path[2] == '/';
}

// Appends the form of `path` that the wide API is given. "C:" on its own is
// the drive's root, as a folder path without its trailing separator.
void appendApiPath(std::wstring& out, const std::string& path) {
    if (!isDriveAbsolute(path)) {
        text::appendWide(out, path);
        return;
    }
    out += longPrefix;
    if (!needsCleanUp(path)) {
        text::appendWide(out, path);
        if (path.size() == 2)
            out += L'\\';
        return;
    }
    const std::wstring wide = text::toWide(path);
    std::wstring full(wide.size() + MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    }
    if (length == 0)
        fail("use path", path, GetLastError());
    full.resize(length);
    out += full;
}

std::wstring apiPath(const std::string& path) {
    std::wstring out;
    appendApiPath(out, path);
    return out;
}

// For messages: the path as the user knows it.
std::string userPath(std::wstring_view apiForm) {
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

bool isFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
bool isLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

FindHandle findFirst(const std::wstring& pattern, WIN32_FIND_DATAW& data) {
    return FindHandle(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
}

} // namespace

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
        if (isFolder(data.dwFileAttributes))
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

Removal Win32FileSystem::deleteFile(const std::string& path) {
    constexpr std::string_view operation = "delete file";
    if (path.empty())
        fail(operation, path, ERROR_PATH_NOT_FOUND);

    const std::wstring wide = apiPath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (isNotFound(code))
            return Removal::notFound;
        fail(operation, path, code);
    }
    // Some systems delete a directory link's target when asked to delete the
    // link as a file; a folder of any kind is never a file to delete here.
    if (isFolder(attributes))
        fail(operation, path, ERROR_ACCESS_DENIED);

    if (!DeleteFileW(wide.c_str())) {
        const DWORD code = GetLastError();
        if (isNotFound(code))
            return Removal::notFound;
        fail(operation, path, code);
    }
    return Removal::removed;
}

Removal Win32FileSystem::deleteFolder(const std::string& path) {
    constexpr std::string_view operation = "delete folder";
    if (path.empty())
        fail(operation, path, ERROR_PATH_NOT_FOUND);

    std::wstring wide = apiPath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (isNotFound(code))
            return Removal::notFound;
        fail(operation, path, code);
    }
    if (!isFolder(attributes))
        fail(operation, path, ERROR_DIRECTORY);
    // The link is not the application's folder: what it points to is someone
    // else's, and removing the link itself would act on that target here.
    if (isLink(attributes))
        return Removal::notFound;
    if (isDriveRoot(wide))
        fail(operation, path, ERROR_ACCESS_DENIED);

    // The sweep removes folders one by one once they are empty: one call
    // settles those without listing them again. Anything else, a folder
    // that still holds something or one that refuses, goes the long way,
    // which also reports the failure.
    if (RemoveDirectoryW(wide.c_str()))
        return Removal::removed;
    removeTree(wide);
    return Removal::removed;
}

bool Win32FileSystem::removeEmptyFolder(const std::string& path) {
    try {
        if (!isDriveAbsolute(path))
            return false;
        const std::wstring wide = apiPath(path);
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        // Wine removes a link's target in its place, so a link is never
        // handed to RemoveDirectoryW.
        if (attributes == INVALID_FILE_ATTRIBUTES || !isFolder(attributes) || isLink(attributes) ||
            isDriveRoot(wide))
            return false;
        return RemoveDirectoryW(wide.c_str()) != FALSE;
    } catch (const Error&) {
        return false;
    }
}

// Depth first, by hand rather than with a shell or system helper, because
// none of those can be trusted to leave reparse points alone. `folder` is
// used as the path buffer for everything below it and is restored on return.
bool Win32FileSystem::removeTree(std::wstring& folder) {
    const std::size_t base = folder.size();
    if (folder.back() != L'\\')
        folder += L'\\';
    const std::size_t childBase = folder.size();

    // Taken whole before anything is deleted, so that deleting cannot disturb
    // the enumeration.
    std::vector<std::pair<std::wstring, DWORD>> entries;
    folder += L'*';
    WIN32_FIND_DATAW data;
    FindHandle find = findFirst(folder, data);
    if (!find) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_NO_MORE_FILES)
            fail("delete folder", userPath(folder.substr(0, base)), code);
    } else {
        do {
            if (!isDotEntry(data.cFileName))
                entries.emplace_back(data.cFileName, data.dwFileAttributes);
        } while (FindNextFileW(find.get(), &data));
        const DWORD code = GetLastError();
        if (code != ERROR_NO_MORE_FILES)
            fail("delete folder", userPath(folder.substr(0, base)), code);
        find.reset();
    }

    bool emptied = true;
    for (const auto& [name, attributes] : entries) {
        folder.resize(childBase);
        folder += name;
        if (isFolder(attributes)) {
            if (isLink(attributes) || !removeTree(folder))
                emptied = false;
        } else if (!DeleteFileW(folder.c_str())) {
            const DWORD code = GetLastError();
            if (!isNotFound(code))
                fail("delete file", userPath(folder), code);
        }
    }

    folder.resize(base);
    if (emptied && !RemoveDirectoryW(folder.c_str())) {
        const DWORD code = GetLastError();
        if (!isNotFound(code))
            fail("delete folder", userPath(folder), code);
    }
    return emptied;
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
    return text::fromTextFile(bytes);
}

} // namespace uninst
