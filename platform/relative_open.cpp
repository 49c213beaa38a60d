#include "platform/relative_open.h"

#include "platform/text_encoding.h"

#include <vector>

namespace uninst {

std::wstring withoutLongPrefix(std::wstring_view path) {
    constexpr std::wstring_view prefix = L"\\\\?\\";
    if (path.substr(0, prefix.size()) != prefix)
        return std::wstring(path);
    path.remove_prefix(prefix.size());
    if (path.substr(0, 4) == L"UNC\\")
        return L"\\\\" + std::wstring(path.substr(4));
    return std::wstring(path);
}

std::wstring finalName(HANDLE handle) {
    std::wstring name(MAX_PATH * 4, L'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= name.size())
        return {};
    name.resize(length);
    name = withoutLongPrefix(name);
    while (name.size() > 3 && name.back() == L'\\')
        name.pop_back();
    return name;
}

bool isNamed(HANDLE handle, std::wstring_view path) {
    if (const std::wstring named = finalName(handle); !named.empty())
        return text::sameFolded(named, path);
    // Wine 8 gives no full name past a few hundred characters, and the name
    // on the volume at any length. Which volume it cannot tell: a link to
    // the same path on another drive leads to what its owner put there.
    std::wstring_view onVolume;
    if (path.size() > 2 && path[1] == L':')
        onVolume = path.substr(2);
    else if (path.substr(0, 2) == L"\\\\")
        onVolume = path.substr(1);
    else
        return false;
    // FILE_NAME_INFO with room for the longest name a path can hold.
    std::vector<DWORD> buffer(1 + 32768 / 2);
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, buffer.data(),
                                      static_cast<DWORD>(buffer.size() * sizeof(DWORD))))
        return false;
    const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
    std::wstring_view named(info->FileName, info->FileNameLength / sizeof(wchar_t));
    while (named.size() > 1 && named.back() == L'\\')
        named.remove_suffix(1);
    return !named.empty() && text::sameFolded(named, onVolume);
}

bool isLinkHandle(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO info{};
    return !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info) ||
           (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::optional<HeldItemFacts> heldItemFacts(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return std::nullopt;
    return HeldItemFacts{tag.FileAttributes,
                         static_cast<std::uint64_t>(standard.EndOfFile.QuadPart),
                         standard.NumberOfLinks};
}

namespace {

struct UnicodeText {
    USHORT length;
    USHORT maximumLength;
    PWSTR text;
};
struct ObjectAttributes {
    ULONG length;
    HANDLE root;
    UnicodeText* name;
    ULONG attributes;
    void* descriptor;
    void* quality;
};
struct IoStatus {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};

constexpr ULONG caseInsensitive = 0x40;
constexpr ULONG synchronousIo = 0x20;
constexpr ULONG openTheLinkItself = 0x00200000;

} // namespace

DWORD openRelative(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share,
                   ULONG disposition, ULONG options, FileHandle& out, ULONG_PTR* information) {
    using CreateFile = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, ObjectAttributes*, IoStatus*,
                                     LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
    using StatusToError = ULONG(WINAPI*)(LONG);
    static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto create = reinterpret_cast<CreateFile>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
    static const auto toError = reinterpret_cast<StatusToError>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    out.reset();
    if (create == nullptr || toError == nullptr)
        return ERROR_PROC_NOT_FOUND;
    if (name.size() * sizeof(wchar_t) > 0xFFF0)
        return ERROR_FILENAME_EXCED_RANGE;
    std::wstring text = name;
    UnicodeText unicode{static_cast<USHORT>(text.size() * sizeof(wchar_t)),
                        static_cast<USHORT>(text.size() * sizeof(wchar_t)), text.data()};
    ObjectAttributes attributes{sizeof(ObjectAttributes), root,    &unicode,
                                caseInsensitive,          nullptr, nullptr};
    IoStatus status{};
    HANDLE handle = nullptr;
    const LONG result =
        create(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
               share, disposition, options | synchronousIo | openTheLinkItself, nullptr, 0);
    if (result < 0)
        return toError(result);
    out.reset(handle);
    if (information != nullptr)
        *information = status.information;
    return ERROR_SUCCESS;
}

} // namespace uninst
