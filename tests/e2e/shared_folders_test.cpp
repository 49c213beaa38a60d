// Install folders that are not the application's alone: a folder the system
// and every application share is refused before anything is listed, and
// another registered application's folder inside the install folder stays.
//
// The refusals are shown first by a window that is never pressed and by a
// preview, neither of which can remove anything even if the refusal failed;
// only then does a quiet run meet the same folder.
#include "tests/e2e/scenarios.h"

#include <algorithm>
#include <string>
#include <vector>

namespace e2e {
namespace {

namespace driver = uninst::driver;

const std::wstring logsDir = L"C:\\E2E Shared Logs";
const std::wstring logFile = logsDir + L"\\run.log";
const std::wstring programFiles = L"C:\\Program Files";
const std::wstring otherApp = programFiles + L"\\E2E Customer App";
const std::wstring suiteDir = L"C:\\E2E Suite";
const std::wstring toolDir = suiteDir + L"\\Tool2";
const std::wstring toolName = L"e2e tool2.exe";

std::wstring environment(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}

// Everything below `folder`, folders included, as a comparable list.
std::vector<std::string> treeOf(const std::wstring& folder) {
    std::vector<std::string> seen;
    for (const std::wstring& file : filesInListingOrder(folder))
        seen.push_back(narrow(file));
    return seen;
}

long exitOf(const std::wstring& arguments) {
    Uninstaller run(arguments);
    return run.exitStatus();
}

class SharedFolders : public Scenario {
protected:
    void cleanUpOwn() override {
        deleteKeyTree(appPathsKey + L"\\" + toolName);
        removeTree(logsDir);
        removeTree(otherApp);
        removeTree(suiteDir);
        for (const std::wstring& folder : planted_) {
            deleteFile(folder + L"\\ST6UNST.LOG");
            deleteFile(folder + L"\\e2eapp.exe");
        }
        planted_.clear();
    }

    // The setup's log and executable in `folder`, as a setup that was given
    // that folder leaves them.
    void plantIn(const std::wstring& folder) {
        planted_.push_back(folder);
        createFile(folder + L"\\e2eapp.exe");
        writeLog(folder, {"ACTION: CreateDir: \"" + narrow(folder) + "\""});
    }

    static void deleteFile(const std::wstring& path) { DeleteFileW(path.c_str()); }

    // The window and a preview, which cannot remove anything, refuse the
    // folder; then a quiet run does, with 1603, and nothing anywhere below
    // `watched` has changed.
    static void expectRefused(const std::wstring& folder, const std::wstring& watched,
                              const std::string& says) {
        const std::vector<std::string> before = treeOf(watched);
        ASSERT_FALSE(before.empty());

        const FailedStart shown = startFailing(app);
        EXPECT_FALSE(shown.formShown) << "the window listed " << narrow(folder);
        EXPECT_NE(shown.report.find(folder + L", " + std::wstring(says.begin(), says.end())),
                  std::wstring::npos)
            << narrow(shown.report);
        EXPECT_EQ(shown.status, 1603);

        createFolder(logsDir);
        EXPECT_EQ(exitOf(L"/quiet /preview /log:\"" + logFile + L"\" " + app), 1603);
        const std::string previewed = readFile(logFile);
        ASSERT_NE(previewed.find("will not list or remove it"), std::string::npos) << previewed;
        EXPECT_EQ(previewed.find("Planned: "), std::string::npos) << previewed;
        ASSERT_EQ(treeOf(watched), before);

        EXPECT_EQ(exitOf(L"/quiet /log:\"" + logFile + L"\" " + app), 1603);
        EXPECT_EQ(treeOf(watched), before);
        EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));
    }

private:
    std::vector<std::wstring> planted_;
};

TEST_F(SharedFolders, ProgramFilesAsTheRegisteredFolderIsRefusedAndKeepsEveryApplication) {
    createFolder(otherApp);
    createFile(otherApp + L"\\customer.db", "records");
    plantIn(programFiles);
    registerApp(app, programFiles + L"\\e2eapp.exe");
    expectRefused(programFiles, programFiles, "is the system's Program Files folder");
    EXPECT_EQ(readFile(otherApp + L"\\customer.db"), "records");
}

TEST_F(SharedFolders, ExpandedProgramFilesIsRefusedToo) {
    createFolder(otherApp);
    createFile(otherApp + L"\\customer.db", "records");
    // Under WOW64 the variable names Program Files (x86), which is refused
    // the same way.
    const std::wstring expanded = environment(L"ProgramFiles");
    ASSERT_FALSE(expanded.empty());
    plantIn(expanded);
    setExpandString(appPathsKey + L"\\" + app, L"%ProgramFiles%\\e2eapp.exe");
    expectRefused(expanded, expanded, "is the system's Program Files folder");
    EXPECT_EQ(readFile(otherApp + L"\\customer.db"), "records");
}

// The same folder by its short (8.3) name, which the system resolves.
TEST_F(SharedFolders, ShortNameOfProgramFilesIsRefused) {
    std::wstring shortName(MAX_PATH, L'\0');
    shortName.resize(GetShortPathNameW(programFiles.c_str(), shortName.data(), MAX_PATH));
    if (shortName.empty() || shortName == programFiles)
        GTEST_SKIP() << "no short name for " << narrow(programFiles);
    createFolder(otherApp);
    createFile(otherApp + L"\\customer.db", "records");
    plantIn(programFiles);
    registerApp(app, shortName + L"\\e2eapp.exe");
    expectRefused(shortName, programFiles,
                  "which is C:\\Program Files, is the system's Program Files folder");
    EXPECT_EQ(readFile(otherApp + L"\\customer.db"), "records");
}

TEST_F(SharedFolders, UserProfileIsRefused) {
    const std::wstring profile = environment(L"USERPROFILE");
    ASSERT_FALSE(profile.empty());
    plantIn(profile);
    setExpandString(appPathsKey + L"\\" + app, L"%USERPROFILE%\\e2eapp.exe");
    expectRefused(profile, profile, "is the profile folder of the current user");
}

TEST_F(SharedFolders, WindowsAndAllUsersFoldersAreRefused) {
    struct Case {
        const wchar_t* variable;
        const char* says;
    };
    for (const Case& c : {Case{L"SystemRoot", "is the Windows folder"},
                          Case{L"ALLUSERSPROFILE", "is the system's ProgramData folder"}}) {
        SCOPED_TRACE(narrow(c.variable));
        const std::wstring folder = environment(c.variable);
        ASSERT_FALSE(folder.empty());
        plantIn(folder);
        setExpandString(appPathsKey + L"\\" + app,
                        L"%" + std::wstring(c.variable) + L"%\\e2eapp.exe");
        expectRefused(folder, folder, c.says);
        cleanUpOwn();
    }
}

TEST_F(SharedFolders, FolderHoldingTheStartMenuIsRefused) {
    const std::wstring common = environment(L"ProgramData");
    ASSERT_FALSE(common.empty());
    const std::wstring folder = common + L"\\Microsoft";
    plantIn(folder);
    registerApp(app, folder + L"\\e2eapp.exe");
    expectRefused(folder, common, "holds ");
}

// A suite in C:\E2E Suite with a second product registered in its Tool2
// folder: the suite goes, Tool2 with its files stays, and the log says so.
TEST_F(SharedFolders, FolderOfAnotherRegisteredApplicationInsideStaysAndIsNamed) {
    createFolder(suiteDir + L"\\help");
    createFolder(toolDir + L"\\data");
    for (const wchar_t* name : {L"suite.exe", L"help\\suite.hlp", L"readme.txt"})
        createFile(suiteDir + L"\\" + name);
    createFile(toolDir + L"\\tool2.exe");
    createFile(toolDir + L"\\data\\customer.db", "records");
    createFolder(toolDir + L"\\cache");
    writeLog(suiteDir, {"ACTION: CreateDir: \"C:\\E2E Suite\""});
    registerApp(app, suiteDir + L"\\suite.exe");
    registerApp(toolName, toolDir + L"\\tool2.exe");
    const std::vector<std::string> tool = treeOf(toolDir);

    {
        Uninstaller run(app);
        HWND form = run.form();
        ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
        std::vector<std::string> rows = shownRows(form);
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, (std::vector<std::string>{"C:\\E2E Suite\\help\\suite.hlp",
                                                  "C:\\E2E Suite\\readme.txt",
                                                  "C:\\E2E Suite\\suite.exe"}));
        PostMessageW(form, WM_CLOSE, 0, 0);
        EXPECT_EQ(run.exitStatus(), 1602);
    }

    createFolder(logsDir);
    ASSERT_EQ(exitOf(L"/quiet /log:\"" + logFile + L"\" " + app), 0) << readFile(logFile);
    EXPECT_EQ(treeOf(toolDir), tool);
    EXPECT_EQ(readFile(toolDir + L"\\data\\customer.db"), "records");
    EXPECT_TRUE(folderExists(toolDir + L"\\cache"));
    for (const wchar_t* name : {L"suite.exe", L"help\\suite.hlp", L"readme.txt", L"ST6UNST.LOG"})
        EXPECT_FALSE(fileExists(suiteDir + L"\\" + name)) << narrow(name);
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + toolName));
    EXPECT_NE(readFile(logFile).find("Left out: C:\\E2E Suite\\Tool2, the folder of another "
                                     "registered application, stays as it is."),
              std::string::npos)
        << readFile(logFile);
}

} // namespace
} // namespace e2e
