#include "engine/preflight.h"

#include "engine/ascii_case.h"
#include "engine/error.h"
#include "engine/path_safety.h"
#include "engine/removal.h"

#include <algorithm>
#include <cstddef>
#include <set>
#include <string_view>

namespace uninst {

namespace {

bool isEmpty(FileSystem& fs, const std::string& folder) {
    const FolderListing listing = fs.listFolder(folder);
    return listing.files.empty() && listing.subFolders.empty();
}

const char* const nothingChanged = "\n\nNothing has been removed.";

} // namespace

PreflightResult preflight(const UninstallState& state, FileSystem& fs,
                          const std::vector<std::string>& files, BlockedFiles* blocked) {
    // Asked of all at once first: most files can go, and a system that
    // answers several questions at a time answers them sooner.
    const std::vector<DeleteCheck> first = fs.checkDeletes(files);
    PreflightResult result;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& file = files[i];
        for (bool again = false;; again = true) {
            const DeleteCheck check = again ? fs.checkDelete(file) : first[i];
            if (check.answer == Deletable::yes || check.answer == Deletable::missing)
                break;
            BlockedFile found;
            found.path = file;
            found.reason = check.reason;
            found.inUse = check.answer == Deletable::inUse;
            found.isLog = isInstallLog(state, file);
            if (blocked == nullptr)
                throw Error("delete file", file, found.reason + nothingChanged);
            const BlockedFiles::Answer answer = blocked->blocked(found);
            if (answer == BlockedFiles::Answer::retry)
                continue;
            if (answer == BlockedFiles::Answer::cancel) {
                result.cancelled = true;
                return result;
            }
            if (!found.inUse || found.isLog)
                throw Error("delete file", file, found.reason + nothingChanged);
            result.atRestart.push_back(file);
            break;
        }
    }
    return result;
}

void scheduleFoldersAtRestart(const UninstallState& state, FileSystem& fs,
                              const std::vector<std::string>& atRestart) {
    const std::string root = asciiUpper(state.installdir);
    const std::string lastsubpath = asciiUpper(state.lastsubpath);
    std::set<std::string> leaving; // folded: what goes at the restart
    std::vector<std::string> folders;
    for (const std::string& file : atRestart) {
        leaving.insert(asciiUpper(file));
        for (std::string folder = withoutLastStep(file);
             folder.size() >= root.size() && asciiUpper(folder).compare(0, root.size(), root) == 0;
             folder = withoutLastStep(folder)) {
            folders.push_back(folder);
            if (folder.size() == root.size())
                break;
        }
    }
    // A folder's path is longer than its parent's: deepest first.
    std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::string& folder : folders) {
        if (leaving.count(asciiUpper(folder)) != 0 || !fs.folderExists(folder))
            continue;
        const FolderListing listing = fs.listFolder(folder);
        bool onlyLeaving = true;
        for (const std::string& file : listing.files)
            onlyLeaving = onlyLeaving && leaving.count(asciiUpper(file)) != 0;
        for (const FolderListing::SubFolder& sub : listing.subFolders) {
            if (sub.isLink) {
                onlyLeaving = false;
            } else if (leaving.count(asciiUpper(sub.path)) == 0) {
                // The sweep leaves the last folder the inventory entered for
                // its parent to take, and the parent now goes at the restart.
                if (onlyLeaving && asciiUpper(sub.path) == lastsubpath && isEmpty(fs, sub.path)) {
                    fs.deleteAtRestart(sub.path);
                    leaving.insert(lastsubpath);
                } else {
                    onlyLeaving = false;
                }
            }
        }
        if (!onlyLeaving)
            continue;
        fs.deleteAtRestart(folder);
        leaving.insert(asciiUpper(folder));
    }
}

} // namespace uninst
