#pragma once

#include "engine/backup.h"
#include "platform/handles.h"

#include <span>
#include <string>
#include <vector>

namespace uninst {

// This machine's name as a backup's manifest gives it, and a restore checks.
std::string thisMachineName();

// The backup on disk. The folder named is reached from its drive's or
// share's root one step at a time, each step opened relative to the one
// before, refused when it is a link, and held without leave to delete, as
// the run's log folder is; the run's folder and everything in it are created
// relative to held handles, new, never over anything, so that nothing is
// written through a link someone put in the way.
class Win32BackupStore final : public BackupStore {
public:
    // Reaches and holds the folder; creates nothing. Throws Error naming the
    // folder and the reason.
    explicit Win32BackupStore(const std::string& folder);

    std::string folderPath() const override { return fullPath_; }
    std::string machineName() override;
    std::string localTime() override;
    std::uint64_t fileSize(const std::string& source) override;

    void create(const std::string& name) override;
    void makeFolder(const std::string& relative) override;
    std::uint64_t copyFile(const std::string& source, const std::string& relative) override;
    std::vector<std::uint64_t> copyFiles(const std::vector<Copy>& copies) override;
    void writeFile(const std::string& relative, const std::string& bytes) override;

private:
    // A new file at `relative` below the run's folder, open for writing.
    FileHandle createFile(const std::string& relative);
    // The same, given its folder held and its name there.
    FileHandle createIn(HANDLE parent, const std::wstring& last, const std::string& relative) const;
    // copyFile into the held folder of the copy's path, through `buffer`.
    std::uint64_t copyInto(HANDLE parent, const std::wstring& last, const Copy& copy,
                           std::span<char> buffer) const;
    // The folder `folder` below the run's folder, held, reached one step at
    // a time.
    FileHandle walkTo(const std::wstring& folder) const;
    // The held folder that holds `relative`, and the last step's name. The
    // copies come folder by folder, so the last folder reached is kept.
    HANDLE parentOf(const std::string& relative, std::wstring& last);
    [[noreturn]] void fail(const char* operation, const std::string& relative, DWORD code) const;

    std::string asked_;
    std::string fullPath_;
    std::string name_;
    FileHandle folder_;
    FileHandle backup_;
    std::wstring lastFolder_;
    FileHandle lastHeld_;
    std::vector<char> buffer_;
};

} // namespace uninst
