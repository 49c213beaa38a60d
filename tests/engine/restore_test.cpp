#include "engine/restore.h"

#include "engine/command_line.h"
#include "engine/exit_codes.h"
#include "engine/session.h"
#include "tests/support/log_lines.h"
#include "tests/support/memory_backup_source.h"
#include "tests/support/memory_backup_store.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace uninst::test {
namespace {

// Every file and folder of the application's, with each file's contents.
std::vector<std::string> world(MemoryFileSystem& fs) {
    std::vector<std::string> items;
    for (const char* top : {"C:\\Program Files", "C:\\WINDOWS\\Start Menu"}) {
        for (const std::string& item : fs.snapshot(top)) {
            items.push_back(item);
            if (fs.fileExists(item))
                items.push_back("  " + fs.readTextFile(item));
        }
    }
    return items;
}

// The sample application removed by a quiet run with a backup, which is
// then laid out on D: for a restore to read.
class Restore : public ::testing::Test {
protected:
    void SetUp() override {
        filesBefore = world(w.fs);
        keysBefore = snapshotLines(w.registry);
        Options options = optionsFor(sample::exe);
        options.quiet = true;
        options.backupFolder = "D:\\Backups";
        MemoryBackupStore store(w.fs, "D:\\Backups");
        LogLines runLog;
        ASSERT_EQ(Session(options, w.registry, w.fs, noShell(), &runLog, nullptr, &store)
                      .runWithoutWindow(),
                  exitRemoved)
            << ::testing::PrintToString(runLog.lines);
        ASSERT_FALSE(w.fs.exists(sample::installdir));
        folder = placeBackup(store, w.fs);
    }

    RestoreOutcome restore(bool preview = false) {
        Options options;
        options.quiet = true;
        options.preview = preview;
        options.restoreFolder = folder;
        MemoryBackupSource source(w.fs, folder);
        log.lines.clear();
        return Session(options, w.registry, w.fs, noShell(), &log).restore(source);
    }

    std::string manifest() { return w.fs.readTextFile(folder + "\\manifest.txt"); }
    void setManifest(const std::string& text) { w.fs.addFile(folder + "\\manifest.txt", text); }
    // Replaces the first `from` in the manifest.
    void editManifest(const std::string& from, const std::string& to) {
        std::string text = manifest();
        const std::size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from << "\n" << text;
        setManifest(text.replace(at, from.size(), to));
    }

    SampleWorld w;
    std::vector<std::string> filesBefore;
    std::vector<std::string> keysBefore;
    std::string folder;
    LogLines log;
};

TEST_F(Restore, PutsBackTheWorldBeforeTheRun) {
    const RestoreOutcome outcome = restore();
    EXPECT_EQ(outcome.exitCode, exitRemoved) << outcome.message;
    EXPECT_EQ(world(w.fs), filesBefore);
    EXPECT_EQ(snapshotLines(w.registry), keysBefore)
        << linesDiff(keysBefore, snapshotLines(w.registry), "missing", "unexpected");
    EXPECT_TRUE(log.has("Restore file: " + sample::dataFile));
    EXPECT_TRUE(log.has("Restore registry key: HKEY_LOCAL_MACHINE\\" + sample::appPathsEntry));
    EXPECT_TRUE(log.has("Raise SharedDLLs count: " + sample::sharedLib + ", count 2 -> 3"));
    EXPECT_EQ(w.registry.openHandleCount(), 0u);
}

// What came back is raised by what the run lowered, whatever another setup
// did since; a count someone took away comes back as the run left it raised.
TEST_F(Restore, RaisesEachCountByWhatTheRunLowered) {
    w.registry.setDword(sample::sharedDllsKey, sample::sharedLib, 7);
    const RestoreOutcome outcome = restore();
    EXPECT_EQ(outcome.exitCode, exitRemoved) << outcome.message;
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 8u);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedControl), 1u);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedUnused), 0u);
    EXPECT_TRUE(log.has("Raise SharedDLLs count: " + sample::sharedLib + ", count 7 -> 8"));
}

TEST_F(Restore, CountWhoseValueIsGoneComesBackWithWhatWasLowered) {
    // The memory registry removes a value only with its key: rebuild
    // SharedDLLs without the library's count.
    const auto control = w.registry.dword(sample::sharedDllsKey, sample::sharedControl);
    const auto unused = w.registry.dword(sample::sharedDllsKey, sample::sharedUnused);
    const auto other = w.registry.dword(sample::sharedDllsKey, sample::otherShared);
    ASSERT_TRUE(w.registry.deleteTree(Registry::localMachine, sample::sharedDllsKey).isSuccess());
    w.registry.setDword(sample::sharedDllsKey, sample::sharedControl, control.value_or(0));
    w.registry.setDword(sample::sharedDllsKey, sample::sharedUnused, unused.value_or(0));
    if (other)
        w.registry.setDword(sample::sharedDllsKey, sample::otherShared, *other);
    EXPECT_EQ(restore().exitCode, exitRemoved);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 1u);
    EXPECT_TRUE(log.has("Raise SharedDLLs count: " + sample::sharedLib + ", no count -> 1"));
}

// A file or a key that stands there now is kept exactly as it is and named;
// everything else still comes back, and the end says not all of it did.
TEST_F(Restore, KeepsAndNamesWhatStandsThereNow) {
    w.fs.addFile(sample::dataFile, "saved since");
    w.registry.setString(sample::uninstallEntry, "DisplayName", "Set up again");
    const RestoreOutcome outcome = restore();
    EXPECT_EQ(outcome.exitCode, exitRunFailed);
    EXPECT_EQ(w.fs.readTextFile(sample::dataFile), "saved since");
    EXPECT_EQ(w.registry.value(sample::uninstallEntry, "DisplayName")->data,
              std::string("Set up again") + '\0');
    EXPECT_EQ(w.registry.value(sample::uninstallEntry, "AppToUninstall"), std::nullopt);
    EXPECT_NE(outcome.message.find("file " + sample::dataFile), std::string::npos)
        << outcome.message;
    EXPECT_NE(outcome.message.find("registry key HKEY_LOCAL_MACHINE\\" + sample::uninstallEntry),
              std::string::npos)
        << outcome.message;
    EXPECT_TRUE(log.has("Kept, as it stands there now: file " + sample::dataFile));
    EXPECT_TRUE(w.fs.fileExists(sample::readme));
    EXPECT_TRUE(w.fs.fileExists(sample::logo));
    EXPECT_TRUE(w.registry.keyExists(sample::appPathsEntry));
}

TEST_F(Restore, RunTwiceTheSecondChangesNothingAndSaysSo) {
    ASSERT_EQ(restore().exitCode, exitRemoved);
    const std::vector<std::string> files = world(w.fs);
    const std::vector<std::string> keys = snapshotLines(w.registry);
    const RestoreOutcome again = restore();
    EXPECT_EQ(again.exitCode, exitRunFailed);
    EXPECT_NE(again.message.find("Nothing restored"), std::string::npos) << again.message;
    EXPECT_EQ(world(w.fs), files);
    EXPECT_EQ(snapshotLines(w.registry), keys)
        << linesDiff(keys, snapshotLines(w.registry), "missing", "unexpected");
}

TEST_F(Restore, AnotherRunForTheApplicationAtWorkChangesNothing) {
    const std::vector<std::string> files = world(w.fs);
    Options options;
    options.quiet = true;
    options.restoreFolder = folder;
    MemoryBackupSource source(w.fs, folder);
    std::string asked;
    const RestoreOutcome outcome =
        Session(options, w.registry, w.fs, noShell(), &log).restore(source, [&](const auto& name) {
            asked = name;
            return false;
        });
    EXPECT_EQ(outcome.exitCode, exitAlreadyRunning);
    EXPECT_EQ(asked, sample::exe);
    EXPECT_EQ(world(w.fs), files);
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

TEST_F(Restore, PreviewSaysWhatItWouldDoAndChangesNothing) {
    const std::vector<std::string> files = world(w.fs);
    const std::vector<std::string> keys = snapshotLines(w.registry);
    const RestoreOutcome outcome = restore(true);
    EXPECT_EQ(outcome.exitCode, exitRemoved) << outcome.message;
    EXPECT_EQ(world(w.fs), files);
    EXPECT_EQ(snapshotLines(w.registry), keys)
        << linesDiff(keys, snapshotLines(w.registry), "missing", "unexpected");
    EXPECT_TRUE(log.has("Planned: Restore folder: " + sample::installdir));
    EXPECT_TRUE(log.has("Planned: Restore file: " + sample::logo));
    EXPECT_TRUE(
        log.has("Planned: Restore registry key: HKEY_LOCAL_MACHINE\\" + sample::uninstallEntry));
    EXPECT_TRUE(log.has("Planned: Raise SharedDLLs count: " + sample::sharedLib));
    EXPECT_TRUE(log.has("Planned: Restore registry value: HKEY_LOCAL_MACHINE\\" +
                        sample::appPathsEntry + ", (default)"));
}

// A backup that is cut short, was not written by this program or does not
// hold what its manifest says changes nothing, and the run says why.
TEST_F(Restore, DamagedBackupChangesNothing) {
    const std::string original = manifest();
    const std::string copy = folder + "\\files\\0\\readme.txt";
    const std::string copyText = w.fs.readTextFile(copy);
    const std::string registryText = w.fs.readTextFile(folder + "\\registry.txt");
    struct Damage {
        const char* name;
        std::function<void()> make;
        const char* said;
    };
    // The manifest names readme.txt anew, and its copy stands where the
    // backup would have put it: only the name can make the backup damaged.
    const auto renameCopy = [&](const std::string& relative) {
        w.fs.addFile(folder + "\\files\\0\\" + relative, copyText);
        editManifest("File: 0 readme.txt", "File: 0 " + relative);
    };
    const std::vector<Damage> damages = {
        {"no manifest", [&] { w.fs.deleteFile(folder + "\\manifest.txt"); }, "no manifest.txt"},
        {"cut short", [&] { setManifest(original.substr(0, original.find("End of backup"))); },
         "no last line"},
        {"another program's", [&] { editManifest("by uninstall.exe", "by another tool"); },
         "does not start"},
        {"another machine's", [&] { editManifest("Machine: PC-7", "Machine: PC-8"); },
         "made on the machine \"PC-8\""},
        {"dot-dot step", [&] { editManifest("File: 0 readme.txt", "File: 0 ..\\readme.txt"); },
         "leaves the install folder"},
        {"forward slash", [&] { editManifest("File: 0 readme.txt", "File: 0 Help/readme.txt"); },
         "leaves the install folder"},
        {"absolute path",
         [&] { editManifest("File: 0 readme.txt", "File: 0 C:\\WINDOWS\\readme.txt"); },
         "leaves the install folder"},
        {"stream", [&] { renameCopy("readme.txt:hidden"); }, "leaves the install folder"},
        {"drive-relative", [&] { renameCopy("C:readme.txt"); }, "leaves the install folder"},
        {"share", [&] { renameCopy("\\\\pc\\s\\readme.txt"); }, "leaves the install folder"},
        {"trailing dot", [&] { renameCopy("readme.txt."); }, "leaves the install folder"},
        {"trailing blank", [&] { renameCopy("Help \\readme.txt"); }, "leaves the install folder"},
        {"device", [&] { renameCopy("Com1.txt"); }, "leaves the install folder"},
        {"device folder", [&] { renameCopy("nul\\readme.txt"); }, "leaves the install folder"},
        {"device in the group",
         [&] {
             const std::string link = "files\\1\\MyApp\\MyApp.lnk";
             ASSERT_TRUE(w.fs.fileExists(folder + "\\" + link));
             w.fs.addFile(folder + "\\files\\1\\MyApp\\AUX\\MyApp.lnk",
                          w.fs.readTextFile(folder + "\\" + link));
             editManifest("File: 1 MyApp\\", "File: 1 MyApp\\AUX\\");
         },
         "leaves the start-menu group"},
        {"outside the group", [&] { editManifest("File: 1 MyApp\\", "File: 1 Other\\"); },
         "outside the start-menu group"},
        {"install folder of no setup",
         [&] { editManifest("Root 0: C:\\Program Files\\MyApp", "Root 0: C:\\"); },
         "not one a setup makes"},
        {"unknown key",
         [&] {
             editManifest("Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                          "App Paths\\myapp.exe",
                          "Key: HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\myapp.exe");
         },
         "do not name the same keys"},
        {"another application's key",
         [&] {
             std::vector<BackupPlan::Key> keys = keysFromText(registryText);
             for (BackupPlan::Key& key : keys) {
                 if (key.path == sample::appPathsEntry) {
                     key.path = sample::appPathsKey + "\\other.exe";
                     key.tree.front().path = key.path;
                 }
             }
             w.fs.addFile(folder + "\\registry.txt", keysText(keys));
             editManifest("App Paths\\myapp.exe", "App Paths\\other.exe");
         },
         "not one of myapp.exe's own entries"},
        {"missing copy", [&] { w.fs.deleteFile(copy); }, "is missing"},
        {"copy of another size", [&] { w.fs.addFile(copy, copyText + "more"); }, "bytes, not"},
        {"no registry.txt", [&] { w.fs.deleteFile(folder + "\\registry.txt"); }, "no registry.txt"},
        {"count raised", [&] { editManifest("Count: 3 -> 2", "Count: 2 -> 3"); },
         "not one the run lowered"},
    };
    const std::vector<std::string> files = world(w.fs);
    const std::vector<std::string> keys = snapshotLines(w.registry);
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        setManifest(original);
        w.fs.addFile(copy, copyText);
        w.fs.addFile(folder + "\\registry.txt", registryText);
        damage.make();
        const RestoreOutcome outcome = restore();
        EXPECT_EQ(outcome.exitCode, exitBadBackup);
        EXPECT_NE(outcome.message.find(damage.said), std::string::npos) << outcome.message;
        EXPECT_NE(outcome.message.find("nothing has been restored"), std::string::npos)
            << outcome.message;
        EXPECT_EQ(world(w.fs), files);
        EXPECT_EQ(snapshotLines(w.registry), keys)
            << linesDiff(keys, snapshotLines(w.registry), "missing", "unexpected");
    }
}

// The copy another program holds cannot be read; the backup may well be
// whole, so a script told 1620 would give it up for good.
TEST_F(Restore, BackupThatCannotBeReadNowChangesNothingAndIsNotCalledDamaged) {
    class HeldCopy : public MemoryBackupSource {
    public:
        using MemoryBackupSource::MemoryBackupSource;
        std::optional<std::uint64_t> fileSize(const std::string& relative) override {
            if (relative.ends_with("readme.txt"))
                throw Error::cannot("read the backup file", relative, "Sharing violation.");
            return MemoryBackupSource::fileSize(relative);
        }
    };
    Options options;
    options.quiet = true;
    options.restoreFolder = folder;
    HeldCopy source(w.fs, folder);
    const std::vector<std::string> files = world(w.fs);
    const std::vector<std::string> keys = snapshotLines(w.registry);
    const RestoreOutcome outcome =
        Session(options, w.registry, w.fs, noShell(), &log).restore(source);
    EXPECT_EQ(outcome.exitCode, exitRunFailed);
    EXPECT_NE(outcome.message.find("Sharing violation. Nothing has been restored from " + folder),
              std::string::npos)
        << outcome.message;
    EXPECT_TRUE(log.has("Sharing violation"));
    EXPECT_EQ(world(w.fs), files);
    EXPECT_EQ(snapshotLines(w.registry), keys);
}

TEST(RestoreCommandLine, TakesNothingThatBelongsToARemoval) {
    EXPECT_EQ(parseCommandLine("/quiet \"/restore:D:\\Backups\\PC-7 myapp.exe\"").error, "");
    EXPECT_EQ(*parseCommandLine("/restore:D:\\B").options.restoreFolder, "D:\\B");
    EXPECT_EQ(parseCommandLine("/preview /log:D:\\r.log /restore:D:\\B").error, "");
    for (const char* line :
         {"/restore:D:\\B myapp.exe", "/restore:D:\\B /backup:D:\\C", "/restore:D:\\B /keep:*.mdb",
          "/restore:D:\\B /list", "/restore:D:\\B /restore:D:\\C", "/restore"})
        EXPECT_NE(parseCommandLine(line).error, "") << line;
    EXPECT_NE(usageText().find("/restore:FOLDER"), std::string::npos);
}

} // namespace
} // namespace uninst::test
