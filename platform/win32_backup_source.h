#pragma once

#include "engine/restore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace uninst {

// A backup folder on disk, read only. Its copies are read by the world's
// file system when it puts them back (Win32FileSystem::copyNewFile).
class Win32BackupSource final : public BackupSource {
public:
    // Throws Error naming the folder when the system makes no path of it or
    // no folder stands there.
    explicit Win32BackupSource(const std::string& folder);

    std::string folderPath() const override { return fullPath_; }
    std::string machineName() override;
    std::optional<std::string> readFile(const std::string& relative) override;
    std::optional<std::uint64_t> fileSize(const std::string& relative) override;
    // A few at a time: under Wine each copy's checks wait on the server, and
    // thirty thousand in a row would be most of a restore.
    std::vector<SizeAnswer> fileSizes(const std::vector<std::string>& relatives) override;

private:
    std::string fullPath_;
};

} // namespace uninst
