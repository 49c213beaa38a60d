#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/registry.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace uninst {

// Start-up's sequence run on a worker thread, so that the files of a large
// install are being listed while the window is still being built. The rows
// it finds wait here until the window's thread takes them.
//
// Until drainInto has returned, the worker owns `state` and uses `registry`
// and `fs`; nothing else may touch them. The destructor waits for the
// worker.
class BackgroundLoad {
public:
    BackgroundLoad(UninstallState& state, Registry& registry, FileSystem& fs, std::string cmdline);
    // With the desktop shell, which start-up uses to expand the registration.
    BackgroundLoad(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
                   std::string cmdline);
    ~BackgroundLoad();
    BackgroundLoad(const BackgroundLoad&) = delete;
    BackgroundLoad& operator=(const BackgroundLoad&) = delete;

    // Appends every row to `list` in the order found, on the calling thread,
    // as the rows arrive, until the sequence has ended; then throws whatever
    // the sequence threw. Called once.
    void drainInto(FileList& list);

private:
    // What the sequence sees as the file list: rows queue up for the window.
    class Rows : public FileList {
    public:
        explicit Rows(BackgroundLoad& owner) : owner_(owner) {}
        void addRow(const std::string& path) override;
        std::size_t rowCount() const override;
        std::string rowText(std::size_t index) const override;
        bool isMarked(std::size_t index) const override;

    private:
        BackgroundLoad& owner_;
    };

    BackgroundLoad(UninstallState& state, Registry& registry, FileSystem& fs, Shell* shell,
                   std::string cmdline);
    void run();

    UninstallState& state_;
    Registry& registry_;
    FileSystem& fs_;
    Shell* const shell_;
    const std::string cmdline_;
    Rows rows_{*this};

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> pending_;
    std::size_t added_ = 0;
    bool done_ = false;
    std::exception_ptr failure_;
    std::thread worker_;
};

} // namespace uninst
