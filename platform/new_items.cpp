#include "platform/new_items.h"

#include "engine/error.h"
#include "platform/handles.h"
#include "platform/path_forms.h"
#include "platform/relative_open.h"
#include "platform/system_error_text.h"
#include "platform/text_encoding.h"

#include <windows.h>

#include <cstddef>
#include <string_view>

namespace uninst::win32 {

namespace {

constexpr ACCESS_MASK folderAccess = FILE_TRAVERSE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr ULONG shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::string_view throughLink =
    "a folder on its path is a link, and nothing is put back through one.";

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

bool sameFoldedText(const std::string& a, const std::string& b) {
    return text::sameFolded(text::toWide(a), text::toWide(b));
}

// Whether the system names what `handle` holds `path`.
bool namedAs(HANDLE handle, const std::string& path) {
    return isNamed(handle, text::toWide(path));
}

// The held folder that is to hold `path`, reached from the nearest root, and
// the new item's name. A link anywhere below the root, or the root being
// one, is refused.
FileHandle parentFolder(const std::vector<std::string>& roots, const std::string& path,
                        const char* operation, std::wstring& name) {
    const std::string* root = nullptr;
    for (const std::string& candidate : roots) {
        const bool inside = path.size() > candidate.size() && path[candidate.size()] == '\\' &&
                            sameFoldedText(path.substr(0, candidate.size()), candidate);
        if ((inside || sameFoldedText(path, candidate)) &&
            (root == nullptr || candidate.size() > root->size()))
            root = &candidate;
    }
    if (root == nullptr)
        refuse(operation, path,
               "it lies outside the install folder and the start-menu folders, where nothing is "
               "put back.");
    // The root itself goes into the folder above it, which is the system's
    // arrangement and may be reached through a link; below the root no step
    // may be one.
    const bool isRoot = path.size() == root->size();
    const std::size_t split = path.find_last_of('\\');
    if (split == std::string::npos || split < 2)
        refuse(operation, path, "it names no folder below a drive's or a share's root.");
    const std::string base = isRoot ? path.substr(0, split) : *root;
    FileHandle held(CreateFileW(
        apiPath(base.size() == 2 ? base + "\\" : base).c_str(), folderAccess | SYNCHRONIZE,
        shareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (isRoot ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
    if (!held)
        fail(operation, path, GetLastError());
    if (!isRoot && isLinkHandle(held.get()))
        refuse(operation, path, throughLink);
    const std::wstring below = text::toWide(path.substr(isRoot ? split + 1 : root->size() + 1));
    std::size_t at = 0;
    while (true) {
        const std::size_t end = below.find(L'\\', at);
        if (end == std::wstring::npos) {
            name = below.substr(at);
            break;
        }
        FileHandle step;
        const DWORD error = openRelative(held.get(), below.substr(at, end - at), folderAccess,
                                         shareAll, nt::openExisting, nt::directoryOnly, step);
        if (error != ERROR_SUCCESS)
            fail(operation, path,
                 error == ERROR_FILE_NOT_FOUND ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : error);
        if (isLinkHandle(step.get()))
            refuse(operation, path, throughLink);
        held = std::move(step);
        at = end + 1;
    }
    // Wine 8 opens a host symbolic link as its target even when asked for
    // the link itself: the name the system gives the held folder then
    // differs from the path walked.
    if (!isRoot && !namedAs(held.get(), path.substr(0, split)))
        refuse(operation, path, throughLink);
    if (name.empty())
        refuse(operation, path, "it names no item.");
    return held;
}

bool collided(DWORD error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// Takes a half-made copy away again, so that a later restore does not take
// it for a file that stood there.
void discard(HANDLE file) {
    FILE_DISPOSITION_INFO dispose{TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
}

} // namespace

HANDLE NewItems::parentOf(const std::string& path, const char* operation, std::wstring& name) {
    const std::size_t split = path.find_last_of('\\');
    if (held_ && split != std::string::npos && split == heldFor_.size() &&
        path.compare(0, split, heldFor_) == 0 && split + 1 < path.size()) {
        name = text::toWide(path.substr(split + 1));
        return held_.get();
    }
    held_.reset();
    held_ = parentFolder(roots_, path, operation, name);
    heldFor_ = path.substr(0, split);
    return held_.get();
}

void NewItems::setRoots(const std::vector<std::string>& roots) {
    held_.reset();
    heldFor_.clear();
    roots_.clear();
    for (const std::string& root : roots) {
        if (!root.empty())
            roots_.push_back(withoutTrailingSeparators(root));
    }
}

Creation NewItems::createFolder(const std::string& path) {
    constexpr const char* operation = "create folder";
    std::wstring name;
    const HANDLE parent = parentOf(path, operation, name);
    FileHandle made;
    DWORD error =
        openRelative(parent, name, folderAccess, shareAll, nt::createNew, nt::directoryOnly, made);
    if (error == ERROR_SUCCESS)
        return Creation::created;
    if (!collided(error))
        fail(operation, path, error);
    error = openRelative(parent, name, folderAccess, shareAll, nt::openExisting, nt::directoryOnly,
                         made);
    if (error != ERROR_SUCCESS || isLinkHandle(made.get()) || !namedAs(made.get(), path))
        refuse(operation, path, "a file or a link stands there.");
    return Creation::exists;
}

Creation NewItems::copyNewFile(const std::string& from, const std::string& to) {
    FileHandle source(CreateFileW(
        apiPath(from).c_str(), GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source)
        fail("read", from, GetLastError());
    // The restore judged the copy by this name: one reached through a link
    // swapped in since is another's file.
    if (isLinkHandle(source.get()) || !namedAs(source.get(), from))
        refuse("read", from, "it is a link, and a backup's copy never is.");
    const std::optional<HeldItemFacts> facts = heldItemFacts(source.get());
    if (!facts)
        fail("read", from, GetLastError());
    if (facts->links != 1)
        refuse("read", from, "it has another name elsewhere, and a backup's copy never has.");
    FILE_BASIC_INFO info{};
    if (!GetFileInformationByHandleEx(source.get(), FileBasicInfo, &info, sizeof info))
        fail("read the times of", from, GetLastError());

    constexpr const char* operation = "create file";
    std::wstring name;
    const HANDLE parent = parentOf(to, operation, name);
    FileHandle target;
    const DWORD error =
        openRelative(parent, name, FILE_GENERIC_WRITE | FILE_WRITE_ATTRIBUTES | DELETE, 0,
                     nt::createNew, nt::fileOnly, target);
    if (collided(error))
        return Creation::exists;
    if (error != ERROR_SUCCESS)
        fail(operation, to, error);
    if (buffer_.empty())
        buffer_.resize(1 << 20);
    while (true) {
        DWORD got = 0;
        if (!ReadFile(source.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), &got,
                      nullptr)) {
            const DWORD code = GetLastError();
            discard(target.get());
            fail("read", from, code);
        }
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(target.get(), buffer_.data(), got, &written, nullptr) || written != got) {
            const DWORD code = written != got && GetLastError() == 0
                                   ? static_cast<DWORD>(ERROR_DISK_FULL)
                                   : GetLastError();
            discard(target.get());
            fail("write", to, code);
        }
    }
    // The attributes last: a read-only file takes no more writes.
    info.ChangeTime.QuadPart = 0;
    if (info.FileAttributes == 0)
        info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(target.get(), FileBasicInfo, &info, sizeof info)) {
        const DWORD code = GetLastError();
        discard(target.get());
        fail("set the times of", to, code);
    }
    return Creation::created;
}

} // namespace uninst::win32
