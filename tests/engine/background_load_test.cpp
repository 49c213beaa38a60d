#include "ui/background_load.h"

#include "engine/error.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <string>

namespace uninst::test {
namespace {

// Many more rows than one hand-over batch, so the window's side takes them
// while the worker is still listing.
void addManyFiles(SampleWorld& w, int count) {
    for (int i = 0; i < count; ++i)
        w.fs.addFile(sample::installdir + "\\Data\\Part" + std::to_string(10000 + i) + ".dat");
}

TEST(BackgroundLoad, HandsOverTheSameRowsAndStateAsStartUpOnItsOwn) {
    SampleWorld direct;
    addManyFiles(direct, 3000);
    direct.startUp(sample::exe);

    SampleWorld w;
    addManyFiles(w, 3000);
    Session session(optionsFor(sample::exe), w.registry, w.fs, noShell());
    {
        BackgroundLoad load(session);
        load.drainInto(w.list);
    }
    const UninstallState& state = session.state();
    EXPECT_EQ(w.list.rows(), direct.list.rows());
    EXPECT_EQ(state.cmdline, direct.state.cmdline);
    EXPECT_EQ(state.installdir, direct.state.installdir);
    EXPECT_EQ(state.logpath, direct.state.logpath);
    EXPECT_EQ(state.lastsubpath, direct.state.lastsubpath);
}

TEST(BackgroundLoad, StartUpErrorReachesTheWindowsSide) {
    SampleWorld w;
    Session session(optionsFor("unknown.exe"), w.registry, w.fs, noShell());
    BackgroundLoad load(session);
    std::string message;
    try {
        load.drainInto(w.list);
    } catch (const Error& e) {
        message = e.what();
    }
    EXPECT_NE(message.find("\"unknown.exe\" is not registered"), std::string::npos) << message;
    EXPECT_EQ(w.list.rowCount(), 0u);
}

TEST(BackgroundLoad, EndingWithoutTakingTheRowsWaitsForTheWorker) {
    SampleWorld w;
    addManyFiles(w, 3000);
    Session session(optionsFor(sample::exe), w.registry, w.fs, noShell());
    { BackgroundLoad load(session); }
    EXPECT_EQ(session.state().installdir, sample::installdir);
    EXPECT_EQ(w.list.rowCount(), 0u);
}

} // namespace
} // namespace uninst::test
