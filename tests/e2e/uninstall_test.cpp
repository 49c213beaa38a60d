// "&Uninstall": what one press removes, keeps and reports.
#include "tests/e2e/scenarios.h"

#include <algorithm>

namespace e2e {
namespace {

namespace driver = uninst::driver;

using Uninstall = Scenario;

TEST_F(Uninstall, RoadOfOneRun) {
    const std::wstring menu = startMenuRoot + group;
    createFolder(installDir + L"\\bin");
    createFolder(installDir + L"\\help\\img");
    createFolder(menu);
    for (const wchar_t* name : {L"e2eapp.exe", L"data.mdb", L"readme.txt", L"bin\\e2eapp.dll",
                                L"help\\manual.hlp", L"help\\img\\logo.bmp"})
        createFile(installDir + L"\\" + name);
    createFile(menu + L"\\E2E App.lnk");
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\"",
                          "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\"",
                          "ACTION: ShellLink: \"E2E App Group\",\"E2E App\",\"e2eapp.exe\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR1.DLL\"",
                          "ACTION: DllSelfRegister: \"C:\\WINDOWS\\SYSTEM\\E2ESHR0.OCX\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ENONE.DLL\""});
    registerWithSharedCounts();
    // Another application's entries, by name and by AppToUninstall.
    registerApp(L"e2eother.exe", L"C:\\Program Files\\E2E Other\\e2eother.exe");
    setString(uninstallKey + L"\\E2E Other App", L"AppToUninstall", L"e2eother.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(driver::rowCount(driver::fileList(form)), 6);
    markAndPress(form, {L"data.mdb"});
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));

    EXPECT_TRUE(fileExists(installDir + L"\\data.mdb"));
    for (const wchar_t* name : {L"e2eapp.exe", L"readme.txt", L"bin\\e2eapp.dll",
                                L"help\\manual.hlp", L"help\\img\\logo.bmp", L"ST6UNST.LOG"})
        EXPECT_FALSE(fileExists(installDir + L"\\" + name)) << narrow(name);
    EXPECT_FALSE(folderExists(installDir + L"\\bin"));
    EXPECT_FALSE(folderExists(installDir + L"\\help"));
    EXPECT_FALSE(folderExists(menu));

    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[2]), 0u);
    EXPECT_FALSE(dwordValue(sharedDllsKey, sharedFiles[3]).has_value());

    EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\e2eother.exe"));
    EXPECT_TRUE(keyExists(uninstallKey + L"\\E2E Other App"));
}

// A shared control is copied, then registered: two lines name one file,
// which its setup counted once. Lowered twice, 3 became 1 and took another
// application's reference.
TEST_F(Uninstall, FileOnTwoLinesLosesOneReference) {
    buildSmallInstall();
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\"",
                          "ACTION: DllSelfRegister: \"C:\\WINDOWS\\SYSTEM\\e2eshr3.dll\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR1.DLL\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\""});
    registerWithSharedCounts();
    setDword(sharedDllsKey, sharedFiles[3], 3);

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 0) << narrow(report);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 0u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[2]), 0u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[3]), 3u) << "named by no line";
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

TEST_F(Uninstall, NamesInAnyScriptAreShownKeptAndRemoved) {
    const std::wstring folder = installDir + L"\\Ünïcode";
    const std::vector<std::wstring> names = {L"Café.txt", L"日本語.txt", L"Ελληνικά.txt"};
    createFolder(folder);
    for (const std::wstring& name : names)
        createFile(folder + L"\\" + name);
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerApp(app, installDir + L"\\e2eapp.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    std::vector<std::wstring> shown = texts(driver::rows(driver::fileList(form)));
    std::vector<std::wstring> expected;
    for (const std::wstring& name : names)
        expected.push_back(folder + L"\\" + name);
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(narrowAll(shown), narrowAll(expected));

    markAndPress(form, {L"Café.txt"});
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));
    EXPECT_TRUE(fileExists(folder + L"\\Café.txt"));
    EXPECT_FALSE(fileExists(folder + L"\\日本語.txt"));
    EXPECT_FALSE(fileExists(folder + L"\\Ελληνικά.txt"));
}

// Two files whose names differ only in case, as a host's file system holds
// them: the marked one stays with its content, its twin goes.
TEST_F(Uninstall, CaseTwinsAreTwoFilesOfWhichTheMarkedOneStays) {
    createFolder(installDir);
    createFile(installDir + L"\\e2eapp.exe");
    createFile(installDir + L"\\Data.txt", "keep me");
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerApp(app, installDir + L"\\e2eapp.exe");
    if (!createCaseTwin(installDir, L"data.txt", "twin"))
        GTEST_SKIP() << "this system cannot hold names that differ only in case";

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    ASSERT_GE(driver::findRow(driver::fileList(form), installDir + L"\\data.txt"), 0);
    markAndPress(form, {installDir + L"\\Data.txt"});
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));

    EXPECT_EQ(narrowAll(filesInListingOrder(installDir)), narrowAll({installDir + L"\\Data.txt"}));
    EXPECT_EQ(readFile(installDir + L"\\Data.txt"), "keep me");
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

TEST_F(Uninstall, FindsTheUninstallEntryThroughAppToUninstall) {
    buildSmallInstall();
    setString(uninstallKey + L"\\{E2E-APP-ID}", L"AppToUninstall", L"E2EAPP.EXE");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    markAndPress(form, {});
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));
    EXPECT_FALSE(keyExists(uninstallKey + L"\\{E2E-APP-ID}"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    EXPECT_FALSE(folderExists(installDir));
}

TEST_F(Uninstall, AltUPressesUninstall) {
    buildSmallInstall({L"kept.txt"});

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    HWND list = driver::fileList(form);
    ASSERT_TRUE(driver::setMark(list, driver::findRow(list, L"kept.txt"), true));
    // Alt+U as the keyboard delivers it to the focused list: a system
    // character with the Alt bit (29) set, taken from the message queue.
    PostMessageW(list, WM_SYSCHAR, L'u', LPARAM{1} << 29 | 1);
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));
    EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));
    EXPECT_TRUE(fileExists(installDir + L"\\kept.txt"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

TEST_F(Uninstall, ReadOnlyFileIsAskedAboutBeforeAnythingChanges) {
    createFolder(installDir);
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"})
        createFile(installDir + L"\\" + name);
    setReadOnly(installDir + L"\\b.txt", true);
    // Seven lines: the bar stands at 14 once the log has been read.
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\"", "", "free text",
                          "ACTION: RegKey: \"HKEY_LOCAL_MACHINE\\Software\\E2E\"",
                          "ACTION: CreateDir: \"C:\\Program Files\\E2E App\\sub\"", "x", "last"});
    registerApp(app, installDir + L"\\e2eapp.exe");

    {
        Uninstaller run(app);
        HWND box = pressAndAwaitQuestion(run);
        ASSERT_NE(box, nullptr);
        const std::wstring report = driver::messageText(box);
        EXPECT_NE(report.find(installDir + L"\\b.txt"), std::wstring::npos) << narrow(report);
        // Asked before the log is read: nothing has changed yet.
        HWND form = run.form();
        EXPECT_EQ(driver::progressPosition(driver::progressBar(form)), 0);
        // A close request while the question is up neither takes it away nor
        // ends the run as one closed unused.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(form, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        EXPECT_TRUE(IsWindow(box));
        driver::answer(box, IDCANCEL);
        EXPECT_EQ(run.exitStatus(), 1602);
    }
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"})
        EXPECT_TRUE(fileExists(installDir + L"\\" + name)) << narrow(name);
    EXPECT_TRUE(fileExists(installDir + L"\\ST6UNST.LOG"));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));

    setReadOnly(installDir + L"\\b.txt", false);
    expectEverythingUninstalled();
}

TEST_F(Uninstall, DirectoryLinkIsNeitherListedNorEntered) {
    createFolder(linkTarget);
    createFile(linkTarget + L"\\precious.doc");
    createFolder(linkTarget + L"\\inner");
    createFile(linkTarget + L"\\inner\\more.doc");
    createFolder(installDir);
    createFile(installDir + L"\\e2eapp.exe");
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    if (!createFolderLink(installDir + L"\\linked", linkTarget))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    registerApp(app, installDir + L"\\e2eapp.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(shownRows(form), narrowAll({installDir + L"\\e2eapp.exe"}));
    markAndPress(form, {});
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));

    EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));
    EXPECT_TRUE(fileExists(linkTarget + L"\\precious.doc"));
    EXPECT_TRUE(fileExists(linkTarget + L"\\inner\\more.doc"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

TEST_F(Uninstall, InstallFolderHoldingOnlyTheLogIsRemoved) {
    createFolder(installDir);
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerWithUninstallEntry(installDir + L"\\e2eapp.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(driver::rowCount(driver::fileList(form)), 0);
    markAndPress(form, {});
    // The sweep already took the folder; the run goes on to the registry.
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

TEST_F(Uninstall, MissingStartMenuGroupFolderDoesNotStopTheRun) {
    createFolder(installDir);
    createFile(installDir + L"\\e2eapp.exe");
    writeLog(installDir,
             {"ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\""});
    registerApp(app, installDir + L"\\e2eapp.exe");

    expectEverythingUninstalled();
}

} // namespace
} // namespace e2e
