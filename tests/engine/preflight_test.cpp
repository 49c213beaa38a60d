// A file another program holds: the pre-flight finds it before anything
// changes, the user retries or cancels, and a run nobody watches leaves it to
// the next restart. Whatever happens, each count is lowered once.

#include "engine/error.h"
#include "engine/exit_codes.h"
#include "engine/run.h"
#include "engine/session.h"
#include "engine/unattended.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

namespace s = sample;
using Paths = std::vector<std::string>;

// Answers as a user at the message box would, and remembers what was asked.
class Chooser : public BlockedFiles {
public:
    explicit Chooser(std::function<Answer(const BlockedFile&)> answer)
        : answer_(std::move(answer)) {}
    Answer blocked(const BlockedFile& file) override {
        asked.push_back(file);
        return answer_(file);
    }
    std::vector<BlockedFile> asked;

private:
    std::function<Answer(const BlockedFile&)> answer_;
};

struct Before {
    Paths disk;
    std::vector<std::string> registry;
};

Before taken(SampleWorld& w) {
    return {w.fs.snapshot("C:"), snapshotLines(w.registry)};
}

void expectUnchanged(SampleWorld& w, const Before& before) {
    EXPECT_EQ(w.fs.snapshot("C:"), before.disk);
    EXPECT_EQ(snapshotLines(w.registry), before.registry);
}

void expectCountsLoweredOnce(SampleWorld& w) {
    EXPECT_EQ(w.registry.dword(s::sharedDllsKey, s::sharedLib), 2u);
    EXPECT_FALSE(w.registry.dword(s::sharedDllsKey, s::sharedControl).has_value() &&
                 *w.registry.dword(s::sharedDllsKey, s::sharedControl) != 0u);
}

TEST(FileInUse, CancelEndsWithNothingChanged) {
    SampleWorld w;
    w.fs.setInUse(s::helpFile);
    w.startUp();
    const Before before = taken(w);
    Chooser cancel([](const BlockedFile&) { return BlockedFiles::Answer::cancel; });
    EXPECT_EQ(uninst::uninstall(w.state, w.registry, w.fs, noShell(), w.list, w.progress, &cancel),
              UninstallEnd::cancelled);
    ASSERT_EQ(cancel.asked.size(), 1u);
    EXPECT_EQ(cancel.asked[0].path, s::helpFile);
    EXPECT_TRUE(cancel.asked[0].inUse);
    EXPECT_NE(cancel.asked[0].reason.find(s::helpFile), std::string::npos);
    expectUnchanged(w, before);
}

TEST(FileInUse, RetryAfterItIsReleasedFinishesAndLowersEachCountOnce) {
    SampleWorld w;
    w.fs.setInUse(s::helpFile);
    w.startUp();
    int calls = 0;
    Chooser retry([&](const BlockedFile&) {
        // The first retry finds it still held; the user closes it then.
        if (++calls == 2)
            w.fs.setInUse(s::helpFile, false);
        return BlockedFiles::Answer::retry;
    });
    EXPECT_EQ(uninst::uninstall(w.state, w.registry, w.fs, noShell(), w.list, w.progress, &retry),
              UninstallEnd::removed);
    EXPECT_EQ(retry.asked.size(), 2u);
    EXPECT_FALSE(w.fs.exists(s::installdir));
    EXPECT_FALSE(w.registry.keyExists(s::appPathsEntry));
    expectCountsLoweredOnce(w);
}

TEST(FileInUse, UnwatchedRunLeavesItAndItsFoldersToTheRestart) {
    SampleWorld w;
    w.fs.setInUse(s::helpFile);
    Options options;
    options.quiet = true;
    options.appName = s::exe;
    struct Lines : RunLog {
        void write(std::string_view line) override { lines.emplace_back(line); }
        Paths lines;
    } log;
    EXPECT_EQ(Session(options, w.registry, w.fs, noShell(), &log).runWithoutWindow(),
              exitRestartNeeded);
    // Everything else is gone now; the file, then its folder, then the
    // install folder at the restart.
    // The empty Samples folder the sweep leaves for its parent goes with it.
    EXPECT_EQ(w.fs.scheduledAtRestart(),
              (Paths{s::helpFile, s::helpFolder, s::samplesFolder, s::installdir}));
    EXPECT_EQ(w.fs.snapshot(s::installdir), (Paths{s::installdir + "\\", s::helpFolder + "\\",
                                                   s::helpFile, s::samplesFolder + "\\"}));
    EXPECT_FALSE(w.fs.exists(s::groupFolder));
    EXPECT_FALSE(w.registry.keyExists(s::appPathsEntry));
    expectCountsLoweredOnce(w);
    for (const std::string& path : w.fs.scheduledAtRestart()) {
        EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), "Delete at restart: " + path),
                  log.lines.end())
            << path;
    }
    w.fs.restart();
    EXPECT_FALSE(w.fs.exists(s::installdir));
}

TEST(FileInUse, TheSessionAsksOnlyWhenSomebodyWatches) {
    for (const bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "watched");
        SampleWorld w;
        w.fs.setInUse(s::helpFile);
        Options options;
        options.appName = s::exe;
        options.passive = passive;
        Session session(options, w.registry, w.fs, noShell());
        session.startUp(w.list);
        Chooser restart([](const BlockedFile&) { return BlockedFiles::Answer::deleteAtRestart; });
        EXPECT_EQ(session.uninstall(w.list, w.progress, &restart), UninstallEnd::restartNeeded);
        EXPECT_EQ(restart.asked.size(), passive ? 0u : 1u);
        ASSERT_FALSE(w.fs.scheduledAtRestart().empty());
        EXPECT_EQ(w.fs.scheduledAtRestart().front(), s::helpFile);
    }
}

TEST(FileInUse, AFolderHoldingAKeptFileIsNotLeftToTheRestart) {
    SampleWorld w;
    w.fs.setInUse(s::helpFile);
    w.startUp();
    ASSERT_TRUE(w.list.mark(s::dataFile));
    DeleteAtRestartWhenInUse inUse;
    EXPECT_EQ(uninst::uninstall(w.state, w.registry, w.fs, noShell(), w.list, w.progress, &inUse),
              UninstallEnd::restartNeeded);
    EXPECT_EQ(w.fs.scheduledAtRestart(), (Paths{s::helpFile, s::helpFolder}));
    w.fs.restart();
    EXPECT_TRUE(w.fs.fileExists(s::dataFile));
    EXPECT_FALSE(w.fs.exists(s::helpFolder));
}

TEST(FileInUse, TheLogOrARefusingFileCannotWaitForTheRestart) {
    for (const bool log : {true, false}) {
        SCOPED_TRACE(log ? "log in use" : "read-only file");
        SampleWorld w;
        if (log)
            w.fs.setInUse(s::log);
        else
            w.fs.setReadOnly(s::readme);
        w.startUp();
        const Before before = taken(w);
        DeleteAtRestartWhenInUse inUse;
        try {
            uninst::uninstall(w.state, w.registry, w.fs, noShell(), w.list, w.progress, &inUse);
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_NE(std::string(error.what()).find(log ? s::log : s::readme), std::string::npos)
                << error.what();
        }
        expectUnchanged(w, before);
        EXPECT_TRUE(w.fs.scheduledAtRestart().empty());
    }
}

// A DLL another process has loaded, or the application's own program while
// it runs, opens for deletion and only then refuses it. Before, the
// pre-flight let it pass, and its deletion failed after other files went:
// the application half removed, every later run failing the same way.
TEST(FileInUse, MappedFileIsFoundBeforeAnythingChangesAndAQuietRunLeavesItToTheRestart) {
    {
        SCOPED_TRACE("with the window");
        SampleWorld w;
        w.fs.setMapped(s::exeFile);
        w.startUp();
        const Before before = taken(w);
        Chooser cancel([](const BlockedFile&) { return BlockedFiles::Answer::cancel; });
        EXPECT_EQ(
            uninst::uninstall(w.state, w.registry, w.fs, noShell(), w.list, w.progress, &cancel),
            UninstallEnd::cancelled);
        ASSERT_EQ(cancel.asked.size(), 1u);
        EXPECT_EQ(cancel.asked[0].path, s::exeFile);
        EXPECT_TRUE(cancel.asked[0].inUse) << "asked about as a file in use, with Retry";
        expectUnchanged(w, before);
    }
    {
        SCOPED_TRACE("quiet");
        SampleWorld w;
        w.fs.setMapped(s::exeFile);
        Options options;
        options.quiet = true;
        options.appName = s::exe;
        EXPECT_EQ(Session(options, w.registry, w.fs, noShell(), nullptr).runWithoutWindow(),
                  exitRestartNeeded);
        // The empty Samples folder the sweep leaves for its parent goes with it.
        EXPECT_EQ(w.fs.scheduledAtRestart(), (Paths{s::exeFile, s::samplesFolder, s::installdir}));
        EXPECT_EQ(w.fs.snapshot(s::installdir),
                  (Paths{s::installdir + "\\", s::samplesFolder + "\\", s::exeFile}));
        EXPECT_FALSE(w.registry.keyExists(s::appPathsEntry));
        expectCountsLoweredOnce(w);
        w.fs.restart();
        EXPECT_FALSE(w.fs.exists(s::installdir));
    }
}

// Opens a file the moment the run first tries to delete it, after the
// pre-flight passed.
class OpensLate : public RecordingFileSystem {
public:
    OpensLate(MemoryFileSystem& fs, std::string path)
        : RecordingFileSystem(fs), fs_(fs), path_(std::move(path)) {}

private:
    void before(const std::string& operation, const std::string& path) override {
        RecordingFileSystem::before(operation, path);
        if (operation == "delete file" && path == path_ && !done_) {
            fs_.setInUse(path_);
            done_ = true;
        }
    }
    MemoryFileSystem& fs_;
    std::string path_;
    bool done_ = false;
};

TEST(FileInUse, OpenedAfterThePreflightNoCountIsLoweredTwice) {
    for (const std::string& late : {s::helpFile, s::log}) {
        SCOPED_TRACE(late);
        SampleWorld w;
        w.startUp();
        OpensLate fs(w.fs, late);
        EXPECT_THROW(uninst::uninstall(w.state, w.registry, fs, noShell(), w.list, w.progress),
                     Error);
        // The log stays for a second run, and no count went yet.
        EXPECT_TRUE(w.fs.fileExists(s::log));
        EXPECT_EQ(w.registry.dword(s::sharedDllsKey, s::sharedLib), 3u);

        w.fs.setInUse(late, false);
        w.restart();
        w.startUp();
        w.uninstall();
        EXPECT_FALSE(w.fs.exists(s::installdir));
        expectCountsLoweredOnce(w);
    }
}

} // namespace
} // namespace uninst::test
