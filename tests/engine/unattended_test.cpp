#include "engine/unattended.h"

#include "engine/exit_codes.h"
#include "engine/session.h"
#include "tests/support/log_lines.h"
#include "tests/support/memory_shell.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

// A log kept in a file at `path`, which the run must judge before opening.
class FileLog : public LogLines {
public:
    explicit FileLog(std::string path) : path_(std::move(path)) {}
    std::string filePath() const override { return path_; }
    void open() override { opened = true; }
    void refuse() override { refused = true; }
    bool opened = false;
    bool refused = false;

private:
    std::string path_;
};

Options quietWith(const std::vector<std::string>& keep, const std::string& app = sample::exe) {
    Options options;
    options.quiet = true;
    for (const std::string& pattern : keep)
        options.keep.emplace_back(pattern);
    options.appName = app;
    return options;
}

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct World {
    Lines files;
    Lines registry;
};

World snapshot(SampleWorld& w) {
    return {w.fs.snapshot("C:"), snapshotLines(w.registry)};
}

TEST(QuietRun, KeepsWhatThePatternsNameAndRemovesTheRest) {
    SampleWorld w;
    w.fs.addFolder(sample::installdir + "\\Aaa\\Empty");
    LogLines log;
    const int code = Session(quietWith({"*.mdb", "help\\*"}), w.registry, w.fs, noShell(), &log)
                         .runWithoutWindow();
    ASSERT_EQ(code, exitRemoved) << ::testing::PrintToString(log.lines);

    for (const std::string& kept : {sample::dataFile, sample::helpFile, sample::logo})
        EXPECT_TRUE(w.fs.fileExists(kept)) << kept;
    for (const std::string& gone :
         {sample::exeFile, sample::readme, sample::log, sample::sampleData})
        EXPECT_FALSE(w.fs.fileExists(gone)) << gone;
    EXPECT_FALSE(w.fs.exists(sample::groupFolder));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
    EXPECT_FALSE(w.registry.keyExists(sample::uninstallEntry));
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 2u);

    const Lines& l = log.lines;
    EXPECT_TRUE(contains(l, "Install folder: " + sample::installdir));
    EXPECT_TRUE(contains(l, "Keep file: " + sample::dataFile + " (pattern *.mdb)"));
    EXPECT_TRUE(contains(l, "Keep file: " + sample::logo + " (pattern help\\*)"));
    EXPECT_TRUE(contains(l, "Delete file: " + sample::readme));
    EXPECT_TRUE(contains(l, "Delete file: " + sample::log));
    EXPECT_TRUE(contains(l, "Remove folder: " + sample::installdir + "\\Aaa\\Empty"));
    EXPECT_TRUE(contains(l, "Remove folder: " + sample::installdir + "\\Aaa"));
    EXPECT_TRUE(contains(l, "Lower SharedDLLs count: " + sample::sharedLib + ", count 3 -> 2"));
    EXPECT_TRUE(contains(l, "Lower SharedDLLs count: " + sample::sharedControl + ", count 1 -> 0"));
    EXPECT_TRUE(contains(l, "Request SharedDLLs removal: " + sample::sharedUnused +
                                ", count 0, count stays"));
    EXPECT_TRUE(contains(l, "Remove start-menu group: " + sample::groupFolder));
    EXPECT_TRUE(contains(l, "Remove registry key: HKEY_LOCAL_MACHINE\\" + sample::uninstallEntry));
    EXPECT_TRUE(contains(l, "Remove registry key: HKEY_LOCAL_MACHINE\\" + sample::appPathsEntry));
    EXPECT_EQ(std::count_if(l.begin(), l.end(),
                            [](const std::string& line) { return line.rfind("Keep", 0) == 0; }),
              3);
}

// The worlds a preview is compared with the run in: each adds something to
// the sample that makes the planned view of the world matter.
struct Variant {
    const char* what;
    std::function<void(SampleWorld&)> build;
    std::vector<std::string> keep;
    // Also runs with a desktop shell whose Programs folder holds a group.
    bool withShell = false;
};

const std::vector<Variant>& variants() {
    static const std::vector<Variant> all = {
        {"the sample", [](SampleWorld&) {}, {}},
        {"the sample keeping data", [](SampleWorld&) {}, {"*.mdb", "help\\images\\*"}},
        {"everything kept", [](SampleWorld&) {}, {"*"}},
        {"a shared file named twice, lowered twice",
         [](SampleWorld& w) {
             w.fs.addFile(sample::log, sample::logText() +
                                           sample::lines({"ACTION: SystemFile: "
                                                          "\"C:\\WINDOWS\\SYSTEM\\mylib.dll\""}));
         },
         {}},
        {"two Uninstall entries naming the application",
         [](SampleWorld& w) {
             // The second moves into the first one's place when it is deleted,
             // and the scan passes over it.
             w.registry.setString(sample::uninstallKey + "\\MyApp2", "AppToUninstall", "MYAPP.EXE");
             w.registry.setString(sample::uninstallKey + "\\MyApp3", "AppToUninstall", "myapp.exe");
         },
         {}},
        {"an Uninstall entry with sub-keys",
         [](SampleWorld& w) {
             w.registry.setString(sample::uninstallEntry + "\\Parts\\One", "Size", "1");
         },
         {}},
        {"a group of shortcuts in the shell's Programs folder", [](SampleWorld&) {}, {}, true},
        {"no files besides the log",
         [](SampleWorld& w) {
             w.fs.deleteFolder(sample::installdir);
             w.fs.addFile(sample::log, sample::logText());
         },
         {}},
        {"a link inside the install folder",
         [](SampleWorld& w) {
             w.fs.addFile("C:\\Elsewhere\\precious.doc");
             w.fs.addLink(sample::helpFolder + "\\Linked", "C:\\Elsewhere");
         },
         {}},
        {"an empty folder the inventory entered last",
         [](SampleWorld& w) { w.fs.addFolder(sample::installdir + "\\Zzz\\Empty"); },
         {}},
    };
    return all;
}

TEST(Preview, ChangesNothingAndPlansExactlyWhatTheRunDoes) {
    for (const Variant& v : variants()) {
        SCOPED_TRACE(v.what);
        SampleWorld w;
        v.build(w);
        MemoryShell shell(w.fs);
        Shell& withShell = v.withShell ? static_cast<Shell&>(shell) : noShell();
        if (v.withShell)
            shell.addShortcut(MemoryShell::commonPrograms + "\\MyApp\\MyApp.lnk", sample::exeFile);
        const World before = snapshot(w);

        Options options = quietWith(v.keep);
        options.preview = true;
        LogLines plan;
        ASSERT_EQ(Session(options, w.registry, w.fs, withShell, &plan).runWithoutWindow(),
                  exitRemoved)
            << ::testing::PrintToString(plan.lines);
        const World after = snapshot(w);
        EXPECT_EQ(after.files, before.files);
        EXPECT_EQ(after.registry, before.registry);
        EXPECT_EQ(w.registry.openHandleCount(), 0u);

        LogLines run;
        ASSERT_EQ(Session(quietWith(v.keep), w.registry, w.fs, withShell, &run).runWithoutWindow(),
                  exitRemoved);
        if (v.withShell) {
            EXPECT_FALSE(w.fs.exists(MemoryShell::commonPrograms + "\\MyApp"));
        }
        Lines planned;
        const std::string mark(RunReport::plannedMark);
        for (const std::string& line : plan.lines)
            planned.push_back(line.rfind(mark, 0) == 0 ? line.substr(mark.size()) : line);
        EXPECT_EQ(planned, run.lines);
        EXPECT_GT(std::count_if(plan.lines.begin(), plan.lines.end(),
                                [&](const std::string& line) { return line.rfind(mark, 0) == 0; }),
                  3);
    }
}

TEST(Preview, FindsWhatWouldStopTheRun) {
    SampleWorld w;
    w.fs.deleteFile(sample::log);
    Options options = quietWith({});
    options.preview = true;
    LogLines plan;
    EXPECT_EQ(Session(options, w.registry, w.fs, noShell(), &plan).runWithoutWindow(),
              exitRunFailed);
    ASSERT_FALSE(plan.lines.empty());
    EXPECT_EQ(plan.lines.back().rfind("Error: Cannot ", 0), 0u) << plan.lines.back();
    EXPECT_TRUE(w.fs.fileExists(sample::readme));
}

// The pre-flight's check asks the real file system, so a file that refuses
// deletion stops the preview where it would stop the run, with the same
// words, before anything is planned.
TEST(Preview, StopsAtAFileThatRefusesDeletionAsTheRunWould) {
    std::vector<std::string> lastLines;
    for (const bool preview : {true, false}) {
        SCOPED_TRACE(preview ? "preview" : "run");
        SampleWorld w;
        w.fs.setReadOnly(sample::readme);
        const auto diskBefore = w.fs.snapshot("C:");
        Options options = quietWith({});
        options.preview = preview;
        LogLines log;
        EXPECT_EQ(Session(options, w.registry, w.fs, noShell(), &log).runWithoutWindow(),
                  exitRunFailed);
        ASSERT_FALSE(log.lines.empty());
        EXPECT_EQ(log.lines.back().rfind("Error: Cannot delete file " + sample::readme, 0), 0u)
            << log.lines.back();
        EXPECT_EQ(w.fs.snapshot("C:"), diskBefore);
        lastLines.push_back(log.lines.back());
    }
    EXPECT_EQ(lastLines.front(), lastLines.back());
}

TEST(QuietRun, ExitCodesTellWhyItStopped) {
    struct Case {
        const char* what;
        std::string app;
        std::function<void(SampleWorld&)> build;
        int code;
    };
    const std::vector<Case> cases = {
        {"not registered", "nosuch.exe", [](SampleWorld&) {}, exitNotRegistered},
        {"registration names no folder", "bare.exe",
         [](SampleWorld& w) {
             w.registry.setString(sample::appPathsKey + "\\bare.exe", "", "bare");
         },
         exitNotRegistered},
        {"no name", "", [](SampleWorld&) {}, exitBadCommandLine},
        {"a drive root", "root.exe",
         [](SampleWorld& w) {
             w.registry.setString(sample::appPathsKey + "\\root.exe", "", "C:\\root.exe");
         },
         exitRunFailed},
        {"a file that refuses deletion", sample::exe,
         [](SampleWorld& w) { w.fs.setReadOnly(sample::readme); }, exitRunFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SampleWorld w;
        c.build(w);
        LogLines log;
        EXPECT_EQ(
            Session(quietWith({}, c.app), w.registry, w.fs, noShell(), &log).runWithoutWindow(),
            c.code);
        ASSERT_FALSE(log.lines.empty());
        EXPECT_EQ(log.lines.back().rfind("Error: ", 0), 0u) << log.lines.back();
        EXPECT_TRUE(w.fs.fileExists(sample::readme));
    }
}

TEST(QuietRun, RunsWithoutALog) {
    SampleWorld w;
    EXPECT_EQ(
        Session(quietWith({"*.mdb"}), w.registry, w.fs, noShell(), nullptr).runWithoutWindow(),
        exitRemoved);
    EXPECT_TRUE(w.fs.fileExists(sample::dataFile));
    EXPECT_FALSE(w.fs.fileExists(sample::readme));
}

TEST(QuietRun, LogInsideWhatTheRunRemovesIsRefusedBeforeAnythingChanges) {
    for (const std::string& path :
         Lines{sample::log, sample::installdir + "\\logs\\u.log", "c:\\program files\\MYAPP\\u.log",
               sample::groupFolder + "\\u.log", MemoryShell::commonPrograms + "\\u.log"}) {
        SCOPED_TRACE(path);
        SampleWorld w;
        MemoryShell shell(w.fs);
        const World before = snapshot(w);
        FileLog log(path);
        EXPECT_EQ(Session(quietWith({"*.mdb"}), w.registry, w.fs, shell, &log).runWithoutWindow(),
                  exitLogFailed);
        EXPECT_TRUE(log.refused);
        EXPECT_FALSE(log.opened);
        EXPECT_EQ(snapshot(w).files, before.files);
        EXPECT_EQ(snapshot(w).registry, before.registry);
    }
    // A folder with short (8.3) steps is the folder it stands for; the log
    // file itself is not there yet, its folder is.
    {
        SampleWorld w;
        MemoryShell shell(w.fs);
        shell.setFinalFolder("C:\\PROGRA~1\\MYAPP", sample::installdir);
        const World before = snapshot(w);
        FileLog log("C:\\PROGRA~1\\MYAPP\\u.log");
        EXPECT_EQ(Session(quietWith({}), w.registry, w.fs, shell, &log).runWithoutWindow(),
                  exitLogFailed);
        EXPECT_TRUE(log.refused);
        EXPECT_EQ(snapshot(w).files, before.files);
    }
    // Beside the install folder is outside it.
    SampleWorld w;
    FileLog log("C:\\Program Files\\MyApp.log");
    EXPECT_EQ(Session(quietWith({}), w.registry, w.fs, noShell(), &log).runWithoutWindow(),
              exitRemoved);
    EXPECT_TRUE(log.opened);
}

TEST(QuietRun, KeepPatternThatNamesNoFileBelowTheFolderChangesNothing) {
    SampleWorld w;
    const World before = snapshot(w);
    LogLines log;
    EXPECT_EQ(
        Session(quietWith({"*.mdb", "D:\\MyApp\\data.mdb"}), w.registry, w.fs, noShell(), &log)
            .runWithoutWindow(),
        exitBadCommandLine);
    EXPECT_EQ(snapshot(w).files, before.files);
    EXPECT_EQ(snapshot(w).registry, before.registry);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_NE(log.lines.back().find("D:\\MyApp\\data.mdb"), std::string::npos) << log.lines.back();

    // The folder in full keeps the file; a pattern that kept nothing is named.
    LogLines kept;
    EXPECT_EQ(Session(quietWith({"C:\\PROGRAM FILES\\myapp\\data.mdb", "MyApp\\*.doc"}), w.registry,
                      w.fs, noShell(), &kept)
                  .runWithoutWindow(),
              exitRemoved);
    EXPECT_TRUE(w.fs.fileExists(sample::dataFile));
    EXPECT_FALSE(w.fs.fileExists(sample::readme));
    EXPECT_TRUE(contains(kept.lines, "Keep pattern matched no file: MyApp\\*.doc"));
    EXPECT_FALSE(
        contains(kept.lines, "Keep pattern matched no file: C:\\PROGRAM FILES\\myapp\\data.mdb"));
}

} // namespace
} // namespace uninst::test
