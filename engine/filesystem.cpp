#include "engine/filesystem.h"

#include "engine/error.h"

#include <cstddef>
#include <set>

namespace uninst {

std::vector<DeleteCheck> FileSystemReader::checkDeletes(const std::vector<std::string>& paths) {
    std::vector<DeleteCheck> checks;
    checks.reserve(paths.size());
    for (const std::string& path : paths)
        checks.push_back(checkDelete(path));
    return checks;
}

std::vector<ListedFolder> FileSystemReader::listFolders(const std::vector<std::string>& paths) {
    std::vector<ListedFolder> listed(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        try {
            listed[i].listing = listFolder(paths[i]);
        } catch (...) {
            listed[i].failure = std::current_exception();
        }
    }
    return listed;
}

std::vector<bool> FileSystemReader::deletableUnlessInUse(const std::vector<std::string>& paths) {
    return std::vector<bool>(paths.size(), false);
}

bool FileSystemReader::isMissing(const std::string& path) {
    return !folderExists(path);
}

FileRemovals deleteEachInTurn(FileSystemChanges& changes, const std::vector<std::string>& paths) {
    FileRemovals result;
    result.removals.resize(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        try {
            result.removals[i] = changes.deleteFile(paths[i]);
        } catch (const Error& e) {
            result.failure = e.what();
            break;
        }
    }
    return result;
}

std::vector<std::string> FileSystemReader::filesStillThere(const std::string& folder,
                                                           const std::vector<std::string>& paths) {
    std::vector<std::string> left;
    if (paths.empty() || !folderExists(folder))
        return left;
    // Only the folders that held a listed file, and those on the way to
    // them, are listed: most are gone by now, and what else stays (a folder
    // of kept files) need not be read. A link is never entered.
    std::set<std::string> wanted;
    for (const std::string& path : paths) {
        for (std::size_t slash = path.rfind('\\');
             slash != std::string::npos && slash > folder.size();
             slash = path.rfind('\\', slash - 1)) {
            if (!wanted.insert(path.substr(0, slash)).second)
                break;
        }
    }
    std::set<std::string> present;
    std::vector<std::string> pending{folder};
    while (!pending.empty()) {
        FolderListing listing = listFolder(pending.back());
        pending.pop_back();
        for (std::string& file : listing.files)
            present.insert(std::move(file));
        for (FolderListing::SubFolder& sub : listing.subFolders) {
            if (!sub.isLink && wanted.count(sub.path) != 0)
                pending.push_back(std::move(sub.path));
        }
    }
    // Exactly as listed: "data.mdb." is not "data.mdb", and a folder that
    // tells letter case apart may hold both "a.txt" and "A.txt".
    for (const std::string& path : paths) {
        if (present.count(path) != 0)
            left.push_back(path);
    }
    return left;
}

std::vector<bool> removeEachEmptyInTurn(FileSystemChanges& changes,
                                        const std::vector<std::string>& paths) {
    std::vector<bool> removed;
    removed.reserve(paths.size());
    for (const std::string& path : paths)
        removed.push_back(changes.removeEmptyFolder(path));
    return removed;
}

} // namespace uninst
