// Every operation of a whole uninstall may fail: a file in use, a folder
// another program holds, a registry call refused. The sweep runs start-up and
// the uninstall once per operation of a fault-free run, with that one
// operation failing, and checks what the user is left with.

#include "engine/error.h"
#include "engine/run.h"
#include "engine/state.h"
#include "engine/system_paths.h"
#include "tests/faults/faulty_ports.h"
#include "tests/support/memory_shell.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"
#include "tests/support/text_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

namespace s = sample;

// A folder link inside the install tree whose target, outside it, holds the
// user's own files.
const std::string linkPath = s::installdir + "\\Shared";
const std::string linkTarget = "C:\\Users\\Shared\\Projects";
const std::string linkedFile = linkTarget + "\\plan.doc";
const std::string linkedNested = linkTarget + "\\2024\\budget.xls";

// Another application registered in a folder inside the install folder,
// with a toolkit log of its own: none of it is this run's.
const std::string pluginDir = s::installdir + "\\Plugin";
const std::string pluginEntry = s::appPathsKey + "\\plugin.exe";

// Which rows the user marks to keep: two of them, none, or every one.
enum class Marks { some, none, all };

std::vector<std::string> listedRows();

std::vector<std::string> keptFiles(Marks marks) {
    switch (marks) {
    case Marks::some:
        return {s::dataFile, s::helpFile};
    case Marks::none:
        return {};
    case Marks::all:
        return listedRows();
    }
    return {};
}

const std::vector<std::string> sharedNames = {s::sharedLib, s::sharedControl, s::sharedUnused};

std::vector<std::string> minus(const std::vector<std::string>& a,
                               const std::vector<std::string>& b) {
    std::multiset<std::string> other(b.begin(), b.end());
    std::vector<std::string> out;
    for (const std::string& line : a) {
        auto it = other.find(line);
        if (it == other.end())
            out.push_back(line);
        else
            other.erase(it);
    }
    return out;
}

// A folder of the system's that a shortcut line of the log names as well:
// only the shortcut the line names is the application's.
const std::string accessories = std::string(startMenuRoot) + "Accessories";
const std::string ourTool = accessories + "\\MyApp Tool.lnk";
const std::vector<std::string> accessoriesBystanders = {accessories + "\\Notepad.lnk",
                                                        accessories + "\\notes.txt"};

// What the uninstall may touch on disk: the install tree but the other
// application's folder, the group, and the application's shortcut among the
// accessories.
bool mayChangeOnDisk(const std::string& line) {
    const std::string u = upper(line);
    if (startsWith(u, upper(pluginDir + "\\")))
        return false;
    return startsWith(u, upper(s::installdir + "\\")) ||
           startsWith(u, upper(s::groupFolder + "\\")) || u == upper(ourTool);
}

// What it may touch in the registry: the application's two entries and the
// counts of the shared files its log names.
bool mayChangeInRegistry(const std::string& line) {
    const std::string u = upper(line);
    for (const std::string& entry : {s::uninstallEntry, s::appPathsEntry}) {
        if (u == "K " + upper(entry) || startsWith(u, "V " + upper(entry) + " | ") ||
            startsWith(u, "K " + upper(entry) + "\\"))
            return true;
    }
    for (const std::string& name : sharedNames) {
        if (startsWith(u, "V " + upper(s::sharedDllsKey) + " | " + upper(name) + " | "))
            return true;
    }
    return false;
}

struct World {
    SampleWorld w;
    // A shell that names the shared folders around the install folder, and no
    // Programs folder, so that the group step stays the fixed root's.
    MemoryShell shell{w.fs};
    Marks marks;

    explicit World(Marks m = Marks::some) : marks(m) {
        // Two files named on a second line each, as a shared control is
        // copied and then registered: each count still goes down by one.
        w.fs.addFile(s::log, s::logText() +
                                 s::lines({
                                     "ACTION: DllSelfRegister: \"C:\\WINDOWS\\SYSTEM\\MYLIB.DLL\"",
                                     "ACTION: SystemFile: \"" + s::sharedControl + "\"",
                                 }));
        w.fs.addLink(linkPath, linkTarget);
        w.fs.addFile(linkedFile, "plan");
        w.fs.addFile(linkedNested, "numbers");
        w.fs.addFile(s::log, s::logText() +
                                 s::lines({"ACTION: ShellLink: \"Accessories\",\"MyApp "
                                           "Tool\",\"C:\\Program Files\\MyApp\\myapp.exe\",\"\""}));
        w.fs.addFile(ourTool);
        for (const std::string& path : accessoriesBystanders)
            w.fs.addFile(path, "theirs");
        w.fs.addFile(pluginDir + "\\plugin.exe");
        w.fs.addFile(pluginDir + "\\ST6UNST.LOG", "x\r\n");
        w.fs.addFolder(pluginDir + "\\Cache");
        w.registry.setString(pluginEntry, "", pluginDir + "\\plugin.exe");
        shell.setProgramsFolders({});
        shell.setSharedFolders({{"C:\\Program Files", "the system's Program Files folder"},
                                {"C:\\Users", "the users' folder"},
                                {"C:\\WINDOWS", "the Windows folder"}});
    }

    void markRows() {
        if (marks == Marks::all)
            w.list.markAll();
        if (marks == Marks::some) {
            for (const std::string& path : keptFiles(marks))
                ASSERT_TRUE(w.list.mark(path)) << path << " is not listed";
        }
    }

    std::uint32_t count(const std::string& name) {
        return w.registry.dword(s::sharedDllsKey, name).value_or(0xDEADBEEF);
    }
};

enum class Outcome { completed, refusedAtStartUp, errorAtStartUp, errorInUninstall };

const char* describe(Outcome outcome) {
    switch (outcome) {
    case Outcome::completed:
        return "completed";
    case Outcome::refusedAtStartUp:
        return "refused at start-up";
    case Outcome::errorAtStartUp:
        return "error at start-up";
    case Outcome::errorInUninstall:
        return "error during the uninstall";
    }
    return "?";
}

struct RunResult {
    Outcome outcome = Outcome::completed;
    std::string message;
    std::string injected;
};

// Start-up, the marks, the uninstall, through the given ports.
RunResult runOnce(World& world, Registry& registry, FileSystem& fs) {
    RunResult run;
    bool started = false;
    try {
        uninst::startUp(world.w.state, registry, fs, world.shell, s::exe, world.w.list);
        started = true;
        world.markRows();
        uninst::uninstall(world.w.state, registry, fs, world.shell, world.w.list, world.w.progress);
    } catch (const Error& e) {
        run.message = e.what();
        run.outcome = started ? Outcome::errorInUninstall : Outcome::errorAtStartUp;
    }
    return run;
}

// The world after a fault-free run, and the calls each port saw, in all and
// during start-up.
struct Baseline {
    std::vector<std::string> disk;
    std::vector<std::string> rows;
    std::vector<std::string> fsCalls;
    std::vector<std::string> registryCalls;
    std::size_t startUpFsCalls = 0;
    std::size_t startUpRegistryCalls = 0;
};

std::vector<std::string> listedRows() {
    static const std::vector<std::string> rows = [] {
        World world;
        uninst::startUp(world.w.state, world.w.registry, world.w.fs, world.shell, s::exe,
                        world.w.list);
        return world.w.list.rows();
    }();
    return rows;
}

const Baseline& baseline(Marks marks, Batches batches = Batches::oneAtATime) {
    static std::map<std::pair<Marks, Batches>, Baseline> cache;
    if (auto it = cache.find({marks, batches}); it != cache.end())
        return it->second;
    const Baseline result = [marks, batches] {
        World world(marks);
        FaultyRegistry registry(world.w.registry, batches);
        FaultyFileSystem fs(world.w.fs, batches);
        Baseline b;
        uninst::startUp(world.w.state, registry, fs, world.shell, s::exe, world.w.list);
        b.startUpFsCalls = fs.calls();
        b.startUpRegistryCalls = registry.calls();
        world.markRows();
        try {
            uninst::uninstall(world.w.state, registry, fs, world.shell, world.w.list,
                              world.w.progress);
        } catch (const Error& e) {
            ADD_FAILURE() << "the fault-free run failed: " << e.what();
        }
        b.disk = world.w.fs.snapshot("C:");
        b.rows = world.w.list.rows();
        b.fsCalls = fs.history();
        b.registryCalls = registry.history();
        return b;
    }();
    return cache.emplace(std::make_pair(marks, batches), result).first->second;
}

struct Tally {
    std::map<std::string, int> outcomes;
    int secondRuns = 0;
    int secondRunsCompleted = 0;
    int logGoneAfterError = 0;
    std::vector<std::string> registrationLeftAfterLogGone;
    std::vector<std::string> loweredTwice;
    std::vector<std::string> registrationLeft;
    std::vector<std::string> sharedCountsLeft;
};

enum class Port { fileSystem, registry };

// Checks 1 to 3 on the world a faulty run left, then, when the log survived
// an error, the completing second run (check 4) and the double lowering of
// counts (figure 5).
void sweepOne(Port port, Marks marks, Batches batches, std::size_t k, Tally& tally) {
    const std::vector<std::string> marked = keptFiles(marks);
    World world(marks);
    const auto diskBefore = world.w.fs.snapshot("C:");
    const auto registryBefore = snapshotLines(world.w.registry);
    const std::map<std::string, std::uint32_t> countsBefore = {
        {s::sharedLib, world.count(s::sharedLib)},
        {s::sharedControl, world.count(s::sharedControl)},
        {s::sharedUnused, world.count(s::sharedUnused)}};

    FaultyRegistry registry(world.w.registry, batches);
    FaultyFileSystem fs(world.w.fs, batches);
    FaultPlan& plan = port == Port::fileSystem ? static_cast<FaultPlan&>(fs) : registry;
    plan.failAt(k);
    RunResult run = runOnce(world, registry, fs);
    run.injected = plan.injected();
    // A registration that cannot be read, this one's or another
    // application's, refuses start-up: the list cannot be told apart from
    // another application's folder then.
    if (run.outcome == Outcome::errorAtStartUp &&
        (world.w.state.installdir.empty() ||
         run.message.find("cannot tell another application's folder") != std::string::npos))
        run.outcome = Outcome::refusedAtStartUp;
    const std::string label = std::string(port == Port::fileSystem ? "fs" : "registry") + " #" +
                              std::to_string(k) + " (" + run.injected + ")";
    SCOPED_TRACE(label + ": " + describe(run.outcome) + " " + run.message);
    ++tally.outcomes[describe(run.outcome)];
    ASSERT_FALSE(run.injected.empty()) << "the fault was never reached";

    // 1. Nothing outside the application's own things changed.
    const auto diskAfter = world.w.fs.snapshot("C:");
    for (const std::string& line : minus(diskAfter, diskBefore))
        ADD_FAILURE() << "appeared on disk: " << line;
    for (const std::string& line : minus(diskBefore, diskAfter))
        EXPECT_TRUE(mayChangeOnDisk(line)) << "removed from disk: " << line;
    const auto registryAfter = snapshotLines(world.w.registry);
    for (const std::string& line : minus(registryAfter, registryBefore))
        EXPECT_TRUE(mayChangeInRegistry(line)) << "registry now holds: " << line;
    for (const std::string& line : minus(registryBefore, registryAfter))
        EXPECT_TRUE(mayChangeInRegistry(line)) << "registry lost: " << line;

    // However the run ended, no count went down by more than one.
    for (const auto& [name, before] : countsBefore) {
        if (before > 0) {
            EXPECT_GE(world.count(name) + 1, before) << name << " lowered twice";
        }
    }

    // 2. Kept files and what a link points at are untouched.
    for (const std::string& path : marked)
        EXPECT_TRUE(world.w.fs.fileExists(path)) << "marked file deleted: " << path;
    EXPECT_TRUE(world.w.fs.exists(linkPath)) << "the link was deleted";
    EXPECT_TRUE(world.w.fs.fileExists(linkedFile) && world.w.fs.fileExists(linkedNested))
        << "files behind the link were deleted";

    // 3. Completed, or stopped by the injected failure, named.
    if (port == Port::fileSystem && run.injected.rfind("remove empty folder ", 0) == 0) {
        // A refused shortcut is an answer, not a failure: the folder is then
        // looked at the ordinary way, and the run ends as a clean one does.
        EXPECT_EQ(run.outcome, Outcome::completed) << run.message;
        World clean(marks);
        runOnce(clean, clean.w.registry, clean.w.fs);
        EXPECT_EQ(diskAfter, clean.w.fs.snapshot("C:"));
        EXPECT_EQ(registryAfter, snapshotLines(clean.w.registry));
    } else if (port == Port::fileSystem) {
        EXPECT_NE(run.outcome, Outcome::completed) << "a failing file-system call went unnoticed";
        if (run.outcome != Outcome::completed) {
            const auto space = run.injected.find(' ', run.injected.find(' ') + 1);
            const std::string operation = run.injected.substr(0, space);
            const std::string path = run.injected.substr(space + 1);
            const std::string named = FaultyFileSystem::message(operation, path);
            if (world.w.fs.fileExists(s::log)) {
                EXPECT_EQ(run.message, named);
            } else {
                // Past the log's deletion the run goes on to the end and
                // names what it left in one report.
                EXPECT_NE(run.message.find("left behind"), std::string::npos) << run.message;
                EXPECT_NE(run.message.find(named), std::string::npos) << run.message;
                const bool registered = world.w.registry.keyExists(s::uninstallEntry) ||
                                        world.w.registry.keyExists(s::appPathsEntry);
                EXPECT_FALSE(registered) << "registration left after the log was deleted";
                if (registered)
                    tally.registrationLeftAfterLogGone.push_back(label);
                for (const auto& [name, before] : countsBefore) {
                    if (before > 0) {
                        EXPECT_EQ(world.count(name), before - 1) << name;
                    }
                }
            }
        }
    } else {
        // A registry status is no error, except one that may leave the
        // application listed or a count standing: that run goes to its end
        // and names what stayed.
        const bool leftNamed =
            run.outcome == Outcome::errorInUninstall &&
            run.message.find("left behind") != std::string::npos &&
            (run.message.find("Cannot remove the registration of ") != std::string::npos ||
             run.message.find("could not be lowered") != std::string::npos);
        EXPECT_TRUE(run.outcome == Outcome::completed || run.outcome == Outcome::refusedAtStartUp ||
                    leftNamed)
            << "a registry status became an error: " << run.message;
        if (run.outcome == Outcome::refusedAtStartUp) {
            EXPECT_EQ(diskAfter, diskBefore);
            EXPECT_EQ(registryAfter, registryBefore);
        }
        if (run.outcome == Outcome::completed) {
            const bool registered = world.w.registry.keyExists(s::uninstallEntry) ||
                                    world.w.registry.keyExists(s::appPathsEntry);
            EXPECT_FALSE(registered) << "completed with the registration in place";
            if (registered)
                tally.registrationLeft.push_back(label);
            for (const auto& [name, before] : countsBefore) {
                if (before > 0 && world.count(name) != before - 1) {
                    ADD_FAILURE() << "completed with the count of " << name << " not lowered";
                    tally.sharedCountsLeft.push_back(label);
                }
            }
        }
    }
    if (run.outcome == Outcome::completed)
        return;

    // 4. With the log still there, running again finishes the job.
    if (!world.w.fs.fileExists(s::log)) {
        ++tally.logGoneAfterError;
        return;
    }
    ++tally.secondRuns;
    world.w.restart();
    const RunResult second = runOnce(world, world.w.registry, world.w.fs);
    EXPECT_EQ(second.outcome, Outcome::completed) << "second run: " << second.message;
    if (second.outcome != Outcome::completed)
        return;
    ++tally.secondRunsCompleted;
    for (const std::string& row : baseline(marks, batches).rows) {
        const bool kept = std::find(marked.begin(), marked.end(), row) != marked.end();
        EXPECT_EQ(world.w.fs.fileExists(row), kept) << row;
    }
    EXPECT_FALSE(world.w.fs.exists(s::log));
    EXPECT_FALSE(world.w.fs.exists(s::groupFolder));
    EXPECT_FALSE(world.w.registry.keyExists(s::uninstallEntry));
    EXPECT_FALSE(world.w.registry.keyExists(s::appPathsEntry));
    const auto disk = world.w.fs.snapshot("C:");
    for (const std::string& line : minus(disk, baseline(marks, batches).disk))
        ADD_FAILURE() << "left after the second run: " << line;
    // A second run may go further than a fault-free one: when the first
    // deleted every listed file, the second lists nothing and removes the
    // install folder whole, empty folders included.
    for (const std::string& line : minus(baseline(marks, batches).disk, disk))
        EXPECT_TRUE(mayChangeOnDisk(line)) << "removed by the second run only: " << line;
    EXPECT_TRUE(world.w.fs.exists(linkPath) && world.w.fs.fileExists(linkedFile));
    for (const std::string& path : marked)
        EXPECT_TRUE(world.w.fs.fileExists(path)) << path;

    // 5. Counts the first run had already lowered are lowered again.
    if (world.count(s::sharedLib) + 2 == countsBefore.at(s::sharedLib))
        tally.loweredTwice.push_back(label);
}

void report(const char* title, std::size_t runs, const Tally& tally) {
    std::printf("\n== %s: %zu runs, one per operation of a fault-free run\n", title, runs);
    for (const auto& [outcome, count] : tally.outcomes)
        std::printf("   %-28s %d\n", outcome.c_str(), count);
    std::printf("   log already deleted at the error (no second run possible): %d\n",
                tally.logGoneAfterError);
    std::printf("      of which ended with the registration in place: %zu\n",
                tally.registrationLeftAfterLogGone.size());
    std::printf("   second runs: %d, completed: %d\n", tally.secondRuns, tally.secondRunsCompleted);
    std::printf("   SharedDLLs counts lowered twice (once per run): %zu of %d second runs\n",
                tally.loweredTwice.size(), tally.secondRuns);
    for (const std::string& label : tally.loweredTwice)
        std::printf("      %s\n", label.c_str());
    if (!tally.registrationLeft.empty()) {
        std::printf("   completed with registration left in place: %zu\n",
                    tally.registrationLeft.size());
        for (const std::string& label : tally.registrationLeft)
            std::printf("      %s\n", label.c_str());
    }
    if (!tally.sharedCountsLeft.empty()) {
        std::printf("   completed with a shared count not lowered: %zu\n",
                    tally.sharedCountsLeft.size());
        for (const std::string& label : tally.sharedCountsLeft)
            std::printf("      %s\n", label.c_str());
    }
    std::fflush(stdout);
}

int count(const Tally& tally, Outcome outcome) {
    const auto found = tally.outcomes.find(describe(outcome));
    return found == tally.outcomes.end() ? 0 : found->second;
}

// What the figures the report shows must come to: every run that stopped
// either had deleted its log already or was completed by a second run, no
// count went down twice, and what ends each run follows from the call that
// failed.
void expectFigures(Port port, const Baseline& b, const Tally& tally) {
    const std::size_t runs = port == Port::fileSystem ? b.fsCalls.size() : b.registryCalls.size();
    const int completed = count(tally, Outcome::completed);
    const int refused = count(tally, Outcome::refusedAtStartUp);
    const int atStartUp = count(tally, Outcome::errorAtStartUp);
    const int inUninstall = count(tally, Outcome::errorInUninstall);
    EXPECT_EQ(static_cast<std::size_t>(completed + refused + atStartUp + inUninstall), runs);
    EXPECT_EQ(static_cast<std::size_t>(completed + tally.secondRuns + tally.logGoneAfterError),
              runs);
    EXPECT_EQ(tally.secondRunsCompleted, tally.secondRuns);
    EXPECT_GT(tally.secondRuns, 0);
    EXPECT_TRUE(tally.loweredTwice.empty());
    EXPECT_TRUE(tally.registrationLeftAfterLogGone.empty());
    EXPECT_TRUE(tally.registrationLeft.empty());
    EXPECT_TRUE(tally.sharedCountsLeft.empty());
    if (port == Port::fileSystem) {
        // Only a refused shortcut completes; every other failure at
        // start-up stops it there, and every later one stops the uninstall.
        const auto refusals = std::count_if(b.fsCalls.begin(), b.fsCalls.end(), [](const auto& c) {
            return c.rfind("remove empty folder ", 0) == 0;
        });
        EXPECT_EQ(completed, refusals);
        EXPECT_EQ(static_cast<std::size_t>(refused + atStartUp), b.startUpFsCalls);
        EXPECT_GT(inUninstall, 0);
    } else {
        // A registry status never becomes an error at start-up; one there
        // refuses start-up or is passed over.
        EXPECT_EQ(atStartUp, 0);
        EXPECT_GT(refused, 0);
        EXPECT_LE(static_cast<std::size_t>(refused), b.startUpRegistryCalls);
        EXPECT_GT(completed, 0);
    }
}

const char* describe(Marks marks) {
    switch (marks) {
    case Marks::some:
        return "two rows marked";
    case Marks::none:
        return "no row marked";
    case Marks::all:
        return "every row marked";
    }
    return "?";
}

class FaultSweep : public ::testing::TestWithParam<Marks> {};

TEST_P(FaultSweep, FaultFreeRunRemovesTheApplicationAndKeepsTheLinkedFiles) {
    const Marks marks = GetParam();
    const std::vector<std::string> marked = keptFiles(marks);
    const Baseline& b = baseline(marks);
    ASSERT_FALSE(b.fsCalls.empty());
    ASSERT_FALSE(b.registryCalls.empty());
    for (const std::string& path : marked)
        EXPECT_NE(std::find(b.disk.begin(), b.disk.end(), path), b.disk.end()) << path;
    EXPECT_NE(std::find(b.disk.begin(), b.disk.end(), linkedFile), b.disk.end());
    for (const std::string& path :
         {pluginDir + "\\plugin.exe", pluginDir + "\\ST6UNST.LOG", pluginDir + "\\Cache\\"})
        EXPECT_NE(std::find(b.disk.begin(), b.disk.end(), path), b.disk.end()) << path;
    for (const std::string& row : b.rows) {
        const bool kept = std::find(marked.begin(), marked.end(), row) != marked.end();
        EXPECT_EQ(std::find(b.disk.begin(), b.disk.end(), row) != b.disk.end(), kept) << row;
    }
    EXPECT_EQ(std::find(b.disk.begin(), b.disk.end(), s::groupFolder + "\\"), b.disk.end());
    EXPECT_EQ(std::find(b.disk.begin(), b.disk.end(), ourTool), b.disk.end());
    for (const std::string& path : accessoriesBystanders)
        EXPECT_NE(std::find(b.disk.begin(), b.disk.end(), path), b.disk.end()) << path;
    for (const std::string& call : b.fsCalls)
        EXPECT_EQ(call.find(linkTarget), std::string::npos) << "walked behind the link: " << call;
}

TEST_P(FaultSweep, EveryFileSystemOperationFailingOnce) {
    const Marks marks = GetParam();
    const std::size_t n = baseline(marks).fsCalls.size();
    Tally tally;
    for (std::size_t k = 0; k < n; ++k)
        sweepOne(Port::fileSystem, marks, Batches::oneAtATime, k, tally);
    report(("file-system faults, " + std::string(describe(marks))).c_str(), n, tally);
    expectFigures(Port::fileSystem, baseline(marks), tally);
}

// The batch calls reach the file system whole, as they reach the Win32 one,
// which runs them on several threads; a failing batch is one call failing,
// and a failing deletion in it leaves some files before it and after it
// deleted and the rest not reached.
TEST_P(FaultSweep, EveryFileSystemOperationFailingOnceWithTheBatchesWhole) {
    const Marks marks = GetParam();
    const Baseline& b = baseline(marks, Batches::whole);
    const auto batchCalls = [&](const char* operation) {
        return std::count_if(b.fsCalls.begin(), b.fsCalls.end(), [&](const std::string& call) {
            return call.rfind(operation, 0) == 0;
        });
    };
    EXPECT_EQ(batchCalls("check deletes "), 1);
    EXPECT_EQ(batchCalls("delete files "), marks == Marks::all ? 0 : 1);
    EXPECT_EQ(batchCalls("check delete "), 0);
    const std::size_t n = b.fsCalls.size();
    Tally tally;
    for (std::size_t k = 0; k < n; ++k)
        sweepOne(Port::fileSystem, marks, Batches::whole, k, tally);
    report(("file-system faults, batches whole, " + std::string(describe(marks))).c_str(), n,
           tally);
    expectFigures(Port::fileSystem, b, tally);
}

TEST_P(FaultSweep, EveryRegistryOperationFailingOnce) {
    const Marks marks = GetParam();
    const std::size_t n = baseline(marks).registryCalls.size();
    Tally tally;
    for (std::size_t k = 0; k < n; ++k)
        sweepOne(Port::registry, marks, Batches::oneAtATime, k, tally);
    report(("registry faults, " + std::string(describe(marks))).c_str(), n, tally);
    expectFigures(Port::registry, baseline(marks), tally);
}

// The registry's batch read reaches it whole, as the Win32 registry answers
// it on several threads; the request failing leaves every key of it unread.
TEST_P(FaultSweep, EveryRegistryOperationFailingOnceWithTheBatchesWhole) {
    const Marks marks = GetParam();
    const Baseline& b = baseline(marks, Batches::whole);
    const auto batches =
        std::count_if(b.registryCalls.begin(), b.registryCalls.end(), [](const std::string& call) {
            return call.rfind("readValueOfEach ", 0) == 0;
        });
    EXPECT_EQ(batches, 4) << "the own entry's expansion and App Paths at start-up, then the "
                             "Uninstall and App Paths scans";
    const std::size_t n = b.registryCalls.size();
    Tally tally;
    for (std::size_t k = 0; k < n; ++k)
        sweepOne(Port::registry, marks, Batches::whole, k, tally);
    report(("registry faults, batches whole, " + std::string(describe(marks))).c_str(), n, tally);
    expectFigures(Port::registry, b, tally);
}

INSTANTIATE_TEST_SUITE_P(Marks, FaultSweep, ::testing::Values(Marks::some, Marks::none, Marks::all),
                         [](const ::testing::TestParamInfo<Marks>& tested) {
                             switch (tested.param) {
                             case Marks::some:
                                 return std::string("TwoRowsMarked");
                             case Marks::none:
                                 return std::string("NoRowMarked");
                             case Marks::all:
                                 return std::string("EveryRowMarked");
                             }
                             return std::string("Unknown");
                         });

} // namespace
} // namespace uninst::test
