#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/preflight.h"
#include "engine/registry.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace uninst {

// Where a backup is written: a folder the administrator named, reached and
// held the way the run's log folder is (nothing through a link), in which one
// new folder per run is created. Paths given to the calls after create() are
// relative to that new folder, with "\" separators; nothing is ever written
// over an existing item. Every failure throws Error naming the item and the
// reason.
class BackupStore {
public:
    virtual ~BackupStore() = default;

    // The folder named, as the system names it in full.
    virtual std::string folderPath() const = 0;
    // The computer's name and the local time ("2026-12-09 14:05:31"), for
    // the manifest and the new folder's name.
    virtual std::string machineName() = 0;
    virtual std::string localTime() = 0;
    // The size in bytes of a file the run will delete.
    virtual std::uint64_t fileSize(const std::string& source) = 0;

    // Creates the run's folder `name` in the folder named; fails if it exists.
    virtual void create(const std::string& name) = 0;
    virtual void makeFolder(const std::string& relative) = 0;
    // A copy of `source` with its contents, attributes and times; answers
    // how many bytes it copied.
    virtual std::uint64_t copyFile(const std::string& source, const std::string& relative) = 0;
    struct Copy {
        std::string source;
        std::string relative;
    };
    // copyFile for each, into folders already made; a store may make several
    // at once. Answers each copy's size, in order. Throws the Error of the
    // first copy in order that failed; copies after it may have been made
    // too, and stay in the unfinished backup as those before it do.
    virtual std::vector<std::uint64_t> copyFiles(const std::vector<Copy>& copies);
    virtual void writeFile(const std::string& relative, const std::string& bytes) = 0;
};

// Everything a run will change, taken before it changes anything.
struct BackupPlan {
    // The folders the run removes from: the install folder first, then the
    // start-menu roots. Every file and folder below lies under one of them.
    std::vector<std::string> roots;
    struct Item {
        std::size_t root = 0;
        std::string relative; // below its root, "" for the root itself
    };
    std::vector<Item> files;   // each file the run deletes, at once or at the restart
    std::vector<Item> folders; // each folder it removes, parents before children
    // The start-menu groups the install log names, as steps below a
    // start-menu root ("Acme\Tools", "" for the root's own shortcuts):
    // whatever the run removes below a start-menu root lies in one of them,
    // or is one of their folders.
    std::vector<std::string> groups;
    struct Key {
        std::string path; // below HKEY_LOCAL_MACHINE
        // The key and every key below it, parents first, each with its values.
        struct Entry {
            std::string path;
            std::vector<std::pair<std::string, RegistryTypes::Value>> values;
        };
        std::vector<Entry> tree;
    };
    std::vector<Key> keys;
    struct Count {
        std::string key;  // below HKEY_LOCAL_MACHINE
        std::string name; // the value's name below SharedDLLs: the shared file's path
        std::uint32_t before = 0;
        std::uint32_t after = 0;
    };
    std::vector<Count> counts;
};

// What the run would change, found by running it through the preview's
// planned ports over the reading halves of `registry` and `fs`, on copies of
// the state and of the rows: nothing changes. `blocked` answers as it will in
// the run (a run nobody attends leaves a file in use to the restart). Throws
// the run's own Error when the planned run stops: the real one must not then
// start, since it might get further than the backup holds.
BackupPlan planBackup(const UninstallState& state, RegistryReader& registry, FileSystemReader& fs,
                      Shell& shell, FileList& list, BlockedFiles* blocked);

// The backup's folder name for this run: machine, application and time,
// with nothing a file name may not hold.
std::string backupFolderName(const std::string& machine, const std::string& appName,
                             const std::string& localTime);

// The text of a key tree as the backup holds it, and back. Throws Error on a
// text that is not one.
std::string keysText(const std::vector<BackupPlan::Key>& keys);
std::vector<BackupPlan::Key> keysFromText(const std::string& text);

// Where the copy of a file or folder lies in the backup: below "files", in
// one sub-folder per root ("0" the install folder).
std::string backupCopyPath(const BackupPlan::Item& item);

// Writes the plan into a new folder of `store`: the files below "files"
// (one sub-folder per root, "0" the install folder), the keys in
// "registry.txt", the counts, the groups and every item with each file's
// size in "manifest.txt", written last
// so that a backup without one is known to be incomplete. Returns the new
// folder's full path. Throws Error, naming the item and the reason, at the
// first thing that cannot be written.
std::string writeBackup(const BackupPlan& plan, BackupStore& store, const std::string& appName,
                        const std::string& version);

// The backup's total size in bytes: the files' and the texts'.
std::uint64_t backupSize(const BackupPlan& plan, BackupStore& store);

} // namespace uninst
