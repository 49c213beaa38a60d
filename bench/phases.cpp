#include "bench/clock.h"
#include "engine/installdir.h"
#include "engine/installlog.h"
#include "engine/inventory.h"
#include "engine/ports.h"
#include "engine/preflight.h"
#include "engine/registration.h"
#include "engine/removal.h"
#include "engine/run.h"
#include "engine/start_menu_groups.h"
#include "engine/state.h"
#include "engine/system_paths.h"
#include "platform/win32_filesystem.h"
#include "platform/win32_registry.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

// Runs the uninstaller's engine steps with the real registry and file system
// but no window, and times each one: what start-up and the uninstall cost
// before any list box or progress bar is involved. The rows marked are those
// bench_timer marks.
//
//   bench_phases EXE-NAME MARKS
namespace {

using namespace uninst;

class Rows : public FileList {
public:
    void addRow(const std::string& path) override { rows_.push_back(path); }
    std::size_t rowCount() const override { return rows_.size(); }
    std::string rowText(std::size_t index) const override { return rows_.at(index); }
    bool isMarked(std::size_t index) const override { return marked_.at(index); }

    void mark(std::size_t count) {
        marked_.assign(rows_.size(), false);
        for (std::size_t i = 0; i < count && !rows_.empty(); ++i)
            marked_[i * rows_.size() / count + rows_.size() / (2 * count)] = true;
    }

private:
    std::vector<std::string> rows_;
    std::vector<bool> marked_;
};

class Stopwatch {
public:
    void lap(const char* name) {
        const double now = bench::now();
        std::printf("phase_%s_s=%.4f\n", name, now - last_);
        last_ = now;
    }

private:
    double last_ = bench::now();
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: bench_phases EXE-NAME MARKS\n", stderr);
        return 2;
    }
    try {
        UninstallState state;
        Win32Registry registry;
        Win32FileSystem fs;
        Rows rows;
        UnseenProgress bar;

        Stopwatch watch;
        apath(state, registry, argv[1]);
        watch.lap("apath");
        listfolder(state, fs, state.installdir, rows);
        watch.lap("listfolder");
        rows.mark(static_cast<std::size_t>(std::atol(argv[2])));

        watch.lap("mark");
        // As the run does: every file is checked, and held, before the log is
        // read and anything deleted.
        preflight(state, fs, filesToDelete(state, rows), nullptr);
        watch.lap("preflight");
        readlog(state, registry, fs, state.installdir, bar);
        watch.lap("readlog");
        deletefiles(state, fs, rows);
        watch.lap("deletefiles");
        sweepfolders(state, fs, state.installdir, true);
        watch.lap("sweepfolders");
        removeStartMenuGroups(state, fs, nullptr);
        watch.lap("group");
        removeentries(registry, state.cmdline.empty() ? argv[1] : state.cmdline);
        watch.lap("removeentries");
        std::printf("phase_rows=%zu\n", rows.rowCount());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_phases: %s\n", e.what());
        return 1;
    }
}
