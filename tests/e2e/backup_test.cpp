// A run with /backup: everything it removes is copied out before the first
// change, and a backup folder it may not use changes nothing.
#include "tests/e2e/scenarios.h"

#include <string>
#include <vector>

namespace e2e {
namespace {

const std::wstring backups = L"C:\\E2E Backups";
const std::wstring backupLink = L"C:\\E2E Backups Link";

struct Stamp {
    DWORD attributes = 0;
    FILETIME written{};
    FILETIME createdAt{};
};

Stamp stampOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    Stamp stamp;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        stamp.attributes = data.dwFileAttributes;
        stamp.written = data.ftLastWriteTime;
        stamp.createdAt = data.ftCreationTime;
    }
    return stamp;
}

bool sameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

class Backup : public Scenario {
protected:
    void cleanUpOwn() override {
        removeLink(backupLink);
        removeTree(backups);
    }

    // The small install with a data file that is hidden and dated 2001, a
    // sub-folder, and the shared counts.
    static void buildInstall() {
        buildSmallInstall({L"data.dat"});
        createFolder(installDir + L"\\Sub");
        createFile(installDir + L"\\Sub\\deep.txt", "deep contents");
        createFile(installDir + L"\\data.dat", std::string("binary\0\xff\r\n", 10));
        ASSERT_TRUE(setOldHiddenFile(installDir + L"\\data.dat"));
        writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\"",
                              "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\""});
        registerWithSharedCounts();
    }

    // A run that must be refused: the world stays as it was.
    static void expectRefusedUnchanged(const std::wstring& folder, long expected,
                                       const std::wstring& mode = L"/quiet") {
        const long code = Uninstaller(mode + L" \"/backup:" + folder + L"\" " + app).exitStatus();
        EXPECT_EQ(code, expected) << narrow(folder);
        EXPECT_TRUE(fileExists(installDir + L"\\data.dat"));
        EXPECT_TRUE(fileExists(installDir + L"\\ST6UNST.LOG"));
        EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]).value_or(0), 3u);
    }
};

TEST_F(Backup, QuietRunCopiesEverythingItRemovesFirst) {
    buildInstall();
    const Stamp before = stampOf(installDir + L"\\data.dat");
    createFolder(backups);
    EXPECT_EQ(Uninstaller(L"/quiet \"/backup:" + backups + L"\" " + app).exitStatus(), 0);
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]).value_or(0), 2u);

    const std::vector<std::wstring> made = subFoldersOf(backups);
    ASSERT_EQ(made.size(), 1u);
    const std::wstring folder = backups + L"\\" + made[0];
    EXPECT_NE(made[0].find(L"e2eapp.exe"), std::wstring::npos) << narrow(made[0]);

    const std::wstring copy = folder + L"\\files\\0\\data.dat";
    EXPECT_EQ(readFile(copy), std::string("binary\0\xff\r\n", 10));
    const Stamp after = stampOf(copy);
    EXPECT_EQ(after.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(sameTime(after.written, before.written));
    EXPECT_TRUE(sameTime(after.createdAt, before.createdAt));
    EXPECT_EQ(readFile(folder + L"\\files\\0\\Sub\\deep.txt"), "deep contents");
    EXPECT_TRUE(fileExists(folder + L"\\files\\0\\e2eapp.exe"));
    EXPECT_TRUE(fileExists(folder + L"\\files\\0\\ST6UNST.LOG"));

    const std::string manifest = readFile(folder + L"\\manifest.txt");
    for (const std::string part :
         {"Application: e2eapp.exe\r\n",
          "Machine: ", "Program version: ", "Root 0: C:\\Program Files\\E2E App\r\n",
          "File: 0 data.dat\r\n", "File: 0 Sub\\deep.txt\r\n", "Folder: 0 Sub\r\n",
          "Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
          "Paths\\e2eapp.exe\r\n",
          "Count: 3 -> 2 | HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
          "SharedDLLs | C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\r\n",
          "End of backup: "})
        EXPECT_NE(manifest.find(part), std::string::npos) << part << "\n" << manifest;
    EXPECT_EQ(readFile(folder + L"\\registry.txt").rfind("uninstall.exe registry backup 1\r\n", 0),
              0u);
}

TEST_F(Backup, WindowRunWritesItBeforeTheRemoval) {
    buildInstall();
    createFolder(backups);
    std::wstring report;
    EXPECT_EQ(uninstallEverything(L"\"/backup:" + backups + L"\" " + app, report), 0)
        << narrow(report);
    EXPECT_FALSE(folderExists(installDir));
    const std::vector<std::wstring> made = subFoldersOf(backups);
    ASSERT_EQ(made.size(), 1u);
    const std::wstring folder = backups + L"\\" + made[0];
    EXPECT_EQ(readFile(folder + L"\\files\\0\\Sub\\deep.txt"), "deep contents");
    EXPECT_NE(readFile(folder + L"\\manifest.txt").find("File: 0 data.dat\r\n"), std::string::npos);
}

TEST_F(Backup, FolderItMayNotUseChangesNothing) {
    buildInstall();
    expectRefusedUnchanged(installDir, 1622);
    expectRefusedUnchanged(installDir + L"\\Sub", 1622);
    // The window's runs refuse it before the window waits for anybody.
    expectRefusedUnchanged(installDir + L"\\Sub", 1622, L"/passive");
    expectRefusedUnchanged(startMenuRoot + group, 1622);
    expectRefusedUnchanged(L"C:\\E2E No Such Folder", 1622);
    // An old setup registers the folder with short (8.3) steps; the backup
    // named in full is still inside it, and so the other way round.
    wchar_t shortName[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(installDir.c_str(), shortName, MAX_PATH);
    const std::wstring shortDir(shortName, length < MAX_PATH ? length : 0);
    if (!shortDir.empty() && shortDir != installDir) {
        registerApp(app, shortDir + L"\\" + app);
        expectRefusedUnchanged(installDir + L"\\Sub", 1622);
        registerApp(app, installDir + L"\\" + app);
        expectRefusedUnchanged(shortDir + L"\\Sub", 1622);
    }
    createFolder(linkTarget);
    if (!createFolderLink(backupLink, linkTarget))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    expectRefusedUnchanged(backupLink, 1622);
    expectRefusedUnchanged(backupLink + L"\\below", 1622);
    EXPECT_TRUE(subFoldersOf(linkTarget).empty());
}

// Another program holds a file with no sharing at all: the backup cannot
// copy it, so the run removes nothing and the backup has no manifest.
TEST_F(Backup, FileItCannotReadStopsTheRunBeforeAnyChange) {
    buildInstall();
    createFolder(backups);
    HANDLE held = CreateFileW((installDir + L"\\Sub\\deep.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    expectRefusedUnchanged(backups, 1603);
    CloseHandle(held);
    EXPECT_TRUE(fileExists(installDir + L"\\Sub\\deep.txt"));
    const std::vector<std::wstring> made = subFoldersOf(backups);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_FALSE(fileExists(backups + L"\\" + made[0] + L"\\manifest.txt"));
}

// A link in the install folder to a file outside it, which the run leaves
// standing: the backup holds neither it nor what it leads to.
TEST_F(Backup, HoldsNothingOfAFileALinkLeadsTo) {
    buildInstall();
    createFolder(backups);
    createFolder(linkTarget);
    createFile(linkTarget + L"\\secret.txt", "someone else's secret");
    if (!createFileLink(installDir + L"\\secret.txt", linkTarget + L"\\secret.txt"))
        GTEST_SKIP() << "this system cannot make a file link for the test";
    const long code = Uninstaller(L"/quiet \"/backup:" + backups + L"\" " + app).exitStatus();
    removeLink(installDir + L"\\secret.txt");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readFile(linkTarget + L"\\secret.txt"), "someone else's secret");
    const std::vector<std::wstring> made = subFoldersOf(backups);
    ASSERT_EQ(made.size(), 1u);
    const std::wstring folder = backups + L"\\" + made[0];
    EXPECT_FALSE(fileExists(folder + L"\\files\\0\\secret.txt"));
    const std::string manifest = readFile(folder + L"\\manifest.txt");
    EXPECT_NE(manifest.find("File: 0 data.dat\r\n"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("secret"), std::string::npos) << manifest;
}

TEST_F(Backup, PreviewWritesNoBackup) {
    buildInstall();
    createFolder(backups);
    EXPECT_EQ(Uninstaller(L"/preview \"/backup:" + backups + L"\" " + app).exitStatus(), 0);
    EXPECT_TRUE(subFoldersOf(backups).empty());
    EXPECT_TRUE(fileExists(installDir + L"\\data.dat"));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));
}

} // namespace
} // namespace e2e
