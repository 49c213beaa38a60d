#include "bench/clock.h"
#include "engine/command_line.h"
#include "engine/ports.h"
#include "engine/run.h"
#include "engine/session.h"
#include "platform/win32_filesystem.h"
#include "platform/win32_registry.h"
#include "platform/win32_shell.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

// Runs the uninstaller's session with the real registry, file system and
// shell but no window, and times each named step as the run takes it: what
// start-up and the uninstall cost before any list box or progress bar is
// involved. The rows marked are those bench_timer marks.
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

// Prints each step's time as the session runs it.
class Stopwatch : public StepObserver {
public:
    void before(std::string_view) override { start_ = bench::now(); }
    void after(std::string_view step) override {
        std::printf("phase_%.*s_s=%.4f\n", static_cast<int>(step.size()), step.data(),
                    bench::now() - start_);
    }

private:
    double start_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: bench_phases EXE-NAME MARKS\n", stderr);
        return 2;
    }
    try {
        Win32Registry registry;
        Win32FileSystem fs;
        Win32Shell shell;
        Options options;
        options.appName = argv[1];
        Stopwatch watch;
        Session session(options, registry, fs, shell, nullptr, &watch);
        Rows rows;
        UnseenProgress bar;

        session.startUp(rows);
        rows.mark(static_cast<std::size_t>(std::atol(argv[2])));
        // No prompt: a file in use fails the run, as it would be a fault of
        // the bench's world.
        session.uninstall(rows, bar);
        std::printf("phase_rows=%zu\n", rows.rowCount());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_phases: %s\n", e.what());
        return 1;
    }
}
