#pragma once

#include "engine/filesystem.h"
#include "engine/registry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// The bases of decorators: every call passes on unchanged to the port they
// wrap, so that a decorator overrides only the calls it changes or watches.
//
// The batch forms pass on whole, so that the wrapped port may run them
// together. A decorator that changes checkDelete or deleteFile changes the
// batch form too, if only by taking FileSystem's own, which makes one call
// at a time through the decorator: otherwise a batch would go around it.
class ForwardingFileSystem : public FileSystem {
public:
    explicit ForwardingFileSystem(FileSystem& inner) : inner_(inner) {}

    std::string fullPath(const std::string& path) override { return inner_.fullPath(path); }
    std::string foldCase(const std::string& text) override { return inner_.foldCase(text); }
    FolderListing listFolder(const std::string& path) override { return inner_.listFolder(path); }
    bool folderExists(const std::string& path) override { return inner_.folderExists(path); }
    void setRemovalRoots(const std::vector<std::string>& roots) override {
        inner_.setRemovalRoots(roots);
    }
    Removal deleteFile(const std::string& path) override { return inner_.deleteFile(path); }
    DeleteCheck checkDelete(const std::string& path) override { return inner_.checkDelete(path); }
    std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths) override {
        return inner_.checkDeletes(paths);
    }
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override {
        return inner_.deleteFiles(paths);
    }
    std::vector<std::string> filesStillThere(const std::string& folder,
                                             const std::vector<std::string>& paths) override {
        return inner_.filesStillThere(folder, paths);
    }
    void deleteAtRestart(const std::string& path) override { inner_.deleteAtRestart(path); }
    Removal deleteFolder(const std::string& path) override { return inner_.deleteFolder(path); }
    bool removeEmptyFolder(const std::string& path) override {
        return inner_.removeEmptyFolder(path);
    }
    std::string readTextFile(const std::string& path) override { return inner_.readTextFile(path); }

protected:
    FileSystem& inner() { return inner_; }

private:
    FileSystem& inner_;
};

class ForwardingRegistry : public Registry {
public:
    explicit ForwardingRegistry(Registry& inner) : inner_(inner) {}

    Status openKey(Key root, const std::string& path, Key& out) override {
        return inner_.openKey(root, path, out);
    }
    Status closeKey(Key key) override { return inner_.closeKey(key); }
    Status readDefaultValue(Key key, const std::string& subkey, Value& out) override {
        return inner_.readDefaultValue(key, subkey, out);
    }
    Status readValue(Key key, const std::string& name, Value& out) override {
        return inner_.readValue(key, name, out);
    }
    Status setDwordValue(Key key, const std::string& name, std::uint32_t value) override {
        return inner_.setDwordValue(key, name, value);
    }
    Status deleteKey(Key key, const std::string& subkey) override {
        return inner_.deleteKey(key, subkey);
    }
    Status deleteTree(Key key, const std::string& subkey) override {
        return inner_.deleteTree(key, subkey);
    }
    Status enumKey(Key key, std::uint32_t index, std::string& name) override {
        return inner_.enumKey(key, index, name);
    }
    Status enumValue(Key key, std::uint32_t index, std::string& name, Value& value) override {
        return inner_.enumValue(key, index, name, value);
    }
    bool sameName(std::string_view a, std::string_view b) override { return inner_.sameName(a, b); }
    int compareNames(std::string_view a, std::string_view b) override {
        return inner_.compareNames(a, b);
    }
    std::size_t codePageLength(std::string_view text) override {
        return inner_.codePageLength(text);
    }

protected:
    Registry& inner() { return inner_; }

private:
    Registry& inner_;
};

} // namespace uninst
