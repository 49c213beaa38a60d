#include "engine/filesystem.h"

#include "engine/error.h"

#include <cstddef>
#include <map>
#include <set>

namespace uninst {

std::vector<DeleteCheck> FileSystem::checkDeletes(const std::vector<std::string>& paths) {
    std::vector<DeleteCheck> checks;
    checks.reserve(paths.size());
    for (const std::string& path : paths)
        checks.push_back(checkDelete(path));
    return checks;
}

FileRemovals FileSystem::deleteFiles(const std::vector<std::string>& paths) {
    FileRemovals result;
    result.removals.resize(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        try {
            result.removals[i] = deleteFile(paths[i]);
        } catch (const Error& e) {
            result.failure = e.what();
            break;
        }
    }
    return result;
}

std::vector<std::string> FileSystem::filesStillThere(const std::vector<std::string>& paths) {
    // Most files share a folder, and once the run is through most folders
    // are gone: one question per folder, not per file.
    std::map<std::string, std::vector<std::size_t>> byFolder;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::size_t slash = paths[i].rfind('\\');
        if (slash != std::string::npos && slash > 0)
            byFolder[paths[i].substr(0, slash)].push_back(i);
    }
    std::vector<bool> there(paths.size(), false);
    for (const auto& [folder, members] : byFolder) {
        if (!folderExists(folder))
            continue;
        FolderListing listing;
        try {
            listing = listFolder(folder);
        } catch (const Error&) {
            // A link, or a folder nobody can read: the sweep that met it has
            // said so, and what is behind a link is not the application's.
            continue;
        }
        // Exactly as listed: "data.mdb." is not "data.mdb", and a folder
        // that tells letter case apart may hold both "a.txt" and "A.txt".
        const std::set<std::string> present(listing.files.begin(), listing.files.end());
        for (const std::size_t i : members)
            there[i] = present.count(paths[i]) != 0;
    }
    std::vector<std::string> left;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (there[i])
            left.push_back(paths[i]);
    }
    return left;
}

} // namespace uninst
