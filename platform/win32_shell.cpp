#include "platform/win32_shell.h"

#include "platform/text_encoding.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <array>
#include <cstddef>
#include <string_view>

namespace uninst {

namespace {

using FileHandle = UniqueHandle<HANDLE, &CloseHandle, -1>;

using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
using CoInitializeExFunction = HRESULT(WINAPI*)(LPVOID, DWORD);
using CoUninitializeFunction = void(WINAPI*)();
using CoCreateInstanceFunction = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);

template <typename Function> Function entryPoint(const SystemLibrary& library, const char* name) {
    return library ? reinterpret_cast<Function>(library.procedure(name)) : nullptr;
}

const SystemLibrary& loaded(std::unique_ptr<SystemLibrary>& library, const wchar_t* name) {
    if (!library)
        library = std::make_unique<SystemLibrary>(name);
    return *library;
}

// Releases one COM interface.
template <typename Interface> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (pointer_ != nullptr)
            pointer_->Release();
    }
    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }
    void** put() { return reinterpret_cast<void**>(&pointer_); }

private:
    Interface* pointer_ = nullptr;
};

// A COM apartment for the calling thread for as long as it lives; a thread
// already in one keeps it.
class ComApartment {
public:
    explicit ComApartment(const SystemLibrary& ole32)
        : uninitialize_(entryPoint<CoUninitializeFunction>(ole32, "CoUninitialize")) {
        const auto initialize = entryPoint<CoInitializeExFunction>(ole32, "CoInitializeEx");
        if (initialize == nullptr || uninitialize_ == nullptr)
            return;
        const HRESULT result =
            initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        ready_ = SUCCEEDED(result) || result == RPC_E_CHANGED_MODE;
        owned_ = SUCCEEDED(result);
    }
    ~ComApartment() {
        if (owned_)
            uninitialize_();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool ready() const { return ready_; }

private:
    CoUninitializeFunction uninitialize_;
    bool ready_ = false;
    bool owned_ = false;
};

bool hasExtension(std::string_view path, std::string_view extension) {
    if (path.size() < extension.size())
        return false;
    const std::string_view tail = path.substr(path.size() - extension.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char c = tail[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != extension[i])
            return false;
    }
    return true;
}

// A program information file names the program it starts in its first
// section: 63 bytes at offset 0x24, ended by a NUL, in the OEM code page.
std::optional<std::string> pifTarget(const std::string& path) {
    constexpr DWORD programAt = 0x24;
    constexpr DWORD programSize = 63;
    FileHandle file(CreateFileW(text::toWide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return std::nullopt;
    std::array<char, programAt + programSize> header{};
    DWORD read = 0;
    if (!ReadFile(file.get(), header.data(), static_cast<DWORD>(header.size()), &read, nullptr) ||
        read != header.size())
        return std::nullopt;
    std::string_view program(header.data() + programAt, programSize);
    program = program.substr(0, program.find('\0'));
    const auto last = program.find_last_not_of(' ');
    if (last == std::string_view::npos)
        return std::nullopt;
    program = program.substr(0, last + 1);
    const int length = MultiByteToWideChar(CP_OEMCP, 0, program.data(),
                                           static_cast<int>(program.size()), nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_OEMCP, 0, program.data(), static_cast<int>(program.size()), wide.data(),
                        length);
    return text::fromWide(wide);
}

} // namespace

std::vector<std::string> Win32Shell::folders(const std::vector<int>& ids) {
    const auto getFolderPath =
        entryPoint<GetFolderPath>(loaded(shell32_, L"shell32.dll"), "SHGetFolderPathW");
    std::vector<std::string> found;
    if (getFolderPath == nullptr)
        return found;
    for (const int id : ids) {
        std::array<wchar_t, MAX_PATH> buffer{};
        if (getFolderPath(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, buffer.data()) == S_OK &&
            buffer[0] != L'\0')
            found.push_back(text::fromWide(buffer.data()));
    }
    return found;
}

std::vector<std::string> Win32Shell::programsFolders() {
    return folders({CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS});
}

std::vector<std::string> Win32Shell::systemFolders() {
    return folders(
        {CSIDL_COMMON_STARTUP, CSIDL_STARTUP, CSIDL_COMMON_ADMINTOOLS, CSIDL_ADMINTOOLS});
}

std::optional<std::wstring> Win32Shell::itemListPath(IShellLinkW& link,
                                                     const SystemLibrary& ole32) {
    using PathFromItems = BOOL(WINAPI*)(PCIDLIST_ABSOLUTE, LPWSTR);
    using FreeTaskMemory = void(WINAPI*)(LPVOID);
    const auto pathFromItems =
        entryPoint<PathFromItems>(loaded(shell32_, L"shell32.dll"), "SHGetPathFromIDListW");
    const auto free = entryPoint<FreeTaskMemory>(ole32, "CoTaskMemFree");
    PIDLIST_ABSOLUTE items = nullptr;
    if (pathFromItems == nullptr || free == nullptr || link.GetIDList(&items) != S_OK)
        return std::nullopt;
    std::array<wchar_t, MAX_PATH> path{};
    const bool found = pathFromItems(items, path.data()) != FALSE;
    free(items);
    if (!found || path[0] == L'\0')
        return std::nullopt;
    return std::wstring(path.data());
}

std::optional<std::string> Win32Shell::linkTarget(const std::string& path) {
    const SystemLibrary& ole32 = loaded(ole32_, L"ole32.dll");
    const auto create = entryPoint<CoCreateInstanceFunction>(ole32, "CoCreateInstance");
    if (create == nullptr)
        return std::nullopt;
    const ComApartment apartment(ole32);
    if (!apartment.ready())
        return std::nullopt;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (FAILED(
            create(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.put())) ||
        FAILED(file->Load(text::toWide(path).c_str(), STGM_READ)))
        return std::nullopt;
    // Room for the longest path the system has; the target need not exist.
    std::wstring buffer(32768, L'\0');
    if (link->GetPath(buffer.data(), static_cast<int>(buffer.size()), nullptr, 0) != S_OK)
        return std::nullopt;
    buffer.resize(buffer.find(L'\0'));
    // "?" is in no path: the link stored the path in a code page that lacked
    // a character (Wine does so for a target that does not exist). Its item
    // list may still hold the name in full.
    if (buffer.find(L'?') != std::wstring::npos) {
        if (auto fromItems = itemListPath(*link.get(), ole32))
            buffer = std::move(*fromItems);
    }
    if (buffer.empty())
        return std::nullopt;
    return text::fromWide(buffer);
}

std::optional<std::string> Win32Shell::shortcutTarget(const std::string& path) {
    if (auto target = linkTarget(path))
        return target;
    if (hasExtension(path, ".pif"))
        return pifTarget(path);
    return std::nullopt;
}

std::string Win32Shell::expandEnvironment(const std::string& text) {
    const std::wstring wide = text::toWide(text);
    const DWORD size = ExpandEnvironmentStringsW(wide.c_str(), nullptr, 0);
    if (size == 0)
        return text;
    std::wstring expanded(size, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(wide.c_str(), expanded.data(), size);
    if (written == 0 || written > size)
        return text;
    expanded.resize(written - 1);
    return text::fromWide(expanded);
}

} // namespace uninst
