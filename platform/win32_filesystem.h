#pragma once

#include "engine/filesystem.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace uninst {

// The file system through the wide Win32 API. Its jobs live beside it: the
// paths' forms at the API (path_forms.h), the checked opens below a removal
// root (checked_open.h), whole-tree removal (tree_removal.h), the held files
// and the batch calls, where the threads are (held_files.h), and the errors'
// text (system_error_text.h).
class Win32FileSystem : public FileSystem {
public:
    // Holds as many checked files open for their deletion as the machine
    // can spare (platform/held_file_budget.h); the other form sets the
    // number.
    Win32FileSystem();
    explicit Win32FileSystem(std::size_t heldFileLimit);
    // For a run that must change nothing, an inventory or a preview: it holds
    // no file, and its checks never mark a file for deletion, not even for
    // the instant the system's answer takes (held_files.cpp, checkFile).
    struct ChangesNothing {};
    explicit Win32FileSystem(ChangesNothing);
    ~Win32FileSystem() override;
    Win32FileSystem(const Win32FileSystem&) = delete;
    Win32FileSystem& operator=(const Win32FileSystem&) = delete;

    std::string fullPath(const std::string& path) override;
    std::string foldCase(const std::string& text) override;
    FolderListing listFolder(const std::string& path) override;
    std::vector<ListedFolder> listFolders(const std::vector<std::string>& paths) override;
    bool folderExists(const std::string& path) override;
    bool isMissing(const std::string& path) override;
    void setRemovalRoots(const std::vector<std::string>& roots) override;
    Removal deleteFile(const std::string& path) override;
    Removal deleteFolder(const std::string& path) override;
    bool removeEmptyFolder(const std::string& path) override;
    std::vector<bool> removeEmptyFolders(const std::vector<std::string>& paths) override;
    std::string readTextFile(const std::string& path) override;
    DeleteCheck checkDelete(const std::string& path) override;
    std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths) override;
    std::vector<bool> deletableUnlessInUse(const std::vector<std::string>& paths) override;
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override;
    void deleteAtRestart(const std::string& path) override;
    // The listing's answer, less what is a link or lies behind one (Wine 8
    // shows a host link to a file as an ordinary file).
    std::vector<std::string> filesStillThere(const std::string& folder,
                                             const std::vector<std::string>& paths) override;
    // What a restore puts back (new_items.h).
    Creation createFolder(const std::string& path) override;
    Creation copyNewFile(const std::string& from, const std::string& to) override;

private:
    Win32FileSystem(std::size_t heldFileLimit, bool checksMark);

    struct State;
    std::unique_ptr<State> state_;
};

} // namespace uninst
