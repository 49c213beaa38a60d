#include "engine/installlog.h"
#include "engine/ports.h"
#include "engine/state.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/memory_registry.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <string>

// readlog over a large install log, in memory, so that the figures are the
// reader's own: bytes per second on lines that name no shared file, and the
// cost per line once shared files make it open the SharedDLLs key.
namespace {

using namespace uninst;

constexpr const char* installdir = "C:\\Program Files\\BenchApp";
constexpr const char* logPath = "C:\\Program Files\\BenchApp\\st6unst.log";
constexpr const char* sharedDlls = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr std::size_t distinctSharedFiles = 2000;

std::string sharedName(std::size_t i) {
    return "C:\\WINDOWS\\SYSTEM\\bench" + std::to_string(i % distinctSharedFiles) + ".dll";
}

// The kinds a real log holds, in a repeating pattern; `sharedInFive` lines of
// every five name a shared file instead, as in a setup of many system files.
std::string makeLog(std::size_t lines, std::size_t sharedInFive) {
    std::string log;
    log.reserve(lines * 64);
    for (std::size_t i = 0; i < lines; ++i) {
        const std::string n = std::to_string(i);
        if (i % 5 < sharedInFive) {
            if (i % 25 == 0)
                log += "ACTION: DllSelfRegister: \"" + sharedName(i) + "\"";
            else
                log += "ACTION: SystemFile: \"" + sharedName(i) + "\"";
            log += "\r\n";
            continue;
        }
        switch (i % 8) {
        case 0:
            log += "ACTION: CreateDir: \"C:\\Program Files\\BenchApp\\Module " + n + "\"";
            break;
        case 1:
            log += "ACTION: PrivateFile: \"C:\\Program Files\\BenchApp\\Module " + n + "\\data" +
                   n + ".dat\"";
            break;
        case 2:
            log += "ACTION: ShellLink: \"BenchApp\",\"Tool " + n +
                   "\",\"C:\\Program Files\\BenchApp\\tool.exe\",\"\"";
            break;
        case 3:
            log += "ACTION: RegKey: \"HKEY_LOCAL_MACHINE\\Software\\BenchApp\\Settings" + n + "\"";
            break;
        case 4:
            log += "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\BenchApp\"";
            break;
        case 5:
            log += "NOTE: Now spawning the main Setup program 'Setup1.exe'....";
            break;
        case 6:
            log += "*** $(BeginSystemFiles) (" + n + ")";
            break;
        default:
            break;
        }
        log += "\r\n";
    }
    return log;
}

void run(benchmark::State& state, std::size_t sharedInFive) {
    const auto lines = static_cast<std::size_t>(state.range(0));
    const std::string log = makeLog(lines, sharedInFive);
    MemoryFileSystem fs;
    fs.addFile(logPath, log);
    MemoryRegistry registry;
    registry.createKey(sharedDlls);
    // High enough that no count reaches zero however many iterations run.
    for (std::size_t i = 0; i < distinctSharedFiles; ++i)
        registry.setDword(sharedDlls, sharedName(i), 0x7FFFFFFF);

    UnseenProgress bar;
    for (auto _ : state) {
        UninstallState uninstall;
        lowerSharedCounts(registry, readlog(uninstall, fs, installdir, bar));
        benchmark::DoNotOptimize(uninstall.groupname.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * log.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines));
    state.SetComplexityN(static_cast<std::int64_t>(lines));
}

// Lines of every kind that names no shared file: the reader's own speed.
void readlogNoSharedFiles(benchmark::State& state) {
    run(state, 0);
}

// Two lines in five name a shared file, one of 2,000, each with its count.
void readlogMixedSharedFiles(benchmark::State& state) {
    run(state, 2);
}

// Both kinds of log at the same sizes, so that the growth with the number of
// lines shows.
void logSizes(benchmark::internal::Benchmark* registered) {
    registered->Arg(250000)
        ->Arg(500000)
        ->Arg(1000000)
        ->Unit(benchmark::kMillisecond)
        ->Complexity(benchmark::oN);
}

} // namespace

BENCHMARK(readlogNoSharedFiles)->Apply(logSizes);
BENCHMARK(readlogMixedSharedFiles)->Apply(logSizes);

int main(int argc, char** argv) {
    // The program reads its log once, into fresh memory. glibc would instead
    // keep a freed buffer of up to 32 MB for the next iteration, so that the
    // smaller logs ran from warm memory and only the largest paid for its
    // pages: a fixed threshold makes every size pay alike, as a real run does.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
