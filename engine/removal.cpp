#include "engine/removal.h"

#include "engine/ascii_case.h"
#include "engine/error.h"
#include "engine/folder_walk.h"
#include "engine/installlog.h"
#include "engine/shared_folders.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace uninst {

namespace {

// A folder the sweeps are below, and whether anything in or below it remains.
struct Swept {
    std::string path;
    bool remains = false;
};

EnteredFolder<Swept> entered(std::string path, FolderListing listing) {
    const bool holdsFiles = !listing.files.empty();
    return {Swept{std::move(path), holdsFiles}, std::move(listing.subFolders)};
}

void passOn(const Swept& folder, Swept* parent) {
    if (folder.remains && parent != nullptr)
        parent->remains = true;
}

// The folders from `path` down to those that held `files`, each once, by
// their depth below `path`. None is another application's folder or one
// inside it, nor the last-entered folder, which the walk alone settles.
std::vector<std::vector<std::string>> heldFolders(const UninstallState& state,
                                                  const std::string& path,
                                                  const std::vector<std::string>& files) {
    std::set<std::string> parents;
    for (const std::string& file : files) {
        const std::size_t slash = file.rfind('\\');
        if (slash != std::string::npos && slash >= path.size() && file.starts_with(path) &&
            file[path.size()] == '\\')
            parents.insert(file.substr(0, slash));
    }
    std::set<std::string> folders;
    for (const std::string& parent : parents) {
        std::vector<std::string> chain;
        bool spared = false;
        for (std::string folder = parent;; folder.erase(folder.rfind('\\'))) {
            spared = spared || isOtherApplication(state, folder);
            chain.push_back(folder);
            if (folder.size() <= path.size())
                break;
        }
        if (spared)
            continue;
        for (std::string& folder : chain) {
            if (folder != state.lastsubpath)
                folders.insert(std::move(folder));
        }
    }
    std::vector<std::vector<std::string>> byDepth;
    for (const std::string& folder : folders) {
        const auto depth = static_cast<std::size_t>(std::count(
            folder.begin() + static_cast<std::ptrdiff_t>(path.size()), folder.end(), '\\'));
        if (byDepth.size() <= depth)
            byDepth.resize(depth + 1);
        byDepth[depth].push_back(folder);
    }
    return byDepth;
}

} // namespace

std::vector<std::string> filesToDelete(const UninstallState& state, const FileList& list) {
    if (state.logpath.empty())
        throw Error("delete the install log", state.installdir,
                    "Cannot delete the install log: none was found in the install folder when "
                    "the uninstaller started. Start the uninstaller again to finish the removal.");
    std::vector<std::string> files;
    const std::size_t n = list.rowCount();
    for (std::size_t i = 0; i < n; ++i) {
        if (!list.isMarked(i))
            files.push_back(list.rowText(i));
    }
    files.push_back(state.logpath);
    // logpath is only the last setup-toolkit file the inventory met; when
    // that was another one (Help\ST6UNST.000), the log that was read would
    // stay and keep the install folder with it. Both paths start with the
    // same install folder text, so only the case of the toolkit file's ASCII
    // name can differ. The log goes as the listing met it: a folder that
    // tells letter case apart may hold twins (ST6UNST.LOG beside
    // st6unst.log), and the one left would be read again by a later run,
    // which would lower every count a second time.
    std::string installLog = installLogPath(state.installdir);
    bool listed = sameAsciiCase(state.logpath, installLog);
    for (const std::string& file : state.toolkitFiles) {
        if (file != state.logpath && sameAsciiCase(file, installLog)) {
            files.push_back(file);
            listed = true;
        }
    }
    if (!listed)
        files.push_back(std::move(installLog));
    return files;
}

bool isInstallLog(const UninstallState& state, const std::string& path) {
    return sameAsciiCase(path, state.logpath) ||
           sameAsciiCase(path, installLogPath(state.installdir));
}

void deletefiles(const UninstallState& state, FileSystem& fs, const std::vector<std::string>& files,
                 const std::vector<std::string>& atRestart) {
    // A file that is already gone is as good as deleted: the user may have
    // removed it by hand, or an earlier run stopped part-way. A file opened
    // since the pre-flight still stops the run here, before any count is
    // lowered: the logs go last, and while they stay a second run lowers
    // each count once.
    std::vector<std::string> rows;
    std::vector<std::string> logs;
    for (const std::string& file : files) {
        if (std::find(atRestart.begin(), atRestart.end(), file) == atRestart.end())
            (isInstallLog(state, file) ? logs : rows).push_back(file);
    }
    if (const FileRemovals removed = fs.deleteFiles(rows); removed.failure)
        throw Error("delete file", state.installdir, *removed.failure);
    for (const std::string& file : atRestart)
        fs.deleteAtRestart(file);
    for (const std::string& log : logs)
        fs.deleteFile(log);
}

void sweepfolders(const UninstallState& state, FileSystem& fs, const std::string& path,
                  const std::vector<std::string>& deleted) {
    // Nearly every folder that held a deleted file is empty now. Removing
    // those level by level, the deepest first and each level's together,
    // settles them without listing one; a folder that holds anything, a file
    // saved since included, refuses and is walked below as before.
    const std::vector<std::vector<std::string>> levels = heldFolders(state, path, deleted);
    for (auto level = levels.rbegin(); level != levels.rend(); ++level)
        fs.removeEmptyFolders(*level);
    if (!levels.empty() && !levels.front().empty() && !fs.folderExists(path))
        return;
    // Each folder learns from its children whether anything remains below
    // it, so the "no file anywhere below" test needs no second walk. A link
    // counts as something that remains: it is never entered, and removing
    // its parent would take it along.
    walkPostOrder(
        entered(path, fs.listFolder(path)),
        [&](Swept& parent, FolderListing::SubFolder& sub) -> std::optional<EnteredFolder<Swept>> {
            if (sub.isLink || isOtherApplication(state, sub.path)) {
                parent.remains = true;
                return std::nullopt;
            }
            // Most folders are empty leaves by now. Removing one outright
            // settles it as listing it would (nothing in it, nothing below),
            // at a third of the cost; anything else fails and is listed.
            if (sub.path != state.lastsubpath && fs.removeEmptyFolder(sub.path))
                return std::nullopt;
            FolderListing listing = fs.listFolder(sub.path);
            return entered(std::move(sub.path), std::move(listing));
        },
        [&](const Swept& folder, Swept* parent) {
            // The last sub-folder the inventory entered stays when it is
            // empty; it holds nothing, so its parent may still take it.
            if (!folder.remains && folder.path != state.lastsubpath)
                fs.deleteFolder(folder.path);
            passOn(folder, parent);
        });
}

void removeWhatTheListingSaw(UninstallState& state, FileSystem& fs) {
    if (!fs.folderExists(state.installdir))
        return;
    for (const std::string& file : state.toolkitFiles) {
        if (file != state.logpath)
            fs.deleteFile(file);
    }
    // As the sweep walks, but with no folder spared: only what remains keeps
    // a folder.
    const auto enter = [&](std::string path) {
        FolderListing listing = fs.listFolder(path);
        const bool holdsFiles = !listing.files.empty();
        for (std::string& file : listing.files)
            state.keptUnlisted.push_back(std::move(file));
        return EnteredFolder<Swept>{Swept{std::move(path), holdsFiles},
                                    std::move(listing.subFolders)};
    };
    walkPostOrder(
        enter(state.installdir),
        [&](Swept& parent, FolderListing::SubFolder& sub) -> std::optional<EnteredFolder<Swept>> {
            if (sub.isLink || isOtherApplication(state, sub.path)) {
                parent.remains = true;
                return std::nullopt;
            }
            return enter(std::move(sub.path));
        },
        [&](const Swept& folder, Swept* parent) {
            if (!folder.remains)
                fs.deleteFolder(folder.path);
            passOn(folder, parent);
        });
}

} // namespace uninst
