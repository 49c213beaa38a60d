#include "engine/installed_applications.h"

#include "engine/ascii_case.h"
#include "engine/csv.h"
#include "engine/error.h"
#include "engine/exit_codes.h"
#include "engine/session.h"
#include "engine/unattended.h"
#include "tests/support/log_lines.h"
#include "tests/support/memory_shell.h"
#include "tests/support/pass_through_ports.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace uninst::test {
namespace {

// Counts the listings of each folder, notes the files asked whether they can
// go, and passes everything on; `vouches` false has the system vouch for no
// file.
class CountingReader final : public OneAtATimeReader {
public:
    using OneAtATimeReader::OneAtATimeReader;
    FolderListing listFolder(const std::string& path) override {
        ++listings[path];
        return inner().listFolder(path);
    }
    DeleteCheck checkDelete(const std::string& path) override {
        asked.push_back(path);
        return inner().checkDelete(path);
    }
    std::vector<bool> deletableUnlessInUse(const std::vector<std::string>& paths) override {
        if (!vouches)
            return FileSystemReader::deletableUnlessInUse(paths);
        return inner().deletableUnlessInUse(paths);
    }
    std::map<std::string, int> listings;
    std::vector<std::string> asked;
    bool vouches = true;
};

// Counts the keys opened by path, the values read under each name, and the
// default values read of each sub-key, and passes everything on.
class CountingRegistry final : public PassThroughRegistry {
public:
    using PassThroughRegistry::PassThroughRegistry;
    Status openKey(Key root, const std::string& path, Key& out) override {
        ++opens[path];
        return PassThroughRegistry::openKey(root, path, out);
    }
    Status readValue(Key key, const std::string& name, Value& out) override {
        if (++reads[name] == 1 && name == "DisplayName" && onFirstDisplayName)
            onFirstDisplayName();
        return PassThroughRegistry::readValue(key, name, out);
    }
    Status readDefaultValue(Key key, const std::string& subkey, Value& out) override {
        ++defaultReads[subkey];
        return PassThroughRegistry::readDefaultValue(key, subkey, out);
    }
    std::map<std::string, std::size_t> opens;
    std::map<std::string, std::size_t> reads;
    std::map<std::string, std::size_t> defaultReads;
    // Called once, between the pass over App Paths and the first start-up.
    std::function<void()> onFirstDisplayName;
};

// A registry where one key refuses to open as itself and to be deleted, as
// a registry link does, or an entry this user may read but not change; its
// default value still reads through its parent.
class OneKeyDenied final : public PassThroughRegistry {
public:
    OneKeyDenied(Registry& inner, std::string path)
        : PassThroughRegistry(inner), path_(std::move(path)) {}
    Status openKey(Key root, const std::string& path, Key& out) override {
        if (sameAsciiCase(path, path_))
            return Status::accessDenied();
        return PassThroughRegistry::openKey(root, path, out);
    }
    Status deleteTree(Key key, const std::string& subkey) override {
        if (sameAsciiCase(subkey, path_))
            return Status::accessDenied();
        return PassThroughRegistry::deleteTree(key, subkey);
    }
    Status checkDeleteTree(Key key, const std::string& subkey) override {
        if (sameAsciiCase(subkey, path_))
            return Status::accessDenied();
        return PassThroughRegistry::checkDeleteTree(key, subkey);
    }

    void deny(std::string path) { path_ = std::move(path); }

private:
    std::string path_;
};

const InstalledApplication* find(const std::vector<InstalledApplication>& records,
                                 const std::string& name) {
    for (const InstalledApplication& record : records) {
        if (record.name == name)
            return &record;
    }
    return nullptr;
}

// What a quiet run says and ends with for `name`, on a copy of the world
// built by `build`.
struct QuietEnd {
    int code = 0;
    Lines log;
};

QuietEnd quietRun(const std::function<void(SampleWorld&, MemoryShell&)>& build,
                  const std::string& name) {
    SampleWorld w;
    MemoryShell shell(w.fs);
    build(w, shell);
    Options options;
    options.quiet = true;
    options.appName = name;
    LogLines log;
    const int code = Session(options, w.registry, w.fs, shell, &log).runWithoutWindow();
    return {code, log.lines};
}

TEST(ApplicationList, EveryRegisteredApplicationIsOneRecordAndNothingChanges) {
    SampleWorld w;
    w.fs.deleteFile(sample::otherInstalldir + "\\ST6UNST.LOG");
    MemoryShell shell(w.fs);
    const Lines files = w.fs.snapshot("C:");
    const Lines keys = snapshotLines(w.registry);
    ApplicationInventory inventory(w.registry, w.fs, shell);
    const std::vector<InstalledApplication> records = inventory.all();

    ASSERT_EQ(records.size(), 2u);
    const InstalledApplication* mine = find(records, sample::exe);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(mine->displayName, "My Application");
    EXPECT_EQ(mine->installFolder, sample::installdir);
    EXPECT_TRUE(mine->listed);
    // The rows the window lists: the install log is no row.
    EXPECT_EQ(mine->files, 6u);
    EXPECT_EQ(mine->bytes, std::string("records").size() + std::string("MZ").size() +
                               std::string("Read me.").size());
    EXPECT_TRUE(mine->installLog);
    EXPECT_EQ(mine->state, ApplicationState::removable);
    EXPECT_EQ(mine->reason, "");
    EXPECT_EQ(detectionExitCode(*mine), exitRemoved);

    const InstalledApplication* other = find(records, sample::otherExe);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->displayName, "Other Application");
    EXPECT_EQ(other->files, 1u);
    EXPECT_FALSE(other->installLog);
    EXPECT_EQ(other->state, ApplicationState::noInstallLog);
    EXPECT_EQ(detectionExitCode(*other), exitRunFailed);

    EXPECT_EQ(w.fs.snapshot("C:"), files);
    EXPECT_EQ(snapshotLines(w.registry), keys);
}

TEST(ApplicationList, OneReadingOfAppPathsAndOneListingPerFolderServeEveryRecord) {
    SampleWorld w;
    // An application inside another's folder: both start-ups look at it.
    w.registry.setString(sample::appPathsKey + "\\inner.exe", "",
                         sample::installdir + "\\Samples\\inner.exe");
    for (int i = 0; i < 20; ++i)
        w.registry.setString(sample::appPathsKey + "\\gone" + std::to_string(i) + ".exe", "",
                             "C:\\Gone" + std::to_string(i) + "\\gone.exe");
    CountingReader counting(w.fs);
    ApplicationInventory inventory(w.registry, counting, noShell());
    const std::vector<InstalledApplication> records = inventory.all();
    ASSERT_EQ(records.size(), 23u);
    EXPECT_EQ(find(records, sample::exe)->files, 5u);
    EXPECT_EQ(find(records, "inner.exe")->files, 1u);
    for (const auto& [folder, count] : counting.listings)
        EXPECT_EQ(count, 1) << folder;
}

// Every record's start-up reads its own App Paths entry as the run reads it;
// the inventory reads each entry once for all of them, and each record is
// still the one that entry's own start-up gives when asked alone, whatever
// the entry holds.
TEST(ApplicationList, EachAppPathsEntryIsReadOnceAndEveryRecordIsTheOneItsOwnStartUpGives) {
    SampleWorld w;
    MemoryShell shell(w.fs);
    shell.setVariable("AppRoot", "C:\\Program Files");
    w.fs.addFolder("C:\\Program Files\\Expanded");
    w.registry.setValue(sample::appPathsKey + "\\expanded.exe", "", Registry::typeExpandSz,
                        std::string("%AppRoot%\\Expanded\\e.exe") + '\0');
    w.registry.setValue(sample::appPathsKey + "\\number.exe", "", Registry::typeDword,
                        dwordBytes(7));
    w.registry.setString(sample::appPathsKey + "\\Novalue.exe", "Path", "C:\\Nowhere");
    w.registry.setString(sample::appPathsKey + "\\long.exe", "",
                         "C:\\" + std::string(300, 'x') + "\\long.exe");
    w.registry.setString(sample::appPathsKey + "\\unterminated.exe", "", "C:\\Odd\\u.exe");
    w.registry.setValue(sample::appPathsKey + "\\unterminated.exe", "", Registry::typeSz,
                        "C:\\Program Files\\Other\\u.exe");
    for (int i = 0; i < 30; ++i)
        w.registry.setString(sample::appPathsKey + "\\gone" + std::to_string(i) + ".exe", "",
                             "C:\\Gone" + std::to_string(i) + "\\gone.exe");
    CountingRegistry counting(w.registry);
    ApplicationInventory inventory(counting, w.fs, shell);
    const std::vector<InstalledApplication> records = inventory.all();
    ASSERT_EQ(records.size(), 37u);
    EXPECT_EQ(find(records, "expanded.exe")->installFolder, "C:\\Program Files\\Expanded");
    // Read as the sub-key's default value only where the entry's value
    // cannot answer for it: not plain text with one terminator.
    Lines asked;
    for (const auto& [subkey, count] : counting.defaultReads) {
        EXPECT_EQ(count, 1u) << subkey;
        asked.push_back(subkey);
    }
    EXPECT_EQ(asked, (Lines{"Novalue.exe", "expanded.exe", "number.exe", "unterminated.exe"}));
    EXPECT_LE(counting.reads[""], records.size() + 2 * asked.size())
        << "each entry's value by the pass, and again only for those read again";

    for (const InstalledApplication& record : records) {
        ApplicationInventory alone(w.registry, w.fs, shell);
        EXPECT_EQ(inventoryLine(record), inventoryLine(alone.one(record.name)));
    }
}

// Another program changing an entry while the inventory runs: its record
// is the entry as one reading found it, before the change or after it,
// never the value of one moment expanded by the type of another.
TEST(ApplicationList, AnEntryChangedDuringTheInventoryIsRecordedAsOneReadingFoundIt) {
    SampleWorld w;
    MemoryShell shell(w.fs);
    shell.setVariable("AppRoot", "C:\\Program Files");
    CountingRegistry counting(w.registry);
    counting.onFirstDisplayName = [&] {
        w.registry.setValue(sample::appPathsEntry, "", Registry::typeExpandSz,
                            std::string("%AppRoot%\\Other\\myapp.exe") + '\0');
    };
    ApplicationInventory inventory(counting, w.fs, shell);
    const std::vector<InstalledApplication> records = inventory.all();
    const InstalledApplication* mine = find(records, sample::exe);
    ASSERT_NE(mine, nullptr);
    EXPECT_TRUE(mine->installFolder == sample::installdir ||
                mine->installFolder == sample::otherInstalldir)
        << mine->installFolder << ": " << mine->reason;
}

// An App Paths entry the run could not delete would stay once the files are
// gone: the run refuses it before changing anything, and the list says so.
TEST(ApplicationList, AnEntryTheRunCouldNotDeleteIsRefusedBeforeAnythingChanges) {
    SampleWorld w;
    MemoryShell shell(w.fs);
    OneKeyDenied denied(w.registry, sample::appPathsEntry);
    const Lines files = w.fs.snapshot("C:");
    const Lines keys = snapshotLines(w.registry);

    ApplicationInventory inventory(denied, w.fs, shell);
    const InstalledApplication record = inventory.one(sample::exe);
    EXPECT_EQ(record.state, ApplicationState::refused);
    EXPECT_NE(record.reason.find("is a registry link, or this user may not delete it"),
              std::string::npos)
        << record.reason;
    EXPECT_EQ(detectionExitCode(record), exitRunFailed);

    Options options;
    options.quiet = true;
    options.appName = sample::exe;
    LogLines log;
    EXPECT_EQ(Session(options, denied, w.fs, shell, &log).runWithoutWindow(), exitRunFailed);
    EXPECT_TRUE(log.has(record.reason)) << ::testing::PrintToString(log.lines);
    EXPECT_EQ(w.fs.snapshot("C:"), files);
    EXPECT_EQ(snapshotLines(w.registry), keys);

    // Put in place after the start-up, as while the window waits for the
    // click: asked again before the first change.
    denied.deny("");
    Options window;
    window.appName = sample::exe;
    Session session(window, denied, w.fs, shell);
    RowList rows;
    session.startUp(rows);
    denied.deny(sample::appPathsEntry);
    UnseenProgress progress;
    EXPECT_THROW(session.uninstall(rows, progress), Error);
    EXPECT_EQ(w.fs.snapshot("C:"), files);
    EXPECT_EQ(snapshotLines(w.registry), keys);
}

// A folder this user may not look into is there: the record says the run
// would be refused by it, never that nothing is installed.
TEST(ApplicationList, AFolderTheUserMayNotSeeIntoIsRefusedNotMissing) {
    class NotSeen final : public OneAtATimeReader {
    public:
        using OneAtATimeReader::OneAtATimeReader;
        FolderListing listFolder(const std::string& path) override {
            if (path == sample::installdir)
                throw Error::cannot("open folder", path, "Access is denied.");
            return inner().listFolder(path);
        }
        bool folderExists(const std::string& path) override {
            return path != sample::installdir && inner().folderExists(path);
        }
        bool isMissing(const std::string& path) override {
            return path != sample::installdir && inner().isMissing(path);
        }
    };
    SampleWorld w;
    NotSeen notSeen(w.fs);
    ApplicationInventory inventory(w.registry, notSeen, noShell());
    const InstalledApplication record = inventory.one(sample::exe);
    EXPECT_EQ(record.state, ApplicationState::refused) << record.reason;
    EXPECT_EQ(detectionExitCode(record), exitRunFailed);
    EXPECT_NE(record.reason.find("Access is denied."), std::string::npos) << record.reason;

    w.fs.deleteFolder(sample::installdir);
    ApplicationInventory after(w.registry, w.fs, noShell());
    EXPECT_EQ(after.one(sample::exe).state, ApplicationState::folderMissing);
}

TEST(ApplicationList, OnlyTheFilesThatCouldStopTheRunAreAskedWhetherTheyCanGo) {
    // A file in use goes at the restart; only the install log and the files
    // the system does not vouch for (a read-only one) could stop a quiet run.
    SampleWorld w;
    w.fs.setInUse(sample::dataFile);
    CountingReader counting(w.fs);
    {
        ApplicationInventory inventory(w.registry, counting, noShell());
        EXPECT_EQ(inventory.one(sample::exe).state, ApplicationState::removable);
        EXPECT_EQ(counting.asked, Lines{sample::log});
    }
    w.fs.setReadOnly(sample::helpFile);
    counting.asked.clear();
    {
        ApplicationInventory inventory(w.registry, counting, noShell());
        EXPECT_EQ(inventory.one(sample::exe).state, ApplicationState::refused);
        EXPECT_EQ(counting.asked, (Lines{sample::helpFile, sample::log}));
    }
    w.fs.setReadOnly(sample::helpFile, false);
    counting.asked.clear();
    counting.vouches = false;
    {
        ApplicationInventory inventory(w.registry, counting, noShell());
        EXPECT_EQ(inventory.one(sample::exe).state, ApplicationState::removable);
        EXPECT_EQ(counting.asked.size(), 7u) << ::testing::PrintToString(counting.asked);
    }
}

struct StateCase {
    const char* what;
    std::string value; // the App Paths value of "case.exe"; empty for none
    std::function<void(SampleWorld&, MemoryShell&)> build;
    ApplicationState state;
    int code;
};

TEST(ApplicationList, EachStateAndItsReasonAreTheRunsOwn) {
    const std::vector<StateCase> cases = {
        {"a folder with its log", "C:\\Case\\case.exe",
         [](SampleWorld& w, MemoryShell&) {
             w.fs.addFile("C:\\Case\\case.exe", "MZ");
             w.fs.addFile("C:\\Case\\ST6UNST.LOG", "");
         },
         ApplicationState::removable, exitRemoved},
        {"a read-only file, which the run cannot delete", "C:\\Case\\case.exe",
         [](SampleWorld& w, MemoryShell&) {
             w.fs.addFile("C:\\Case\\case.exe", "MZ");
             w.fs.addFile("C:\\Case\\ST6UNST.LOG", "");
             w.fs.setReadOnly("C:\\Case\\case.exe");
         },
         ApplicationState::refused, exitRunFailed},
        {"the install log in use, which cannot wait for the restart", "C:\\Case\\case.exe",
         [](SampleWorld& w, MemoryShell&) {
             w.fs.addFile("C:\\Case\\case.exe", "MZ");
             w.fs.addFile("C:\\Case\\ST6UNST.LOG", "");
             w.fs.setInUse("C:\\Case\\ST6UNST.LOG");
         },
         ApplicationState::refused, exitRunFailed},
        {"no install log", "C:\\Case\\case.exe",
         [](SampleWorld& w, MemoryShell&) { w.fs.addFile("C:\\Case\\case.exe", "MZ"); },
         ApplicationState::noInstallLog, exitRunFailed},
        {"only another toolkit file", "C:\\Case\\case.exe",
         [](SampleWorld& w, MemoryShell&) {
             w.fs.addFile("C:\\Case\\case.exe", "MZ");
             w.fs.addFile("C:\\Case\\Help\\ST6UNST.000", "");
         },
         ApplicationState::noInstallLog, exitRunFailed},
        {"the folder missing", "C:\\Case\\case.exe", [](SampleWorld&, MemoryShell&) {},
         ApplicationState::folderMissing, exitNotRegistered},
        {"a whole drive", "C:\\case.exe", [](SampleWorld&, MemoryShell&) {},
         ApplicationState::refused, exitRunFailed},
        {"a relative path", "Case\\case.exe",
         [](SampleWorld& w, MemoryShell&) { w.fs.addFile("C:\\Case\\case.exe", "MZ"); },
         ApplicationState::refused, exitRunFailed},
        {"a dot step", "C:\\Case\\..\\case.exe", [](SampleWorld&, MemoryShell&) {},
         ApplicationState::refused, exitRunFailed},
        {"a shared folder", "C:\\Program Files\\case.exe",
         [](SampleWorld& w, MemoryShell& shell) {
             w.fs.addFile("C:\\Program Files\\ST6UNST.LOG", "");
             shell.setSharedFolders({{"C:\\Program Files", "the Program Files folder"}});
         },
         ApplicationState::refused, exitRunFailed},
        {"a link for a folder", "C:\\Case\\case.exe",
         [](SampleWorld& w, MemoryShell&) { w.fs.addLink("C:\\Case", "C:\\Program Files"); },
         ApplicationState::refused, exitRunFailed},
        {"no folder in the value", "case.exe", [](SampleWorld&, MemoryShell&) {},
         ApplicationState::notRegistered, exitNotRegistered},
        {"no registration", "", [](SampleWorld&, MemoryShell&) {}, ApplicationState::notRegistered,
         exitNotRegistered},
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto build = [&](SampleWorld& w, MemoryShell& shell) {
            if (!c.value.empty())
                w.registry.setString(sample::appPathsKey + "\\case.exe", "", c.value);
            c.build(w, shell);
        };
        SampleWorld w;
        MemoryShell shell(w.fs);
        build(w, shell);
        ApplicationInventory inventory(w.registry, w.fs, shell);
        const InstalledApplication record = inventory.one("case.exe");
        EXPECT_EQ(record.state, c.state) << record.reason;
        EXPECT_EQ(detectionExitCode(record), c.code);

        // Agreement: removable exactly when a quiet run removes it, and a
        // refusal in the words the quiet run uses.
        const QuietEnd quiet = quietRun(build, "case.exe");
        EXPECT_EQ(quiet.code == exitRemoved, record.state == ApplicationState::removable);
        if (record.state == ApplicationState::notRegistered) {
            EXPECT_EQ(quiet.code, exitNotRegistered);
        }
        if (record.state == ApplicationState::refused) {
            EXPECT_EQ(quiet.code, exitRunFailed);
            EXPECT_NE(std::find(quiet.log.begin(), quiet.log.end(), "Error: " + record.reason),
                      quiet.log.end())
                << record.reason << "\n"
                << ::testing::PrintToString(quiet.log);
        }
        if (record.state != ApplicationState::removable) {
            EXPECT_NE(record.reason, "");
        }
    }
}

TEST(ApplicationList, TheUninstallEntryIsFoundByNameOrByAppToUninstall) {
    SampleWorld w;
    w.registry.setString(sample::uninstallKey + "\\other.exe", "DisplayName", "By Its Name");
    w.registry.setString(sample::uninstallKey + "\\other.exe", "DisplayVersion", "2.1");
    w.registry.deleteTree(Registry::localMachine, sample::uninstallKey + "\\Other");
    // Read as the removal reads it: an 8-bit caller's buffer and letter case
    // as the registry folds it.
    w.registry.setString(sample::uninstallEntry, "AppToUninstall", "MYAPP.EXE");
    w.registry.setString(sample::uninstallEntry, "DisplayVersion", "1.0");
    ApplicationInventory inventory(w.registry, w.fs, noShell());
    const InstalledApplication mine = inventory.one(sample::exe);
    EXPECT_EQ(mine.displayName, "My Application");
    EXPECT_EQ(mine.displayVersion, "1.0");
    const InstalledApplication other = inventory.one(sample::otherExe);
    EXPECT_EQ(other.displayName, "By Its Name");
    EXPECT_EQ(other.displayVersion, "2.1");
}

// A crowded registry holds thousands of Uninstall entries and a detection
// rule shows one: the display texts are read for the entries the records
// show, and each record still gets its own.
TEST(ApplicationList, DisplayTextsAreReadOnlyForTheEntriesTheRecordsShow) {
    SampleWorld w;
    w.registry.deleteTree(Registry::localMachine, sample::uninstallKey + "\\Other");
    w.registry.setString(sample::uninstallKey + "\\other.exe", "DisplayName", "By Its Name");
    for (int i = 0; i < 40; ++i)
        w.registry.setString(sample::uninstallKey + "\\Unrelated " + std::to_string(i),
                             "DisplayName", "Unrelated " + std::to_string(i));
    CountingRegistry counting(w.registry);
    {
        ApplicationInventory inventory(counting, w.fs, noShell());
        EXPECT_EQ(inventory.one(sample::exe).displayName, "My Application");
        EXPECT_EQ(counting.reads["DisplayName"], 1u);
        EXPECT_EQ(inventory.one(sample::otherExe).displayName, "By Its Name");
        EXPECT_EQ(inventory.one(sample::exe).displayName, "My Application");
        EXPECT_EQ(counting.reads["DisplayName"], 2u);
    }
    counting.reads.clear();
    ApplicationInventory inventory(counting, w.fs, noShell());
    const std::vector<InstalledApplication> records = inventory.all();
    ASSERT_NE(find(records, sample::exe), nullptr);
    ASSERT_NE(find(records, sample::otherExe), nullptr);
    EXPECT_EQ(find(records, sample::exe)->displayName, "My Application");
    EXPECT_EQ(find(records, sample::otherExe)->displayName, "By Its Name");
    EXPECT_EQ(counting.reads["DisplayName"], 2u);
}

// The whole list reads the display texts of an entry that names its
// application in AppToUninstall on the opening that walks its values, and
// each record still shows what it shows when asked for alone.
TEST(ApplicationList, TheWholeListReadsDisplayTextsOnTheWalkAndShowsWhatEachRecordShowsAlone) {
    SampleWorld w;
    const auto entry = [](const std::string& key) { return sample::uninstallKey + "\\" + key; };
    const auto registered = [&](const std::string& exe) {
        w.registry.setString(sample::appPathsKey + "\\" + exe, "", "C:\\Gone\\" + exe);
    };
    // The version comes after AppToUninstall, past where the walk stops.
    registered("late.exe");
    w.registry.setString(entry("Late"), "DisplayName", "Late");
    w.registry.setString(entry("Late"), "AppToUninstall", "late.exe");
    w.registry.setString(entry("Late"), "DisplayVersion", "3.0");
    registered("number.exe");
    w.registry.setDword(entry("Number"), "DisplayName", 7);
    w.registry.setString(entry("Number"), "AppToUninstall", "number.exe");
    // Another letter case is not the value's name: this entry names nothing.
    registered("cased.exe");
    w.registry.setString(entry("Cased"), "apptouninstall", "cased.exe");
    w.registry.setString(entry("Cased"), "DisplayName", "Not Its Entry");
    registered("twice.exe");
    w.registry.setString(entry("Twice A"), "DisplayName", "First");
    w.registry.setString(entry("Twice A"), "AppToUninstall", "twice.exe");
    w.registry.setString(entry("Twice B"), "DisplayName", "Second");
    w.registry.setString(entry("Twice B"), "AppToUninstall", "twice.exe");
    registered("keyed.exe");
    w.registry.setString(entry("keyed.exe"), "DisplayName", "Keyed");
    w.registry.setString(entry("keyed.exe"), "DisplayVersion", "1");

    CountingRegistry counting(w.registry);
    ApplicationInventory whole(counting, w.fs, noShell());
    const std::vector<InstalledApplication> records = whole.all();
    ASSERT_EQ(records.size(), 7u);
    for (const InstalledApplication& record : records) {
        ApplicationInventory alone(w.registry, w.fs, noShell());
        const InstalledApplication one = alone.one(record.name);
        EXPECT_EQ(one.displayName, record.displayName) << record.name;
        EXPECT_EQ(one.displayVersion, record.displayVersion) << record.name;
    }
    EXPECT_EQ(find(records, "late.exe")->displayVersion, "3.0");
    EXPECT_EQ(find(records, "number.exe")->displayName, "");
    EXPECT_EQ(find(records, "cased.exe")->displayName, "");
    EXPECT_EQ(find(records, "twice.exe")->displayName, "First");
    EXPECT_EQ(find(records, "keyed.exe")->displayVersion, "1");
    // Opened to read AppToUninstall by name, then to walk: nothing more.
    EXPECT_EQ(counting.opens[entry("Twice A")], 2u);
    EXPECT_EQ(counting.opens[sample::uninstallEntry], 2u);
}

// A detection rule asks after one application among thousands of Uninstall
// entries: only those whose AppToUninstall, read by name, names it are
// walked. A later lookup of another application on the same inventory still
// finds the entry that names it.
TEST(ApplicationList, ADetectionRuleWalksOnlyTheEntriesThatNameItsApplication) {
    SampleWorld w;
    const auto entry = [](const std::string& key) { return sample::uninstallKey + "\\" + key; };
    for (int i = 0; i < 30; ++i)
        w.registry.setString(entry("Unrelated " + std::to_string(i)), "AppToUninstall",
                             "unrelated" + std::to_string(i) + ".exe");
    w.registry.setString(sample::appPathsKey + "\\twice.exe", "", "C:\\Gone\\twice.exe");
    w.registry.setString(entry("Twice A"), "DisplayName", "First");
    w.registry.setString(entry("Twice A"), "AppToUninstall", "twice.exe");
    w.registry.setString(entry("Twice B"), "DisplayName", "Second");
    w.registry.setString(entry("Twice B"), "AppToUninstall", "TWICE.EXE");

    CountingRegistry counting(w.registry);
    ApplicationInventory inventory(counting, w.fs, noShell());
    EXPECT_EQ(inventory.one(sample::exe).displayName, "My Application");
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(counting.opens[entry("Unrelated " + std::to_string(i))], 1u) << i;
    EXPECT_EQ(counting.opens[entry("Twice A")], 1u);

    EXPECT_EQ(inventory.one("twice.exe").displayName, "First");
    const std::vector<InstalledApplication> records = inventory.all();
    ASSERT_NE(find(records, "twice.exe"), nullptr);
    EXPECT_EQ(find(records, "twice.exe")->displayName, "First");
    EXPECT_EQ(find(records, sample::exe)->displayName, "My Application");
    EXPECT_EQ(find(records, sample::otherExe)->displayName,
              ApplicationInventory(w.registry, w.fs, noShell()).one(sample::otherExe).displayName);
}

// An entry deleted between the walk's two reads of its display texts: the
// one read before would show a name without its version, which the registry
// never held together, so the record reads the entry again as it is now.
TEST(ApplicationList, AnEntryDeletedBetweenItsDisplayTextsIsReadAgainAsItIsNow) {
    class GoneAfterTheName final : public PassThroughRegistry {
    public:
        using PassThroughRegistry::PassThroughRegistry;
        std::vector<PathValues> readValuesOfEach(Key root, const std::vector<std::string>& paths,
                                                 const std::string& last,
                                                 const std::vector<std::string>& named) override {
            std::vector<PathValues> walks =
                PassThroughRegistry::readValuesOfEach(root, paths, last, named);
            for (std::size_t i = 0; i < paths.size(); ++i) {
                if (paths[i] != sample::uninstallEntry || walks[i].named.size() < 2)
                    continue;
                inner().deleteTree(Registry::localMachine, paths[i]);
                walks[i].named[1] = {false, Status::notFound(), {}};
            }
            return walks;
        }
    };
    SampleWorld w;
    w.registry.setString(sample::uninstallEntry, "DisplayVersion", "1.0");
    GoneAfterTheName gone(w.registry);
    ApplicationInventory inventory(gone, w.fs, noShell());
    const std::vector<InstalledApplication> records = inventory.all();
    ASSERT_NE(find(records, sample::exe), nullptr);
    EXPECT_EQ(find(records, sample::exe)->displayName, "");
    EXPECT_EQ(find(records, sample::exe)->displayVersion, "");
}

TEST(ApplicationList, RecordsAreCsvThatRoundTripsNamesAndPaths) {
    EXPECT_EQ(csvRecord({"a", "", "b c"}), "a,,b c");
    EXPECT_EQ(csvRecord({"x,y", "say \"hi\"", "two\r\nlines"}),
              "\"x,y\",\"say \"\"hi\"\"\",\"two\r\nlines\"");
    // No guard for spreadsheets: a name changed by one could not be handed
    // back to the program.
    EXPECT_EQ(csvRecord({"=calc.exe", "+1", "-x", "@app.exe"}), "=calc.exe,+1,-x,@app.exe");

    SampleWorld w;
    const std::string folder = "C:\\Übung, \"neu\"";
    w.registry.setString(sample::appPathsKey + "\\übung.exe", "", folder + "\\übung.exe");
    w.fs.addFile(folder + "\\übung.exe", "MZ");
    w.fs.addFile(folder + "\\ST6UNST.LOG", "");
    ApplicationInventory inventory(w.registry, w.fs, noShell());
    EXPECT_EQ(inventoryHeader(),
              "Name,DisplayName,DisplayVersion,InstallFolder,Files,Bytes,InstallLog,State,Reason");
    EXPECT_EQ(inventoryLine(inventory.one("übung.exe")),
              "übung.exe,,,\"C:\\Übung, \"\"neu\"\"\",1,2,yes,removable,");
    EXPECT_EQ(inventoryLine(inventory.one("nothere.exe")).substr(0, 33),
              "nothere.exe,,,,,,,not registered,");
}

TEST(ApplicationList, TheListRunWritesTheHeaderFirstAndEndsAsTheRecordSays) {
    SampleWorld w;
    w.fs.deleteFile(sample::otherInstalldir + "\\ST6UNST.LOG");
    LogLines out;
    ApplicationInventory inventory(w.registry, w.fs, noShell());
    EXPECT_EQ(listApplications(inventory, "", &out, nullptr), exitRemoved);
    ASSERT_EQ(out.lines.size(), 3u);
    EXPECT_EQ(out.lines[0], inventoryHeader());

    LogLines one;
    EXPECT_EQ(listApplications(inventory, sample::otherExe, &one, nullptr), exitRunFailed);
    ASSERT_EQ(one.lines.size(), 2u);
    EXPECT_EQ(one.lines[1].rfind("other.exe,Other Application,,", 0), 0u) << one.lines[1];
    EXPECT_EQ(listApplications(inventory, "nothere.exe", nullptr, nullptr), exitNotRegistered);

    SampleWorld empty(false);
    ApplicationInventory none(empty.registry, empty.fs, noShell());
    LogLines errors;
    LogLines nothing;
    EXPECT_EQ(listApplications(none, "", &nothing, &errors), exitRunFailed);
    EXPECT_TRUE(nothing.lines.empty());
    ASSERT_EQ(errors.lines.size(), 1u);
    EXPECT_EQ(errors.lines[0].rfind("Error: Cannot read the list of registered applications", 0),
              0u)
        << errors.lines[0];
}

} // namespace
} // namespace uninst::test
