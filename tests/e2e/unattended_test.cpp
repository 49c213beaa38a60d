// Runs nobody attends: options, the log, the preview, one run at a time and
// the exit codes, each read in full from this side of the process boundary.
#include "tests/e2e/scenarios.h"

#include <algorithm>
#include <string>
#include <vector>

namespace e2e {
namespace {

namespace driver = uninst::driver;

const std::wstring logsDir = L"C:\\E2E Logs";
const std::wstring logFile = logsDir + L"\\run log.txt";
const std::wstring menu = startMenuRoot + group;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Captured runCaptured(const std::wstring& arguments) {
    createFolder(logsDir);
    return runCapturing(arguments, logsDir + L"\\stdout.txt", 30000);
}

long exitOf(const std::wstring& arguments) {
    Uninstaller run(arguments);
    return run.exitStatus();
}

class Unattended : public Scenario {
protected:
    void SetUp() override {
        Scenario::SetUp();
        removeTree(logsDir);
    }
    void TearDown() override {
        removeTree(logsDir);
        Scenario::TearDown();
    }

    // The road-of-one-run application: files at three depths, a start-menu
    // group, shared files with counts 3, 1 and 0 and one without a count.
    static void buildApp() {
        createFolder(installDir + L"\\bin");
        createFolder(installDir + L"\\help\\img");
        createFolder(menu);
        for (const wchar_t* name : {L"e2eapp.exe", L"data.mdb", L"readme.txt", L"bin\\e2eapp.dll",
                                    L"help\\manual.hlp", L"help\\img\\logo.bmp"})
            createFile(installDir + L"\\" + name, narrow(name));
        createShortcut(menu + L"\\E2E App.lnk", installDir + L"\\e2eapp.exe");
        writeLog(installDir,
                 {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\"",
                  "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\"",
                  "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\"",
                  "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR1.DLL\"",
                  "ACTION: DllSelfRegister: \"C:\\WINDOWS\\SYSTEM\\E2ESHR0.OCX\"",
                  "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ENONE.DLL\""});
        registerWithSharedCounts();
    }

    // Everything a run could change, contents included.
    static std::vector<std::string> world() {
        std::vector<std::string> seen;
        for (const std::wstring& root : {installDir, menu}) {
            seen.push_back(narrow(root) + (folderExists(root) ? " is there" : " is gone"));
            for (const std::wstring& file : filesInListingOrder(root))
                seen.push_back(narrow(file) + " = " + readFile(file));
        }
        for (const std::wstring& key : {appPathsKey + L"\\" + app, uninstallKey + L"\\" + app})
            seen.push_back(narrow(key) + (keyExists(key) ? " is there" : " is gone"));
        for (const std::wstring& file : sharedFiles) {
            const auto count = dwordValue(sharedDllsKey, file);
            seen.push_back(narrow(file) + " count " + (count ? std::to_string(*count) : "none"));
        }
        return seen;
    }

    static std::string installed(const char* relative) {
        return narrow(installDir) + "\\" + relative;
    }
};

TEST_F(Unattended, QuietRunKeepsWhatThePatternsNameAndLogsTheRun) {
    buildApp();
    createFolder(logsDir);
    const std::wstring arguments =
        L"/quiet /KEEP:*.mdb /keep:help\\* /log:\"" + logFile + L"\" " + app;
    ASSERT_EQ(exitOf(arguments), 0) << readFile(logFile);

    for (const wchar_t* kept : {L"data.mdb", L"help\\manual.hlp", L"help\\img\\logo.bmp"})
        EXPECT_TRUE(fileExists(installDir + L"\\" + kept)) << narrow(kept);
    for (const wchar_t* gone : {L"e2eapp.exe", L"readme.txt", L"bin\\e2eapp.dll", L"ST6UNST.LOG"})
        EXPECT_FALSE(fileExists(installDir + L"\\" + gone)) << narrow(gone);
    EXPECT_FALSE(folderExists(installDir + L"\\bin"));
    EXPECT_FALSE(folderExists(menu));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);

    const std::vector<std::string> log = linesOf(readFile(logFile));
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front().rfind("Start: ", 0), 0u) << log.front();
    EXPECT_NE(log.front().find(", arguments: " + narrow(arguments)), std::string::npos)
        << log.front();
    EXPECT_EQ(log.back(), "Exit code: 0");
    const std::string hklm = "HKEY_LOCAL_MACHINE\\";
    for (const std::string& line : {
             "Install folder: " + narrow(installDir),
             "Keep file: " + installed("data.mdb") + " (pattern *.mdb)",
             "Keep file: " + installed("help\\img\\logo.bmp") + " (pattern help\\*)",
             "Delete file: " + installed("readme.txt"),
             "Delete file: " + installed("bin\\e2eapp.dll"),
             "Remove folder: " + installed("bin"),
             "Lower SharedDLLs count: " + narrow(sharedFiles[0]) + ", count 3 -> 2",
             "Lower SharedDLLs count: " + narrow(sharedFiles[1]) + ", count 1 -> 0",
             "Request SharedDLLs removal: " + narrow(sharedFiles[2]) + ", count 0, count stays",
             "Request SharedDLLs removal: " + narrow(sharedFiles[3]) + ", no count, count stays",
             "Remove start-menu group: " + narrow(menu),
             "Remove registry key: " + hklm + narrow(uninstallKey) + "\\" + narrow(app),
             "Remove registry key: " + hklm + narrow(appPathsKey) + "\\" + narrow(app),
         })
        EXPECT_TRUE(has(log, line)) << line;

    // A second run appends to the same log.
    EXPECT_EQ(exitOf(L"/quiet /log:\"" + logFile + L"\" " + app), 1605);
    const std::vector<std::string> both = linesOf(readFile(logFile));
    EXPECT_EQ(both.size(), log.size() + 3) << readFile(logFile);
    EXPECT_EQ(both.back(), "Exit code: 1605");
}

TEST_F(Unattended, PassiveRunPressesUninstallItself) {
    buildApp();
    Uninstaller run(L"/passive /keep:*.mdb " + app);
    // A message box would wait for an answer; the run must end on its own.
    ASSERT_EQ(run.exitStatus(), 0);
    EXPECT_TRUE(fileExists(installDir + L"\\data.mdb"));
    EXPECT_FALSE(fileExists(installDir + L"\\readme.txt"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));

    // An error goes to the log and the exit code, not to a box nobody
    // answers.
    createFolder(logsDir);
    EXPECT_EQ(exitOf(L"/passive /log:\"" + logFile + L"\" " + app), 1605);
    const std::vector<std::string> log = linesOf(readFile(logFile));
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(log[log.size() - 2].find("Error: \"" + narrow(app) + "\" is not registered"),
              std::string::npos)
        << log[log.size() - 2];
}

TEST_F(Unattended, KeepPatternsMarkRowsTheUserCanStillChange) {
    buildApp();
    createFolder(logsDir);
    Uninstaller run(L"/keep:*.MDB /keep:help\\* /log:\"" + logFile + L"\" " + app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    HWND list = driver::fileList(form);
    std::vector<std::string> marked;
    for (const driver::Row& row : driver::rows(list)) {
        if (row.marked)
            marked.push_back(narrow(row.text));
    }
    std::sort(marked.begin(), marked.end());
    EXPECT_EQ(marked,
              (std::vector<std::string>{installed("data.mdb"), installed("help\\img\\logo.bmp"),
                                        installed("help\\manual.hlp")}));

    ASSERT_TRUE(driver::setMark(list, driver::findRow(list, L"manual.hlp"), false));
    ASSERT_TRUE(driver::setMark(list, driver::findRow(list, L"readme.txt"), true));
    ASSERT_TRUE(driver::click(driver::uninstallButton(form)));
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));
    EXPECT_TRUE(fileExists(installDir + L"\\data.mdb"));
    EXPECT_TRUE(fileExists(installDir + L"\\help\\img\\logo.bmp"));
    EXPECT_TRUE(fileExists(installDir + L"\\readme.txt"));
    EXPECT_FALSE(fileExists(installDir + L"\\help\\manual.hlp"));
    EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));

    // The log tells the user's marks from the patterns'.
    const std::vector<std::string> log = linesOf(readFile(logFile));
    EXPECT_TRUE(has(log, "Keep file: " + installed("data.mdb") + " (pattern *.MDB)"));
    EXPECT_TRUE(has(log, "Keep file: " + installed("readme.txt") + " (marked)"));
    EXPECT_TRUE(has(log, "Delete file: " + installed("help\\manual.hlp")));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Exit code: 0");
}

TEST_F(Unattended, HelpShowsTheUsage) {
    Uninstaller run(L"/HELP");
    const std::wstring usage = run.takeErrorReport();
    EXPECT_EQ(usage.rfind(L"Usage: uninstall.exe [options] APPNAME", 0), 0u) << narrow(usage);
    EXPECT_EQ(run.exitStatus(), 0);
}

TEST_F(Unattended, PreviewChangesNothingAndListsWhatTheRunThenDoes) {
    buildApp();
    const std::vector<std::string> before = world();

    const Captured preview = runCaptured(L"/preview /keep:*.mdb " + app);
    ASSERT_EQ(preview.code, 0) << preview.output;
    EXPECT_EQ(world(), before);

    createFolder(logsDir);
    ASSERT_EQ(exitOf(L"/quiet /keep:*.mdb /log:\"" + logFile + L"\" " + app), 0)
        << readFile(logFile);
    EXPECT_NE(world(), before);

    // The same lines but for the mark, the start and the exit.
    const std::string mark = "Planned: ";
    std::vector<std::string> planned;
    std::size_t marked = 0;
    for (const std::string& line : linesOf(preview.output)) {
        if (line.rfind("Start: ", 0) == 0 || line.rfind("Exit code: ", 0) == 0)
            continue;
        const bool isPlanned = line.rfind(mark, 0) == 0;
        marked += isPlanned ? 1 : 0;
        planned.push_back(isPlanned ? line.substr(mark.size()) : line);
    }
    std::vector<std::string> done;
    for (const std::string& line : linesOf(readFile(logFile))) {
        if (line.rfind("Start: ", 0) != 0 && line.rfind("Exit code: ", 0) != 0)
            done.push_back(line);
    }
    EXPECT_EQ(planned, done);
    EXPECT_GT(marked, 10u);
    EXPECT_TRUE(has(planned, "Delete file: " + installed("readme.txt")));
}

// Anyone who can write to the log's folder can put a link there, or a
// second name of another file: the run must not append to that file.
TEST_F(Unattended, LogPathThatLeadsToAnotherFileIsRefused) {
    buildApp();
    createFolder(logsDir);
    createFolder(linkTarget);
    createFile(linkTarget + L"\\precious.txt", "user data");
    const std::wstring linked = logsDir + L"\\linked.log";
    if (!createFileLink(linked, linkTarget + L"\\precious.txt"))
        GTEST_SKIP() << "this system cannot make a file link for the test";
    const std::vector<std::string> untouched = world();

    EXPECT_EQ(exitOf(L"/quiet /log:\"" + linked + L"\" " + app), 1622);
    EXPECT_EQ(readFile(linkTarget + L"\\precious.txt"), "user data");
    EXPECT_EQ(world(), untouched);
    removeLink(linked);
}

TEST_F(Unattended, ExitCodesReachTheCallerWhole) {
    buildApp();
    const std::vector<std::string> untouched = world();
    EXPECT_EQ(exitOf(L"/quiet e2enothere.exe"), 1605);
    EXPECT_EQ(exitOf(L"/quiet /silent " + app), 1639);
    EXPECT_EQ(exitOf(L"/quiet /keep " + app), 1639);
    EXPECT_EQ(exitOf(L"/quiet"), 1639);
    EXPECT_EQ(exitOf(L"/quiet /log:\"" + logsDir + L"\\no such folder\\u.log\" " + app), 1622);
    EXPECT_EQ(world(), untouched);

    const Captured help = runCaptured(L"/quiet /?");
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.output.rfind("Usage: uninstall.exe [options] APPNAME", 0), 0u) << help.output;

    // With the window, a bad command line is shown before the program ends.
    {
        Uninstaller run(L"/bogus " + app);
        const std::wstring report = run.takeErrorReport();
        EXPECT_NE(report.find(L"Unknown option /bogus"), std::wstring::npos) << narrow(report);
        EXPECT_EQ(run.exitStatus(), 1639);
    }

    // The batch file of the deployment notes passes the code on whole.
    createFolder(logsDir);
    const std::wstring script = logsDir + L"\\remove.cmd";
    createFile(script, "@echo off\r\nstart \"\" /wait \"" + narrow(uninstallerPath()) +
                           "\" /quiet /bogus e2eapp.exe\r\nexit /b %errorlevel%\r\n");
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    std::wstring commandLine = L"\"" + cmd + L"\" /c \"" + script + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(cmd.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 1639u);

    // A file that refuses deletion stops the run: 1603, and the log says why.
    setReadOnly(installDir + L"\\readme.txt", true);
    EXPECT_EQ(exitOf(L"/quiet /log:\"" + logFile + L"\" " + app), 1603);
    const std::vector<std::string> log = linesOf(readFile(logFile));
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(log[log.size() - 2].find("Error: Cannot delete file " + installed("readme.txt")),
              std::string::npos)
        << log[log.size() - 2];
    EXPECT_EQ(log.back(), "Exit code: 1603");
    setReadOnly(installDir + L"\\readme.txt", false);
}

// A command line exactly as a deployment tool writes it, after the quoted
// path of the program. The run must end by itself: `window` names any window
// or message box it showed.
long runExact(const std::wstring& afterProgram, std::wstring& window) {
    Uninstaller run(Uninstaller::Exact{L"\"" + uninstallerPath() + L"\" " + afterProgram});
    return run.exitStatusUnwatched(window);
}

// Everything a run could create or change outside the application: the log
// folder and the folder a link in it leads to.
std::vector<std::string> outside() {
    std::vector<std::string> seen;
    for (const std::wstring& root : {logsDir, linkTarget}) {
        for (const std::wstring& file : filesInListingOrder(root))
            seen.push_back(narrow(file) + " = " + readFile(file));
    }
    return seen;
}

TEST_F(Unattended, OptionsQuotedWholeOrInPartAreTheOptionsTheyName) {
    const std::wstring logArg = L"\"/log:" + logFile + L"\"";
    for (const std::wstring& line :
         {L"/quiet \"/keep:*.mdb\" \"/keep:My Data\\*\" " + logArg + L" \"" + app + L"\"",
          L"\"/quiet\" /keep:\"*.mdb\" /keep:My\" \"Data\\* /log:\"" + logFile + L"\" " + app +
              L"  "}) {
        SCOPED_TRACE(narrow(line));
        buildApp();
        createFolder(installDir + L"\\My Data");
        createFile(installDir + L"\\My Data\\notes.txt", "mine");
        createFolder(logsDir);
        std::wstring window;
        ASSERT_EQ(runExact(line, window), 0) << readFile(logFile);
        EXPECT_EQ(window, L"") << narrow(window);
        EXPECT_TRUE(fileExists(installDir + L"\\data.mdb"));
        EXPECT_EQ(readFile(installDir + L"\\My Data\\notes.txt"), "mine");
        EXPECT_FALSE(fileExists(installDir + L"\\readme.txt"));
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
        const std::vector<std::string> log = linesOf(readFile(logFile));
        EXPECT_TRUE(
            has(log, "Keep file: " + installed("My Data\\notes.txt") + " (pattern My Data\\*)"));
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), "Exit code: 0");
        const std::vector<std::string> created = outside();
        ASSERT_EQ(created.size(), 1u);
        EXPECT_EQ(created[0].rfind(narrow(logFile) + " = ", 0), 0u) << created[0];
        removeTree(installDir);
        removeTree(logsDir);
    }
}

TEST_F(Unattended, OptionsAfterTheNameAreRefusedAndNobodyIsAsked) {
    buildApp();
    createFolder(logsDir);
    const std::vector<std::string> untouched = world();
    const std::vector<std::string> nothingOutside = outside();
    struct Case {
        std::wstring line;
        long code;
    };
    for (const Case& c : std::vector<Case>{
             {app + L" /quiet", 1639},
             {app + L" /passive", 1639},
             {app + L" \"/PREVIEW\"", 1639},
             {L"/quiet " + app + L" /keep:*.mdb", 1639},
             {L"/quiet:yes " + app, 1639},
             {L"/bogus \"/log:x " + app + L" /quiet", 1639},
             {L"/preview /?", 0},
             {L"/passive /?", 0},
         }) {
        SCOPED_TRACE(narrow(c.line));
        std::wstring window;
        EXPECT_EQ(runExact(c.line, window), c.code);
        EXPECT_EQ(window, L"") << narrow(window);
    }
    EXPECT_EQ(world(), untouched);
    EXPECT_EQ(outside(), nothingOutside);

    // With nobody said to be absent, the fault is shown before the end.
    Uninstaller run(app + L" /keep:*.mdb");
    const std::wstring report = run.takeErrorReport();
    EXPECT_NE(report.find(L"follows the application name"), std::wstring::npos) << narrow(report);
    EXPECT_EQ(run.exitStatus(), 1639);
    EXPECT_EQ(world(), untouched);
}

TEST_F(Unattended, KeepPatternsThatCanNameNoFileBelowTheFolderChangeNothing) {
    buildApp();
    createFolder(logsDir);
    const std::vector<std::string> untouched = world();
    for (const std::wstring pattern :
         {L"/keep:\"C:\\E2E Other\\data.mdb\"", L"/keep:D:\\E2E App\\data.mdb",
          L"/keep:.\\data.mdb", L"/keep:\"data.mdb \"", L"/keep:..\\E2E App\\data.mdb",
          L"\"/keep:C:\\Program Files\\*\""}) {
        SCOPED_TRACE(narrow(pattern));
        std::wstring window;
        EXPECT_EQ(runExact(L"/quiet /keep:*.hlp " + pattern + L" /log:\"" + logFile + L"\" " + app,
                           window),
                  1639);
        EXPECT_EQ(window, L"") << narrow(window);
        const std::vector<std::string> log = linesOf(readFile(logFile));
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2].rfind("Error: The keep pattern", 0), 0u)
            << log[log.size() - 2];
    }
    // With the window, a message names it before the window shows.
    {
        Uninstaller run(L"/keep:\"C:\\E2E Other\\data.mdb\" " + app);
        const std::wstring report = run.takeErrorReport();
        EXPECT_NE(report.find(L"C:\\E2E Other\\data.mdb"), std::wstring::npos) << narrow(report);
        EXPECT_EQ(run.exitStatus(), 1639);
    }
    EXPECT_EQ(world(), untouched);

    // The preview names a pattern that would keep nothing.
    const Captured preview = runCaptured(L"/preview \"/keep:E2E App\\readme.txt\" " + app);
    EXPECT_EQ(preview.code, 0) << preview.output;
    EXPECT_TRUE(has(linesOf(preview.output), "Keep pattern matched no file: E2E App\\readme.txt"))
        << preview.output;

    // The install folder named in full, or through a variable, is the path
    // below it; a pattern that kept nothing is named.
    // A 32-bit program on 64-bit Windows has %ProgramFiles% expand to
    // Program Files (x86); its name for C:\Program Files is %ProgramW6432%.
    const std::wstring programFiles = runsUnderWow64() ? L"%ProgramW6432%" : L"%ProgramFiles%";
    std::wstring window;
    ASSERT_EQ(runExact(L"/quiet \"/keep:" + installDir + L"\\data.mdb\" \"/keep:" + programFiles +
                           L"\\E2E App\\help\\*\" \"/keep:E2E App\\readme.txt\" /log:\"" + logFile +
                           L"\" " + app,
                       window),
              0)
        << readFile(logFile);
    EXPECT_EQ(window, L"") << narrow(window);
    EXPECT_TRUE(fileExists(installDir + L"\\data.mdb"));
    EXPECT_TRUE(fileExists(installDir + L"\\help\\img\\logo.bmp"));
    EXPECT_FALSE(fileExists(installDir + L"\\readme.txt"));
    EXPECT_TRUE(
        has(linesOf(readFile(logFile)), "Keep pattern matched no file: E2E App\\readme.txt"));
}

TEST_F(Unattended, KeepPatternsFoldLettersAsTheFileSystemDoes) {
    buildApp();
    for (const wchar_t* name :
         {L"\u0388\u03b3\u03b3\u03c1\u03b1\u03c6\u03b1\\letter.doc",
          L"\u03c3\u03b7\u03bc\u03b5\u03af\u03c9\u03c3\u03b7.txt",
          L"\u0491\u0440\u0443\u043d\u0442.dat", L"\u01ce.txt", L"\uff44\uff41\uff54\uff41.txt"}) {
        const std::wstring path = installDir + L"\\" + name;
        createFolder(path.substr(0, path.find_last_of(L'\\')));
        createFile(path, "kept");
    }
    const std::vector<std::string> nothingOutside = outside();
    std::wstring window;
    ASSERT_EQ(runExact(L"/quiet /keep:\u03ad\u03b3\u03b3\u03c1\u03b1\u03c6\u03b1\\* "
                       L"/keep:\u03a3\u0397\u039c\u0395\u038a\u03a9\u03a3\u0397.TXT "
                       L"/keep:\u0490\u0420\u0423\u041d\u0422.DAT /keep:\u01cd.TXT "
                       L"/keep:\uff24\uff21\uff34\uff21.TXT " +
                           app,
                       window),
              0);
    EXPECT_EQ(window, L"") << narrow(window);
    for (const wchar_t* name :
         {L"\u0388\u03b3\u03b3\u03c1\u03b1\u03c6\u03b1\\letter.doc",
          L"\u03c3\u03b7\u03bc\u03b5\u03af\u03c9\u03c3\u03b7.txt",
          L"\u0491\u0440\u0443\u043d\u0442.dat", L"\u01ce.txt", L"\uff44\uff41\uff54\uff41.txt"})
        EXPECT_EQ(readFile(installDir + L"\\" + name), "kept") << narrow(name);
    EXPECT_FALSE(fileExists(installDir + L"\\readme.txt"));
    EXPECT_EQ(outside(), nothingOutside);
}

TEST_F(Unattended, LogInsideWhatTheRunRemovesIsRefusedBeforeAnythingChanges) {
    buildApp();
    const std::vector<std::string> untouched = world();
    for (const std::wstring& log : {installDir + L"\\u.log", installDir + L"\\st6unst.log",
                                    installDir + L"\\help\\u.log", menu + L"\\u.log"}) {
        SCOPED_TRACE(narrow(log));
        std::wstring window;
        EXPECT_EQ(runExact(L"/quiet \"/log:" + log + L"\" " + app, window), 1622);
        EXPECT_EQ(window, L"") << narrow(window);
        EXPECT_EQ(world(), untouched);
    }
    // A deployment agent that captures the standard output still reads why.
    const Captured captured = runCaptured(L"/quiet \"/log:" + installDir + L"\\u.log\" " + app);
    EXPECT_EQ(captured.code, 1622);
    const std::vector<std::string> told = linesOf(captured.output);
    ASSERT_GE(told.size(), 3u) << captured.output;
    EXPECT_EQ(told.front().rfind("Start: ", 0), 0u) << told.front();
    EXPECT_NE(told[told.size() - 2].find("install folder"), std::string::npos) << captured.output;
    EXPECT_EQ(told.back(), "Exit code: 1622");
    const Captured missing = runCaptured(L"/quiet \"/log:C:\\E2E Nowhere\\u.log\" " + app);
    EXPECT_EQ(missing.code, 1622);
    EXPECT_NE(missing.output.find("Error: Cannot open the log file C:\\E2E Nowhere\\u.log"),
              std::string::npos)
        << missing.output;
    EXPECT_EQ(world(), untouched);

    // With the window, the refusal is shown before the window is.
    Uninstaller run(L"/log:\"" + installDir + L"\\u.log\" " + app);
    const std::wstring report = run.takeErrorReport();
    EXPECT_NE(report.find(L"install folder"), std::wstring::npos) << narrow(report);
    EXPECT_EQ(run.exitStatus(), 1622);
    EXPECT_EQ(world(), untouched);
}

// A standard user can make the log folder a deployment names, or a folder
// on its way, a link to another folder.
TEST_F(Unattended, LogFolderThatIsALinkGetsNoFileBehindIt) {
    buildApp();
    createFolder(logsDir);
    createFolder(linkTarget + L"\\sub");
    if (!createFolderLink(logsDir + L"\\Linked", linkTarget))
        GTEST_SKIP() << "this system cannot make a folder link for the test";
    const std::vector<std::string> untouched = world();
    const std::vector<std::string> nothingOutside = outside();
    for (const std::wstring& log :
         {logsDir + L"\\Linked\\myapp-uninstall.log", logsDir + L"\\Linked\\sub\\u.log"}) {
        SCOPED_TRACE(narrow(log));
        std::wstring window;
        EXPECT_EQ(runExact(L"/quiet \"/log:" + log + L"\" " + app, window), 1622);
        EXPECT_EQ(window, L"") << narrow(window);
        EXPECT_EQ(world(), untouched);
        EXPECT_EQ(outside(), nothingOutside);
    }
    removeLink(logsDir + L"\\Linked");
}

// The same folder spelt as the system also reads it: short names, trailing
// dots and blanks, forward slashes, a climb, other letter case, the device
// namespace. Each names a file the run would remove or create inside what
// it removes.
TEST_F(Unattended, LogInsideTheFolderUnderAnotherSpellingIsRefused) {
    buildApp();
    wchar_t shortDir[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW(installDir.c_str(), shortDir, MAX_PATH), 0u);
    const std::vector<std::string> untouched = world();
    for (const std::wstring& log :
         {std::wstring(shortDir) + L"\\u.log", installDir + L".\\u.log", installDir + L" \\u.log",
          std::wstring(L"C:/Program Files/E2E App/u.log"), installDir + L"\\help\\..\\u.log",
          std::wstring(L"c:\\PROGRAM FILES\\e2e app\\U.LOG"), L"\\\\?\\" + installDir + L"\\u.log",
          L"\\\\.\\" + installDir + L"\\u.log", installDir + L"\\help.\\u.log",
          std::wstring(L"C:\\Program Files\\.\\E2E App\\help\\u.log")}) {
        SCOPED_TRACE(narrow(log));
        std::wstring window;
        EXPECT_EQ(runExact(L"/quiet \"/log:" + log + L"\" " + app, window), 1622);
        EXPECT_EQ(window, L"") << narrow(window);
        EXPECT_EQ(world(), untouched);
    }
}

// Logs as other tools rewrite them: UTF-16 of either order without a
// mark, UTF-8 with one, a shared file on two lines in other letter case.
TEST_F(Unattended, LogsRewrittenInOtherEncodingsLowerEachCountOnce) {
    const std::vector<std::string> lines = {
        "ACTION: CreateDir: \"C:\\Program Files\\E2E App\"",
        "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\"",
        "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\"",
        "ACTION: DllSelfRegister: \"c:\\windows\\system\\e2eshr3.dll\"",
        "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR1.DLL\""};
    std::string ascii;
    for (const std::string& line : lines)
        ascii += line + "\r\n";
    const auto utf16 = [&](bool big, bool mark) {
        std::string out = mark ? (big ? "\xFE\xFF" : "\xFF\xFE") : "";
        for (char c : ascii) {
            out += big ? std::string{'\0', c} : std::string{c, '\0'};
        }
        return out;
    };
    for (const std::string& bytes :
         {utf16(false, false), utf16(true, false), utf16(true, true), "\xEF\xBB\xBF" + ascii}) {
        SCOPED_TRACE(bytes.substr(0, 4));
        buildApp();
        createFile(installDir + L"\\ST6UNST.LOG", bytes);
        std::wstring window;
        ASSERT_EQ(runExact(L"/quiet " + app, window), 0) << narrow(window);
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);
        EXPECT_FALSE(folderExists(menu));
        EXPECT_FALSE(folderExists(installDir));
        cleanUp();
    }
}

// A shared file the log names with a letter the code page lacks: the 8-bit
// registry calls would send the code page's default character instead, and
// name another value.
TEST_F(Unattended, SharedFileOutsideTheCodePageLowersNoOtherCount) {
    const std::wstring unicodeName = L"C:\\WINDOWS\\SYSTEM\\E2E\u0100.DLL";
    const std::wstring defaultName = L"C:\\WINDOWS\\SYSTEM\\E2E?.DLL";
    buildApp();
    createFile(installDir + L"\\ST6UNST.LOG",
               "\xEF\xBB\xBF"
               "ACTION: CreateDir: \"C:\\Program Files\\E2E App\"\r\n"
               "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2E\xC4\x80.DLL\"\r\n");
    setDword(sharedDllsKey, unicodeName, 3);
    setDword(sharedDllsKey, defaultName, 4);
    std::wstring window;
    const long code = runExact(L"/quiet " + app, window);
    const auto other = dwordValue(sharedDllsKey, defaultName);
    const auto own = dwordValue(sharedDllsKey, unicodeName);
    deleteValue(sharedDllsKey, unicodeName);
    deleteValue(sharedDllsKey, defaultName);
    EXPECT_EQ(other, 4u) << "another value's count was lowered";
    EXPECT_EQ(own, 3u);
    EXPECT_EQ(code, 1603) << "a count that stays is not reported";
}

// A name typed with a letter the code page lacks is no other application's
// name that holds the code page's default character there.
TEST_F(Unattended, NameOutsideTheCodePageFindsNoOtherApplication) {
    const std::wstring other = L"e2e?pp.exe";
    buildApp();
    registerApp(other, installDir + L"\\e2eapp.exe");
    const std::vector<std::string> untouched = world();
    std::wstring window;
    const long code = runExact(L"/quiet e2e\u0100pp.exe", window);
    const bool otherStays = keyExists(appPathsKey + L"\\" + other);
    deleteKeyTree(appPathsKey + L"\\" + other);
    EXPECT_EQ(code, 1605);
    EXPECT_TRUE(otherStays);
    EXPECT_EQ(world(), untouched);
}

TEST_F(Unattended, OneRunPerApplicationAtATime) {
    buildApp();
    const std::vector<std::string> untouched = world();
    Uninstaller first(app);
    HWND form = first.form();
    ASSERT_NE(form, nullptr) << narrow(first.takeErrorReport(0));

    // The same application in another spelling: refused before anything.
    EXPECT_EQ(exitOf(L"/quiet E2EAPP.EXE"), 1618);
    {
        Uninstaller second(L"E2EApp.exe");
        const std::wstring report = second.takeErrorReport();
        EXPECT_NE(report.find(L"Another uninstall of E2EApp.exe is running"), std::wstring::npos)
            << narrow(report);
        EXPECT_EQ(second.exitStatus(), 1618);
    }
    // Another application is not held up.
    EXPECT_EQ(exitOf(L"/quiet e2eother.exe"), 1605);
    EXPECT_EQ(world(), untouched);

    PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.exitStatus(), 1602);
    EXPECT_EQ(exitOf(L"/quiet " + app), 0);
    EXPECT_FALSE(folderExists(installDir));
}

} // namespace
} // namespace e2e
