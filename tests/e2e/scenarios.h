#pragma once

#include "tests/e2e/fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace e2e {

inline const std::wstring appPathsKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
inline const std::wstring uninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline const std::wstring sharedDllsKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
inline const std::wstring startMenuRoot = L"C:\\WINDOWS\\Start Menu\\Programs\\";

// Everything a scenario may create carries an "E2E" name, so that clean-up
// cannot touch anything else in the prefix.
inline const std::wstring app = L"e2eapp.exe";
inline const std::wstring installDir = L"C:\\Program Files\\E2E App";
inline const std::wstring linkTarget = L"C:\\E2E Link Target";
inline const std::wstring group = L"E2E App Group";
inline const std::vector<std::wstring> registeredNames = {
    app, L"e2eother.exe", L"e2eroot.exe", L"e2e spaced app.exe", L"{E2E-APP-ID}", L"E2E Other App"};
inline const std::vector<std::wstring> sharedFiles = {
    L"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL", L"C:\\WINDOWS\\SYSTEM\\E2ESHR1.DLL",
    L"C:\\WINDOWS\\SYSTEM\\E2ESHR0.OCX", L"C:\\WINDOWS\\SYSTEM\\E2ENONE.DLL"};

// Another process's hold on a file (this test program is not the
// uninstaller): reading it, sharing as `share` says, until released.
class Hold {
public:
    explicit Hold(const std::wstring& path, DWORD share = 0)
        : handle_(
              CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~Hold() { release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void release() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// More files than the run holds open from its check to their deletion,
// "f0001.dat" on, in `folder`: the listing's order puts them before any
// sub-folder of `folder`. On Windows the run holds 2,048; under Wine as many
// as the server can spare, which a DescriptorSqueeze brings below this.
inline constexpr int pastTheHeldLimit = 2100;

// Handles to one file that take up Wine's shared server's descriptors, as
// other programs would, so that the run started next finds about `spare` to
// hold: it leaves a quarter of the server's limit free, 1,024 at least.
// Nothing to take on Windows, where a handle is no descriptor. False from
// squeezed() when the limit is too far to reach with handles.
class DescriptorSqueeze {
public:
    explicit DescriptorSqueeze(std::size_t spare) {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (GetProcAddress(ntdll, "wine_get_version") == nullptr)
            return;
        const std::string limits = hostText(L"\\\\?\\unix\\proc\\self\\limits");
        const std::size_t row = limits.find("Max open files");
        if (row == std::string::npos) {
            squeezed_ = false;
            return;
        }
        const std::size_t limit = std::strtoul(limits.c_str() + row + 14, nullptr, 10);
        const std::size_t reserve = std::max<std::size_t>(limit / 4, 1024);
        const std::size_t open = openDescriptors();
        if (limit <= open + reserve + spare)
            return;
        const std::size_t take = limit - open - reserve - spare;
        if (take > 60000) {
            squeezed_ = false;
            return;
        }
        handles_.reserve(take);
        for (std::size_t i = 0; i < take; ++i) {
            const HANDLE handle =
                CreateFileW(L"C:\\windows\\win.ini", GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
            if (handle == INVALID_HANDLE_VALUE)
                break;
            handles_.push_back(handle);
        }
        squeezed_ = handles_.size() == take;
    }
    ~DescriptorSqueeze() {
        for (const HANDLE handle : handles_)
            CloseHandle(handle);
    }
    DescriptorSqueeze(const DescriptorSqueeze&) = delete;
    DescriptorSqueeze& operator=(const DescriptorSqueeze&) = delete;
    bool squeezed() const { return squeezed_; }

private:
    // The server opens every file, so "self" in the host's /proc is the
    // server.
    static std::string hostText(const wchar_t* path) {
        const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return {};
        std::string text(16384, '\0');
        DWORD read = 0;
        if (!ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr))
            read = 0;
        CloseHandle(file);
        text.resize(read);
        return text;
    }
    static std::size_t openDescriptors() {
        WIN32_FIND_DATAW data;
        const HANDLE find = FindFirstFileW(L"\\\\?\\unix\\proc\\self\\fd\\*", &data);
        if (find == INVALID_HANDLE_VALUE)
            return 0;
        std::size_t count = 0;
        do {
            if (data.cFileName[0] != L'.')
                ++count;
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return count;
    }

    std::vector<HANDLE> handles_;
    bool squeezed_ = true;
};
inline void createNumberedFiles(const std::wstring& folder, int count) {
    createFolder(folder);
    for (int i = 1; i <= count; ++i) {
        wchar_t name[16];
        swprintf(name, 16, L"\\f%04d.dat", i);
        createFile(folder + name);
    }
}

// One run with its standard output and error sent to a new file at
// `outputPath`, as a deployment agent captures them. The exit code is the
// whole 32-bit value, not Wine's host status, which keeps only its low byte;
// -1 when the run could not start or outlived `timeout` ms.
struct Captured {
    long code = -1;
    std::string output;
};

inline Captured runCapturing(const std::wstring& arguments, const std::wstring& outputPath,
                             DWORD timeout) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(output, INVALID_HANDLE_VALUE);
    const std::wstring program = uninstallerPath();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    Captured result;
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, timeout) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            result.code = static_cast<long>(code);
        } else {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(output);
    result.output = readFile(outputPath);
    return result;
}

// Clean up, run, clean up: every scenario starts from and leaves a world
// without any of its names.
class Scenario : public ::testing::Test {
protected:
    void SetUp() override {
        cleanUpOwn();
        cleanUp();
    }
    void TearDown() override {
        cleanUpOwn();
        cleanUp();
    }

    // What a suite makes beyond the common world, removed before the common
    // clean-up (a link, for one, before the folder it leads to).
    virtual void cleanUpOwn() {}

    static void cleanUp() {
        for (const std::wstring& name : registeredNames) {
            deleteKeyTree(appPathsKey + L"\\" + name);
            deleteKeyTree(uninstallKey + L"\\" + name);
        }
        for (const std::wstring& file : sharedFiles)
            deleteValue(sharedDllsKey, file);
        removeTree(installDir);
        removeTree(linkTarget);
        removeTree(startMenuRoot + group);
    }

    // App Paths entry for `name` naming the executable `exe`.
    static void registerApp(const std::wstring& name, const std::wstring& exe) {
        setString(appPathsKey + L"\\" + name, L"", exe);
    }

    // The smallest install: the install folder holding the program and the
    // files named, a log that records only the folder, and the App Paths
    // entry.
    static void buildSmallInstall(const std::vector<std::wstring>& files = {}) {
        createFolder(installDir);
        createFile(installDir + L"\\e2eapp.exe");
        for (const std::wstring& name : files)
            createFile(installDir + L"\\" + name);
        writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
        registerApp(app, installDir + L"\\e2eapp.exe");
    }

    // The application's App Paths entry naming `exe`, and its Uninstall entry.
    static void registerWithUninstallEntry(const std::wstring& exe) {
        registerApp(app, exe);
        setString(uninstallKey + L"\\" + app, L"DisplayName", L"E2E App");
    }

    // The application's App Paths and Uninstall entries, and counts of 3, 1
    // and 0 for the first three shared files; the fourth has none.
    static void registerWithSharedCounts() {
        registerWithUninstallEntry(installDir + L"\\e2eapp.exe");
        setDword(sharedDllsKey, sharedFiles[0], 3);
        setDword(sharedDllsKey, sharedFiles[1], 1);
        setDword(sharedDllsKey, sharedFiles[2], 0);
    }

    // The install log, lines joined with CR LF as the setup toolkit writes.
    static void writeLog(const std::wstring& folder, const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\r\n";
        createFile(folder + L"\\ST6UNST.LOG", text);
    }

    static std::vector<std::wstring> texts(const std::vector<uninst::driver::Row>& rows) {
        std::vector<std::wstring> out;
        for (const auto& row : rows)
            out.push_back(row.text);
        return out;
    }
};

// Marks the rows named (by file name) and presses the button.
inline void markAndPress(HWND form, const std::vector<std::wstring>& keep) {
    HWND list = uninst::driver::fileList(form);
    for (const std::wstring& name : keep) {
        const int row = uninst::driver::findRow(list, name);
        ASSERT_GE(row, 0) << "no row " << narrow(name);
        ASSERT_TRUE(uninst::driver::setMark(list, row, true));
    }
    ASSERT_TRUE(uninst::driver::click(uninst::driver::uninstallButton(form)));
}

// Presses the button with no row marked and waits for the question the run
// asks before it changes anything; null, with the failure recorded, when the
// window or the question never came.
inline HWND pressAndAwaitQuestion(Uninstaller& run) {
    HWND form = run.form();
    if (form == nullptr) {
        ADD_FAILURE() << "no window: " << narrow(run.takeErrorReport(0));
        return nullptr;
    }
    markAndPress(form, {});
    HWND box = uninst::driver::waitForMessageBox(run.target(), 15000);
    if (box == nullptr)
        ADD_FAILURE() << "no question came";
    return box;
}

// How a run ends. A report that comes up is read and dismissed, since the
// program waits for it before it ends.
inline long finish(Uninstaller& run, std::wstring& report) {
    if (HWND box = uninst::driver::waitForMessageBox(run.target(), 30000)) {
        report = uninst::driver::messageText(box);
        uninst::driver::dismiss(box);
    }
    return run.exitStatus();
}

// Starts the program with `arguments` and presses the button with no row
// marked; the exit status, with the report's text if one came up. -1, with
// the start's report, when the window never came.
inline long uninstallEverything(const std::wstring& arguments, std::wstring& report) {
    Uninstaller run(arguments);
    HWND form = run.form();
    if (form == nullptr) {
        report = run.takeErrorReport(0);
        return -1;
    }
    markAndPress(form, {});
    return finish(run, report);
}

// Starts the program on the application, presses the button with no row
// marked, and expects a clean end that took the install folder and the App
// Paths entry.
inline void expectEverythingUninstalled() {
    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    markAndPress(form, {});
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// This process's current folder, which the program inherits, for the
// lifetime of the object.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& path) {
        previous_.resize(GetCurrentDirectoryW(0, nullptr));
        previous_.resize(
            GetCurrentDirectoryW(static_cast<DWORD>(previous_.size()), previous_.data()));
        set_ = SetCurrentDirectoryW(path.c_str()) != FALSE;
    }
    ~CurrentFolder() {
        if (set_)
            SetCurrentDirectoryW(previous_.c_str());
    }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;
    bool set() const { return set_; }

private:
    std::wstring previous_;
    bool set_ = false;
};

// A start that cannot go on shows one report, never the window, and ends
// with a failure status having touched nothing.
struct FailedStart {
    std::wstring report;
    bool formShown = true;
    long status = -1;
};

inline FailedStart startFailing(const std::wstring& arguments) {
    FailedStart result;
    Uninstaller run(arguments);
    HWND box = uninst::driver::waitForMessageBox(run.target(), 15000);
    if (box == nullptr)
        return result;
    result.formShown = uninst::driver::waitForForm(run.target(), 0) != nullptr;
    result.report = uninst::driver::messageText(box);
    uninst::driver::dismiss(box);
    result.status = run.exitStatus();
    return result;
}

// Readable failure output for wide texts.
inline std::vector<std::string> narrowAll(const std::vector<std::wstring>& texts) {
    std::vector<std::string> out;
    for (const std::wstring& text : texts)
        out.push_back(narrow(text));
    return out;
}

// The texts of the window's rows, narrowed as narrowAll does.
inline std::vector<std::string> shownRows(HWND form) {
    std::vector<std::string> out;
    for (const uninst::driver::Row& row : uninst::driver::rows(uninst::driver::fileList(form)))
        out.push_back(narrow(row.text));
    return out;
}

} // namespace e2e
