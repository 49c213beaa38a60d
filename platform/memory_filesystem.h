#pragma once

#include "platform/filesystem.h"

#include <map>
#include <string>
#include <vector>

namespace uninst {

// A file system held in memory that answers as Windows does: names match
// without regard to case, listings come in the platform's order
// (case-insensitive sorted), read-only files and files in use refuse
// deletion, and folder links are reported and never followed.
// Paths are full ("C:\\App\\a.dll"); drive roots exist implicitly.
class MemoryFileSystem : public FileSystem {
public:
    MemoryFileSystem();
    ~MemoryFileSystem() override;

    // Building and inspecting a world in tests. Parents are created as needed.
    void addFolder(const std::string& path);
    void addFile(const std::string& path, const std::string& content = {});
    // A folder link at `path` whose target is the folder `target`.
    void addLink(const std::string& path, const std::string& target);
    void setReadOnly(const std::string& path, bool readOnly = true);
    void setInUse(const std::string& path, bool inUse = true);
    bool fileExists(const std::string& path) const;
    bool exists(const std::string& path) const;
    // Every file, folder and link below `path` (inclusive), sorted, with a
    // trailing "\" on folders and " -> target" on links: a snapshot to compare
    // worlds before and after.
    std::vector<std::string> snapshot(const std::string& path) const;

    FolderListing listFolder(const std::string& path) override;
    bool folderExists(const std::string& path) override;
    Removal deleteFile(const std::string& path) override;
    Removal deleteFolder(const std::string& path) override;
    std::string readTextFile(const std::string& path) override;

private:
    struct Node;
    std::map<std::string, Node>* children(const std::string& path);
    std::map<std::string, Node> drives_;
};

} // namespace uninst
