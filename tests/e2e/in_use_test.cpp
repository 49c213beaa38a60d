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
const std::wstring linked = installDir + L"\\e2e linked.doc";

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
    void cleanUpOwn() override {
        hold_.reset();
        removeLink(linked);
    }

    void release() { hold_->release(); }

    // A run nobody watches: everything else goes, counts included, and the
    // held file and its folders wait for the restart.
    void runLeavingTheHeldFileToTheRestart(const std::wstring& options) {
        {
            Uninstaller run(options + app);
            EXPECT_EQ(run.exitStatus(), 3010);
        }
        EXPECT_TRUE(fileExists(held));
        EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));
        EXPECT_FALSE(fileExists(installDir + L"\\ST6UNST.LOG"));
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    }

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

// The run holds the first 2,048 files it checked until it deletes them, and
// opens the rest again to delete them. One of those, taken by another
// program while the question about the help file waits, stops the run
// before any count is lowered, the log kept; a second run lowers each count
// once.
TEST_F(InUse, FileTakenPastTheHeldLimitWhileTheQuestionWaitsStopsBeforeAnyCountIsLowered) {
    createNumberedFiles(installDir + L"\\bulk", pastTheHeldLimit);
    const std::wstring late = installDir + L"\\bulk\\late\\late.dat";
    createFolder(installDir + L"\\bulk\\late");
    createFile(late);
    const DescriptorSqueeze squeeze(pastTheHeldLimit - 200);
    if (!squeeze.squeezed())
        GTEST_SKIP() << "the server's descriptor limit is too far to bring the run's hold below "
                     << pastTheHeldLimit;

    Uninstaller run(app);
    HWND box = pressAndAwaitQuestion(run);
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(Hold(installDir + L"\\bulk\\f0001.dat").held()) << "an early file is not held";
    Hold taken(late);
    ASSERT_TRUE(taken.held());
    release();
    driver::answer(box, IDRETRY);
    // The report that follows is another box; this one must be gone first.
    for (int tries = 0; tries < 250 && IsWindow(box); ++tries)
        Sleep(20);
    std::wstring report;
    EXPECT_EQ(finish(run, report), 1603);
    EXPECT_NE(report.find(late), std::wstring::npos) << narrow(report);
    EXPECT_TRUE(fileExists(installDir + L"\\ST6UNST.LOG"));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 3u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 1u);
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));

    taken.release();
    Uninstaller second(L"/quiet " + app);
    EXPECT_EQ(second.exitStatus(), 0);
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);
}

// A program reading the install log while leaving it to be deleted (a
// viewer sharing everything) would keep the log in place after its
// deletion, and a later run would read it again and lower every count a
// second time. The run stops before any count is lowered instead; once the
// log is closed a second run lowers each count once.
TEST_F(InUse, LogReadLeavingItToBeDeletedStopsTheRunBeforeAnyCountIsLowered) {
    release();
    const std::wstring log = installDir + L"\\ST6UNST.LOG";
    {
        Hold reader(log, FILE_SHARE_READ | FILE_SHARE_DELETE);
        ASSERT_TRUE(reader.held());
        Uninstaller run(L"/quiet " + app);
        EXPECT_EQ(run.exitStatus(), 1603);
    }
    EXPECT_TRUE(fileExists(log));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 3u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 1u);
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));

    Uninstaller second(L"/quiet " + app);
    EXPECT_EQ(second.exitStatus(), 0);
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);
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
    runLeavingTheHeldFileToTheRestart(L"/quiet ");

    // The restart: wineboot carries out the scheduled deletions.
    release();
    runAndWait(L"wineboot.exe -r");
    EXPECT_FALSE(fileExists(held));
    EXPECT_FALSE(folderExists(heldFolder));
    EXPECT_FALSE(folderExists(installDir));
}

// With the window but nobody at it, a file in use is not asked about: it
// waits for the restart as in a quiet run, and no message box stops the run.
TEST_F(InUse, PassiveRunLeavesItToTheRestartWithoutAsking) {
    runLeavingTheHeldFileToTheRestart(L"/passive ");
}

// Under Wine a host link to a file opens as its target, so a link to
// another program's file in use looked like an application file in use: a
// quiet run left it to the restart, which deleted the file behind it.
TEST_F(InUse, LinkToAnotherProgramsFileInUseIsNotLeftToTheRestart) {
    release();
    const std::wstring precious = linkTarget + L"\\precious.doc";
    createFolder(linkTarget);
    createFile(precious, "someone else's");
    if (!createFileLink(linked, precious))
        GTEST_SKIP() << "this system cannot make a file link for the test";
    Hold other(precious);
    ASSERT_TRUE(other.held());
    {
        Uninstaller run(L"/quiet " + app);
        EXPECT_EQ(run.exitStatus(), 0);
    }
    EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));

    other.release();
    runAndWait(L"wineboot.exe -r");
    EXPECT_TRUE(fileExists(precious));
}

// Beside this test program: the helper that keeps a file mapped, and the
// plug-in it loads.
std::wstring besideTests(const wchar_t* name) {
    wchar_t buffer[MAX_PATH * 2] = {};
    std::wstring path(buffer, GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2));
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

// Another program with a file of the application mapped: `program` started
// (a copy of the helper), with `dll` loaded when given, until it is ended.
class Mapping {
public:
    explicit Mapping(const std::wstring& program, const std::wstring& dll = {}) {
        const std::wstring event = L"e2e-holder-" + std::to_wstring(GetCurrentProcessId());
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
        std::wstring line = L"\"" + program + L"\" " + event;
        if (!dll.empty())
            line += L" \"" + dll + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (ready != nullptr && CreateProcessW(program.c_str(), line.data(), nullptr, nullptr,
                                               FALSE, 0, nullptr, nullptr, &startup, &process_)) {
            HANDLE both[] = {ready, process_.hProcess};
            running_ = WaitForMultipleObjects(2, both, FALSE, 15000) == WAIT_OBJECT_0;
        }
        if (ready != nullptr)
            CloseHandle(ready);
    }
    ~Mapping() { end(); }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    bool running() const { return running_; }
    void end() {
        if (process_.hProcess == nullptr)
            return;
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 10000);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        process_ = {};
        running_ = false;
    }

private:
    PROCESS_INFORMATION process_{};
    bool running_ = false;
};

// The same install, with no file held open: what another process keeps is a
// mapping, which the pre-flight's open for deletion does not meet.
class Mapped : public InUse {
protected:
    void SetUp() override {
        InUse::SetUp();
        release();
        ASSERT_TRUE(CopyFileW(besideTests(L"e2e_plugin.dll").c_str(), plugin.c_str(), FALSE));
    }
    void cleanUpOwn() override {
        mapping_.reset();
        InUse::cleanUpOwn();
    }

    void start(const std::wstring& program, const std::wstring& dll = {}) {
        mapping_.emplace(program, dll);
        ASSERT_TRUE(mapping_->running()) << narrow(program);
    }
    void end() { mapping_.reset(); }

    // A quiet run: 3010, the mapped file left to the restart with its
    // folders, everything else gone; the restart, once the program has
    // ended, takes the rest.
    void expectLeftToTheRestart(const std::wstring& file) {
        {
            Uninstaller run(L"/quiet " + app);
            EXPECT_EQ(run.exitStatus(), 3010);
        }
        EXPECT_TRUE(fileExists(file));
        for (const std::wstring& name :
             {plugin, installDir + L"\\e2eapp.exe", held, installDir + L"\\readme.txt",
              installDir + L"\\ST6UNST.LOG"}) {
            if (name != file) {
                EXPECT_FALSE(fileExists(name)) << narrow(name);
            }
        }
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
        end();
        runAndWait(L"wineboot.exe -r");
        EXPECT_FALSE(fileExists(file));
        EXPECT_FALSE(folderExists(installDir));
    }

    const std::wstring plugin = installDir + L"\\e2eplug.dll";

private:
    std::optional<Mapping> mapping_;
};

// A plug-in another program keeps loaded opens for deletion; its deletion
// failed after the other files went: 1603, the application half removed.
TEST_F(Mapped, LoadedDllIsAskedAboutBeforeAnythingChanges) {
    start(besideTests(L"e2e_holder.exe"), plugin);
    Uninstaller run(app);
    HWND box = pressAndAwaitQuestion(run);
    ASSERT_NE(box, nullptr);
    const std::wstring text = driver::messageText(box);
    EXPECT_NE(text.find(plugin), std::wstring::npos) << narrow(text);
    EXPECT_NE(text.find(L"Retry"), std::wstring::npos) << narrow(text);
    driver::answer(box, IDCANCEL);
    EXPECT_EQ(run.exitStatus(), 1602);
    for (const std::wstring& name :
         {plugin, installDir + L"\\e2eapp.exe", held, installDir + L"\\ST6UNST.LOG"})
        EXPECT_TRUE(fileExists(name)) << narrow(name);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 3u);
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));

    // Unloaded, Retry finishes the job.
    Uninstaller again(app);
    box = pressAndAwaitQuestion(again);
    ASSERT_NE(box, nullptr);
    end();
    driver::answer(box, IDRETRY);
    ASSERT_EQ(again.exitStatus(), 0) << narrow(again.takeErrorReport(0));
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
}

TEST_F(Mapped, QuietRunLeavesALoadedDllToTheRestart) {
    start(besideTests(L"e2e_holder.exe"), plugin);
    expectLeftToTheRestart(plugin);
}

// The application's program running from its folder.
TEST_F(Mapped, QuietRunLeavesTheRunningProgramToTheRestart) {
    const std::wstring program = installDir + L"\\e2eapp.exe";
    ASSERT_TRUE(CopyFileW(besideTests(L"e2e_holder.exe").c_str(), program.c_str(), FALSE));
    start(program);
    expectLeftToTheRestart(program);
}

// uninstall.exe copied into the folder and started from there is one of the
// files it lists, and it cannot delete its own image while it runs.
TEST_F(Mapped, UninstallerRunFromTheInstallFolderLeavesItselfToTheRestart) {
    const std::wstring copy = installDir + L"\\uninstall.exe";
    ASSERT_TRUE(CopyFileW(uninstallerPath().c_str(), copy.c_str(), FALSE));
    wchar_t saved[MAX_PATH * 2] = {};
    const bool wasSet = GetEnvironmentVariableW(L"UNINST_EXE", saved, MAX_PATH * 2) > 0;
    SetEnvironmentVariableW(L"UNINST_EXE", copy.c_str());
    // Quiet, and with the window, where asking the user to close the
    // program that asks would leave only Cancel: it is not asked about.
    for (const bool quiet : {true, false}) {
        SCOPED_TRACE(quiet ? "quiet" : "with the window");
        if (!quiet) {
            writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
            createFile(installDir + L"\\readme.txt");
            setString(appPathsKey + L"\\" + app, L"", installDir + L"\\e2eapp.exe");
        }
        {
            Uninstaller run(quiet ? L"/quiet " + app : app);
            if (!quiet) {
                HWND form = run.form();
                ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
                markAndPress(form, {});
            }
            EXPECT_EQ(run.exitStatus(), 3010) << narrow(run.takeErrorReport(0));
        }
        EXPECT_TRUE(fileExists(copy));
        for (const std::wstring& name :
             {plugin, installDir + L"\\e2eapp.exe", held, installDir + L"\\readme.txt",
              installDir + L"\\ST6UNST.LOG"})
            EXPECT_FALSE(fileExists(name)) << narrow(name);
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    }
    SetEnvironmentVariableW(L"UNINST_EXE", wasSet ? saved : nullptr);
    runAndWait(L"wineboot.exe -r");
    EXPECT_FALSE(folderExists(installDir));
}

} // namespace
} // namespace e2e
