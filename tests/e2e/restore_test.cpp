// /restore after a run with /backup: the world before the run comes back,
// nothing that stands there now is written over, and a backup that is not
// whole changes nothing.
#include "tests/e2e/scenarios.h"
#include "tests/support/win32_handles.h"

#include <shlobj.h>

#include <string>
#include <vector>

namespace e2e {
namespace {

using uninst::test::FileHandle;

const std::wstring backups = L"C:\\E2E Restore Backups";
const std::wstring restoreLog = L"C:\\E2E Restore Backups\\restore.log";
const std::wstring classicGroup = startMenuRoot + group;

std::string hex(const FILETIME& time) {
    return std::to_string(time.dwHighDateTime) + ":" + std::to_string(time.dwLowDateTime);
}

// Each file below `folder` with its attributes, times and contents, and each
// folder by its name.
std::vector<std::string> filesWithStamps(const std::wstring& folder) {
    std::vector<std::string> seen;
    std::vector<std::wstring> pending{folder};
    while (!pending.empty()) {
        const std::wstring at = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW found{};
        HANDLE find = FindFirstFileW((at + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = at + L"\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                seen.push_back(narrow(path) + "\\");
                pending.push_back(path);
                continue;
            }
            seen.push_back(narrow(path) + " attributes " + std::to_string(found.dwFileAttributes) +
                           " written " + hex(found.ftLastWriteTime) + " created " +
                           hex(found.ftCreationTime) + " = " + readFile(path));
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    std::sort(seen.begin(), seen.end());
    return seen;
}

// A key and everything below it: each value with its type and bytes.
void dumpKey(HKEY parent, const std::wstring& path, const std::wstring& shown,
             std::vector<std::string>& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    out.push_back(narrow(shown));
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD nameLength = 512;
        BYTE data[4096];
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        out.push_back(narrow(shown) + " | " + narrow(std::wstring(name, nameLength)) + " | " +
                      std::to_string(type) + " | " +
                      std::string(reinterpret_cast<const char*>(data), size));
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        children.emplace_back(name, nameLength);
    }
    for (const std::wstring& child : children)
        dumpKey(key, child, shown + L"\\" + child, out);
    RegCloseKey(key);
}

void setRaw(const std::wstring& path, const std::wstring& name, DWORD type,
            const std::string& bytes) {
    createKey(path);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

class Restore : public Scenario {
protected:
    void SetUp() override {
        commonPrograms = folderPath(CSIDL_COMMON_PROGRAMS);
        removeTree(commonPrograms + L"\\" + group);
        Scenario::SetUp();
    }
    void TearDown() override {
        Scenario::TearDown();
        removeTree(commonPrograms + L"\\" + group);
    }
    void cleanUpOwn() override { removeTree(backups); }

    // An install with a hidden data file dated 2001, a sub-folder, a group in the classic start
    // menu and one in the all-users Programs folder, entries holding values of every kind and a
    // sub-key, and shared counts.
    void buildInstall() const {
        buildSmallInstall({L"readme.txt"});
        createFolder(installDir + L"\\Sub\\Deeper");
        createFile(installDir + L"\\Sub\\Deeper\\deep.txt", "deep contents");
        createFile(installDir + L"\\data.dat", std::string("binary\0\xff\r\n", 10));
        createFile(installDir + L"\\settings.ini", "[settings]");
        ASSERT_TRUE(setOldHiddenFile(installDir + L"\\data.dat"));
        createFolder(classicGroup);
        createShortcut(classicGroup + L"\\E2E App.lnk", installDir + L"\\e2eapp.exe");
        createFolder(commonPrograms + L"\\" + group);
        createShortcut(commonPrograms + L"\\" + group + L"\\Read Me.lnk",
                       installDir + L"\\readme.txt");
        writeLog(installDir,
                 {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\"",
                  "ACTION: CreateDir: \"" + narrow(classicGroup) + "\"",
                  "ACTION: CreateDir: \"" + narrow(commonPrograms) + "\\" + narrow(group) + "\"",
                  "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\"",
                  "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR1.DLL\""});
        registerWithSharedCounts();
        const std::wstring entry = appPathsKey + L"\\" + app;
        setString(entry, L"Path", installDir);
        setRaw(entry, L"Binary", REG_BINARY, std::string("\x01\x00\xfe", 3));
        setRaw(entry, L"Multi", REG_MULTI_SZ, std::string("o\0n\0e\0\0\0t\0w\0o\0\0\0\0\0", 18));
        setExpandString(uninstallKey + L"\\" + app + L"\\Sub", L"%ProgramFiles%\\E2E App");
        setDword(uninstallKey + L"\\" + app + L"\\Sub", L"Number", 42);
    }

    std::vector<std::string> worldNow() const {
        std::vector<std::string> seen = filesWithStamps(installDir);
        for (const std::wstring& groupFolder : {classicGroup, commonPrograms + L"\\" + group}) {
            const std::vector<std::string> inGroup = filesWithStamps(groupFolder);
            seen.push_back(narrow(groupFolder) + (folderExists(groupFolder) ? " here" : " gone"));
            for (const std::string& item : inGroup)
                seen.push_back(item.substr(0, item.find(" attributes ")));
        }
        dumpKey(HKEY_LOCAL_MACHINE, appPathsKey + L"\\" + app, appPathsKey + L"\\" + app, seen);
        dumpKey(HKEY_LOCAL_MACHINE, uninstallKey + L"\\" + app, uninstallKey + L"\\" + app, seen);
        for (const std::wstring& shared : sharedFiles)
            seen.push_back(narrow(shared) + " " +
                           std::to_string(dwordValue(sharedDllsKey, shared).value_or(1000)));
        return seen;
    }

    // The backup a quiet run with /backup wrote; empty when the run failed.
    static std::wstring removeWithBackup() {
        createFolder(backups);
        const long code = Uninstaller(L"/quiet \"/backup:" + backups + L"\" " + app).exitStatus();
        EXPECT_EQ(code, 0);
        EXPECT_FALSE(folderExists(installDir));
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
        const std::vector<std::wstring> made = subFoldersOf(backups);
        if (code != 0 || made.size() != 1)
            return {};
        return backups + L"\\" + made[0];
    }

    static long restore(const std::wstring& folder, const std::wstring& options = L"/quiet") {
        return Uninstaller(options + L" \"/log:" + restoreLog + L"\" \"/restore:" + folder + L"\"")
            .exitStatus();
    }

    // A backup that is not whole: nothing changes, and the run ends 1620.
    void expectRefusedUnchanged(const std::wstring& folder, const char* what) const {
        const std::vector<std::string> before = worldNow();
        EXPECT_EQ(restore(folder), 1620) << what;
        EXPECT_EQ(worldNow(), before) << what;
        EXPECT_NE(readFile(restoreLog).find("nothing has been restored"), std::string::npos)
            << what << "\n"
            << readFile(restoreLog);
        DeleteFileW(restoreLog.c_str());
    }

    std::wstring commonPrograms;
};

TEST_F(Restore, GivesBackExactlyTheWorldBeforeTheRun) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::vector<std::string> before = worldNow();
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]).value_or(0), 2u);
    EXPECT_FALSE(folderExists(classicGroup));
    EXPECT_FALSE(folderExists(commonPrograms + L"\\" + group));
    EXPECT_EQ(restore(backup), 0) << readFile(restoreLog);
    EXPECT_EQ(worldNow(), before) << readFile(restoreLog);
}

TEST_F(Restore, CountAnotherSetupRaisedSinceIsRaisedByWhatTheRunLowered) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    setDword(sharedDllsKey, sharedFiles[0], 5);
    deleteValue(sharedDllsKey, sharedFiles[1]);
    EXPECT_EQ(restore(backup), 0) << readFile(restoreLog);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 6u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[1]), 1u);
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[2]), 0u);
}

TEST_F(Restore, FileThatExistsNowIsKeptAndNamed) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    createFolder(installDir);
    createFile(installDir + L"\\data.dat", "made since");
    EXPECT_EQ(restore(backup), 1603);
    EXPECT_EQ(readFile(installDir + L"\\data.dat"), "made since");
    EXPECT_EQ(readFile(installDir + L"\\Sub\\Deeper\\deep.txt"), "deep contents");
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));
    const std::string log = readFile(restoreLog);
    EXPECT_NE(log.find("Kept, as it stands there now: file C:\\Program Files\\E2E App\\data.dat"),
              std::string::npos)
        << log;
}

TEST_F(Restore, RunTwiceTheSecondChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    ASSERT_EQ(restore(backup), 0) << readFile(restoreLog);
    const std::vector<std::string> restored = worldNow();
    DeleteFileW(restoreLog.c_str());
    EXPECT_EQ(restore(backup), 1603);
    EXPECT_EQ(worldNow(), restored);
    EXPECT_NE(readFile(restoreLog).find("Nothing restored"), std::string::npos)
        << readFile(restoreLog);
}

TEST_F(Restore, PreviewChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    const std::vector<std::string> after = worldNow();
    EXPECT_EQ(restore(backup, L"/preview"), 0) << readFile(restoreLog);
    EXPECT_EQ(worldNow(), after);
    const std::string log = readFile(restoreLog);
    EXPECT_NE(log.find("Planned: Restore file: C:\\Program Files\\E2E App\\Sub\\Deeper\\deep.txt"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Planned: Raise SharedDLLs count: C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL, "
                       "count 2 -> 3"),
              std::string::npos)
        << log;
}

TEST_F(Restore, DamagedBackupChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    const std::string manifest = readFile(backup + L"\\manifest.txt");
    const auto rewrite = [&](const std::string& text) {
        DeleteFileW((backup + L"\\manifest.txt").c_str());
        createFile(backup + L"\\manifest.txt", text);
    };
    std::string climbing = manifest;
    const std::string line = "File: 0 readme.txt";
    ASSERT_NE(climbing.find(line), std::string::npos) << manifest;
    climbing.replace(climbing.find(line), line.size(), "File: 0 ..\\..\\E2E readme.txt");
    rewrite(climbing);
    expectRefusedUnchanged(backup, "a path with ..");
    EXPECT_FALSE(fileExists(L"C:\\E2E readme.txt"));

    std::string foreign = manifest;
    const std::size_t machine = foreign.find("\r\nMachine: ");
    ASSERT_NE(machine, std::string::npos) << manifest;
    const std::size_t machineEnd = foreign.find("\r\n", machine + 2);
    foreign.replace(machine, machineEnd - machine, "\r\nMachine: E2E-OTHER-PC");
    rewrite(foreign);
    expectRefusedUnchanged(backup, "another machine's backup");

    rewrite(manifest);
    const std::wstring copy = backup + L"\\files\\0\\Sub\\Deeper\\deep.txt";
    const std::string copied = readFile(copy);
    DeleteFileW(copy.c_str());
    expectRefusedUnchanged(backup, "a missing copy");
    createFile(copy, copied);

    DeleteFileW((backup + L"\\manifest.txt").c_str());
    expectRefusedUnchanged(backup, "no manifest");
    EXPECT_EQ(restore(L"C:\\E2E No Such Backup"), 1622);
}

TEST_F(Restore, LinkPutInTheWayGetsNothingBehindIt) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    createFolder(linkTarget);
    if (!createFolderLink(installDir, linkTarget))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    EXPECT_EQ(restore(backup), 1603) << readFile(restoreLog);
    EXPECT_TRUE(filesInListingOrder(linkTarget).empty());
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    removeLink(installDir);
}

// Whoever can write the backup folder can make its copies say anything, but
// must not get the restore to copy what only the restoring user may read: a
// link among the copies' folders leads to another's file of the same size.
TEST_F(Restore, LinkAmongTheCopiesIsDamageAndNothingBehindItIsCopied) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    const std::wstring copies = backup + L"\\files\\0\\Sub\\Deeper";
    ASSERT_EQ(readFile(copies + L"\\deep.txt"), "deep contents");
    createFolder(linkTarget);
    createFile(linkTarget + L"\\deep.txt", "secret things");
    removeTree(copies);
    if (!createFolderLink(copies, linkTarget))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    expectRefusedUnchanged(backup, "a link among the copies");
    EXPECT_FALSE(fileExists(installDir + L"\\Sub\\Deeper\\deep.txt"));
    removeLink(copies);
}

// A copy or the manifest another program holds, a scanner say: the
// restore finds it before anything changes, and the backup is no damaged
// one.
TEST_F(Restore, FileOfTheBackupAnotherProgramHoldsChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    const std::vector<std::string> before = worldNow();
    for (const wchar_t* held : {L"\\files\\0\\Sub\\Deeper\\deep.txt", L"\\manifest.txt"}) {
        SCOPED_TRACE(narrow(held));
        const FileHandle file(CreateFileW((backup + held).c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        EXPECT_EQ(restore(backup), 1603);
        EXPECT_EQ(worldNow(), before);
        const std::string log = readFile(restoreLog);
        EXPECT_NE(log.find("Nothing has been restored"), std::string::npos) << log;
        DeleteFileW(restoreLog.c_str());
    }
    EXPECT_EQ(restore(backup), 0) << readFile(restoreLog);
}

// Past a few dozen copies they are judged several at a time; the first
// problem in the manifest's order still decides what the run says.
TEST_F(Restore, FirstProblemAmongManyCopiesDecidesTheOutcome) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    createFolder(installDir + L"\\Many");
    for (int i = 0; i < 150; ++i)
        createFile(installDir + L"\\Many\\part" + std::to_wstring(i) + L".txt",
                   "part " + std::to_string(i));
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    std::vector<std::wstring> copies;
    const std::string manifest = readFile(backup + L"\\manifest.txt");
    const std::string entry = "\r\nFile: 0 ";
    for (std::size_t at = manifest.find(entry); at != std::string::npos;
         at = manifest.find(entry, at + entry.size())) {
        const std::size_t from = at + entry.size();
        const std::string name = manifest.substr(from, manifest.find("\r\n", from) - from);
        copies.push_back(backup + L"\\files\\0\\" + std::wstring(name.begin(), name.end()));
    }
    ASSERT_GE(copies.size(), 150u) << manifest;
    const std::wstring early = copies[20];
    const std::wstring late = copies[130];
    const std::vector<std::string> before = worldNow();
    const auto heldWhileMissing = [&](const std::wstring& held, const std::wstring& missing) {
        const std::string kept = readFile(missing);
        ASSERT_TRUE(DeleteFileW(missing.c_str()));
        {
            const FileHandle file(
                CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(file);
            const long code = restore(backup);
            EXPECT_EQ(worldNow(), before);
            EXPECT_EQ(code, held == early ? 1603 : 1620) << readFile(restoreLog);
            DeleteFileW(restoreLog.c_str());
        }
        createFile(missing, kept);
    };
    heldWhileMissing(early, late);
    heldWhileMissing(late, early);
    EXPECT_EQ(restore(backup), 0) << readFile(restoreLog);
    EXPECT_EQ(readFile(installDir + L"\\Many\\part149.txt"), "part 149");
}

// A second name of another's file made among the copies is no link the
// folders show, and leads there as well.
TEST_F(Restore, CopyWithAnotherNameElsewhereIsDamageAndNothingOfItIsCopied) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    const std::wstring copy = backup + L"\\files\\0\\Sub\\Deeper\\deep.txt";
    ASSERT_EQ(readFile(copy), "deep contents");
    createFolder(linkTarget);
    createFile(linkTarget + L"\\deep.txt", "secret things");
    ASSERT_TRUE(DeleteFileW(copy.c_str()));
    if (!CreateHardLinkW(copy.c_str(), (linkTarget + L"\\deep.txt").c_str(), nullptr))
        GTEST_SKIP() << "this system cannot give a file a second name for the test";
    expectRefusedUnchanged(backup, "a copy with another name elsewhere");
    EXPECT_FALSE(fileExists(installDir + L"\\Sub\\Deeper\\deep.txt"));
    DeleteFileW(copy.c_str());
}

TEST_F(Restore, WithoutQuietTheOutcomeIsShown) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    Uninstaller run(L"\"/restore:" + backup + L"\"");
    std::wstring window;
    EXPECT_EQ(run.exitStatusUnwatched(window), 0);
    EXPECT_NE(window.find(L"e2eapp.exe restored from"), std::wstring::npos) << narrow(window);
    EXPECT_TRUE(fileExists(installDir + L"\\data.dat"));
    EXPECT_EQ(Uninstaller(L"/quiet \"/restore:" + backup + L"\" " + app).exitStatus(), 1639);
}

} // namespace
} // namespace e2e
