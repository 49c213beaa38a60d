#pragma once

#include "engine/ports.h"
#include "engine/session.h"

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
// Until drainInto has returned, the worker owns `session`, its state and its
// ports; nothing else may touch them. The destructor waits for the worker.
class BackgroundLoad {
public:
    explicit BackgroundLoad(Session& session);
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

    void run();

    Session& session_;
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
