#include "engine/backup.h"

#include "engine/ascii_case.h"
#include "engine/command_line.h"
#include "engine/error.h"
#include "engine/exit_codes.h"
#include "engine/session.h"
#include "tests/support/log_lines.h"
#include "tests/support/memory_backup_store.h"
#include "tests/support/memory_shell.h"
#include "tests/support/pass_through_ports.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace uninst::test {
namespace {

Options quietWithBackup(const std::string& folder) {
    Options options = optionsFor(sample::exe);
    options.quiet = true;
    options.backupFolder = folder;
    return options;
}

std::vector<std::string> filesOf(const std::vector<std::string>& snapshot) {
    std::vector<std::string> files;
    for (const std::string& item : snapshot) {
        if (!item.empty() && item.back() != '\\' && item.find(" -> ") == std::string::npos)
            files.push_back(item);
    }
    return files;
}

std::vector<std::string> worldFiles(MemoryFileSystem& fs) {
    std::vector<std::string> files = filesOf(fs.snapshot(sample::installdir));
    for (const std::string& file : filesOf(fs.snapshot("C:\\WINDOWS\\Start Menu")))
        files.push_back(file);
    return files;
}

std::string upper(std::string text) {
    for (char& c : text)
        c = asciiUpper(c);
    return text;
}

const BackupPlan::Key* keyNamed(const std::vector<BackupPlan::Key>& keys, const std::string& path) {
    for (const BackupPlan::Key& key : keys) {
        if (upper(key.path) == upper(path))
            return &key;
    }
    return nullptr;
}

// What the run takes away, the backup holds: every file that went, with its
// contents; every key that went, with its values; every count it lowered.
TEST(Backup, HoldsEverythingTheRunRemoves) {
    SampleWorld w;
    const std::vector<std::string> filesBefore = worldFiles(w.fs);
    const std::string appPathsValue = w.registry.value(sample::appPathsEntry, "")->data;
    std::map<std::string, std::string> contents;
    for (const std::string& file : filesBefore)
        contents[file] = w.fs.readTextFile(file);
    const std::uint32_t libBefore = *w.registry.dword(sample::sharedDllsKey, sample::sharedLib);
    MemoryBackupStore store(w.fs, "D:\\Backups");
    LogLines log;
    ASSERT_EQ(
        Session(quietWithBackup("D:\\Backups"), w.registry, w.fs, noShell(), &log, nullptr, &store)
            .runWithoutWindow(),
        exitRemoved)
        << ::testing::PrintToString(log.lines);
    ASSERT_FALSE(w.registry.keyExists(sample::appPathsEntry)) << "the run did not remove";

    std::set<std::string> copied;
    for (const auto& [target, source] : store.copiedFrom) {
        copied.insert(upper(source));
        EXPECT_EQ(store.files[target], contents[source]) << source;
    }
    std::size_t gone = 0;
    for (const std::string& file : filesBefore) {
        if (w.fs.fileExists(file))
            continue;
        ++gone;
        EXPECT_EQ(copied.count(upper(file)), 1u) << file << " went and is not in the backup";
    }
    EXPECT_GT(gone, 3u);
    EXPECT_EQ(store.copiedFrom.count("files\\0\\data.mdb"), 1u)
        << ::testing::PrintToString(store.copiedFrom);

    const std::vector<BackupPlan::Key> keys = keysFromText(store.files["registry.txt"]);
    const BackupPlan::Key* appPaths = keyNamed(keys, sample::appPathsEntry);
    ASSERT_NE(appPaths, nullptr) << store.files["registry.txt"];
    ASSERT_FALSE(appPaths->tree.empty());
    bool sawDefault = false;
    for (const auto& [name, value] : appPaths->tree.front().values) {
        if (name.empty()) {
            sawDefault = true;
            EXPECT_EQ(value.data, appPathsValue);
        }
    }
    EXPECT_TRUE(sawDefault);
    EXPECT_NE(keyNamed(keys, sample::uninstallEntry), nullptr) << store.files["registry.txt"];

    const std::string& manifest = store.files["manifest.txt"];
    for (const std::string& part :
         {std::string("Application: myapp.exe\r\n"), std::string("Machine: PC-7\r\n"),
          std::string("Time: 2026-12-10 05:00:00\r\n"), std::string("Program version: "),
          "Root 0: " + sample::installdir + "\r\n", std::string("File: 0 data.mdb\r\n"),
          "Count: " + std::to_string(libBefore) + " -> " + std::to_string(libBefore - 1) +
              " | HKEY_LOCAL_MACHINE\\" + sample::sharedDllsKey + " | " + sample::sharedLib +
              "\r\n",
          "Key: HKEY_LOCAL_MACHINE\\" + sample::appPathsEntry + "\r\n",
          std::string("End of backup: ")})
        EXPECT_NE(manifest.find(part), std::string::npos) << part << "\n" << manifest;
    // The manifest goes last: a backup without one is known to be cut short.
    EXPECT_EQ(store.writes, static_cast<int>(store.folders.size() + store.files.size() + 1));
    ASSERT_TRUE(store.created);
    EXPECT_EQ(*store.created, "PC-7 myapp.exe 2026-12-10 05-00-00");
    EXPECT_TRUE(log.has("Write backup: D:\\Backups\\PC-7 myapp.exe 2026-12-10 05-00-00"))
        << ::testing::PrintToString(log.lines);

    // A drive's root holds the backup as any folder does, named with one
    // separator.
    SampleWorld root;
    MemoryBackupStore atRoot(root.fs, "E:\\");
    LogLines rootLog;
    EXPECT_EQ(Session(quietWithBackup("E:\\"), root.registry, root.fs, noShell(), &rootLog, nullptr,
                      &atRoot)
                  .runWithoutWindow(),
              exitRemoved);
    EXPECT_TRUE(rootLog.has("Write backup: E:\\PC-7 myapp.exe 2026-12-10 05-00-00"))
        << ::testing::PrintToString(rootLog.lines);
}

// Under Wine a host link to another's file lists as an ordinary file; the
// pre-flight's check and the deletion know it for a link and leave it, as
// the Win32 file system does.
class LinkedReadme final : public PassThroughFileSystem {
public:
    using PassThroughFileSystem::PassThroughFileSystem;

    DeleteCheck checkDelete(const std::string& path) override {
        return isLink(path) ? DeleteCheck{Deletable::missing, {}}
                            : PassThroughFileSystem::checkDelete(path);
    }
    std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths) override {
        std::vector<DeleteCheck> checks;
        for (const std::string& path : paths)
            checks.push_back(checkDelete(path));
        return checks;
    }
    std::vector<std::string> filesStillThere(const std::string& folder,
                                             const std::vector<std::string>& paths) override {
        std::vector<std::string> left = PassThroughFileSystem::filesStillThere(folder, paths);
        std::erase_if(left, isLink);
        return left;
    }
    Removal deleteFile(const std::string& path) override {
        return isLink(path) ? Removal::notFound : inner().deleteFile(path);
    }
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override {
        return deleteEachInTurn(*this, paths);
    }

private:
    static bool isLink(const std::string& path) { return upper(path) == upper(sample::readme); }
};

// What the run leaves because it is a link is not its to back up: copying
// it would put another's file in the backup.
TEST(Backup, HoldsNothingTheRunLeavesAsALink) {
    SampleWorld w;
    LinkedReadme fs(w.fs);
    MemoryBackupStore store(w.fs, "D:\\Backups");
    LogLines log;
    ASSERT_EQ(
        Session(quietWithBackup("D:\\Backups"), w.registry, fs, noShell(), &log, nullptr, &store)
            .runWithoutWindow(),
        exitRemoved)
        << ::testing::PrintToString(log.lines);
    EXPECT_TRUE(w.fs.fileExists(sample::readme));
    for (const auto& [target, source] : store.copiedFrom)
        EXPECT_NE(upper(source), upper(sample::readme)) << target;
    EXPECT_EQ(store.files["manifest.txt"].find("readme.txt"), std::string::npos)
        << store.files["manifest.txt"];
    EXPECT_FALSE(store.files["manifest.txt"].empty());
}

// A backup that cannot be written whole, at whatever write it stops, leaves
// the application exactly as it was and ends the run as failed.
TEST(Backup, CutShortChangesNothing) {
    int total = 0;
    {
        SampleWorld w;
        MemoryBackupStore store(w.fs, "D:\\Backups");
        ASSERT_EQ(Session(quietWithBackup("D:\\Backups"), w.registry, w.fs, noShell(), nullptr,
                          nullptr, &store)
                      .runWithoutWindow(),
                  exitRemoved);
        total = store.writes;
    }
    ASSERT_GT(total, 5);
    for (int failAt = 1; failAt <= total; ++failAt) {
        SampleWorld w;
        const std::vector<std::string> filesBefore = w.fs.snapshot("C:\\");
        const std::vector<std::string> keysBefore = snapshotLines(w.registry);
        MemoryBackupStore store(w.fs, "D:\\Backups");
        store.failAt = failAt;
        LogLines log;
        EXPECT_EQ(Session(quietWithBackup("D:\\Backups"), w.registry, w.fs, noShell(), &log,
                          nullptr, &store)
                      .runWithoutWindow(),
                  exitRunFailed)
            << "write " << failAt;
        EXPECT_EQ(w.fs.snapshot("C:\\"), filesBefore) << "write " << failAt;
        EXPECT_EQ(snapshotLines(w.registry), keysBefore) << "write " << failAt;
        EXPECT_TRUE(log.has("The backup could not be written whole, so nothing has been removed: "
                            "Cannot "))
            << ::testing::PrintToString(log.lines);
        EXPECT_EQ(store.files.count("manifest.txt"), 0u);
    }
}

// The run removes everything below the install folder and the group: a
// backup there would go with it.
TEST(Backup, FolderInsideWhatTheRunRemovesIsRefused) {
    for (const std::string& folder :
         {sample::installdir, sample::installdir + "\\Backups", upper(sample::helpFolder),
          std::string("C:\\WINDOWS\\Start Menu\\Programs"), sample::groupFolder + "\\b"}) {
        SampleWorld w;
        const std::vector<std::string> filesBefore = w.fs.snapshot("C:\\");
        const std::vector<std::string> keysBefore = snapshotLines(w.registry);
        MemoryBackupStore store(w.fs, folder);
        LogLines log;
        EXPECT_EQ(
            Session(quietWithBackup(folder), w.registry, w.fs, noShell(), &log, nullptr, &store)
                .runWithoutWindow(),
            exitLogFailed)
            << folder;
        EXPECT_EQ(store.writes, 0) << folder;
        EXPECT_EQ(w.fs.snapshot("C:\\"), filesBefore) << folder;
        EXPECT_EQ(snapshotLines(w.registry), keysBefore) << folder;
        EXPECT_TRUE(log.has("Cannot write the backup below " + folder + ": it lies in "))
            << ::testing::PrintToString(log.lines);
    }
    // A folder named with short (8.3) steps is the folder it stands for: an
    // old setup registers "C:\PROGRA~1\MYAPP", a script names the backup in
    // full, or the other way round.
    {
        SampleWorld w;
        MemoryShell shell(w.fs);
        const std::string folder = "C:\\PROGRA~1\\MYAPP\\Backups";
        shell.setFinalFolder(folder, sample::installdir + "\\Backups");
        const std::vector<std::string> filesBefore = w.fs.snapshot("C:\\");
        MemoryBackupStore store(w.fs, folder);
        LogLines log;
        EXPECT_EQ(Session(quietWithBackup(folder), w.registry, w.fs, shell, &log, nullptr, &store)
                      .runWithoutWindow(),
                  exitLogFailed);
        EXPECT_EQ(store.writes, 0);
        EXPECT_EQ(w.fs.snapshot("C:\\"), filesBefore);
        EXPECT_TRUE(log.has("Cannot write the backup below " + folder + ": it lies in "))
            << ::testing::PrintToString(log.lines);
    }
    // Beside the install folder is outside it.
    SampleWorld w;
    MemoryBackupStore store(w.fs, sample::installdir + " Backups");
    EXPECT_EQ(Session(quietWithBackup(sample::installdir + " Backups"), w.registry, w.fs, noShell(),
                      nullptr, nullptr, &store)
                  .runWithoutWindow(),
              exitRemoved);
}

// The preview names the backup and its size, and writes none of it.
TEST(Backup, PreviewNamesItAndWritesNothing) {
    SampleWorld w;
    const std::vector<std::string> filesBefore = w.fs.snapshot("C:\\");
    MemoryBackupStore store(w.fs, "D:\\Backups");
    Options options = quietWithBackup("D:\\Backups");
    options.quiet = false;
    options.preview = true;
    LogLines log;
    EXPECT_EQ(
        Session(options, w.registry, w.fs, noShell(), &log, nullptr, &store).runWithoutWindow(),
        exitRemoved);
    EXPECT_EQ(store.writes, 0);
    EXPECT_EQ(w.fs.snapshot("C:\\"), filesBefore);
    EXPECT_TRUE(log.has("Planned: Write backup below D:\\Backups: "))
        << ::testing::PrintToString(log.lines);
    const auto line = std::find_if(log.lines.begin(), log.lines.end(), [](const std::string& l) {
        return l.rfind("Planned: Write backup", 0) == 0;
    });
    ASSERT_NE(line, log.lines.end());
    EXPECT_NE(line->find(" bytes"), std::string::npos) << *line;
    EXPECT_EQ(line->find(" 0 files"), std::string::npos) << *line;
}

TEST(BackupKeys, TextGivesBackEveryValueOfEveryType) {
    std::vector<BackupPlan::Key> keys(2);
    keys[0].path = "SOFTWARE\\Acme\\Tool";
    keys[0].tree.push_back({"SOFTWARE\\Acme\\Tool",
                            {{"", {1, std::string("C:\\Tool\\tool.exe\0", 17)}},
                             {"Bin", {3, std::string("\0\xff\r\n\x80", 5)}},
                             {"Multi", {7, std::string("a\0b\0\0", 5)}},
                             {"Odd type", {0x12345678, "x"}},
                             {"Empty", {4, ""}}}});
    keys[0].tree.push_back({"SOFTWARE\\Acme\\Tool\\Sub Key", {}});
    keys[1].path = "SOFTWARE\\Caf\xc3\xa9";
    const std::vector<BackupPlan::Key> back = keysFromText(keysText(keys));
    ASSERT_EQ(back.size(), 2u);
    ASSERT_EQ(back[0].tree.size(), 2u);
    EXPECT_EQ(back[0].tree[1].path, "SOFTWARE\\Acme\\Tool\\Sub Key");
    ASSERT_EQ(back[0].tree[0].values.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(back[0].tree[0].values[i].first, keys[0].tree[0].values[i].first);
        EXPECT_EQ(back[0].tree[0].values[i].second.type, keys[0].tree[0].values[i].second.type);
        EXPECT_EQ(back[0].tree[0].values[i].second.data, keys[0].tree[0].values[i].second.data);
    }
    EXPECT_EQ(back[1].path, keys[1].path);
    EXPECT_TRUE(back[1].tree.empty());
}

TEST(BackupKeys, DamagedOrForeignTextIsRefused) {
    const std::string good = keysText({{"K", {{"K", {{"v", {4, "\x01\0\0\0"}}}}}}});
    const std::vector<std::string> bad{
        "",
        "REGEDIT4\r\n",
        good.substr(0, good.size() - 5), // the end line lost
        good.substr(0, good.size() - 1), // cut inside a line
        good + "Key 41\r\n",             // after the end
        "uninstall.exe registry backup 1\r\nEntry 41\r\nEnd\r\n",
        "uninstall.exe registry backup 1\r\nKey 4\r\nEnd\r\n",
        "uninstall.exe registry backup 1\r\nKey zz\r\nEnd\r\n",
        "uninstall.exe registry backup 1\r\nKey 41\r\nEntry 41\r\nValue x 41 41\r\nEnd\r\n",
        "uninstall.exe registry backup 1\r\nKey 41\r\nEntry 41\r\nValue 99999999999 41 "
        "41\r\nEnd\r\n",
        "uninstall.exe registry backup 1\r\nKey 41\r\nEntry 41\r\nValue 1 41\r\nEnd\r\n",
        "uninstall.exe registry backup 1\r\nSomething\r\nEnd\r\n",
    };
    for (const std::string& text : bad) {
        try {
            keysFromText(text);
            ADD_FAILURE() << "taken: " << ::testing::PrintToString(text);
        } catch (const Error& error) {
            EXPECT_NE(std::string(error.what()).find("registry.txt is damaged"), std::string::npos);
        }
    }
    EXPECT_EQ(keysFromText(good).size(), 1u);
}

TEST(BackupFolderName, HoldsNothingAFileNameMayNot) {
    EXPECT_EQ(backupFolderName("PC", "my app.exe", "2026-12-10 05:00:00"),
              "PC my app.exe 2026-12-10 05-00-00");
    EXPECT_EQ(backupFolderName("PC", "a\\b/c*d?e\"f<g>h|i\x01", "t."), "PC a-b-c-d-e-f-g-h-i- t");
}

TEST(BackupOption, ParsedWithItsFolder) {
    ParsedCommandLine parsed = parseCommandLine("/quiet \"/backup:C:\\My Backups\" myapp.exe");
    EXPECT_EQ(parsed.error, "");
    ASSERT_TRUE(parsed.options.backupFolder);
    EXPECT_EQ(*parsed.options.backupFolder, "C:\\My Backups");
    EXPECT_EQ(parsed.options.appName, "myapp.exe");

    parsed = parseCommandLine("/BACKUP:\"\\\\server\\share\\u n\" /quiet myapp.exe");
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.backupFolder.value_or(""), "\\\\server\\share\\u n");

    EXPECT_EQ(parseCommandLine("/quiet /backup myapp.exe").error,
              "The option /backup needs a value: /backup:FOLDER.");
    EXPECT_EQ(parseCommandLine("/quiet /backup: myapp.exe").error,
              "The option /backup needs a value: /backup:FOLDER.");
    EXPECT_EQ(parseCommandLine("/quiet /backup:a /backup:b myapp.exe").error,
              "The option /backup is given twice; one backup folder only.");
    EXPECT_NE(usageText().find("/backup:FOLDER"), std::string::npos);
}

} // namespace
} // namespace uninst::test
