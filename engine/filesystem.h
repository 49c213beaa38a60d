#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace uninst {

// One folder's direct contents, in the platform's order; the engine never
// sorts. Paths are full, with "\" separators and no trailing separator.
struct FolderListing {
    struct SubFolder {
        std::string path;
        // A reparse point (junction or symbolic link). Its contents are not
        // the application's: nothing in the program enters or deletes it.
        bool isLink = false;
    };
    std::vector<std::string> files;
    std::vector<SubFolder> subFolders;
    // Each file's size, in the order of `files`, when the listing came with
    // the sizes (the system's own does); empty otherwise.
    std::vector<std::uint64_t> fileBytes;
};

// One folder of a batch of listings: what listFolder gives for it, or what
// listFolder throws, kept for the caller to meet where it would have met it.
struct ListedFolder {
    FolderListing listing;
    std::exception_ptr failure;
};

// What a delete did. A failure is not a value: it throws Error.
enum class Removal {
    removed,
    notFound,
};

// Whether deleteFile could delete a file now.
enum class Deletable {
    yes,
    missing, // nothing to delete, as good as deleted
    inUse,   // another program holds it open, or has it mapped (a loaded DLL, a running program)
    refused, // read-only, access denied, a folder, or anything else
};

// What a creation did: the item is new, or one stood at the path already
// and was left exactly as it is. A failure is not a value: it throws Error.
enum class Creation {
    created,
    exists,
};

struct DeleteCheck {
    Deletable answer = Deletable::yes;
    // For inUse and refused: what deleteFile would throw, naming the file.
    std::string reason;
};

// What deleteFiles did with the files it was given.
struct FileRemovals {
    // One per file, in the order given: what its deletion came to, or
    // nothing for a file not reached because a deletion failed.
    std::vector<std::optional<Removal>> removals;
    // The first failure in the order given: the message deleteFile would
    // have thrown for that file.
    std::optional<std::string> failure;
};

// The file-system operations the engine uses, in two halves: what reads the
// disk and what changes it. Paths are UTF-8, full and final: every operation
// but fullPath takes a path exactly as it stands, with no clean-up, so that a
// listed name ("data.mdb.") names that item and no other ("data.mdb"). Every
// failing operation throws Error with a message naming the operation, the
// path and the system's description of the failure. No operation ever
// follows a reparse point.
//
// Nothing on the reading side changes what is on disk; a decorator may pass
// it on whole. Every change is pure virtual, with no default, so that a
// decorator (the preview, the run's log, the tests' recording ports) that
// does not handle a new change does not compile.
class FileSystemReader {
public:
    virtual ~FileSystemReader() = default;

    // The full path the system makes of `path` when given it outside the
    // long-path form: read against the current folder (of its drive, for
    // "C:x"), "/" as "\\", doubled separators as one, "." and ".." steps
    // resolved, one trailing dot dropped from a step, trailing dots and
    // blanks from the last. What it answers is what a path the engine did not
    // list itself (the registered folder, the group) really names. Throws
    // when the system can make nothing of it.
    virtual std::string fullPath(const std::string& path) = 0;

    // `text` as the file system compares names: every character upper-cased
    // by the system's own table, one for one, so that two names are one
    // file's exactly when their folded texts are equal. No other rule (no
    // linguistic casing, no locale) applies. Never throws.
    virtual std::string foldCase(const std::string& text) = 0;

    // The files and sub-folders directly in an existing folder. Throws when
    // the path is empty, missing, not a folder or cannot be read.
    virtual FolderListing listFolder(const std::string& path) = 0;

    // listFolder for each path, answered in the same order, a failure kept
    // with its folder rather than thrown, so that one folder that cannot be
    // read leaves the others listed. A system where each listing waits on
    // the disk or a server may list several at once. The default lists one
    // at a time through listFolder, so that a decorator that changes
    // listFolder changes the batch too; one that passes the batch on whole
    // must change it as it changes listFolder.
    virtual std::vector<ListedFolder> listFolders(const std::vector<std::string>& paths);

    virtual bool folderExists(const std::string& path) = 0;

    // Whether the system finds nothing at `path`: no file or folder there, or
    // a folder on its way missing. False where it cannot tell, as for a path
    // below a folder this user may not look into. The default takes every
    // path that is no folder for missing, which is right for a folder's
    // path and for a system that keeps nothing from this user.
    virtual bool isMissing(const std::string& path);

    // The folders whose contents the run removes: the install folder and the
    // start-menu roots (the fixed one and the shell's Programs folders). Below the nearest of them,
    // no step of a path that deleteFile, deleteFolder or removeEmptyFolder acts on may be a link,
    // whenever it became one; below none of them, no step from the drive's
    // root may. The steps above a root are the system's arrangement and may
    // be links. A file or folder found to be a link, or reached through one,
    // is left alone: deleteFile and deleteFolder answer notFound, as there
    // was nothing of the application's own there. Setting them changes
    // nothing on disk: it only narrows what the changes may act on.
    virtual void setRemovalRoots(const std::vector<std::string>& roots) = 0;

    // Whether deleteFile(path) would succeed now, asked the way deletion
    // asks: opening the file for deletion without sharing, then asking the
    // system to mark it for deletion and clearing the mark at once, since a
    // file mapped by another process (a loaded DLL, a running program) opens
    // for deletion and only then refuses it. Changes nothing. Throws only
    // when the question cannot be asked at all.
    virtual DeleteCheck checkDelete(const std::string& path) = 0;

    // checkDelete for each path, answered in the same order. A system where
    // each question is a round trip may ask several at once. The default
    // asks one at a time.
    virtual std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths);

    // For each path, in the same order: whether nothing but another
    // program's use of the file could make checkDelete refuse it now: the
    // system shows an ordinary file there that is not read-only, which this
    // process may delete whatever the file's own permissions say (on Windows,
    // its folder grants deleting what it holds). False says nothing either
    // way. Cheaper than checkDelete where that opens each file; changes
    // nothing. The default answers false.
    virtual std::vector<bool> deletableUnlessInUse(const std::vector<std::string>& paths);

    // Of the files given, all below `folder`, those that still stand at
    // their path, in the order given: what a deletion that answered removed
    // or notFound may yet have left (a name the system reads as another, a
    // file put back since). A link, or what lies behind one, is no file of
    // the application's and is not named. The default lists, through the
    // calls above, each folder that held one of them and still exists, and
    // nothing when `folder` is gone.
    virtual std::vector<std::string> filesStillThere(const std::string& folder,
                                                     const std::vector<std::string>& paths);

    // The whole content of a text file converted to UTF-8 from the encoding
    // recogniseText (engine/text_file.h) finds in it: UTF-8 or UTF-16 of
    // either byte order, with a byte-order mark (dropped) or without, or the
    // 8-bit code page. Carriage returns, line feeds and NULs arrive
    // unchanged. Throws, naming the file, when its encoding cannot be told.
    virtual std::string readTextFile(const std::string& path) = 0;
};

class FileSystemChanges {
public:
    virtual ~FileSystemChanges() = default;

    // Not forced: a read-only file or a file in use makes it throw.
    virtual Removal deleteFile(const std::string& path) = 0;

    // deleteFile for each path, with the same checks, perhaps several at
    // once: the order in which they go is not fixed. After a failure no
    // further deletion starts; the ones under way finish. A port that
    // deletes one file at a time answers with deleteEachInTurn.
    virtual FileRemovals deleteFiles(const std::vector<std::string>& paths) = 0;

    // Asks the system to delete a file, or a folder once it is empty, at the
    // next restart. Throws when the system refuses the request.
    virtual void deleteAtRestart(const std::string& path) = 0;

    // Not forced: removes the folder with everything inside it. A link inside
    // is neither entered nor deleted; it and the folders holding it stay, and
    // that is not a failure. A folder that is itself a link is left alone too.
    virtual Removal deleteFolder(const std::string& path) = 0;

    // Removes `path` if it is an empty folder, and says whether it did: one
    // call where listing the folder first costs several. Anything else (a
    // folder that holds something, a link, a file, a missing path, a drive
    // root, a folder that refuses) is left as it is and answers false, for
    // the caller to find out the ordinary way. Never throws.
    virtual bool removeEmptyFolder(const std::string& path) = 0;

    // removeEmptyFolder for each path, answered in the same order, perhaps
    // several at once: a folder is not removed before its sub-folders only
    // when they were asked for in an earlier call. A port that removes one
    // folder at a time answers with removeEachEmptyInTurn.
    virtual std::vector<bool> removeEmptyFolders(const std::vector<std::string>& paths) = 0;

    // What a restore puts back, below a removal root only, under the same
    // rule as the removals: no step below the root may be a link, and the
    // parent must exist. createFolder makes one new folder; a folder already
    // there answers exists; a file or a link there throws.
    virtual Creation createFolder(const std::string& path) = 0;

    // A new file at `to` with the contents, attributes and times of the file
    // `from` (a backup's copy, anywhere): never over anything, so whatever
    // stands at `to` already (a file, a folder, a link) answers exists and is
    // left as it is. A copy that fails part-way is taken away again.
    virtual Creation copyNewFile(const std::string& from, const std::string& to) = 0;
};

// The whole port: what the run's steps take when they both read and change.
class FileSystem : public FileSystemReader, public FileSystemChanges {};

// deleteFiles as `changes.deleteFile` answers it, one file after another in
// the order given, stopping at the first failure.
FileRemovals deleteEachInTurn(FileSystemChanges& changes, const std::vector<std::string>& paths);

// removeEmptyFolders as `changes.removeEmptyFolder` answers it, one folder
// after another in the order given.
std::vector<bool> removeEachEmptyInTurn(FileSystemChanges& changes,
                                        const std::vector<std::string>& paths);

} // namespace uninst
