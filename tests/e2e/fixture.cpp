#include "tests/e2e/fixture.h"

#include "tests/support/win32_handles.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <array>
#include <stdexcept>

namespace e2e {

namespace {

// Fixture failures abort the scenario: a world that was not built as
// stated would make every later check meaningless.
[[noreturn]] void fixtureFailed(std::string_view what, const std::wstring& subject, DWORD code) {
    throw std::runtime_error("fixture: " + std::string(what) + " " + narrow(subject) +
                             " failed with error " + std::to_string(code));
}

// shell32 and ole32 are loaded, not imported, as the program itself does.
class Library {
public:
    explicit Library(const wchar_t* name)
        : module_(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {}
    ~Library() {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    template <typename Function> Function get(const char* name) const {
        const auto entry = module_ == nullptr ? nullptr : GetProcAddress(module_, name);
        if (entry == nullptr)
            throw std::runtime_error(std::string("fixture: no entry point ") + name);
        return reinterpret_cast<Function>(reinterpret_cast<void*>(entry));
    }

private:
    HMODULE module_;
};

template <typename Interface> struct Released {
    Interface* pointer = nullptr;
    ~Released() {
        if (pointer != nullptr)
            pointer->Release();
    }
};

using uninst::test::FileHandle;
using uninst::test::FindHandle;
using uninst::test::KernelHandle;
using uninst::test::KeyHandle;

// Opens, or with `create` creates, the key at `path` under
// HKEY_LOCAL_MACHINE; `key` stays empty when the returned status is not
// ERROR_SUCCESS.
LONG openKey(const std::wstring& path, bool create, KeyHandle& key, REGSAM view = 0) {
    const REGSAM access = KEY_ALL_ACCESS | view;
    const LONG status = create
                            ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                              access, nullptr, key.put(), nullptr)
                            : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key.put());
    if (status != ERROR_SUCCESS)
        key.release();
    return status;
}

// The first entry of `folder`, or an empty handle.
FindHandle findFirst(const std::wstring& folder, WIN32_FIND_DATAW& data) {
    return FindHandle(FindFirstFileW((folder + L"\\*").c_str(), &data));
}

bool isDots(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') ||
           (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

DWORD attributesOf(const std::wstring& path) {
    return GetFileAttributesW(path.c_str());
}

template <typename Condition> bool waitFor(Condition condition) {
    for (int tries = 0; tries < 250; ++tries) {
        if (condition())
            return true;
        Sleep(20);
    }
    return condition();
}

// The host path of a Windows path under Wine; empty elsewhere.
std::wstring hostPath(const std::wstring& path) {
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr)
        return {};
    char* name = unixName(path.c_str());
    if (name == nullptr)
        return {};
    std::wstring wide;
    const int size = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
    if (size > 1) {
        wide.resize(static_cast<std::size_t>(size));
        MultiByteToWideChar(CP_UTF8, 0, name, -1, wide.data(), size);
        wide.resize(static_cast<std::size_t>(size - 1));
    }
    HeapFree(GetProcessHeap(), 0, name);
    return wide;
}

// Wine hands a host program its arguments split by the Windows rules, not
// by a shell's; the fixture's paths hold no double quotes.
std::wstring quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

void appendListing(const std::wstring& folder, std::vector<std::wstring>& out) {
    std::vector<std::wstring> subFolders;
    WIN32_FIND_DATAW data;
    const FindHandle find = findFirst(folder, data);
    if (!find)
        return;
    do {
        if (isDots(data.cFileName))
            continue;
        const std::wstring path = folder + L"\\" + data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            out.push_back(path);
        else if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            subFolders.push_back(path);
    } while (FindNextFileW(find.get(), &data));
    for (const std::wstring& sub : subFolders)
        appendListing(sub, out);
}

} // namespace

// Runs a host program. Wine starts ELF programs given by their host path,
// so the caller waits for the result on disk instead. Wine 8 hands back no
// handles for such a program: what it leaves in the structure is whatever
// its own stack held, often the value of one of this process's handles.
// Closing it closed this process's standard input, whose value the next
// open then took, and every uninstall.exe started afterwards was given a
// copy of that handle as its own standard input: held in the child, a
// file the scenario had let go of still read as in use.
bool runHost(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process) != FALSE;
}

std::string narrow(std::wstring_view text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            size, nullptr, nullptr);
    return out;
}

void createKey(const std::wstring& path, REGSAM view) {
    KeyHandle key;
    const LONG status = openKey(path, true, key, view);
    if (status != ERROR_SUCCESS)
        fixtureFailed("creating key", path, static_cast<DWORD>(status));
}

void setString(const std::wstring& path, const std::wstring& name, const std::wstring& value,
               REGSAM view) {
    KeyHandle key;
    LONG status = openKey(path, true, key, view);
    const auto size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()), size);
    if (status != ERROR_SUCCESS)
        fixtureFailed("setting a value of", path + L" " + name, static_cast<DWORD>(status));
}

void setExpandString(const std::wstring& path, const std::wstring& value, REGSAM view) {
    KeyHandle key;
    LONG status = openKey(path, true, key, view);
    const auto size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), nullptr, 0, REG_EXPAND_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()), size);
    if (status != ERROR_SUCCESS)
        fixtureFailed("setting the default value of", path, static_cast<DWORD>(status));
}

void setDword(const std::wstring& path, const std::wstring& name, std::uint32_t value,
              REGSAM view) {
    KeyHandle key;
    LONG status = openKey(path, true, key, view);
    const DWORD data = value;
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&data), sizeof data);
    if (status != ERROR_SUCCESS)
        fixtureFailed("setting a value of", path + L" " + name, static_cast<DWORD>(status));
}

bool keyExists(const std::wstring& path, REGSAM view) {
    KeyHandle key;
    return openKey(path, false, key, view) == ERROR_SUCCESS;
}

std::optional<std::uint32_t> dwordValue(const std::wstring& path, const std::wstring& name,
                                        REGSAM view) {
    KeyHandle key;
    if (openKey(path, false, key, view) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD data = 0xDEADBEEF;
    DWORD size = sizeof data;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return data;
}

std::optional<std::wstring> stringValue(const std::wstring& path, const std::wstring& name,
                                        REGSAM view) {
    KeyHandle key;
    if (openKey(path, false, key, view) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t data[512] = {};
    DWORD type = 0;
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), name.empty() ? nullptr : name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    return std::wstring(data);
}

void deleteValue(const std::wstring& path, const std::wstring& name, REGSAM view) {
    KeyHandle key;
    if (openKey(path, false, key, view) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), name.c_str());
}

void deleteKeyTree(const std::wstring& path, REGSAM view) {
    if (view == 0) {
        const LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        return;
    }
    KeyHandle key;
    if (openKey(path, false, key, view) != ERROR_SUCCESS)
        return;
    const LONG status = RegDeleteTreeW(key.get(), nullptr);
    key.reset();
    if (status == ERROR_SUCCESS)
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), view, 0);
}

bool createKeyLink(const std::wstring& path, const std::wstring& target) {
    KeyHandle link;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS, nullptr, link.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                          reinterpret_cast<const BYTE*>(target.data()),
                          static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void removeKeyLink(const std::wstring& path) {
    KeyHandle own;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_READ,
                      own.put()) != ERROR_SUCCESS)
        return;
    DWORD type = REG_NONE;
    if (RegQueryValueExW(own.get(), L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) !=
            ERROR_SUCCESS ||
        type != REG_LINK)
        return;
    using DeleteFn = LONG(WINAPI*)(HANDLE);
    const auto ntDeleteKey = reinterpret_cast<DeleteFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    if (ntDeleteKey != nullptr)
        ntDeleteKey(own.get());
}

bool runsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
}

void createFolder(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos;
         at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        fixtureFailed("creating folder", path, GetLastError());
}

void createFile(const std::wstring& path, std::string_view content) {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        fixtureFailed("creating file", path, GetLastError());
    DWORD written = 0;
    if (!WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                   nullptr) ||
        written != content.size())
        fixtureFailed("writing file", path, GetLastError());
}

void setReadOnly(const std::wstring& path, bool readOnly) {
    if (!SetFileAttributesW(path.c_str(),
                            readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL))
        fixtureFailed("setting the attributes of", path, GetLastError());
}

std::string readFile(const std::wstring& path) {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    if (!file)
        return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

bool fileExists(const std::wstring& path) {
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool folderExists(const std::wstring& path) {
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool setOldHiddenFile(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const FILETIME old{0x2A4B6000u, 0x01C0A8B2u};
    const bool timed = SetFileTime(file, &old, &old, &old) != 0;
    CloseHandle(file);
    return timed &&
           SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
}

std::vector<std::wstring> subFoldersOf(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." &&
            name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

void removeTree(const std::wstring& path) {
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!RemoveDirectoryW(path.c_str()) && !DeleteFileW(path.c_str())) {
            const std::wstring host = hostPath(path);
            if (!host.empty() && runHost(L"/bin/rm -f " + quoted(host)))
                waitFor([&] { return attributesOf(path) == INVALID_FILE_ATTRIBUTES; });
        }
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    std::vector<std::wstring> children;
    WIN32_FIND_DATAW data;
    {
        const FindHandle find = findFirst(path, data);
        if (find) {
            do {
                if (!isDots(data.cFileName))
                    children.push_back(path + L"\\" + data.cFileName);
            } while (FindNextFileW(find.get(), &data));
        }
    }
    for (const std::wstring& child : children)
        removeTree(child);
    RemoveDirectoryW(path.c_str());
}

namespace {

// Through the host where both paths have a host path: Wine's own call makes
// no link the Unix side sees as one.
void makeLink(const std::wstring& link, const std::wstring& target, DWORD flags) {
    const std::wstring hostLink = hostPath(link);
    const std::wstring hostTarget = hostPath(target);
    if (!hostLink.empty() && !hostTarget.empty())
        runHost(L"/bin/ln -s " + quoted(hostTarget) + L" " + quoted(hostLink));
    else
        CreateSymbolicLinkW(link.c_str(), target.c_str(), flags);
}

} // namespace

bool createFolderLink(const std::wstring& link, const std::wstring& target) {
    makeLink(link, target, SYMBOLIC_LINK_FLAG_DIRECTORY);
    return waitFor([&] {
        const DWORD attributes = attributesOf(link);
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    });
}

bool createFileLink(const std::wstring& link, const std::wstring& target) {
    makeLink(link, target, 0);
    return waitFor([&] { return attributesOf(link) != INVALID_FILE_ATTRIBUTES; });
}

bool createCaseTwin(const std::wstring& folder, const std::wstring& name,
                    std::string_view content) {
    const std::wstring made = folder + L"\\" + name + L".twin";
    createFile(made, content);
    const std::wstring host = hostPath(made);
    const std::wstring hostFolder = hostPath(folder);
    if (host.empty() || hostFolder.empty() ||
        !runHost(L"/bin/mv " + quoted(host) + L" " + quoted(hostFolder + L"/" + name)))
        return false;
    return waitFor([&] { return attributesOf(made) == INVALID_FILE_ATTRIBUTES; });
}

void removeLink(const std::wstring& link) {
    const std::wstring host = hostPath(link);
    if (host.empty()) {
        if (!RemoveDirectoryW(link.c_str()))
            DeleteFileW(link.c_str());
        return;
    }
    if (runHost(L"/bin/rm -f " + quoted(host)))
        waitFor([&] { return attributesOf(link) == INVALID_FILE_ATTRIBUTES; });
}

std::vector<std::wstring> filesInListingOrder(const std::wstring& folder) {
    std::vector<std::wstring> files;
    appendListing(folder, files);
    return files;
}

std::wstring uninstallerPath() {
    wchar_t buffer[MAX_PATH * 2] = {};
    if (GetEnvironmentVariableW(L"UNINST_EXE", buffer, MAX_PATH * 2) > 0)
        return buffer;
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
    std::wstring path(buffer, length);
    // <build>\tests\e2e\e2e_tests.exe -> <build>\ui\uninstall.exe
    for (int up = 0; up < 3; ++up)
        path.erase(path.find_last_of(L'\\'));
    return path + L"\\ui\\uninstall.exe";
}

Uninstaller::Uninstaller(const std::wstring& arguments, bool bareName) {
    const std::wstring program = uninstallerPath();
    std::wstring commandLine =
        (bareName ? std::wstring(L"uninstall.exe") : L"\"" + program + L"\"") + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process_))
        fixtureFailed("starting", program, GetLastError());
}

Uninstaller::Uninstaller(const Exact& exact) {
    const std::wstring program = uninstallerPath();
    std::wstring commandLine = exact.commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process_))
        fixtureFailed("starting", program, GetLastError());
}

namespace {

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK findVisibleWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

long Uninstaller::exitStatusUnwatched(std::wstring& window, DWORD timeoutMs) {
    window.clear();
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(process_.hProcess, 10) == WAIT_TIMEOUT) {
        WindowSearch search{process_.dwProcessId, nullptr};
        EnumWindows(findVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr && window.empty()) {
            wchar_t caption[256] = {};
            GetWindowTextW(search.found, caption, 256);
            const std::wstring text = uninst::driver::messageText(search.found);
            window = std::wstring(L"window \"") + caption + L"\" " + text;
            PostMessageW(search.found, WM_CLOSE, 0, 0);
        }
        if (GetTickCount() - start > timeoutMs)
            break;
    }
    return exitStatus(0);
}

Uninstaller::~Uninstaller() {
    if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

uninst::driver::Target Uninstaller::target() const {
    return {process_.dwProcessId, process_.hProcess};
}

HWND Uninstaller::form(DWORD timeoutMs) const {
    return uninst::driver::waitForForm(target(), timeoutMs);
}

std::wstring Uninstaller::takeErrorReport(DWORD timeoutMs) const {
    HWND box = uninst::driver::waitForMessageBox(target(), timeoutMs);
    if (box == nullptr)
        return {};
    std::wstring text = uninst::driver::messageText(box);
    uninst::driver::dismiss(box);
    return text;
}

long Uninstaller::exitStatus(DWORD timeoutMs) {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
}

std::wstring folderPath(int id) {
    const Library shell32(L"shell32.dll");
    const auto getFolderPath =
        shell32.get<HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR)>("SHGetFolderPathW");
    std::array<wchar_t, MAX_PATH> path{};
    if (getFolderPath(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path.data()) != S_OK)
        throw std::runtime_error("fixture: SHGetFolderPathW " + std::to_string(id) + " failed");
    return path.data();
}

void createShortcut(const std::wstring& path, const std::wstring& target) {
    const Library ole32(L"ole32.dll");
    const auto initialize = ole32.get<HRESULT(WINAPI*)(LPVOID, DWORD)>("CoInitializeEx");
    const auto uninitialize = ole32.get<void(WINAPI*)()>("CoUninitialize");
    const auto create = ole32.get<HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)>(
        "CoCreateInstance");
    const HRESULT apartment = initialize(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT result = E_FAIL;
    {
        Released<IShellLinkW> link;
        Released<IPersistFile> file;
        result = create(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                        reinterpret_cast<void**>(&link.pointer));
        if (SUCCEEDED(result))
            result = link.pointer->SetPath(target.c_str());
        if (SUCCEEDED(result))
            result = link.pointer->QueryInterface(IID_IPersistFile,
                                                  reinterpret_cast<void**>(&file.pointer));
        if (SUCCEEDED(result))
            result = file.pointer->Save(path.c_str(), TRUE);
    }
    if (SUCCEEDED(apartment))
        uninitialize();
    if (FAILED(result) || !fileExists(path))
        throw std::runtime_error("fixture: shortcut " + narrow(path) + " not written");
}

} // namespace e2e
