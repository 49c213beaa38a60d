// A restore with one port call failing at a time: no failure ends in a
// restore that says everything came back, and one that says so has put back
// the world before the run.

#include "engine/exit_codes.h"
#include "engine/session.h"
#include "tests/faults/faulty_ports.h"
#include "tests/support/memory_backup_source.h"
#include "tests/support/memory_backup_store.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace uninst::test {
namespace {

namespace s = sample;

struct Faults {
    std::size_t fs = FaultPlan::never;
    std::size_t registry = FaultPlan::never;
};

struct Sweep {
    SampleWorld w;
    std::vector<std::string> disk;
    std::vector<std::string> keys;
    std::string folder;
    std::size_t fsCalls = 0;
    std::size_t registryCalls = 0;
    std::string injected;

    Sweep() {
        disk = w.fs.snapshot("C:");
        keys = snapshotLines(w.registry);
        Options options = optionsFor(s::exe);
        options.quiet = true;
        options.backupFolder = "D:\\Backups";
        MemoryBackupStore store(w.fs, "D:\\Backups");
        Session(options, w.registry, w.fs, noShell(), nullptr, nullptr, &store).runWithoutWindow();
        folder = placeBackup(store, w.fs);
    }

    RestoreOutcome restore(const Faults& faults) {
        FaultyRegistry registry(w.registry);
        FaultyFileSystem fs(w.fs);
        registry.failAt(faults.registry);
        fs.failAt(faults.fs);
        Options options;
        options.quiet = true;
        options.restoreFolder = folder;
        MemoryBackupSource source(w.fs, folder);
        const RestoreOutcome outcome =
            Session(options, registry, fs, noShell(), nullptr).restore(source);
        fsCalls = fs.calls();
        registryCalls = registry.calls();
        injected = fs.injected() + registry.injected();
        return outcome;
    }
};

void expectNoFalseSuccess(const Faults& faults) {
    Sweep sweep;
    const RestoreOutcome outcome = sweep.restore(faults);
    SCOPED_TRACE(sweep.injected);
    if (outcome.exitCode != exitRemoved)
        return;
    EXPECT_EQ(sweep.w.fs.snapshot("C:"), sweep.disk) << outcome.message;
    EXPECT_EQ(snapshotLines(sweep.w.registry), sweep.keys)
        << linesDiff(sweep.keys, snapshotLines(sweep.w.registry), "missing", "unexpected");
}

TEST(RestoreSweep, NoSingleFailureEndsInASuccessThatIsNotOne) {
    Sweep clean;
    ASSERT_EQ(clean.restore(Faults{}).exitCode, exitRemoved);
    ASSERT_EQ(clean.w.fs.snapshot("C:"), clean.disk);
    ASSERT_GT(clean.fsCalls, 10u);
    ASSERT_GT(clean.registryCalls, 10u);
    for (std::size_t k = 0; k < clean.fsCalls; ++k)
        expectNoFalseSuccess(Faults{k, FaultPlan::never});
    for (std::size_t k = 0; k < clean.registryCalls; ++k)
        expectNoFalseSuccess(Faults{FaultPlan::never, k});
}

} // namespace
} // namespace uninst::test
