#pragma once

#include "engine/backup.h"
#include "engine/error.h"
#include "engine/filesystem.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace uninst::test {

// A backup folder in memory: what was created, copied and written, in
// order, with the copies' contents read from the source file system. It
// refuses to write over an item, as the real one does, and can be told to
// fail at its n-th write, as a full disk would.
class MemoryBackupStore : public BackupStore {
public:
    MemoryBackupStore(FileSystemReader& source, std::string folder)
        : source_(source), folder_(std::move(folder)) {}

    std::string folderPath() const override { return folder_; }
    std::string machineName() override { return "PC-7"; }
    std::string localTime() override { return "2026-12-10 05:00:00"; }
    std::uint64_t fileSize(const std::string& source) override {
        return source_.readTextFile(source).size();
    }

    void create(const std::string& name) override {
        write("create", name);
        created = name;
    }
    void makeFolder(const std::string& relative) override {
        write("make folder", relative);
        folders.push_back(relative);
    }
    std::uint64_t copyFile(const std::string& source, const std::string& relative) override {
        write("copy", relative);
        files[relative] = source_.readTextFile(source);
        copiedFrom[relative] = source;
        return files[relative].size();
    }
    void writeFile(const std::string& relative, const std::string& bytes) override {
        write("write", relative);
        files[relative] = bytes;
    }

    // Every write from the n-th one on (1-based) fails.
    std::optional<int> failAt;
    int writes = 0;
    std::optional<std::string> created;
    std::vector<std::string> folders;
    std::map<std::string, std::string> files;
    std::map<std::string, std::string> copiedFrom;

private:
    void write(const char* operation, const std::string& relative) {
        ++writes;
        if (failAt && writes >= *failAt)
            throw Error::cannot(operation, relative, "There is not enough space on the disk.");
        if (files.count(relative) != 0)
            throw Error::cannot(operation, relative, "The file exists.");
    }

    FileSystemReader& source_;
    std::string folder_;
};

} // namespace uninst::test
