#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"

#include <cstddef>
#include <string>
#include <vector>

namespace uninst::test {

// The window's list as a test sees it: rows in the order added, marks set by
// the test, and a count of repaints.
class RecordingList : public FileList {
public:
    void addRow(const std::string& path) override;
    std::size_t rowCount() const override { return rows_.size(); }
    std::string rowText(std::size_t index) const override { return rows_.at(index); }
    bool isMarked(std::size_t index) const override { return marks_.at(index); }
    void setMarked(std::size_t index, bool marked) override { marks_.at(index) = marked; }
    void refresh() override { ++refreshes_; }

    // Marks the row showing exactly `path`; false when no row shows it.
    bool mark(const std::string& path);
    void markAll();

    const std::vector<std::string>& rows() const { return rows_; }
    int refreshes() const { return refreshes_; }

private:
    std::vector<std::string> rows_;
    std::vector<bool> marks_;
    int refreshes_ = 0;
};

// A progress bar that remembers every value it was given.
class RecordingProgress : public Progress {
public:
    explicit RecordingProgress(float max = 100) : max_(max) {}

    float value() const override { return value_; }
    float max() const override { return max_; }
    void setValue(float value) override;

    const std::vector<float>& history() const { return history_; }

private:
    float value_ = 0;
    float max_;
    std::vector<float> history_;
};

// The calls a decorator forwarded, each as "operation subject", in order.
class CallLog {
public:
    std::size_t calls() const { return calls_.size(); }
    const std::vector<std::string>& history() const { return calls_; }

protected:
    // Logs a call; returns its number, counting from 0.
    std::size_t record(const std::string& operation, const std::string& subject);

private:
    std::vector<std::string> calls_;
};

// A file system that forwards every call to another and logs it, so that a
// test can see which paths reached the platform.
class RecordingFileSystem : public FileSystem, public CallLog {
public:
    explicit RecordingFileSystem(FileSystem& inner) : inner_(inner) {}

    std::string fullPath(const std::string& path) override;
    FolderListing listFolder(const std::string& path) override;
    bool folderExists(const std::string& path) override;
    // Passed on and neither logged nor failed: it changes nothing on disk,
    // and a run's operations are counted without it.
    void setRemovalRoots(const std::vector<std::string>& roots) override {
        inner_.setRemovalRoots(roots);
    }
    Removal deleteFile(const std::string& path) override;
    Removal deleteFolder(const std::string& path) override;
    bool removeEmptyFolder(const std::string& path) override;
    std::string readTextFile(const std::string& path) override;
    DeleteCheck checkDelete(const std::string& path) override;
    void deleteAtRestart(const std::string& path) override;

protected:
    // Runs before each call is forwarded and logs it. A decorator that makes
    // calls fail overrides it and throws.
    virtual void before(const std::string& operation, const std::string& path);
    FileSystem& inner() { return inner_; }

private:
    FileSystem& inner_;
};

} // namespace uninst::test
