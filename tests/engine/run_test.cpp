#include "engine/run.h"

#include "engine/error.h"
#include "engine/exit_codes.h"
#include "engine/forwarding_ports.h"
#include "engine/session.h"
#include "engine/unattended.h"
#include "tests/support/error_text.h"
#include "tests/support/pass_through_ports.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uninst::test {
namespace {

using Paths = std::vector<std::string>;
using Names = std::vector<std::string>;

const std::string programs = "C:\\WINDOWS\\Start Menu\\Programs";

bool registrationIntact(const MemoryRegistry& registry) {
    return registry.keyExists(sample::uninstallEntry) && registry.keyExists(sample::appPathsEntry);
}

// Records the steps as the session tells them, and what the world looked like
// as the counts were about to be lowered.
class StepRecorder : public StepObserver {
public:
    explicit StepRecorder(SampleWorld& w) : w_(w) {}
    void before(std::string_view step) override {
        told.push_back("before " + std::string(step));
        if (step == "lowerSharedCounts") {
            logThereBeforeCounts = w_.fs.fileExists(sample::log);
            countBeforeCounts = w_.registry.dword(sample::sharedDllsKey, sample::sharedLib);
        }
    }
    void after(std::string_view step) override { told.push_back("after " + std::string(step)); }

    Names told;
    bool logThereBeforeCounts = true;
    std::optional<std::uint32_t> countBeforeCounts;

private:
    SampleWorld& w_;
};

TEST(Steps, TheObserverSeesEveryStepInTheRunsOrderAndTheCountsGoOnlyOnceTheLogHas) {
    SampleWorld w;
    StepRecorder recorder(w);
    Session session(optionsFor(sample::exe), w.registry, w.fs, noShell(), nullptr, &recorder);
    session.startUp(w.list);
    EXPECT_EQ(session.uninstall(w.list, w.progress), UninstallEnd::removed);
    Names expected;
    for (const char* step :
         {"apath", "refuseUnsafeInstallFolder", "refuseSharedFolder", "findOtherApplications",
          "listfolder", "refuseUnremovableRegistration", "recheckRegistration", "preflight",
          "readlog", "deletefiles", "lowerSharedCounts", "sweepfolders", "installfolder",
          "removeStartMenuGroups", "repaint", "removeentries", "filesStillThere"}) {
        expected.push_back("before " + std::string(step));
        expected.push_back("after " + std::string(step));
    }
    EXPECT_EQ(recorder.told, expected);
    EXPECT_FALSE(recorder.logThereBeforeCounts);
    EXPECT_EQ(recorder.countBeforeCounts, 3u);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 2u);
    EXPECT_FALSE(registrationIntact(w.registry));
}

TEST(Steps, AStepThatThrowsIsNotToldAfterAndNoLaterStepRuns) {
    SampleWorld w;
    StepRecorder recorder(w);
    Session session(optionsFor("unknown.exe"), w.registry, w.fs, noShell(), nullptr, &recorder);
    EXPECT_THROW(session.startUp(w.list), Error);
    EXPECT_EQ(recorder.told,
              (Names{"before apath", "after apath", "before refuseUnsafeInstallFolder"}));
    EXPECT_EQ(session.startFailureCode(), exitNotRegistered);
    EXPECT_EQ(w.list.rowCount(), 0u);
}

TEST(FormLoad, ListsTheRegisteredApplication) {
    SampleWorld w;
    w.startUp("myapp.exe");
    EXPECT_EQ(w.state.cmdline, "myapp.exe");
    EXPECT_EQ(w.state.installdir, sample::installdir);
    EXPECT_EQ(w.state.logpath, sample::log);
    EXPECT_EQ(w.list.rowCount(), 6u);
}

TEST(FormLoad, RefusesWhatItCannotActOnBeforeListingAnything) {
    struct Case {
        const char* what;
        std::string cmdline;
        std::string registered; // App Paths value, none when empty
        std::string says;
    };
    const std::vector<Case> cases = {
        {"no argument", "", "", "No application name was given"},
        {"unknown name", "nosuch.exe", "", "\"nosuch.exe\" is not registered under App Paths"},
        {"value without a folder", "bare.exe", "bare.exe", "\"bare.exe\" is not registered"},
        {"executable in a drive root", "root.exe", "C:\\root.exe", "whole drive C:"},
        {"drive root in lower case", "low.exe", "d:\\low.exe", "whole drive d:"},
        {"drive root with a doubled separator", "twice.exe", "D:\\\\twice.exe", "whole drive D:"},
        {"a dot step", "dot.exe", "C:\\.\\dot.exe", "will not follow"},
        {"a step back up to the drive", "up.exe", "C:\\App\\..\\up.exe", "will not follow"},
        {"a step back into another folder", "back.exe",
         "C:\\Program Files\\MyApp\\..\\Other\\back.exe", "will not follow"},
        {"a step back after a forward slash", "fwd.exe",
         "C:\\Program Files\\MyApp/..\\Other\\fwd.exe", "will not follow"},
        {"a drive root in the verbatim form", "verbatim.exe", "\\\\?\\C:\\verbatim.exe",
         "device path or the root of a network share"},
        {"a drive root in the device form", "device.exe", "\\\\.\\C:\\device.exe",
         "device path or the root of a network share"},
        {"the root of a network share", "share.exe", "\\\\server\\share\\share.exe",
         "device path or the root of a network share"},
        {"a name reaching a key below an entry", "sub.exe\\Sub",
         "C:\\Program Files\\MyApp\\myapp.exe", "\"sub.exe\\Sub\" is not registered"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SampleWorld w;
        w.fs.addFile("C:\\stray.txt");
        w.fs.addFile("D:\\stray.txt");
        if (!c.registered.empty())
            w.registry.setString(sample::appPathsKey + "\\" + c.cmdline, "", c.registered);
        const std::string message = errorOf([&] { w.startUp(c.cmdline); });
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(w.list.rowCount(), 0u);
    }
}

TEST(Command4Click, RoadOfOneRun) {
    SampleWorld w;
    const Paths otherBefore = w.fs.snapshot(sample::otherInstalldir);
    w.startUp();
    ASSERT_TRUE(w.list.mark(sample::dataFile));
    w.uninstall();

    // Everything but the kept file is gone; the empty last sub-folder the
    // inventory entered stays beside it.
    EXPECT_EQ(w.fs.snapshot(sample::installdir),
              (Paths{sample::installdir + "\\", sample::samplesFolder + "\\", sample::dataFile}));
    EXPECT_FALSE(w.fs.exists(sample::groupFolder));
    EXPECT_TRUE(w.fs.exists(sample::otherGroupFolder + "\\Other.lnk"));
    EXPECT_EQ(w.fs.snapshot(sample::otherInstalldir), otherBefore);

    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 2u);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedControl), 0u);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedUnused), 0u);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::otherShared), 4u);

    EXPECT_FALSE(w.registry.keyExists(sample::uninstallEntry));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
    EXPECT_EQ(w.registry.subKeyNames(sample::appPathsKey), Names{"other.exe"});
    EXPECT_EQ(w.registry.subKeyNames(sample::uninstallKey).size(), 2u);
    EXPECT_EQ(w.registry.openHandleCount(), 0u);

    EXPECT_EQ(w.state.menupath, sample::groupFolder);
    EXPECT_EQ(w.list.rowCount(), 6u);
    EXPECT_EQ(w.list.refreshes(), 1);
    EXPECT_EQ(w.progress.value(), 28);
}

TEST(Command4Click, NothingKeptRemovesTheWholeInstallFolder) {
    SampleWorld w;
    w.startUp();
    w.uninstall();
    EXPECT_FALSE(w.fs.exists(sample::installdir));
    EXPECT_TRUE(w.fs.exists(sample::otherInstalldir));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

TEST(Command4Click, EverythingKeptDeletesOnlyTheLog) {
    SampleWorld w;
    w.startUp();
    w.list.markAll();
    w.uninstall();
    for (const std::string& row : w.list.rows())
        EXPECT_TRUE(w.fs.fileExists(row)) << row;
    EXPECT_FALSE(w.fs.exists(sample::log));
    EXPECT_FALSE(w.fs.exists(sample::groupFolder));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

TEST(Command4Click, InstallFolderAlreadySweptAwayIsNoFailure) {
    SampleWorld w(false);
    w.registry.setString(sample::appPathsEntry, "", "C:\\Tool\\tool.exe");
    w.registry.setString(sample::uninstallKey + "\\Tool", "AppToUninstall", "myapp.exe");
    w.fs.addFile("C:\\Tool\\ST6UNST.LOG", sample::lines({"ACTION: ShellLink: \"Tool\",\"Tool\""}));
    w.fs.addFile(programs + "\\Tool\\Tool.lnk");
    w.startUp();
    ASSERT_EQ(w.list.rowCount(), 0u);
    w.uninstall();
    EXPECT_FALSE(w.fs.exists("C:\\Tool"));
    EXPECT_FALSE(w.fs.exists(programs + "\\Tool"));
    EXPECT_FALSE(w.registry.keyExists(sample::uninstallKey + "\\Tool"));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

TEST(Command4Click, EmptyListRemovesTheFolderWithTheToolkitFilesLeft) {
    SampleWorld w(false);
    addToolWithToolkitFiles(w);
    w.startUp();
    w.uninstall();
    EXPECT_FALSE(w.fs.exists("C:\\Tool"));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

TEST(Command4Click, StartMenuGroupAlreadyGoneIsNoFailure) {
    SampleWorld w;
    w.fs.deleteFolder(sample::groupFolder);
    w.startUp();
    w.uninstall();
    EXPECT_FALSE(w.registry.keyExists(sample::uninstallEntry));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

TEST(Command4Click, WhichStartMenuFolderGoes) {
    struct Case {
        const char* what;
        std::vector<std::string> log;
        std::string removed; // empty: nothing under the start menu goes
    };
    const std::string link = "ACTION: ShellLink: \"Tools\\Sub\",\"a\"";
    const std::vector<Case> cases = {
        {"no group information, ordinary folder in menupath",
         {"ACTION: CreateDir: \"C:\\Program Files\\MyApp\""},
         ""},
        {"group found on another drive is looked for under the fixed root",
         {"ACTION: CreateDir: \"D:\\WINDOWS\\Start Menu\\Programs\\Tools\"", link},
         programs + "\\Tools"},
        {"nested group named by a shortcut", {link}, programs + "\\Tools\\Sub"},
        {"a folder of the system's outside the start menu is no group",
         {"ACTION: CreateDir: \"C:\\WINDOWS\\SYSTEM\\Tools\""},
         ""},
        {"the group holding no shortcut the log names",
         {"ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\Tools\"",
          "ACTION: ShellLink: \"Tools\\Sub\",\"b\""},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SampleWorld w;
        std::string text;
        for (const std::string& line : c.log)
            text += line + "\r\n";
        w.fs.addFile(sample::log, text);
        w.fs.addFile(programs + "\\Tools\\Sub\\a.lnk");
        const Paths before = w.fs.snapshot(programs);
        w.startUp();
        w.uninstall();
        Paths expected;
        for (const std::string& entry : before) {
            if (c.removed.empty() || entry.rfind(c.removed, 0) != 0)
                expected.push_back(entry);
        }
        EXPECT_EQ(w.fs.snapshot(programs), expected);
        EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
    }
}

TEST(Command4Click, GroupNameThatLeavesTheStartMenuIsLeftAlone) {
    for (const std::string& group : std::initializer_list<std::string>{
             "..", "..\\..", "...", ". ", "Tools\\..\\..", "C:\\Users", "\\WINDOWS", "Tools\\",
             "T*", "Tools?", "a<b", "Tools\\" + std::string(256, 'x')}) {
        SCOPED_TRACE(group);
        SampleWorld w;
        w.fs.addFile(sample::log, sample::lines({"ACTION: ShellLink: \"" + group + "\",\"x\""}));
        w.fs.addFile(programs + "\\Tools\\a.lnk");
        w.fs.addFile("C:\\Users\\me\\letter.doc");
        const Paths before = w.fs.snapshot("C:\\WINDOWS");
        w.startUp();
        w.uninstall();
        EXPECT_EQ(w.fs.snapshot("C:\\WINDOWS"), before);
        EXPECT_TRUE(w.fs.fileExists("C:\\Users\\me\\letter.doc"));
        EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
    }
}

TEST(Command4Click, MissingLogStopsBeforeAnythingIsRemoved) {
    SampleWorld w;
    w.startUp();
    w.fs.deleteFile(sample::log);
    const Paths before = w.fs.snapshot("C:\\");
    const std::string message = errorOf([&] { w.uninstall(); });
    EXPECT_NE(message.find("st6unst.log"), std::string::npos) << message;
    EXPECT_EQ(w.fs.snapshot("C:\\"), before);
    EXPECT_TRUE(registrationIntact(w.registry));
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 3u);
}

TEST(Command4Click, ReadOnlyFileStopsTheRunBeforeAnythingChangesAndASecondRunFinishes) {
    SampleWorld w;
    w.fs.setReadOnly(sample::helpFile);
    w.startUp();
    const Paths before = w.fs.snapshot("C:\\");
    const std::string message = errorOf([&] { w.uninstall(); });
    EXPECT_NE(message.find(sample::helpFile), std::string::npos) << message;
    EXPECT_NE(message.find("Nothing has been removed"), std::string::npos) << message;
    // The pre-flight found it: no file went, no count was lowered.
    EXPECT_EQ(w.fs.snapshot("C:\\"), before);
    EXPECT_TRUE(registrationIntact(w.registry));
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 3u);
    EXPECT_EQ(w.list.refreshes(), 0);

    w.fs.setReadOnly(sample::helpFile, false);
    w.restart();
    w.startUp();
    w.uninstall();
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 2u);
    EXPECT_FALSE(w.fs.exists(sample::installdir));
    EXPECT_FALSE(w.fs.exists(sample::groupFolder));
    EXPECT_FALSE(registrationIntact(w.registry));
    EXPECT_TRUE(w.registry.keyExists(sample::uninstallKey + "\\Other"));
}

TEST(Command4Click, AfterTheLogIsGoneEveryStepRunsAndOneReportNamesWhatStayed) {
    // A folder that refuses removal and a read-only shortcut: once the log
    // is deleted neither may keep the registration in place, or nothing
    // could ever remove it.
    SampleWorld w;
    w.fs.setInUse(sample::imagesFolder);
    w.fs.setReadOnly(sample::groupFolder + "\\Read Me.lnk");
    w.startUp();
    const std::string message = errorOf([&] { w.uninstall(); });

    const std::size_t folder = message.find("Cannot delete folder " + sample::imagesFolder);
    const std::size_t shortcut = message.find(sample::groupFolder + "\\Read Me.lnk");
    EXPECT_NE(message.find("left behind"), std::string::npos) << message;
    EXPECT_NE(folder, std::string::npos) << message;
    EXPECT_NE(shortcut, std::string::npos) << message;
    EXPECT_LT(folder, shortcut) << "reported in the order met";

    EXPECT_FALSE(w.fs.exists(sample::log));
    EXPECT_FALSE(w.fs.exists(sample::exeFile));
    EXPECT_TRUE(w.fs.exists(sample::imagesFolder));
    EXPECT_TRUE(w.fs.fileExists(sample::groupFolder + "\\Read Me.lnk"));
    EXPECT_FALSE(registrationIntact(w.registry));
    EXPECT_FALSE(w.registry.keyExists(sample::uninstallEntry));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
    EXPECT_TRUE(w.registry.keyExists(sample::uninstallKey + "\\Other"));
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 2u);
    EXPECT_EQ(w.list.refreshes(), 1);
}

TEST(Command4Click, SecondToolkitFileAfterTheLogTakesTheLogAndTheFolderAlong) {
    // The listing meets Help\ST6UNST.000 after the log, so logpath names it.
    SampleWorld w;
    w.fs.addFile(sample::helpFolder + "\\ST6UNST.000");
    w.startUp();
    ASSERT_EQ(w.state.logpath, sample::helpFolder + "\\ST6UNST.000");
    w.uninstall();
    EXPECT_FALSE(w.fs.exists(sample::installdir));
    EXPECT_FALSE(registrationIntact(w.registry));
}

TEST(Command4Click, LogThatCannotBeDeletedStillEndsTheRunAndASecondRunFinishes) {
    SampleWorld w;
    w.fs.addFile(sample::helpFolder + "\\ST6UNST.000");
    w.fs.setReadOnly(sample::log);
    w.startUp();
    const std::string message = errorOf([&] { w.uninstall(); });
    EXPECT_EQ(message.find("left behind"), std::string::npos) << message;
    EXPECT_NE(message.find(sample::log), std::string::npos) << message;
    EXPECT_TRUE(w.fs.fileExists(sample::log));
    EXPECT_TRUE(w.fs.exists(sample::groupFolder));
    EXPECT_TRUE(registrationIntact(w.registry));

    w.fs.setReadOnly(sample::log, false);
    w.restart();
    w.startUp();
    w.uninstall();
    EXPECT_FALSE(w.fs.exists(sample::installdir));
    EXPECT_FALSE(registrationIntact(w.registry));
}

// A listed file that a deletion answered for and left in place: as Wine
// leaves "data.mdb." when it names the handle "data.mdb" (the check that the
// handle holds the listed item then leaves it alone), or one another process
// put back.
class LeavesOneBehind : public PassThroughFileSystem {
public:
    enum class How { nameCheck, putBack };
    LeavesOneBehind(MemoryFileSystem& fs, std::string path, How how)
        : PassThroughFileSystem(fs), fs_(fs), path_(std::move(path)), how_(how) {}

    Removal deleteFile(const std::string& path) override {
        if (path == path_ && how_ == How::nameCheck)
            return Removal::notFound;
        return inner().deleteFile(path);
    }
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override {
        FileRemovals removals = deleteEachInTurn(*this, paths);
        if (how_ == How::putBack)
            fs_.addFile(path_, "back");
        return removals;
    }

private:
    MemoryFileSystem& fs_;
    std::string path_;
    How how_;
};

// Before, such a run ended as a completed one, or failed over the folder the
// file kept, by chance of order: only a file that is gone counts as removed.
TEST(Command4Click, ListedFileStillThereAtTheEndIsNamedAndTheRunDidNotFinish) {
    for (const auto how : {LeavesOneBehind::How::nameCheck, LeavesOneBehind::How::putBack}) {
        SCOPED_TRACE(how == LeavesOneBehind::How::nameCheck ? "name check" : "put back");
        SampleWorld w;
        w.startUp();
        ASSERT_TRUE(w.list.mark(sample::dataFile));
        LeavesOneBehind fs(w.fs, sample::readme, how);
        const std::string message = errorOf(
            [&] { uninst::uninstall(w.state, w.registry, fs, noShell(), w.list, w.progress); });
        EXPECT_NE(message.find("left behind"), std::string::npos) << message;
        EXPECT_NE(message.find("File " + sample::readme + " is still there"), std::string::npos)
            << message;
        EXPECT_EQ(message.find(sample::dataFile), std::string::npos)
            << "the kept file is no leftover";
        EXPECT_TRUE(w.fs.fileExists(sample::readme));
        EXPECT_TRUE(w.fs.fileExists(sample::dataFile));
        EXPECT_FALSE(w.fs.exists(sample::exeFile));
        EXPECT_FALSE(w.fs.exists(sample::log));
        EXPECT_FALSE(registrationIntact(w.registry));
    }
}

// Unattended, the same run ends with the failure's code, not with 0; a file
// left to the restart is not one left behind.
TEST(Command4Click, UnattendedRunWithAFileLeftBehindEndsFailed) {
    SampleWorld w;
    w.fs.setInUse(sample::helpFile);
    LeavesOneBehind fs(w.fs, sample::readme, LeavesOneBehind::How::nameCheck);
    Options options;
    options.quiet = true;
    options.appName = sample::exe;
    struct Lines : RunLog {
        void write(std::string_view line) override { text.append(line).append("\n"); }
        std::string text;
    } log;
    EXPECT_EQ(Session(options, w.registry, fs, noShell(), &log).runWithoutWindow(), exitRunFailed);
    EXPECT_NE(log.text.find("File " + sample::readme + " is still there"), std::string::npos)
        << log.text;
    EXPECT_EQ(log.text.find("File " + sample::helpFile + " is still there"), std::string::npos)
        << log.text;
    EXPECT_FALSE(registrationIntact(w.registry));
}

} // namespace
} // namespace uninst::test
