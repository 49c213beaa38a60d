// A file another process holds open without sharing: the run asks before
// anything changes, Retry checks again, Cancel changes nothing, and a quiet
// run leaves the file and its folders to the next restart.
#include "tests/e2e/scenarios.h"

#include <optional>

namespace e2e {
namespace {

namespace driver = uninst::driver;

const std::wstring heldFolder = installDir + L"\\help";
const std::wstring held = heldFolder + L"\\manual.hlp";

// Another process's hold on a file: this test program is not the uninstaller.
class Hold {
public:
    explicit Hold(const std::wstring& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
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

// Every scenario here starts from an install with shared files whose help
// file another process holds open.
class InUse : public Scenario {
protected:
    void SetUp() override {
        Scenario::SetUp();
        installWithSharedFiles();
        hold_.emplace(held);
        ASSERT_TRUE(hold_->held());
    }
    // The hold goes first, so that the clean-up can remove the file.
    void cleanUpOwn() override { hold_.reset(); }

    void release() { hold_->release(); }

private:
    static void installWithSharedFiles();

    std::optional<Hold> hold_;
};

void InUse::installWithSharedFiles() {
    createFolder(heldFolder);
    for (const wchar_t* name : {L"e2eapp.exe", L"readme.txt", L"help\\manual.hlp"})
        createFile(installDir + L"\\" + name);
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR1.DLL\""});
    setString(appPathsKey + L"\\" + app, L"", installDir + L"\\e2eapp.exe");
    setDword(sharedDllsKey, sharedFiles[0], 3);
    setDword(sharedDllsKey, sharedFiles[1], 1);
}

TEST_F(InUse, CancelEndsWithNothingChanged) {
    Uninstaller run(app);
    HWND box = pressAndAwaitQuestion(run);
    ASSERT_NE(box, nullptr);
    const std::wstring text = driver::messageText(box);
    EXPECT_NE(text.find(held), std::wstring::npos) << narrow(text);
    EXPECT_NE(text.find(L"Retry"), std::wstring::npos) << narrow(text);
    driver::answer(box, IDCANCEL);
    EXPECT_EQ(run.exitStatus(), 1602);

    for (const wchar_t* name : {L"e2eapp.exe", L"readme.txt", L"help\\manual.hlp", L"ST6UNST.LOG"})
        EXPECT_TRUE(fileExists(installDir + L"\\" + name)) << narrow(name);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 3u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 1u);
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));
}

TEST_F(InUse, RetryAfterReleaseFinishesAndLowersEachCountOnce) {
    Uninstaller run(app);
    HWND box = pressAndAwaitQuestion(run);
    ASSERT_NE(box, nullptr);
    // Retry while it is still held asks again.
    driver::answer(box, IDRETRY);
    Sleep(300);
    box = driver::waitForMessageBox(run.target(), 15000);
    ASSERT_NE(box, nullptr);
    release();
    driver::answer(box, IDRETRY);
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));

    EXPECT_FALSE(folderExists(installDir));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// Runs a program of the prefix's system folder and waits for it.
DWORD runAndWait(const std::wstring& commandLine) {
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return GetLastError() | 0x80000000u;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

TEST_F(InUse, QuietRunLeavesItToTheRestart) {
    {
        Uninstaller run(L"/quiet " + app);
        EXPECT_EQ(run.exitStatus(), 3010);
    }
    // Everything else went; the held file and its folders wait.
    EXPECT_TRUE(fileExists(held));
    EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));
    EXPECT_FALSE(fileExists(installDir + L"\\ST6UNST.LOG"));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));

    // The restart: wineboot carries out the scheduled deletions.
    release();
    runAndWait(L"wineboot.exe -r");
    EXPECT_FALSE(fileExists(held));
    EXPECT_FALSE(folderExists(heldFolder));
    EXPECT_FALSE(folderExists(installDir));
}

} // namespace
} // namespace e2e
