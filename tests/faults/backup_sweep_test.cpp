// A run with a backup, with one operation failing at a time (a port's call or
// a write of the backup): whatever the run changed before it stopped, the
// backup holds; a backup cut short means nothing changed at all.

#include "engine/ascii_case.h"
#include "engine/backup.h"
#include "engine/error.h"
#include "engine/run.h"
#include "engine/system_paths.h"
#include "tests/faults/faulty_ports.h"
#include "tests/support/memory_backup_store.h"
#include "tests/support/memory_shell.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

namespace s = sample;

std::string upper(std::string text) {
    for (char& c : text)
        c = asciiUpper(c);
    return text;
}

std::vector<std::string> lost(const std::vector<std::string>& before,
                              const std::vector<std::string>& after) {
    const std::set<std::string> now(after.begin(), after.end());
    std::vector<std::string> gone;
    for (const std::string& line : before) {
        if (now.count(line) == 0)
            gone.push_back(line);
    }
    return gone;
}

struct Faults {
    std::size_t fs = FaultPlan::never;
    std::size_t registry = FaultPlan::never;
    std::optional<int> store;
};

struct Sweep {
    SampleWorld w;
    MemoryShell shell{w.fs};
    MemoryBackupStore store{w.fs, "D:\\Backups"};
    BackupPlan plan;
    std::size_t fsCalls = 0;
    std::size_t registryCalls = 0;
    std::string injected;

    Sweep() {
        shell.setProgramsFolders({});
        w.fs.addFile(s::log, s::logText() +
                                 s::lines({"ACTION: ShellLink: \"Accessories\",\"MyApp "
                                           "Tool\",\"C:\\Program Files\\MyApp\\myapp.exe\",\"\""}));
        w.fs.addFile(std::string(startMenuRoot) + "Accessories\\MyApp Tool.lnk");
        w.fs.addFile(std::string(startMenuRoot) + "Accessories\\Theirs.lnk", "theirs");
    }

    void run(const Faults& faults) {
        store.failAt = faults.store;
        FaultyRegistry registry(w.registry);
        FaultyFileSystem fs(w.fs);
        registry.failAt(faults.registry);
        fs.failAt(faults.fs);
        try {
            uninst::startUp(w.state, registry, fs, shell, s::exe, w.list);
            w.list.mark(s::dataFile);
            DeleteAtRestartWhenInUse atRestart;
            plan = planBackup(w.state, registry, fs, shell, w.list, &atRestart);
            writeBackup(plan, store, s::exe, "test");
            uninst::uninstall(w.state, registry, fs, shell, w.list, w.progress, &atRestart);
        } catch (const Error&) {
        }
        fsCalls = fs.calls();
        registryCalls = registry.calls();
        injected = fs.injected() + registry.injected();
    }
};

// Every change the run made is one the backup holds.
void expectHeld(const Faults& faults) {
    Sweep run;
    const std::vector<std::string> diskBefore = run.w.fs.snapshot("C:");
    const std::vector<std::string> registryBefore = snapshotLines(run.w.registry);
    run.run(faults);
    SCOPED_TRACE(run.injected.empty() ? "backup write " + std::to_string(faults.store.value_or(0))
                                      : run.injected);
    const std::vector<std::string> diskGone = lost(diskBefore, run.w.fs.snapshot("C:"));
    const std::vector<std::string> registryGone =
        lost(registryBefore, snapshotLines(run.w.registry));
    if (run.store.files.count("manifest.txt") == 0) {
        EXPECT_TRUE(diskGone.empty()) << ::testing::PrintToString(diskGone);
        EXPECT_TRUE(registryGone.empty()) << ::testing::PrintToString(registryGone);
        return;
    }
    std::set<std::string> held;
    for (const auto& [target, source] : run.store.copiedFrom)
        held.insert(upper(source));
    for (const BackupPlan::Item& folder : run.plan.folders)
        held.insert(upper(run.plan.roots[folder.root] +
                          (folder.relative.empty() ? "" : "\\" + folder.relative)) +
                    "\\");
    for (const std::string& line : diskGone)
        EXPECT_EQ(held.count(upper(line)), 1u) << "removed and not in the backup: " << line;

    std::set<std::string> keys;
    for (const BackupPlan::Key& key : keysFromText(run.store.files["registry.txt"])) {
        for (const BackupPlan::Key::Entry& entry : key.tree) {
            keys.insert(upper("K " + detail::printable(entry.path)));
            for (const auto& [name, value] : entry.values)
                keys.insert(upper("V " + detail::printable(entry.path) + " | " +
                                  detail::printable(name) + " | " + std::to_string(value.type) +
                                  " | " + detail::printable(value.data)));
        }
    }
    for (const BackupPlan::Count& count : run.plan.counts)
        keys.insert(upper("V " + detail::printable(count.key) + " | " +
                          detail::printable(count.name) + " | 4 | " +
                          detail::printable(dwordBytes(count.before))));
    for (const std::string& line : registryGone)
        EXPECT_EQ(keys.count(upper(line)), 1u) << "changed and not in the backup: " << line;
}

TEST(BackupSweep, EveryFailureLeavesOnlyChangesTheBackupHolds) {
    Sweep clean;
    clean.run(Faults{});
    ASSERT_EQ(clean.store.files.count("manifest.txt"), 1u);
    ASSERT_GT(clean.fsCalls, 20u);
    for (std::size_t k = 0; k < clean.fsCalls; ++k)
        expectHeld(Faults{k, FaultPlan::never, std::nullopt});
    for (std::size_t k = 0; k < clean.registryCalls; ++k)
        expectHeld(Faults{FaultPlan::never, k, std::nullopt});
    for (int k = 1; k <= clean.store.writes; ++k)
        expectHeld(Faults{FaultPlan::never, FaultPlan::never, k});
}

} // namespace
} // namespace uninst::test
