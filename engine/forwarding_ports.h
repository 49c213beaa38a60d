#pragma once

#include "engine/filesystem.h"
#include "engine/registry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// The bases of decorators: every reading call passes on unchanged to the
// reader they wrap, and every change stays pure virtual. A decorator thus
// implements each change itself, and one it does not handle does not
// compile: a change can neither reach the real port behind the preview's
// back nor pass the run's log or a test's recording port unseen.
//
// The batch check and the batch listing pass on whole, so that the wrapped
// port may run them together. A decorator that changes checkDelete changes
// checkDeletes too, and one that changes listFolder changes listFolders, if
// only by taking FileSystemReader's own, which asks one item at a time
// through the decorator: otherwise a batch would go around it.
class ReadThroughFileSystem : public FileSystem {
public:
    explicit ReadThroughFileSystem(FileSystemReader& reader) : reader_(reader) {}

    std::string fullPath(const std::string& path) override { return reader_.fullPath(path); }
    std::string foldCase(const std::string& text) override { return reader_.foldCase(text); }
    FolderListing listFolder(const std::string& path) override { return reader_.listFolder(path); }
    std::vector<ListedFolder> listFolders(const std::vector<std::string>& paths) override {
        return reader_.listFolders(paths);
    }
    bool folderExists(const std::string& path) override { return reader_.folderExists(path); }
    bool isMissing(const std::string& path) override { return reader_.isMissing(path); }
    void setRemovalRoots(const std::vector<std::string>& roots) override {
        reader_.setRemovalRoots(roots);
    }
    DeleteCheck checkDelete(const std::string& path) override { return reader_.checkDelete(path); }
    std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths) override {
        return reader_.checkDeletes(paths);
    }
    std::vector<bool> deletableUnlessInUse(const std::vector<std::string>& paths) override {
        return reader_.deletableUnlessInUse(paths);
    }
    std::vector<std::string> filesStillThere(const std::string& folder,
                                             const std::vector<std::string>& paths) override {
        return reader_.filesStillThere(folder, paths);
    }
    std::string readTextFile(const std::string& path) override {
        return reader_.readTextFile(path);
    }

protected:
    FileSystemReader& reader() { return reader_; }

private:
    FileSystemReader& reader_;
};

class ReadThroughRegistry : public Registry {
public:
    explicit ReadThroughRegistry(RegistryReader& reader) : reader_(reader) {}

    Status openKey(Key root, const std::string& path, Key& out) override {
        return reader_.openKey(root, path, out);
    }
    Status closeKey(Key key) override { return reader_.closeKey(key); }
    Status readDefaultValue(Key key, const std::string& subkey, Value& out) override {
        return reader_.readDefaultValue(key, subkey, out);
    }
    Status readValue(Key key, const std::string& name, Value& out) override {
        return reader_.readValue(key, name, out);
    }
    Status checkDeleteTree(Key key, const std::string& subkey) override {
        return reader_.checkDeleteTree(key, subkey);
    }
    Status enumKey(Key key, std::uint32_t index, std::string& name) override {
        return reader_.enumKey(key, index, name);
    }
    Status enumValue(Key key, std::uint32_t index, std::string& name, Value& value) override {
        return reader_.enumValue(key, index, name, value);
    }
    bool sameName(std::string_view a, std::string_view b) override {
        return reader_.sameName(a, b);
    }
    int compareNames(std::string_view a, std::string_view b) override {
        return reader_.compareNames(a, b);
    }
    std::size_t codePageLength(std::string_view text) override {
        return reader_.codePageLength(text);
    }

protected:
    RegistryReader& reader() { return reader_; }

private:
    RegistryReader& reader_;
};

} // namespace uninst
