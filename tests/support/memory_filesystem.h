#pragma once

#include "engine/filesystem.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace uninst {

// A file system held in memory that answers as Windows does: names match
// without regard to case, listings come in the platform's order
// (case-insensitive sorted), read-only files, files in use and mapped files
// refuse deletion, and folder links are reported and never followed.
// Paths are full ("C:\\App\\a.dll", "/" also separates); every drive root
// A: to Z: exists from the start, and "C:" names the root of drive C.
//
// Links: a path that passes through a link leads nowhere, since no operation
// follows one. listFolder of a link throws instead of showing the target's
// contents. deleteFolder leaves a link it meets inside the tree in place,
// together with every folder holding it, and still answers removed, as the
// rest is gone; deleteFolder of a link itself does nothing and answers
// notFound: there was no folder of its own to remove. Since no step of any
// path is ever followed through a link, every root given to setRemovalRoots
// is as strict as the drive's root, and the call changes nothing.
//
// deleteFolder works depth-first in listing order, a folder's files before its
// sub-folders, and stops at the first file or folder that refuses deletion;
// whatever it removed before that stays removed. An empty path is no path:
// listFolder, deleteFile, deleteFolder and readTextFile throw when given one,
// and folderExists answers false.
// readTextFile recognises the encoding as the real file system does
// (engine/text_file.h) and refuses the same texts; text in the code page
// arrives as it was added, the code page being UTF-8 here, and so does UTF-8,
// without its mark; UTF-16 is converted to UTF-8.
//
// fullPath resolves as the system does (as Wine 8's GetFullPathNameW was
// measured to): against a current folder, C:\\ unless set, and one
// remembered folder per other drive, each drive's root unless set. A leading
// "/" is read as a rooted path on the current drive, as Windows reads it
// (Wine takes it for a host path on Z:).
class MemoryFileSystem : public FileSystem {
public:
    MemoryFileSystem();
    ~MemoryFileSystem() override;

    // Building and inspecting a world in tests. Parents are created as needed;
    // a fixture path that runs through a file or a link, or names a missing
    // item for setReadOnly and setInUse, throws std::invalid_argument.
    // setReadOnly and setInUse also apply to folders, which then refuse
    // removal as on Windows.
    void addFolder(const std::string& path);
    void addFile(const std::string& path, const std::string& content = {});
    // A folder link at `path` whose target is the folder `target`.
    void addLink(const std::string& path, const std::string& target);
    void setReadOnly(const std::string& path, bool readOnly = true);
    void setInUse(const std::string& path, bool inUse = true);
    // A file another process has mapped (a loaded DLL, a running program):
    // opening it for deletion succeeds, its deletion is refused (access
    // denied), and the pre-flight's check, which asks for the deletion and
    // takes the request back, answers that it is in use.
    void setMapped(const std::string& path, bool mapped = true);
    bool fileExists(const std::string& path) const;
    bool exists(const std::string& path) const;
    // Every file, folder and link below `path` (inclusive), sorted, with a
    // trailing "\" on folders and " -> target" on links: a snapshot to compare
    // worlds before and after.
    std::vector<std::string> snapshot(const std::string& path) const;
    // The current folder ("D:\\Tools"), which also becomes the folder
    // remembered for its drive; and the remembered folder of a drive that is
    // not the current one, which "D:x" is read against.
    void setCurrentFolder(const std::string& path);
    void setDriveFolder(const std::string& path);

    std::string fullPath(const std::string& path) override;

    std::string foldCase(const std::string& text) override;
    FolderListing listFolder(const std::string& path) override;
    bool folderExists(const std::string& path) override;
    bool isMissing(const std::string& path) override;
    void setRemovalRoots(const std::vector<std::string>& roots) override;
    Removal deleteFile(const std::string& path) override;
    // One file after another, in the order given.
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override {
        return deleteEachInTurn(*this, paths);
    }
    Removal deleteFolder(const std::string& path) override;
    bool removeEmptyFolder(const std::string& path) override;
    std::vector<bool> removeEmptyFolders(const std::vector<std::string>& paths) override {
        return removeEachEmptyInTurn(*this, paths);
    }
    std::string readTextFile(const std::string& path) override;
    // Below a link nothing is made: a path through one leads nowhere.
    Creation createFolder(const std::string& path) override;
    // The contents and the read-only mark go with the copy.
    Creation copyNewFile(const std::string& from, const std::string& to) override;
    DeleteCheck checkDelete(const std::string& path) override;
    // Every file that is not read-only: nothing else but its use refuses it.
    std::vector<bool> deletableUnlessInUse(const std::vector<std::string>& paths) override;
    // Recorded in order; restart() carries them out.
    void deleteAtRestart(const std::string& path) override;

    // What deleteAtRestart asked for, in order.
    const std::vector<std::string>& scheduledAtRestart() const { return atRestart_; }
    // The restart: every file is released, then each scheduled deletion is
    // carried out in order; a folder that is not empty by then stays.
    void restart();

private:
    struct Node;
    // The item `path` names, or null; with `canonical`, also its path spelled
    // with the stored case of each name.
    Node* find(const std::string& path, std::string* canonical = nullptr) const;
    // The parent folder of `path`, created as needed, and the last name.
    Node& parentForFixture(const std::string& path, std::string& name);
    // The item at `path`, made as one of `kind` when missing; an item of
    // another kind there (`others`) is a mistake in the fixture.
    template <typename Kind>
    Node& entryForFixture(const std::string& path, Kind kind, const char* others);
    Node& existingForFixture(const std::string& path) const;
    // The existing folder a new item at `path` goes into, and the item's
    // name; throws as the system would when there is none.
    Node* newItemParent(const char* operation, const std::string& path, std::string& name);
    // Empties and removes `folder`; false when a link inside keeps it.
    bool removeTree(Node& folder, const std::string& folderPath);

    std::unique_ptr<Node> machine_;
    std::string current_ = "C:\\";
    std::map<char, std::string> driveFolders_;
    std::vector<std::string> atRestart_;
};

} // namespace uninst
