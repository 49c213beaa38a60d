#pragma once

#include "engine/filesystem.h"
#include "engine/forwarding_ports.h"
#include "engine/registry.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace uninst::test {

// Bases for a test's one-off decorator, which changes one answer and passes
// the rest on: every change is listed here by hand, so that a new one makes
// these fail to compile until it is passed on too.
class PassThroughFileSystem : public ReadThroughFileSystem {
public:
    explicit PassThroughFileSystem(FileSystem& inner)
        : ReadThroughFileSystem(inner), inner_(inner) {}

    Removal deleteFile(const std::string& path) override { return inner_.deleteFile(path); }
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override {
        return inner_.deleteFiles(paths);
    }
    void deleteAtRestart(const std::string& path) override { inner_.deleteAtRestart(path); }
    Removal deleteFolder(const std::string& path) override { return inner_.deleteFolder(path); }
    bool removeEmptyFolder(const std::string& path) override {
        return inner_.removeEmptyFolder(path);
    }
    std::vector<bool> removeEmptyFolders(const std::vector<std::string>& paths) override {
        return inner_.removeEmptyFolders(paths);
    }
    Creation createFolder(const std::string& path) override { return inner_.createFolder(path); }
    Creation copyNewFile(const std::string& from, const std::string& to) override {
        return inner_.copyNewFile(from, to);
    }

protected:
    FileSystem& inner() { return inner_; }

private:
    FileSystem& inner_;
};
static_assert(!std::is_abstract_v<PassThroughFileSystem>, "every change is passed on");

// A reader that passes each single question on and keeps the defaults for
// the batches, so that a batch reaches the test's overrides one path at a
// time.
class OneAtATimeReader : public FileSystemReader {
public:
    explicit OneAtATimeReader(FileSystemReader& inner) : inner_(inner) {}

    std::string fullPath(const std::string& path) override { return inner_.fullPath(path); }
    std::string foldCase(const std::string& text) override { return inner_.foldCase(text); }
    FolderListing listFolder(const std::string& path) override { return inner_.listFolder(path); }
    bool folderExists(const std::string& path) override { return inner_.folderExists(path); }
    void setRemovalRoots(const std::vector<std::string>& roots) override {
        inner_.setRemovalRoots(roots);
    }
    DeleteCheck checkDelete(const std::string& path) override { return inner_.checkDelete(path); }
    std::string readTextFile(const std::string& path) override { return inner_.readTextFile(path); }

protected:
    FileSystemReader& inner() { return inner_; }

private:
    FileSystemReader& inner_;
};
static_assert(!std::is_abstract_v<OneAtATimeReader>, "every question is passed on");

class PassThroughRegistry : public ReadThroughRegistry {
public:
    explicit PassThroughRegistry(Registry& inner) : ReadThroughRegistry(inner), inner_(inner) {}

    Status setDwordValue(Key key, const std::string& name, std::uint32_t value) override {
        return inner_.setDwordValue(key, name, value);
    }
    Status deleteKey(Key key, const std::string& subkey) override {
        return inner_.deleteKey(key, subkey);
    }
    Status deleteTree(Key key, const std::string& subkey) override {
        return inner_.deleteTree(key, subkey);
    }
    Status createSubKey(Key key, const std::string& name, Key& out) override {
        return inner_.createSubKey(key, name, out);
    }
    Status writeValue(Key key, const std::string& name, const Value& value) override {
        return inner_.writeValue(key, name, value);
    }

protected:
    Registry& inner() { return inner_; }

private:
    Registry& inner_;
};
static_assert(!std::is_abstract_v<PassThroughRegistry>, "every change is passed on");

} // namespace uninst::test
