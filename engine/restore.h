#pragma once

#include "engine/backup.h"
#include "engine/filesystem.h"
#include "engine/registry.h"
#include "engine/shell.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// A backup folder as /backup wrote it (the one holding manifest.txt), read
// and never changed. Paths are relative to it, with "\" separators.
class BackupSource {
public:
    virtual ~BackupSource() = default;

    // The folder, as the system names it in full.
    virtual std::string folderPath() const = 0;
    // This machine's name, as a backup made here names it.
    virtual std::string machineName() = 0;
    // A file's bytes, whole; nothing when there is no such file. Throws Error
    // when it is there and cannot be read.
    virtual std::optional<std::string> readFile(const std::string& relative) = 0;
    // A file's size; nothing when no file stands there (a folder, a link or
    // nothing at all). Throws Error when it is there and cannot be read as
    // the restore will copy it (another program holds it).
    virtual std::optional<std::uint64_t> fileSize(const std::string& relative) = 0;

    // What fileSize answers for one file: a size, nothing, or the Error it
    // threw.
    struct SizeAnswer {
        std::optional<std::uint64_t> size;
        std::exception_ptr error;
    };
    // fileSize for each file, in order; a source may ask several at once.
    // Once one answers nothing or throws, the files after it may go unasked
    // and answer nothing: only the answers up to the first such one count.
    virtual std::vector<SizeAnswer> fileSizes(const std::vector<std::string>& relatives);
};

// The operation of the Error readBackup throws for a damaged backup; any
// other it lets through is a failure to read one that may be whole.
inline constexpr std::string_view damagedBackupOperation = "read the backup";

// A backup read whole and judged sound: every item lies in the install
// folder or the start-menu group the manifest names, every key is one of
// the application's own entries, every count a SharedDLLs value, and every
// copy is there with the size the manifest gives.
struct Backup {
    std::string folder; // the backup's folder in full
    std::string appName;
    std::string machine;
    std::string time;
    std::string version;
    BackupPlan plan;
    std::vector<std::uint64_t> sizes; // one for each of plan.files
};

// Reads and judges the backup. Throws Error saying why when it is damaged
// (cut short, not written by this program, made on another machine, a copy
// missing or of another size, an item outside the application's own):
// nothing has changed then. A backup that cannot be read (a file another
// program holds) throws the reading's own Error, and nothing has changed
// either.
// `registry` compares names and `fs` folds them; `shell` names the
// start-menu folders of this machine and the folders no application owns.
Backup readBackup(BackupSource& source, Registry& registry, FileSystemReader& fs, Shell& shell);

// What a restore did: how many items it made, and each item that stood
// there already and was kept as it is.
struct RestoreResult {
    std::size_t restored = 0;
    std::vector<std::string> kept;
};

// Puts the application back through the change ports: the folders, parents
// first, the files, the Uninstall entries, each count raised by what the run
// lowered, and the App Paths entry last, so that the application is
// registered only once the rest is back. Nothing is made over anything that
// exists now. The counts are raised only while the application is not
// registered: once it is (a restore that ran before, or its setup run
// again), whoever registered it counted its files. Throws Error at the first
// change that fails; what was made before stays, and a restore run again
// keeps it and puts back the rest.
RestoreResult restoreBackup(const Backup& backup, Registry& registry, FileSystem& fs);

} // namespace uninst
