#pragma once

#include "engine/filesystem.h"
#include "engine/forwarding_ports.h"
#include "engine/ports.h"

#include <cstddef>
#include <string>
#include <type_traits>
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
    // How a batch is named in the log: its first item, and how many follow.
    static std::string batchSubject(const std::vector<std::string>& paths) {
        return paths.size() == 1
                   ? paths.front()
                   : paths.front() + " and " + std::to_string(paths.size() - 1) + " more";
    }

private:
    std::vector<std::string> calls_;
};

// How a recording port passes the batch calls on.
enum class Batches {
    // One item at a time through its own calls (checkDelete and deleteFile,
    // openKey and readValue), each logged and each able to fail on its own.
    oneAtATime,
    // Whole, as one logged call, to the port behind it: as the Win32 ports
    // run them, on several threads at once. A batch of nothing
    // reaches nothing and is passed on unlogged.
    whole,
};

// A file system that forwards every call to another and logs it, so that a
// test can see which paths reached the platform. setRemovalRoots and foldCase
// are passed on and neither logged nor failed: they change nothing on disk,
// and a run's operations are counted without them. Each change is listed
// here by hand, so that a new one cannot pass unlogged.
class RecordingFileSystem : public ReadThroughFileSystem, public CallLog {
public:
    explicit RecordingFileSystem(FileSystem& inner, Batches batches = Batches::oneAtATime)
        : ReadThroughFileSystem(inner), inner_(inner), batches_(batches) {}

    std::string fullPath(const std::string& path) override {
        before("resolve path", path);
        return inner().fullPath(path);
    }
    FolderListing listFolder(const std::string& path) override {
        before("list folder", path);
        return inner().listFolder(path);
    }
    std::vector<ListedFolder> listFolders(const std::vector<std::string>& paths) override {
        if (batches_ == Batches::oneAtATime || paths.empty())
            return FileSystemReader::listFolders(paths);
        before("list folders", batchSubject(paths));
        return inner().listFolders(paths);
    }
    bool folderExists(const std::string& path) override {
        before("check folder", path);
        return inner().folderExists(path);
    }
    std::string readTextFile(const std::string& path) override {
        before("read file", path);
        return inner().readTextFile(path);
    }
    DeleteCheck checkDelete(const std::string& path) override {
        before("check delete", path);
        return inner().checkDelete(path);
    }
    std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths) override {
        if (batches_ == Batches::oneAtATime || paths.empty())
            return FileSystemReader::checkDeletes(paths);
        before("check deletes", batchSubject(paths));
        return inner().checkDeletes(paths);
    }
    // Through the calls above, so that each folder's question is logged and
    // may fail on its own.
    std::vector<std::string> filesStillThere(const std::string& folder,
                                             const std::vector<std::string>& paths) override {
        return FileSystemReader::filesStillThere(folder, paths);
    }

    Removal deleteFile(const std::string& path) override {
        before("delete file", path);
        return inner().deleteFile(path);
    }
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override {
        if (batches_ == Batches::oneAtATime || paths.empty())
            return deleteEachInTurn(*this, paths);
        before("delete files", batchSubject(paths));
        return inner().deleteFiles(paths);
    }
    Removal deleteFolder(const std::string& path) override {
        before("delete folder", path);
        return inner().deleteFolder(path);
    }
    bool removeEmptyFolder(const std::string& path) override {
        before("remove empty folder", path);
        return inner().removeEmptyFolder(path);
    }
    // One call per folder, each recorded and each a point a fault may hit.
    std::vector<bool> removeEmptyFolders(const std::vector<std::string>& paths) override {
        return removeEachEmptyInTurn(*this, paths);
    }
    void deleteAtRestart(const std::string& path) override {
        before("delete at restart", path);
        inner().deleteAtRestart(path);
    }
    Creation createFolder(const std::string& path) override {
        before("create folder", path);
        return inner().createFolder(path);
    }
    Creation copyNewFile(const std::string& from, const std::string& to) override {
        before("copy new file", to);
        return inner().copyNewFile(from, to);
    }

protected:
    // Runs before each call is forwarded and logs it. A decorator that makes
    // calls fail overrides it and throws.
    virtual void before(const std::string& operation, const std::string& path) {
        record(operation, path);
    }
    FileSystem& inner() { return inner_; }
    Batches batches() const { return batches_; }

private:
    FileSystem& inner_;
    Batches batches_;
};
static_assert(!std::is_abstract_v<RecordingFileSystem>,
              "every change to the file system is recorded, and may fail");

} // namespace uninst::test
