// /restore after a run with /backup: the world before the run comes back,
// nothing that stands there now is written over, and a backup that is not
// whole changes nothing.
#include "tests/e2e/scenarios.h"
#include "tests/support/win32_handles.h"

#include <shlobj.h>

#include <functional>
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

// Another's file deep below folders of long names has a name past what the
// system gives for a held file in a short buffer: a link among the copies
// that leads there must still be told from a copy, not taken for one whose
// name could not be asked.
TEST_F(Restore, LinkAmongTheCopiesToADeepFileIsDamageAndNothingBehindItIsCopied) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    std::wstring deep = L"\\\\?\\" + linkTarget;
    for (int step = 0; step < 5; ++step)
        deep += L"\\E2E " + std::wstring(215, static_cast<wchar_t>(L'K' + step));
    createFolder(deep);
    ASSERT_TRUE(folderExists(deep));
    createFile(deep + L"\\deep.txt", "secret things");
    ASSERT_EQ(readFile(deep + L"\\deep.txt"), "secret things");
    const std::wstring copies = backup + L"\\files\\0\\Sub\\Deeper";
    const std::string kept = readFile(copies + L"\\deep.txt");
    ASSERT_EQ(kept, "deep contents");
    // The copy's folder a link to the other file's folder.
    removeTree(copies);
    ASSERT_FALSE(folderExists(copies));
    ASSERT_TRUE(createFolderLink(copies, deep));
    expectRefusedUnchanged(backup, "a link among the copies to a deep folder");
    EXPECT_FALSE(fileExists(installDir + L"\\Sub\\Deeper\\deep.txt"));
    removeLink(copies);
    createFolder(copies);
    createFile(copies + L"\\deep.txt", kept);
    // The copy itself a link to the other file, of the same size.
    ASSERT_TRUE(DeleteFileW((copies + L"\\deep.txt").c_str()));
    if (!createFileLink(copies + L"\\deep.txt", deep + L"\\deep.txt"))
        GTEST_SKIP() << "this system cannot make a file link for the test";
    expectRefusedUnchanged(backup, "a copy that is a link to a deep file");
    EXPECT_FALSE(fileExists(installDir + L"\\Sub\\Deeper\\deep.txt"));
    removeLink(copies + L"\\deep.txt");
    createFile(copies + L"\\deep.txt", kept);
    EXPECT_EQ(restore(backup), 0) << readFile(restoreLog);
    EXPECT_EQ(readFile(installDir + L"\\Sub\\Deeper\\deep.txt"), "deep contents");
}

// A backup of an install with many files, and the copies in the manifest's
// order.
class RestoreOfMany : public Restore {
protected:
    static constexpr int count = 150;

    void SetUp() override {
        Restore::SetUp();
        ASSERT_NO_FATAL_FAILURE(buildInstall());
        createFolder(installDir + L"\\Many");
        for (int i = 0; i < count; ++i)
            createFile(installDir + L"\\Many\\part" + std::to_wstring(i) + L".txt",
                       "part " + std::to_string(1000 + i));
        backup = removeWithBackup();
        ASSERT_FALSE(backup.empty());
        const std::string manifest = readFile(backup + L"\\manifest.txt");
        const std::string entry = "\r\nFile: 0 Many\\";
        for (std::size_t at = manifest.find(entry); at != std::string::npos;
             at = manifest.find(entry, at + entry.size())) {
            const std::size_t from = at + entry.size();
            const std::string name = manifest.substr(from, manifest.find("\r\n", from) - from);
            copies.push_back(backup + L"\\files\\0\\Many\\" +
                             std::wstring(name.begin(), name.end()));
        }
        ASSERT_EQ(copies.size(), static_cast<std::size_t>(count)) << manifest;
        for (const std::wstring& copy : copies)
            contents.push_back(readFile(copy));
        createFolder(linkTarget);
        createFile(linkTarget + L"\\secret.txt", "SECRET!!!");
        ASSERT_EQ(contents[0].size(), 9u);
    }

    // Puts copy `i` back as the backup wrote it; `linked` when it was made a
    // link, which only the host removes without what it leads to.
    void mend(std::size_t i, bool linked = false) const {
        if (linked) {
            removeLink(copies[i]);
            for (int tries = 0;
                 tries < 500 && GetFileAttributesW(copies[i].c_str()) != INVALID_FILE_ATTRIBUTES;
                 ++tries)
                Sleep(10);
        }
        RemoveDirectoryW(copies[i].c_str());
        DeleteFileW(copies[i].c_str());
        createFile(copies[i], contents[i]);
        ASSERT_EQ(readFile(linkTarget + L"\\secret.txt"), "SECRET!!!");
    }

    // Takes away whatever a restore put back, so that the next round starts
    // from `removed`, the world the removal left.
    void undoRestore(const std::vector<std::string>& removed) const {
        if (worldNow() == removed)
            return;
        removeTree(installDir);
        removeTree(classicGroup);
        removeTree(commonPrograms + L"\\" + group);
        deleteKeyTree(appPathsKey + L"\\" + app);
        deleteKeyTree(uninstallKey + L"\\" + app);
        setDword(sharedDllsKey, sharedFiles[0], 2);
        setDword(sharedDllsKey, sharedFiles[1], 0);
    }

    // No file below the install folder holds another's data.
    void expectNoSecretRestored() const {
        for (const std::wstring& file : filesInListingOrder(installDir))
            EXPECT_EQ(readFile(file).find("SECRET"), std::string::npos) << narrow(file);
    }

    std::wstring backup;
    std::vector<std::wstring> copies;
    std::vector<std::string> contents;
};

// Two problems, each kind of damage before and after a copy another program
// holds: whichever comes first in the manifest decides, and nothing changes.
TEST_F(RestoreOfMany, FirstProblemOfEveryKindDecidesTheOutcome) {
    const std::vector<std::string> before = worldNow();
    struct Damage {
        const char* what;
        std::function<bool(const std::wstring&)> make;
        bool linked = false;
    };
    const std::wstring secret = linkTarget + L"\\secret.txt";
    const std::vector<Damage> damages{
        {"missing", [](const std::wstring& copy) { return DeleteFileW(copy.c_str()) != 0; }},
        {"another size",
         [](const std::wstring& copy) {
             DeleteFileW(copy.c_str());
             createFile(copy, "part 1");
             return true;
         }},
        {"a second name of another's file",
         [&](const std::wstring& copy) {
             DeleteFileW(copy.c_str());
             return CreateHardLinkW(copy.c_str(), secret.c_str(), nullptr) != 0;
         }},
        {"a link to another's file",
         [&](const std::wstring& copy) {
             DeleteFileW(copy.c_str());
             return createFileLink(copy, secret);
         },
         true},
        {"a folder",
         [](const std::wstring& copy) {
             DeleteFileW(copy.c_str());
             return CreateDirectoryW(copy.c_str(), nullptr) != 0;
         }},
    };
    for (const Damage& damage : damages) {
        for (const auto& [damaged, held] : {std::pair<std::size_t, std::size_t>{5, 140},
                                            std::pair<std::size_t, std::size_t>{140, 5},
                                            std::pair<std::size_t, std::size_t>{70, 71},
                                            std::pair<std::size_t, std::size_t>{71, 70}}) {
            SCOPED_TRACE(std::string(damage.what) + " at " + std::to_string(damaged) +
                         ", held at " + std::to_string(held));
            ASSERT_TRUE(damage.make(copies[damaged]));
            {
                const Hold hold(copies[held]);
                ASSERT_TRUE(hold.held());
                const long code = restore(backup);
                EXPECT_EQ(code, damaged < held ? 1620 : 1603) << readFile(restoreLog);
                EXPECT_EQ(worldNow(), before);
                DeleteFileW(restoreLog.c_str());
            }
            ASSERT_NO_FATAL_FAILURE(mend(damaged, damage.linked));
        }
    }
    EXPECT_EQ(restore(backup), 0) << readFile(restoreLog);
    expectNoSecretRestored();
}

// Another program keeps swapping one copy for a second name of another's
// file while restores run: whatever each run ends
// with, nothing of the other file is put back, and a run that refuses the
// backup has changed nothing.
TEST_F(RestoreOfMany, CopySwappedWhileTheRestoreRunsPutsNothingOfAnotherFileBack) {
    const std::vector<std::string> before = worldNow();
    const std::wstring secret = linkTarget + L"\\secret.txt";
    struct Swapper {
        std::wstring copy;
        std::wstring secret;
        std::string content;
        volatile LONG stop = 0;
        static DWORD WINAPI run(void* parameter) {
            auto& self = *static_cast<Swapper*>(parameter);
            const std::wstring spare = self.copy + L".e2e-spare";
            for (unsigned turn = 0; !self.stop; ++turn) {
                // Never written through a name left over: it may be the
                // other file's.
                if (!DeleteFileW(spare.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
                    continue;
                if (turn % 2 == 0) {
                    CreateHardLinkW(spare.c_str(), self.secret.c_str(), nullptr);
                } else {
                    const HANDLE file = CreateFileW(spare.c_str(), GENERIC_WRITE, 0, nullptr,
                                                    CREATE_NEW, 0, nullptr);
                    if (file == INVALID_HANDLE_VALUE)
                        continue;
                    DWORD written = 0;
                    WriteFile(file, self.content.data(), static_cast<DWORD>(self.content.size()),
                              &written, nullptr);
                    CloseHandle(file);
                }
                MoveFileExW(spare.c_str(), self.copy.c_str(), MOVEFILE_REPLACE_EXISTING);
            }
            return 0;
        }
    };
    for (const std::size_t at : {std::size_t{3}, std::size_t{75}, std::size_t{146}}) {
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE("copy " + std::to_string(at) + ", round " + std::to_string(round));
            Swapper swapper{copies[at], secret, contents[at]};
            const HANDLE thread = CreateThread(nullptr, 0, &Swapper::run, &swapper, 0, nullptr);
            ASSERT_NE(thread, nullptr);
            const long code = restore(backup);
            InterlockedExchange(&swapper.stop, 1);
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            const std::string log = readFile(restoreLog);
            expectNoSecretRestored();
            if (code == 1620 || log.find("Nothing has been restored") != std::string::npos) {
                EXPECT_EQ(worldNow(), before) << log;
            }
            EXPECT_TRUE(code == 0 || code == 1603 || code == 1620) << code << "\n" << log;
            DeleteFileW(restoreLog.c_str());
            DeleteFileW((copies[at] + L".e2e-spare").c_str());
            mend(at);
            undoRestore(before);
            ASSERT_EQ(worldNow(), before);
        }
    }
}

// The host's name of a path in the prefix; empty elsewhere.
std::wstring unixName(const std::wstring& path) {
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = toUnix == nullptr ? nullptr : toUnix(path.c_str());
    if (name == nullptr)
        return {};
    const std::string narrowName = name;
    HeapFree(GetProcessHeap(), 0, name);
    return std::wstring(narrowName.begin(), narrowName.end());
}

// The copies' folder itself keeps being swapped, by renames on the host
// (Wine 8 renames what a link leads to, not the link), for a link to a
// folder of another's files of the same names and sizes while restores run.
TEST_F(RestoreOfMany, CopiesFolderSwappedForALinkPutsNothingOfAnotherFileBack) {
    const std::vector<std::string> before = worldNow();
    const std::wstring others = linkTarget + L"\\Many";
    createFolder(others);
    for (int i = 0; i < count; ++i)
        createFile(others + L"\\part" + std::to_wstring(i) + L".txt", "SECRET!!!");
    const std::wstring folder = backup + L"\\files\\0\\Many";
    const std::wstring link = folder + L".e2e-link";
    if (unixName(folder).empty() || !createFolderLink(link, others))
        GTEST_SKIP() << "no host to swap links on";
    const std::wstring script = backups + L"\\swap.py";
    const std::wstring stop = backups + L"\\swap.stop";
    createFile(script, "import os, random, sys, time\n"
                       "folder, link, stop = sys.argv[1:4]\n"
                       "real = folder + '.e2e-real'\n"
                       "while not os.path.exists(stop):\n"
                       "    os.rename(folder, real)\n"
                       "    os.rename(link, folder)\n"
                       "    time.sleep(random.uniform(0, 0.01))\n"
                       "    os.rename(folder, link)\n"
                       "    os.rename(real, folder)\n"
                       "    time.sleep(random.uniform(0, 0.08))\n");
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        DeleteFileW(stop.c_str());
        std::wstring command = L"/usr/bin/python3 \"" + unixName(script) + L"\" \"" +
                               unixName(folder) + L"\" \"" + unixName(link) + L"\" \"" +
                               unixName(stop) + L"\"";
        ASSERT_TRUE(runHost(command));
        Sleep(300);
        const long code = restore(backup);
        createFile(stop, "");
        for (int tries = 0;
             tries < 500 &&
             (GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES || !folderExists(folder));
             ++tries)
            Sleep(10);
        Sleep(200);
        const std::string log = readFile(restoreLog);
        expectNoSecretRestored();
        if (code == 1620 || log.find("Nothing has been restored") != std::string::npos) {
            EXPECT_EQ(worldNow(), before) << log;
        }
        DeleteFileW(restoreLog.c_str());
        ASSERT_EQ(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        ASSERT_EQ(readFile(copies[0]), contents[0]);
        undoRestore(before);
        ASSERT_EQ(worldNow(), before);
    }
    removeLink(link);
}

// Copies under names beyond the code page, judged several at a time, and a
// backup folder named through a link and with "." and ".." steps, on
// command lines as a deployment tool writes them.
TEST_F(Restore, ManyCopiesOfWideNamesThroughALinkedBackupFolder) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const std::wstring wide = installDir + L"\\\u00c9t\u00e9 \u540d\u524d \u0416";
    createFolder(wide);
    const auto name = [&](int i) {
        return wide + L"\\\u00fc" + std::to_wstring(i) + L" \u4e2d\u6587 \U0001F600.txt";
    };
    for (int i = 0; i < 120; ++i)
        createFile(name(i), "wide " + std::to_string(1000 + i));
    const std::wstring made = removeWithBackup();
    ASSERT_FALSE(made.empty());
    const std::wstring leaf = made.substr(made.find_last_of(L'\\') + 1);
    createFolder(linkTarget);
    const std::wstring through = linkTarget + L"\\E2E backups link";
    if (!createFolderLink(through, backups))
        GTEST_SKIP() << "this system cannot make a directory link for the test";
    const std::wstring named = through + L"\\.\\" + leaf + L"\\..\\" + leaf;
    const auto run = [&] {
        return Uninstaller(Uninstaller::Exact{L"uninstall.exe /quiet \"/log:" + restoreLog +
                                              L"\" \"/restore:" + named + L"\""})
            .exitStatus();
    };
    const std::vector<std::string> before = worldNow();
    // One copy given a second name of another's file, the size kept.
    const std::wstring copy = made + L"\\files\\0" + name(77).substr(installDir.size());
    ASSERT_EQ(readFile(copy), "wide 1077");
    createFile(linkTarget + L"\\secret.txt", "SECRET!!!");
    ASSERT_TRUE(DeleteFileW(copy.c_str()));
    ASSERT_TRUE(CreateHardLinkW(copy.c_str(), (linkTarget + L"\\secret.txt").c_str(), nullptr));
    EXPECT_EQ(run(), 1620) << readFile(restoreLog);
    EXPECT_EQ(worldNow(), before);
    DeleteFileW(restoreLog.c_str());
    ASSERT_TRUE(DeleteFileW(copy.c_str()));
    createFile(copy, "wide 1077");
    EXPECT_EQ(run(), 0) << readFile(restoreLog);
    for (int i = 0; i < 120; ++i)
        EXPECT_EQ(readFile(name(i)), "wide " + std::to_string(1000 + i)) << i;
    removeLink(through);
}

// Past a few dozen folders a backup's copies are made several at a time:
// the first file in the run's order that cannot be read is the one named,
// and each copy holds its own file's bytes, as the restore shows.
TEST_F(Restore, ManyFoldersCopiedSeveralAtATimeComeBackEachWhole) {
    ASSERT_NO_FATAL_FAILURE(buildInstall());
    const auto contents = [](int folder, int file) {
        std::string text;
        for (int k = 0; k <= folder * 3 + file; ++k)
            text += "folder " + std::to_string(folder) + " file " + std::to_string(file) + "\n";
        return text;
    };
    const auto pathOf = [](int folder, int file) {
        return installDir + L"\\Many\\f" + std::to_wstring(folder) + L"\\file" +
               std::to_wstring(file) + L".txt";
    };
    createFolder(installDir + L"\\Many");
    for (int folder = 0; folder < 90; ++folder) {
        createFolder(installDir + L"\\Many\\f" + std::to_wstring(folder));
        for (int file = 0; file < 3; ++file)
            createFile(pathOf(folder, file), contents(folder, file));
    }
    createFolder(backups);
    {
        const FileHandle held(CreateFileW(pathOf(70, 1).c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        const FileHandle later(CreateFileW(pathOf(80, 0).c_str(), GENERIC_READ, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held && later);
        EXPECT_EQ(
            Uninstaller(L"/quiet \"/log:" + restoreLog + L"\" \"/backup:" + backups + L"\" " + app)
                .exitStatus(),
            1603);
        const std::string said = readFile(restoreLog);
        EXPECT_NE(said.find(narrow(pathOf(70, 1))), std::string::npos) << said;
        EXPECT_EQ(said.find(narrow(pathOf(80, 0))), std::string::npos) << said;
        EXPECT_TRUE(fileExists(pathOf(89, 2)));
        EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));
    }
    removeTree(backups);
    const std::wstring backup = removeWithBackup();
    ASSERT_FALSE(backup.empty());
    EXPECT_EQ(restore(backup), 0) << readFile(restoreLog);
    for (int folder = 0; folder < 90; ++folder) {
        for (int file = 0; file < 3; ++file)
            EXPECT_EQ(readFile(pathOf(folder, file)), contents(folder, file))
                << narrow(pathOf(folder, file));
    }
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
