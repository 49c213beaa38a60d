#pragma once

#include "engine/restore.h"
#include "tests/support/memory_backup_store.h"
#include "tests/support/memory_filesystem.h"

#include <cstdint>
#include <optional>
#include <string>

namespace uninst::test {

// A backup folder in a memory file system, as a restore reads it; the
// copies are put back from there by the same file system.
class MemoryBackupSource : public BackupSource {
public:
    MemoryBackupSource(MemoryFileSystem& fs, std::string folder)
        : fs_(fs), folder_(std::move(folder)) {}

    std::string folderPath() const override { return folder_; }
    // The machine MemoryBackupStore writes its backups on.
    std::string machineName() override { return "PC-7"; }
    std::optional<std::string> readFile(const std::string& relative) override {
        const std::string path = folder_ + "\\" + relative;
        if (!fs_.fileExists(path))
            return std::nullopt;
        return fs_.readTextFile(path);
    }
    std::optional<std::uint64_t> fileSize(const std::string& relative) override {
        const std::optional<std::string> bytes = readFile(relative);
        if (!bytes)
            return std::nullopt;
        return bytes->size();
    }

private:
    MemoryFileSystem& fs_;
    std::string folder_;
};

// Lays out in `fs` what `store` wrote, below its folder as the real store
// does on disk; answers the backup's own folder.
inline std::string placeBackup(const MemoryBackupStore& store, MemoryFileSystem& fs) {
    const std::string folder = store.folderPath() + "\\" + store.created.value_or("backup");
    fs.addFolder(folder);
    for (const std::string& made : store.folders)
        fs.addFolder(folder + "\\" + made);
    for (const auto& [relative, bytes] : store.files)
        fs.addFile(folder + "\\" + relative, bytes);
    return folder;
}

} // namespace uninst::test
