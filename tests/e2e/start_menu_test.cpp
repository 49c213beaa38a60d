// Start-menu groups in the system's Programs folders: what a run removes
// from folders it shares with other applications and with the system.
#include "tests/e2e/scenarios.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <array>
#include <stdexcept>

namespace e2e {
namespace {

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

std::wstring folderPath(int id) {
    const Library shell32(L"shell32.dll");
    const auto getFolderPath =
        shell32.get<HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR)>("SHGetFolderPathW");
    std::array<wchar_t, MAX_PATH> path{};
    if (getFolderPath(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path.data()) != S_OK)
        throw std::runtime_error("fixture: SHGetFolderPathW " + std::to_string(id) + " failed");
    return path.data();
}

template <typename Interface> struct Released {
    Interface* pointer = nullptr;
    ~Released() {
        if (pointer != nullptr)
            pointer->Release();
    }
};

// A shell link at `path` to `target`, written by the system's own
// IShellLinkW; the target need not exist.
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

void setExpandString(const std::wstring& path, const std::wstring& value) {
    createKey(path);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        throw std::runtime_error("fixture: cannot open " + narrow(path));
    const LONG status =
        RegSetValueExW(key, nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        throw std::runtime_error("fixture: cannot set " + narrow(path));
}

const std::wstring sharedGroup = L"E2E Shared Group";
const std::wstring ourShortcut = L"E2E App.lnk";
const std::wstring otherShortcut = L"E2E Other.lnk";

class StartMenu : public Scenario {
protected:
    void SetUp() override {
        commonPrograms = folderPath(CSIDL_COMMON_PROGRAMS);
        userPrograms = folderPath(CSIDL_PROGRAMS);
        userStartup = folderPath(CSIDL_STARTUP);
        removeOurs();
        Scenario::SetUp();
    }
    void TearDown() override {
        Scenario::TearDown();
        removeOurs();
    }

    // Only the scenario's own names: the Programs and Startup folders are
    // the prefix's.
    void removeOurs() const {
        for (const std::wstring& programs : {commonPrograms, userPrograms}) {
            removeTree(programs + L"\\" + group);
            removeTree(programs + L"\\" + sharedGroup);
        }
        for (const std::wstring& name : {ourShortcut, otherShortcut})
            DeleteFileW((userStartup + L"\\" + name).c_str());
    }

    // The application's files, its registration, and a log naming `lines`.
    void install(const std::vector<std::string>& lines) const {
        createFolder(installDir);
        createFile(installDir + L"\\e2eapp.exe");
        createFile(installDir + L"\\readme.txt");
        writeLog(installDir, lines);
        registerWithUninstallEntry(installDir + L"\\e2eapp.exe");
    }

    static void uninstallEverything() {
        ASSERT_NO_FATAL_FAILURE(expectEverythingUninstalled());
        EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    }

    std::wstring commonPrograms;
    std::wstring userPrograms;
    std::wstring userStartup;
};

TEST_F(StartMenu, GroupInTheAllUsersAndThePerUserProgramsFolderIsRemoved) {
    install({"ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\""});
    createFolder(commonPrograms + L"\\" + group);
    createFolder(userPrograms + L"\\" + group + L"\\Help");
    createShortcut(commonPrograms + L"\\" + group + L"\\" + ourShortcut,
                   installDir + L"\\e2eapp.exe");
    createShortcut(userPrograms + L"\\" + group + L"\\Read Me.lnk", installDir + L"\\readme.txt");
    createShortcut(userPrograms + L"\\" + group + L"\\Help\\Folder.lnk", installDir);

    uninstallEverything();
    EXPECT_FALSE(folderExists(commonPrograms + L"\\" + group));
    EXPECT_FALSE(folderExists(userPrograms + L"\\" + group));
    EXPECT_TRUE(folderExists(commonPrograms));
    EXPECT_TRUE(folderExists(userPrograms));
}

TEST_F(StartMenu, AnotherApplicationsShortcutKeepsTheSharedGroup) {
    const std::wstring folder = userPrograms + L"\\" + sharedGroup;
    // Named by a directory-created line inside the Programs folder alone.
    install({"ACTION: CreateDir: \"" + narrow(installDir) + "\"",
             "ACTION: CreateDir: \"" + narrow(folder) + "\""});
    createFolder(folder);
    createShortcut(folder + L"\\" + ourShortcut, installDir + L"\\e2eapp.exe");
    createShortcut(folder + L"\\" + otherShortcut, L"C:\\Program Files\\E2E Other\\other.exe");
    createFile(folder + L"\\E2E Web.url",
               "[InternetShortcut]\r\nURL=file:///C:/Program%20Files/E2E%20App/readme.txt\r\n");
    createFile(folder + L"\\E2E notes.txt", "C:\\Program Files\\E2E App\\e2eapp.exe");

    uninstallEverything();
    EXPECT_FALSE(fileExists(folder + L"\\" + ourShortcut));
    EXPECT_FALSE(fileExists(folder + L"\\E2E Web.url"));
    EXPECT_TRUE(fileExists(folder + L"\\" + otherShortcut));
    EXPECT_TRUE(fileExists(folder + L"\\E2E notes.txt"));
}

TEST_F(StartMenu, StartupNamedAsTheGroupLosesOnlyThisApplicationsShortcut) {
    install({"ACTION: ShellLink: \"Startup\",\"E2E App\",\"e2eapp.exe\""});
    createFolder(userStartup);
    createShortcut(userStartup + L"\\" + ourShortcut, installDir + L"\\e2eapp.exe");
    createShortcut(userStartup + L"\\" + otherShortcut, L"C:\\Program Files\\E2E Other\\o.exe");

    uninstallEverything();
    EXPECT_FALSE(fileExists(userStartup + L"\\" + ourShortcut));
    EXPECT_TRUE(fileExists(userStartup + L"\\" + otherShortcut));
    EXPECT_TRUE(folderExists(userStartup));
}

TEST_F(StartMenu, ExpandableRegistrationNamesTheExpandedFolder) {
    install({"ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\""});
    // A 32-bit program on 64-bit Windows has %ProgramFiles% expand to
    // Program Files (x86) (Wow64.Registered32BitApplicationGoesWholeInTheWindow
    // installs there); its name for C:\Program Files is %ProgramW6432%.
    setExpandString(appPathsKey + L"\\" + app, runsUnderWow64()
                                                   ? L"%ProgramW6432%\\E2E App\\e2eapp.exe"
                                                   : L"%ProgramFiles%\\E2E App\\e2eapp.exe");
    createFolder(commonPrograms + L"\\" + group);
    createShortcut(commonPrograms + L"\\" + group + L"\\" + ourShortcut,
                   installDir + L"\\e2eapp.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(uninst::driver::rowCount(uninst::driver::fileList(form)), 2);
    markAndPress(form, {});
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(folderExists(commonPrograms + L"\\" + group));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

} // namespace
} // namespace e2e
