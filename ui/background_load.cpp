#include "ui/background_load.h"

#include "engine/error.h"

#include <string>
#include <system_error>

namespace uninst {

namespace {

// Rows are handed over in batches: waking the window's thread for each of
// tens of thousands of rows would cost more than adding them.
constexpr std::size_t batch = 256;

} // namespace

BackgroundLoad::BackgroundLoad(Session& session) : session_(session) {
    try {
        worker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had: the same work, only without the overlap.
        run();
    }
}

BackgroundLoad::~BackgroundLoad() {
    if (worker_.joinable())
        worker_.join();
}

void BackgroundLoad::run() {
    std::exception_ptr failure;
    try {
        session_.startUp(rows_);
    } catch (...) {
        failure = std::current_exception();
    }
    {
        std::lock_guard lock(mutex_);
        done_ = true;
        failure_ = failure;
    }
    arrived_.notify_one();
}

void BackgroundLoad::drainInto(FileList& list) {
    std::vector<std::string> taken;
    for (;;) {
        bool finished = false;
        {
            std::unique_lock lock(mutex_);
            arrived_.wait(lock, [this] { return done_ || !pending_.empty(); });
            taken.swap(pending_);
            finished = done_;
        }
        for (const std::string& row : taken)
            list.addRow(row);
        taken.clear();
        if (finished)
            break;
    }
    if (worker_.joinable())
        worker_.join();
    if (failure_)
        std::rethrow_exception(failure_);
}

void BackgroundLoad::Rows::addRow(const std::string& path) {
    bool wake = false;
    {
        std::lock_guard lock(owner_.mutex_);
        owner_.pending_.push_back(path);
        ++owner_.added_;
        wake = owner_.pending_.size() >= batch;
    }
    if (wake)
        owner_.arrived_.notify_one();
}

std::size_t BackgroundLoad::Rows::rowCount() const {
    std::lock_guard lock(owner_.mutex_);
    return owner_.added_;
}

// Start-up only ever appends; rows are read back from the window.
std::string BackgroundLoad::Rows::rowText(std::size_t index) const {
    throw Error::cannot("read row", std::to_string(index) + " of the file list",
                        "rows found at start-up are read from the window.");
}

bool BackgroundLoad::Rows::isMarked(std::size_t) const {
    return false;
}

} // namespace uninst
