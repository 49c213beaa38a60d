#include "platform/win32_shell.h"

#include "engine/ascii_case.h"
#include "platform/handles.h"
#include "platform/text_encoding.h"

#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <array>
#include <cstddef>
#include <string_view>
#include <utility>

namespace uninst {

namespace {

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

// Memory the shell allocated for the caller (an item list), freed with the
// task allocator it came from. That allocator is looked up in ole32, which
// is loaded only when a shortcut is read, so it is handed in rather than
// tied to the type.
template <typename Pointer> class TaskMemory {
public:
    using Free = void(WINAPI*)(LPVOID);
    explicit TaskMemory(Free free) : free_(free) {}
    TaskMemory(const TaskMemory&) = delete;
    TaskMemory& operator=(const TaskMemory&) = delete;
    ~TaskMemory() {
        if (pointer_ != nullptr)
            free_(pointer_);
    }
    Pointer get() const { return pointer_; }
    Pointer* put() { return &pointer_; }

private:
    Free free_;
    Pointer pointer_ = nullptr;
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
        if (asciiLower(c) != extension[i])
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

// The folders the shell names by number, on every system from XP on.
struct NumberedFolder {
    int id;
    const char* role;
};
constexpr std::array<NumberedFolder, 41> numberedFolders = {{
    {CSIDL_WINDOWS, "the Windows folder"},
    {CSIDL_SYSTEM, "the Windows system folder"},
    {CSIDL_SYSTEMX86, "the Windows system folder of 32-bit programs"},
    {CSIDL_FONTS, "the system's Fonts folder"},
    {CSIDL_RESOURCES, "the system's Resources folder"},
    {CSIDL_PROGRAM_FILES, "the system's Program Files folder"},
    {CSIDL_PROGRAM_FILESX86, "the system's Program Files folder of 32-bit programs"},
    {CSIDL_PROGRAM_FILES_COMMON, "the system's Common Files folder"},
    {CSIDL_PROGRAM_FILES_COMMONX86, "the system's Common Files folder of 32-bit programs"},
    {CSIDL_COMMON_APPDATA, "the system's ProgramData folder"},
    {CSIDL_PROFILE, "the profile folder of the current user"},
    {CSIDL_APPDATA, "the shell's AppData (Roaming) folder"},
    {CSIDL_LOCAL_APPDATA, "the shell's Local AppData folder"},
    {CSIDL_DESKTOPDIRECTORY, "the shell's Desktop folder"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, "the shell's Public Desktop folder"},
    {CSIDL_PERSONAL, "the shell's Documents folder"},
    {CSIDL_COMMON_DOCUMENTS, "the shell's Public Documents folder"},
    {CSIDL_MYMUSIC, "the shell's Music folder"},
    {CSIDL_COMMON_MUSIC, "the shell's Public Music folder"},
    {CSIDL_MYPICTURES, "the shell's Pictures folder"},
    {CSIDL_COMMON_PICTURES, "the shell's Public Pictures folder"},
    {CSIDL_MYVIDEO, "the shell's Videos folder"},
    {CSIDL_COMMON_VIDEO, "the shell's Public Videos folder"},
    {CSIDL_FAVORITES, "the shell's Favorites folder"},
    {CSIDL_COMMON_FAVORITES, "the shell's common Favorites folder"},
    {CSIDL_STARTMENU, "the shell's Start Menu folder"},
    {CSIDL_COMMON_STARTMENU, "the shell's all-users Start Menu folder"},
    {CSIDL_PROGRAMS, "the shell's Programs folder"},
    {CSIDL_COMMON_PROGRAMS, "the shell's all-users Programs folder"},
    {CSIDL_STARTUP, "the shell's Startup folder"},
    {CSIDL_COMMON_STARTUP, "the shell's all-users Startup folder"},
    {CSIDL_ADMINTOOLS, "the shell's Administrative Tools folder"},
    {CSIDL_COMMON_ADMINTOOLS, "the shell's all-users Administrative Tools folder"},
    {CSIDL_TEMPLATES, "the shell's Templates folder"},
    {CSIDL_COMMON_TEMPLATES, "the shell's common Templates folder"},
    {CSIDL_SENDTO, "the shell's SendTo folder"},
    {CSIDL_RECENT, "the shell's Recent folder"},
    {CSIDL_NETHOOD, "the shell's Network Shortcuts folder"},
    {CSIDL_PRINTHOOD, "the shell's Printer Shortcuts folder"},
    {CSIDL_INTERNET_CACHE, "the shell's Temporary Internet Files folder"},
    {CSIDL_HISTORY, "the shell's History folder"},
}};

// The folders that only systems from Vista on name, by identifier.
struct IdentifiedFolder {
    const KNOWNFOLDERID* id;
    const char* role;
};
const std::array<IdentifiedFolder, 10> identifiedFolders = {{
    {&FOLDERID_UserProfiles, "the users' folder"},
    {&FOLDERID_Public, "the public profile folder"},
    {&FOLDERID_ProgramData, "the system's ProgramData folder"},
    {&FOLDERID_Downloads, "the shell's Downloads folder"},
    {&FOLDERID_PublicDownloads, "the shell's Public Downloads folder"},
    {&FOLDERID_SavedGames, "the shell's Saved Games folder"},
    {&FOLDERID_Links, "the shell's Links folder"},
    {&FOLDERID_Contacts, "the shell's Contacts folder"},
    {&FOLDERID_SavedSearches, "the shell's Searches folder"},
    {&FOLDERID_LocalAppDataLow, "the shell's LocalLow AppData folder"},
}};

// A 32-bit program on a 64-bit system is given the 32-bit folders by the
// shell; the 64-bit ones are only in these variables.
struct VariableFolder {
    const wchar_t* name;
    const char* role;
};
constexpr std::array<VariableFolder, 12> variableFolders = {{
    {L"SystemRoot", "the Windows folder"},
    {L"windir", "the Windows folder"},
    {L"ProgramFiles", "the system's Program Files folder"},
    {L"ProgramW6432", "the system's Program Files folder"},
    {L"ProgramFiles(x86)", "the system's Program Files folder of 32-bit programs"},
    {L"CommonProgramFiles", "the system's Common Files folder"},
    {L"CommonProgramW6432", "the system's Common Files folder"},
    {L"CommonProgramFiles(x86)", "the system's Common Files folder of 32-bit programs"},
    {L"ProgramData", "the system's ProgramData folder"},
    {L"ALLUSERSPROFILE", "the all-users profile folder"},
    {L"PUBLIC", "the public profile folder"},
    {L"USERPROFILE", "the profile folder of the current user"},
}};

// Read with the wide calls: a profile named in a script the code page lacks
// would otherwise come back with "?" in it and match no install folder.
std::optional<std::wstring> textValue(HKEY key, const wchar_t* name) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    text.resize(text.find(L'\0'));
    return text;
}

std::wstring expanded(const std::wstring& text) {
    const DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (size == 0)
        return text;
    std::wstring out(size, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), out.data(), size);
    if (written == 0 || written > size)
        return text;
    out.resize(written - 1);
    return out;
}

} // namespace

std::vector<SharedFolder> Win32Shell::sharedFolders() {
    std::vector<SharedFolder> found;
    const auto add = [&](const std::wstring& path, const char* role) {
        if (!path.empty())
            found.push_back(SharedFolder{text::fromWide(path), role});
    };

    const SystemLibrary& shell32 = loaded(shell32_, L"shell32.dll");
    if (const auto getFolderPath = entryPoint<GetFolderPath>(shell32, "SHGetFolderPathW")) {
        for (const NumberedFolder& folder : numberedFolders) {
            std::array<wchar_t, MAX_PATH> buffer{};
            // S_FALSE names a folder that does not exist yet: still the system's.
            if (SUCCEEDED(
                    getFolderPath(nullptr, folder.id, nullptr, SHGFP_TYPE_CURRENT, buffer.data())))
                add(buffer.data(), folder.role);
        }
    }
    // The form that fills the caller's buffer: the one that allocates would
    // need ole32 loaded only to free its answers.
    using GetKnownFolderPath = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, LPWSTR, UINT);
    if (const auto getKnownFolderPath =
            entryPoint<GetKnownFolderPath>(shell32, "SHGetFolderPathEx")) {
        for (const IdentifiedFolder& folder : identifiedFolders) {
            std::array<wchar_t, MAX_PATH> buffer{};
            if (SUCCEEDED(getKnownFolderPath(*folder.id, KF_FLAG_DONT_VERIFY, nullptr,
                                             buffer.data(), static_cast<UINT>(buffer.size()))))
                add(buffer.data(), folder.role);
        }
    }
    for (const VariableFolder& variable : variableFolders) {
        std::array<wchar_t, 32768> buffer{};
        const DWORD length = GetEnvironmentVariableW(variable.name, buffer.data(),
                                                     static_cast<DWORD>(buffer.size()));
        if (length > 0 && length < buffer.size())
            add(buffer.data(), variable.role);
    }

    // Every profile, not only the current user's: the system's list of them.
    KeyHandle profiles;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                      KEY_READ | KEY_WOW64_64KEY, profiles.put()) != ERROR_SUCCESS)
        return found;
    for (const auto& [name, role] : std::array<std::pair<const wchar_t*, const char*>, 4>{{
             {L"ProfilesDirectory", "the users' folder"},
             {L"Default", "the default profile folder"},
             {L"Public", "the public profile folder"},
             {L"ProgramData", "the system's ProgramData folder"},
         }}) {
        if (const auto path = textValue(profiles.get(), name))
            add(expanded(*path), role);
    }
    for (DWORD index = 0;; ++index) {
        std::array<wchar_t, 256> name{};
        DWORD length = static_cast<DWORD>(name.size());
        const LONG status = RegEnumKeyExW(profiles.get(), index, name.data(), &length, nullptr,
                                          nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        KeyHandle profile;
        if (RegOpenKeyExW(profiles.get(), name.data(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                          profile.put()) != ERROR_SUCCESS)
            continue;
        if (const auto path = textValue(profile.get(), L"ProfileImagePath"))
            add(expanded(*path), "a user's profile folder");
    }
    return found;
}

namespace {

// The system's name for the folder at `path`, every link and short step
// resolved, without the long-path prefix; empty when the folder does not
// open or the system cannot name it (Wine 8 fails past 260 characters).
struct FinalName {
    bool opened = false;
    std::wstring name;
};

FinalName finalFolderName(const std::wstring& path) {
    // No access asked: any folder can be opened so, whoever holds it.
    FileHandle folder(CreateFileW(path.c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder)
        return {};
    std::wstring final(path.size() + MAX_PATH, L'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(folder.get(), final.data(), static_cast<DWORD>(final.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= final.size())
        return {true, {}};
    final.resize(length);
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return {true, L"\\\\" + final.substr(8)};
    if (final.rfind(L"\\\\?\\", 0) == 0)
        return {true, final.substr(4)};
    return {true, std::move(final)};
}

} // namespace

std::optional<std::string> Win32Shell::finalFolder(const std::string& path) {
    std::wstring named = text::toWide(path);
    // A path that is not there is told by one question: the long form below
    // searches each step's folder in turn, and the inventory asks this of
    // thousands of registrations whose folders are gone. Only a path short
    // enough for both calls to read it alike is judged so.
    if (named.size() < MAX_PATH && GetFileAttributesW(named.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (const DWORD error = GetLastError();
            error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
    }
    // The handle's name has every short step in its long form already; the
    // long form is worked out, a search of each step's folder, only where
    // the system cannot name the handle.
    if (const FinalName final = finalFolderName(named); !final.name.empty())
        return text::fromWide(final.name);
    std::wstring longForm(named.size() + MAX_PATH, L'\0');
    const DWORD length =
        GetLongPathNameW(named.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
    if (length > 0 && length < longForm.size()) {
        longForm.resize(length);
        named = std::move(longForm);
    } else if (length == 0) {
        // A step the system could not find is no folder to open either: a
        // registration naming a folder that is gone is told at once, as the
        // inventory tells thousands of them.
        if (const DWORD error = GetLastError();
            error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
    }
    const FinalName final = finalFolderName(named);
    if (!final.name.empty())
        return text::fromWide(final.name);
    if (!final.opened && length == 0)
        return std::nullopt;
    return text::fromWide(named);
}

// The folder's name as the system gives it for the path as given, and for
// its long form. The two differ where a short step stands for several
// folders: Wine makes short names from a hash of the long name, so that
// "C:\PROG~FBU" may open one folder while its long form is another, and
// which one depends on the order the host lists the names in. Only a step
// with a "~" is a short name; letter case alone is no other folder to a
// comparison that folds it.
std::vector<std::string> Win32Shell::folderNames(const std::string& path) {
    std::vector<std::string> names;
    std::optional<std::string> final = finalFolder(path);
    if (!final)
        return names;
    names.push_back(std::move(*final));
    if (path.find('~') == std::string::npos)
        return names;
    const std::wstring named = text::toWide(path);
    std::wstring longForm(named.size() + MAX_PATH, L'\0');
    const DWORD length =
        GetLongPathNameW(named.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
    if (length == 0 || length >= longForm.size())
        return names;
    longForm.resize(length);
    FinalName spelled = finalFolderName(longForm);
    std::string other = text::fromWide(spelled.name.empty() ? longForm : spelled.name);
    if (other != names.front())
        names.push_back(std::move(other));
    return names;
}

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
    using Items = TaskMemory<PIDLIST_ABSOLUTE>;
    const auto pathFromItems =
        entryPoint<PathFromItems>(loaded(shell32_, L"shell32.dll"), "SHGetPathFromIDListW");
    const auto free = entryPoint<Items::Free>(ole32, "CoTaskMemFree");
    if (pathFromItems == nullptr || free == nullptr)
        return std::nullopt;
    Items items(free);
    if (link.GetIDList(items.put()) != S_OK)
        return std::nullopt;
    std::array<wchar_t, MAX_PATH> path{};
    if (pathFromItems(items.get(), path.data()) == FALSE || path[0] == L'\0')
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
