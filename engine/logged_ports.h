#pragma once

#include "engine/filesystem.h"
#include "engine/forwarding_ports.h"
#include "engine/registry.h"
#include "engine/run_log.h"

#include <map>
#include <string>
#include <type_traits>

namespace uninst {

// Decorators that pass every call on unchanged and report each change that
// succeeded, each change by its own override: the log says what the run did because it watches the
// run, not because a second copy of the rules guesses it. Wrapped around the planning decorators,
// the same lines describe a preview.

class LoggedFileSystem : public ReadThroughFileSystem {
public:
    LoggedFileSystem(FileSystem& inner, const RunReport& report)
        : ReadThroughFileSystem(inner), inner_(inner), report_(report) {}

    Removal deleteFile(const std::string& path) override;
    // Each file the batch reached is reported, in the order given.
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override;
    Removal deleteFolder(const std::string& path) override;
    bool removeEmptyFolder(const std::string& path) override;
    std::vector<bool> removeEmptyFolders(const std::vector<std::string>& paths) override;
    void deleteAtRestart(const std::string& path) override;
    // Only what was made is reported: an item that stood there already is
    // the restore's to name.
    Creation createFolder(const std::string& path) override;
    Creation copyNewFile(const std::string& from, const std::string& to) override;

private:
    FileSystem& inner() { return inner_; }

    FileSystem& inner_;
    const RunReport& report_;
};
static_assert(!std::is_abstract_v<LoggedFileSystem>,
              "the log reports every change to the file system");

class LoggedRegistry : public ReadThroughRegistry {
public:
    LoggedRegistry(Registry& inner, const RunReport& report)
        : ReadThroughRegistry(inner), inner_(inner), report_(report) {}

    Status openKey(Key root, const std::string& path, Key& out) override;
    Status closeKey(Key key) override;
    Status readValue(Key key, const std::string& name, Value& out) override;
    std::vector<PathValue> readValueOfEach(Key root, const std::vector<std::string>& paths,
                                           const std::string& name) override;
    Status setDwordValue(Key key, const std::string& name, std::uint32_t value) override;
    Status deleteKey(Key key, const std::string& subkey) override;
    Status deleteTree(Key key, const std::string& subkey) override;
    Status createSubKey(Key key, const std::string& name, Key& out) override;
    Status writeValue(Key key, const std::string& name, const Value& value) override;

private:
    Registry& inner() { return inner_; }
    std::string fullName(Key key, const std::string& subkey) const;
    bool isSharedDlls(Key key) const;
    void reportRemoval(Key key, const std::string& subkey, Status status) const;
    // "count 3", or "no count" when the last read of `name` found none.
    std::string lastCount(const std::string& name) const;

    Registry& inner_;
    const RunReport& report_;
    // The path each open handle stands for, so that a change can be named.
    std::map<Key, std::string> paths_;
    // The count the run read last, which is the one it lowers or gives up.
    std::string lastName_;
    bool lastRead_ = false;
    std::uint32_t lastValue_ = 0;
};
static_assert(!std::is_abstract_v<LoggedRegistry>, "the log reports every change to the registry");

} // namespace uninst
