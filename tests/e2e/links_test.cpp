// Links put where the run deletes: in a start-menu group's path, in place of
// a listed folder while the window waits, and as files. Whatever lies behind
// a link belongs to someone else and must come through every run untouched.
#include "tests/e2e/scenarios.h"

namespace e2e {
namespace {

namespace driver = uninst::driver;

const std::wstring groupLink = startMenuRoot + L"E2E Link";
const std::wstring fileLink = installDir + L"\\e2e linked.txt";
const std::wstring precious = linkTarget + L"\\precious.doc";
// Listed after more files than the run holds open.
const std::wstring lateFileLink = installDir + L"\\zlate\\e2e linked.txt";
const std::wstring lateVictim = linkTarget + L"\\late.doc";

class Links : public Scenario {
protected:
    // Links first: the common clean-up would delete a file link's target.
    void cleanUpOwn() override {
        removeLink(fileLink);
        removeLink(lateFileLink);
        removeLink(groupLink);
        removeLink(installDir + L"\\data");
        removeLink(startMenuRoot + group);
        removeTree(startMenuRoot + group + L" moved");
    }

    static void buildApplication(const std::vector<std::string>& logLines) {
        createFolder(installDir);
        createFile(installDir + L"\\e2eapp.exe");
        writeLog(installDir, logLines);
        registerApp(app, installDir + L"\\e2eapp.exe");
    }
};

// A group of two steps whose first is a link: removing the group would have
// removed the same-named folder behind the link.
TEST_F(Links, GroupReachedThroughALinkIsLeftAlone) {
    createFolder(linkTarget + L"\\E2E App Group");
    createFile(linkTarget + L"\\E2E App Group\\precious.doc");
    createFolder(startMenuRoot.substr(0, startMenuRoot.size() - 1));
    if (!createFolderLink(groupLink, linkTarget))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    buildApplication({"ACTION: ShellLink: \"E2E Link\\E2E App Group\",\"E2E App\",\"e2eapp.exe\""});

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 0) << narrow(report);

    EXPECT_TRUE(fileExists(linkTarget + L"\\E2E App Group\\precious.doc"));
    EXPECT_TRUE(folderExists(groupLink)) << "the link itself is not the application's to remove";
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// The classic uninstaller race: a listed sub-folder is swapped for a link
// between the window showing and the click. The listed names exist behind
// the link too.
TEST_F(Links, ListedFolderSwappedForALinkBeforeTheClickIsNotDeletedThrough) {
    createFolder(installDir + L"\\data");
    createFile(installDir + L"\\data\\a.txt");
    createFile(installDir + L"\\data\\b.txt");
    createFolder(linkTarget);
    createFile(linkTarget + L"\\a.txt", "someone else's");
    createFile(linkTarget + L"\\b.txt", "someone else's");
    buildApplication({"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    ASSERT_EQ(driver::rowCount(driver::fileList(form)), 3);
    ASSERT_TRUE(MoveFileW((installDir + L"\\data").c_str(), (installDir + L"\\moved").c_str()))
        << GetLastError();
    if (!createFolderLink(installDir + L"\\data", linkTarget))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    markAndPress(form, {});
    std::wstring report;
    ASSERT_EQ(finish(run, report), 0) << narrow(report);

    EXPECT_TRUE(fileExists(linkTarget + L"\\a.txt"));
    EXPECT_TRUE(fileExists(linkTarget + L"\\b.txt"));
    EXPECT_TRUE(folderExists(installDir + L"\\data")) << "the link was removed";
    EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// The same swap, the link leading to an empty folder, and a file saved in
// another listed folder meanwhile: the sweep removes the folders the
// deletion emptied all together, without a listing, and must take neither
// the link's target, which is empty as they are, nor the folder that now
// holds the user's file. The last folder entered ("notes\\deep") stays by
// the old rule until its parent goes.
TEST_F(Links, EmptiedFoldersGoButNeitherALinkSwappedInNorAFolderWithANewFile) {
    createFolder(installDir + L"\\another");
    createFile(installDir + L"\\another\\o.txt");
    createFolder(installDir + L"\\data");
    createFile(installDir + L"\\data\\a.txt");
    createFolder(installDir + L"\\notes\\deep");
    createFile(installDir + L"\\notes\\deep\\n.txt");
    createFolder(linkTarget + L"\\empty");
    buildApplication({"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    ASSERT_EQ(driver::rowCount(driver::fileList(form)), 4);
    createFile(installDir + L"\\another\\saved since.txt", "mine");
    ASSERT_TRUE(MoveFileW((installDir + L"\\data").c_str(), (installDir + L"\\moved").c_str()))
        << GetLastError();
    if (!createFolderLink(installDir + L"\\data", linkTarget + L"\\empty"))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    markAndPress(form, {});
    std::wstring report;
    finish(run, report);

    EXPECT_TRUE(folderExists(linkTarget + L"\\empty")) << "the link's target was removed";
    EXPECT_TRUE(folderExists(installDir + L"\\data")) << "the link was removed";
    EXPECT_TRUE(fileExists(installDir + L"\\another\\saved since.txt"));
    EXPECT_FALSE(fileExists(installDir + L"\\another\\o.txt"));
    EXPECT_FALSE(folderExists(installDir + L"\\notes"));
    EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// The group is listed only after the click: swapped for a link while the
// window waits, it leads to someone else's folder, whose file of the
// shortcut's name stays, and so does the link.
TEST_F(Links, GroupSwappedForALinkBeforeTheClickIsNotDeletedThrough) {
    const std::wstring groupDir = startMenuRoot + group;
    createFolder(linkTarget);
    createFile(linkTarget + L"\\E2E App.lnk", "someone else's");
    createFolder(groupDir);
    createFile(groupDir + L"\\E2E App.lnk", "shortcut");
    buildApplication({"ACTION: ShellLink: \"E2E App Group\",\"E2E App\",\"e2eapp.exe\""});

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    ASSERT_TRUE(MoveFileW(groupDir.c_str(), (groupDir + L" moved").c_str())) << GetLastError();
    if (!createFolderLink(groupDir, linkTarget))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    markAndPress(form, {});
    std::wstring report;
    ASSERT_EQ(finish(run, report), 0) << narrow(report);

    EXPECT_EQ(readFile(linkTarget + L"\\E2E App.lnk"), "someone else's");
    EXPECT_TRUE(folderExists(groupDir)) << "the link was removed";
    EXPECT_TRUE(fileExists(groupDir + L" moved\\E2E App.lnk"))
        << "a folder moved out of the group's name is not the group";
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// Wine 8 shows a symbolic link to a file as an ordinary file, so it is
// listed; deleting it as the system deletes a file would delete its target.
TEST_F(Links, FileLinkIsListedButItsTargetIsNeverDeleted) {
    createFolder(linkTarget);
    createFile(precious, "someone else's");
    buildApplication({"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    if (!createFileLink(fileLink, precious))
        GTEST_SKIP() << "this system cannot make a file link for the test";

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 0) << narrow(report);

    EXPECT_TRUE(fileExists(precious));
    EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// A large install: the run holds the first files from their check to their
// deletion and opens the rest again. A folder holding both kinds,
// swapped for a link while the question about a file in use waits, and file
// links before and past the limit, lead to nothing being deleted outside
// and stop nothing.
TEST_F(Links, LargeInstallSwappedForALinkWhileTheQuestionWaitsIsNotDeletedThrough) {
    createNumberedFiles(installDir + L"\\data", pastTheHeldLimit);
    createFolder(linkTarget);
    for (const wchar_t* name : {L"\\f0001.dat", L"\\f2100.dat"})
        createFile(linkTarget + name, "someone else's");
    createFile(precious, "someone else's");
    createFile(lateVictim, "someone else's");
    // Read-only: past the limit the link reads as a file that refuses
    // unless it is found out, and every run stops over it.
    setReadOnly(lateVictim, true);
    createFolder(installDir + L"\\zlate");
    buildApplication({"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    if (!createFileLink(fileLink, precious) || !createFileLink(lateFileLink, lateVictim))
        GTEST_SKIP() << "this system cannot make a file link for the test";
    Hold inUse(installDir + L"\\e2eapp.exe");
    ASSERT_TRUE(inUse.held());
    const DescriptorSqueeze squeeze(pastTheHeldLimit - 200);
    if (!squeeze.squeezed())
        GTEST_SKIP() << "the server's descriptor limit is too far to bring the run's hold below "
                     << pastTheHeldLimit;

    Uninstaller run(app);
    HWND box = pressAndAwaitQuestion(run);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(MoveFileW((installDir + L"\\data").c_str(), (installDir + L"\\moved").c_str()))
        << GetLastError();
    if (!createFolderLink(installDir + L"\\data", linkTarget))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    inUse.release();
    driver::answer(box, IDRETRY);
    for (int tries = 0; tries < 250 && IsWindow(box); ++tries)
        Sleep(20);
    std::wstring report;
    EXPECT_EQ(finish(run, report), 0) << narrow(report);

    for (const std::wstring& file :
         {linkTarget + L"\\f0001.dat", linkTarget + L"\\f2100.dat", precious, lateVictim})
        EXPECT_TRUE(fileExists(file)) << narrow(file);
    EXPECT_TRUE(folderExists(installDir + L"\\data")) << "the link was removed";
    EXPECT_FALSE(fileExists(installDir + L"\\e2eapp.exe"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// A group the setup made level by level goes whole, however deep: one level
// per step of a path as long as the system allows would exhaust a recursive
// walk.
TEST_F(Links, DeepGroupFolderIsRemovedWhole) {
    std::wstring deep = L"\\\\?\\" + startMenuRoot + group;
    std::string steps = narrow(group);
    std::vector<std::string> log = {"ACTION: CreateDir: \"" + narrow(startMenuRoot) + steps + "\""};
    for (int level = 0; level < 150; ++level) {
        deep += L"\\d";
        steps += "\\d";
        log.push_back("ACTION: CreateDir: \"" + narrow(startMenuRoot) + steps + "\"");
    }
    log.push_back("ACTION: ShellLink: \"" + steps + "\",\"E2E App\",\"e2eapp.exe\"");
    createFolder(deep);
    createFile(deep + L"\\E2E App.lnk");
    buildApplication(log);

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 0) << narrow(report);

    EXPECT_FALSE(folderExists(startMenuRoot + group));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

} // namespace
} // namespace e2e
