#include "platform/checked_open.h"

#include "platform/path_forms.h"
#include "platform/system_error_text.h"
#include "platform/text_encoding.h"

namespace uninst::win32 {

namespace {

// Opened to be asked what it is, never to change it: attributes only, which
// no program's sharing refuses, and the item itself even when it is a link.
FileHandle openToAsk(const std::wstring& api) {
    return FileHandle(CreateFileW(
        api.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, shareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

} // namespace

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

bool markForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

void RemovalRoots::set(const std::vector<std::string>& roots) {
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
Anchor* RemovalRoots::anchorFor(const std::wstring& api) {
    Anchor* nearest = nullptr;
    for (Anchor& anchor : anchors_) {
        const std::size_t length = anchor.api.size();
        if (api.size() >= length &&
            text::sameFolded(std::wstring_view(api).substr(0, length), anchor.api) &&
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
        if (text::sameFolded(anchor.api, root))
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
DWORD RemovalRoots::settle(Anchor& anchor) {
    if (anchor.settled)
        return ERROR_SUCCESS;
    std::wstring api = anchor.api;
    if (anchor.isVolume || api.back() == L':')
        api += L'\\';
    const FileHandle handle = openToAsk(api);
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

const Anchor* RemovalRoots::settledAnchor(const std::wstring& api, DWORD& error) {
    Anchor* anchor = anchorFor(api);
    if (anchor == nullptr) {
        error = ERROR_BAD_PATHNAME;
        return nullptr;
    }
    error = settle(*anchor);
    return error == ERROR_SUCCESS ? anchor : nullptr;
}

Opened RemovalRoots::openChecked(const std::wstring& api, bool folder, DWORD share,
                                 DWORD extraAccess) {
    DWORD rootError = ERROR_SUCCESS;
    const Anchor* anchor = settledAnchor(api, rootError);
    return openBelow(anchor, rootError, api, folder, share, extraAccess, scratch_);
}

Opened openBelow(const Anchor* anchor, DWORD rootError, const std::wstring& api, bool folder,
                 DWORD share, DWORD extraAccess, NameScratch& scratch, bool named) {
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

bool namesItself(const Anchor& anchor, const std::wstring& api, HANDLE handle, bool folder,
                 NameScratch& scratch, DWORD& error) {
    error = systemName(handle, scratch.buffer, scratch.final);
    if (error != ERROR_SUCCESS)
        return false;
    const std::wstring_view rest = std::wstring_view(api).substr(anchor.api.size());
    const std::wstring_view final = scratch.final;
    const bool same = final.size() == anchor.final.size() + rest.size() &&
                      text::sameFolded(final.substr(0, anchor.final.size()), anchor.final) &&
                      text::sameFolded(final.substr(anchor.final.size()), rest);
    return same && !(folder && hasReparseTag(handle));
}

bool leadsElsewhere(const Anchor& anchor, const std::wstring& api, NameScratch& scratch) {
    const FileHandle probe = openToAsk(api);
    if (!probe)
        return false;
    DWORD error = ERROR_SUCCESS;
    return !namesItself(anchor, api, probe.get(), true, scratch, error) && error == ERROR_SUCCESS;
}

bool standsAsItself(const Anchor& anchor, const std::wstring& api, NameScratch& scratch) {
    const FileHandle probe = openToAsk(api);
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
           text::sameFolded(final.substr(0, anchor.final.size()), anchor.final) &&
           text::sameFolded(final.substr(anchor.final.size()), rest);
}

DWORD deleteOpened(const Opened& opened, Removal& removal) {
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

} // namespace uninst::win32
