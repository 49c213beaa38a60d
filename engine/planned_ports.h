#pragma once

#include "engine/filesystem.h"
#include "engine/forwarding_ports.h"
#include "engine/registry.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace uninst {

// Decorators for a preview: reads go to the real registry and file system,
// changes are only remembered, and later reads answer as if they had been
// made. The run itself goes through them unchanged, so the preview takes the
// run's own decisions, in the run's own order, and changes nothing: they hold
// the real ports' reading side only, and implement every change themselves.
//
// A file that refuses deletion (read-only, in use) stops the preview where it
// would stop the run: the pre-flight's check asks the real file system. What
// they cannot foresee is a file that starts to refuse after that check: it is
// planned as deleted, and the run itself would stop there.

class PlannedFileSystem : public ReadThroughFileSystem {
public:
    // Resolving and setting the removal roots change nothing on disk, so the
    // preview passes them on and resolves as the run does.
    explicit PlannedFileSystem(FileSystemReader& inner) : ReadThroughFileSystem(inner) {}

    FolderListing listFolder(const std::string& path) override;
    // The real listings not read yet are read together; each folder then
    // answers as listFolder answers it.
    std::vector<ListedFolder> listFolders(const std::vector<std::string>& paths) override;
    bool folderExists(const std::string& path) override;
    bool isMissing(const std::string& path) override;
    std::string readTextFile(const std::string& path) override;
    // Asks the real file system about what the preview has not planned away:
    // opening a file and closing it again changes nothing.
    DeleteCheck checkDelete(const std::string& path) override {
        return gone(path) ? DeleteCheck{Deletable::missing, {}} : reader().checkDelete(path);
    }
    // One file at a time through checkDelete, so that what the preview has
    // planned away answers missing; whole while nothing is, as the
    // inventory asks of every application's files.
    std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths) override {
        if (removed_.empty())
            return reader().checkDeletes(paths);
        return FileSystemReader::checkDeletes(paths);
    }
    // Whole while nothing is planned away; after that nothing is vouched for.
    std::vector<bool> deletableUnlessInUse(const std::vector<std::string>& paths) override {
        if (removed_.empty())
            return reader().deletableUnlessInUse(paths);
        return FileSystemReader::deletableUnlessInUse(paths);
    }
    // Through the planned listings: what the preview removed is gone.
    std::vector<std::string> filesStillThere(const std::string& folder,
                                             const std::vector<std::string>& paths) override {
        return FileSystemReader::filesStillThere(folder, paths);
    }

    Removal deleteFile(const std::string& path) override;
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override {
        return deleteEachInTurn(*this, paths);
    }
    Removal deleteFolder(const std::string& path) override;
    bool removeEmptyFolder(const std::string& path) override;
    std::vector<bool> removeEmptyFolders(const std::vector<std::string>& paths) override {
        return removeEachEmptyInTurn(*this, paths);
    }
    // Planned only; the file is still there until the restart.
    void deleteAtRestart(const std::string& path) override;
    // Planned only, each in a folder that is there or planned: a later
    // creation in a planned folder, or of the same item, answers as the
    // real one would.
    Creation createFolder(const std::string& path) override;
    Creation copyNewFile(const std::string& from, const std::string& to) override;

private:
    // The real folder's listing, read once: the preview never changes it.
    const FolderListing& realListing(const std::string& path);
    bool gone(const std::string& path) const;
    // Whether the parent's listing shows `path` as a file, a folder or a
    // link; reading the parent is the one way to know without following it.
    enum class Kind { missing, file, folder, link };
    Kind kindOf(const std::string& path);
    // Removes everything below and at `path` that holds no link; true when
    // nothing was left.
    bool removeTree(const std::string& path);
    [[noreturn]] void missing(const char* operation, const std::string& path) const;
    // The folder a planned creation goes into must be there, or planned.
    void needParent(const char* operation, const std::string& path);

    std::map<std::string, FolderListing> listings_;
    // Upper-cased paths of what the restore has made.
    std::set<std::string> created_;
    // Upper-cased paths of what the run has removed.
    std::set<std::string> removed_;
};
static_assert(!std::is_abstract_v<PlannedFileSystem>,
              "the preview plans every change to the file system itself");

class PlannedRegistry : public ReadThroughRegistry {
public:
    explicit PlannedRegistry(RegistryReader& inner) : ReadThroughRegistry(inner) {}

    Status openKey(Key root, const std::string& path, Key& out) override;
    Status closeKey(Key key) override;
    Status readDefaultValue(Key key, const std::string& subkey, Value& out) override;
    Status readValue(Key key, const std::string& name, Value& out) override;
    std::vector<PathValue> readValueOfEach(Key root, const std::vector<std::string>& paths,
                                           const std::string& name) override;
    std::vector<PathValues> readValuesOfEach(Key root, const std::vector<std::string>& paths,
                                             const std::string& last,
                                             const std::vector<std::string>& named) override;
    Status setDwordValue(Key key, const std::string& name, std::uint32_t value) override;
    Status deleteKey(Key key, const std::string& subkey) override {
        return planDelete(key, subkey, false);
    }
    // Plans the whole tree away. A registry link inside is not told apart:
    // the run would leave it and report the removal as incomplete.
    Status deleteTree(Key key, const std::string& subkey) override {
        return planDelete(key, subkey, true);
    }
    Status checkDeleteTree(Key key, const std::string& subkey) override;
    Status enumKey(Key key, std::uint32_t index, std::string& name) override;
    Status enumValue(Key key, std::uint32_t index, std::string& name, Value& value) override;
    // A planned key gets a handle of the preview's own, through which its
    // values are planned and which later opens of its path get too; it
    // reads as a key with nothing in it but the counts written to it.
    Status createSubKey(Key key, const std::string& name, Key& out) override;
    Status writeValue(Key key, const std::string& name, const Value& value) override;

private:
    static constexpr Status keyDeleted = Status(1018);
    static constexpr Key firstPlannedKey = 0x7F000000;

    struct Handle {
        std::string path; // upper-cased, below HKEY_LOCAL_MACHINE
        // Where the last enumeration stopped, so that reading on in order
        // skips the deleted sub-keys without starting over each time.
        std::uint32_t nextIndex = 0;
        std::uint32_t nextInner = 0;
    };

    std::string pathOf(Key key, const std::string& subkey) const;
    bool deleted(const std::string& upperPath) const;
    bool hasSubKeys(const std::string& upperPath);
    // What deleteKey (refused while the key has subkeys) and deleteTree
    // share: the key must exist and not be planned away already.
    Status planDelete(Key key, const std::string& subkey, bool withSubKeys);

    bool isPlannedKey(Key key) const { return planned_.count(key) != 0; }
    Key plannedHandle(const std::string& upperPath);

    std::map<Key, Handle> handles_;
    std::set<std::string> deleted_;
    std::set<std::string> createdKeys_;
    std::set<Key> planned_;
    Key nextPlanned_ = firstPlannedKey;
    // Values the run wrote: upper-cased key path and name -> count.
    std::map<std::pair<std::string, std::string>, std::uint32_t> counts_;
};
static_assert(!std::is_abstract_v<PlannedRegistry>,
              "the preview plans every change to the registry itself");

} // namespace uninst
