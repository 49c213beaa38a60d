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
    {
        BackgroundLoad load(w.state, w.registry, w.fs, sample::exe);
        load.drainInto(w.list);
    }
    EXPECT_EQ(w.list.rows(), direct.list.rows());
    EXPECT_EQ(w.state.cmdline, direct.state.cmdline);
    EXPECT_EQ(w.state.installdir, direct.state.installdir);
    EXPECT_EQ(w.state.logpath, direct.state.logpath);
    EXPECT_EQ(w.state.lastsubpath, direct.state.lastsubpath);
}

TEST(BackgroundLoad, StartUpErrorReachesTheWindowsSide) {
    SampleWorld w;
    BackgroundLoad load(w.state, w.registry, w.fs, "unknown.exe");
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
    { BackgroundLoad load(w.state, w.registry, w.fs, sample::exe); }
    EXPECT_EQ(w.state.installdir, sample::installdir);
    EXPECT_EQ(w.list.rowCount(), 0u);
}

} // namespace
} // namespace uninst::test
