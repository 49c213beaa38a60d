#include "engine/inventory.h"

#include "engine/ascii_case.h"
#include "engine/shared_folders.h"

#include <cstddef>
#include <exception>
#include <string_view>
#include <utility>
#include <vector>

namespace uninst {

namespace {

// The setup toolkit names its own files (the install log, its helpers and
// their temporary copies) with this prefix, in any letter case.
constexpr std::string_view toolkitTag = "ST6UNST";

bool isToolkitFile(std::string_view path) {
    const std::size_t slash = path.rfind('\\');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return name.size() >= toolkitTag.size() &&
           sameAsciiCase(name.substr(0, toolkitTag.size()), toolkitTag);
}

} // namespace

void listfolder(UninstallState& state, FileSystem& fs, const std::string& path, FileList& list) {
    // The folders the walk enters next are listed together, in one batch
    // that a system waiting on the disk or a server for each listing may
    // run at once; the rows then come out depth-first in the platform's
    // order as far as the listings reach. Looking ahead in the walk's own
    // order, rather than a level of the tree at a time, keeps the rows
    // coming while the rest is listed and holds only a few hundred folders'
    // listings at any time, however wide the tree. A folder that cannot be
    // listed stops the walk where a walk of one folder at a time would
    // stop. Links are not entered, nor another registered application's
    // folder: its files are as much not this application's.
    constexpr std::size_t lookahead = 256;
    struct Folder {
        std::string path;
        bool listed = false;
        ListedFolder listing;
        std::vector<std::size_t> subFolders;
    };
    std::vector<Folder> folders;
    folders.push_back(Folder{path, false, {}, {}});
    // An explicit stack rather than recursion: the depth of a tree on disk
    // is bounded only by path length, and one frame per level could exhaust
    // a 32-bit thread's stack.
    std::vector<std::size_t> pending{0};
    std::vector<std::size_t> ahead;
    std::vector<std::size_t> next;
    while (!pending.empty()) {
        // The walk's path ahead, through the folders listed already, to the
        // first folders it will need listed.
        next.clear();
        ahead = pending;
        while (!ahead.empty() && next.size() < lookahead) {
            const std::size_t index = ahead.back();
            const Folder& folder = folders[index];
            ahead.pop_back();
            if (!folder.listed)
                next.push_back(index);
            else if (folder.listing.failure)
                break;
            else
                ahead.insert(ahead.end(), folder.subFolders.rbegin(), folder.subFolders.rend());
        }
        std::vector<std::string> paths;
        paths.reserve(next.size());
        for (const std::size_t index : next)
            paths.push_back(folders[index].path);
        std::vector<ListedFolder> listed = fs.listFolders(paths);
        for (std::size_t k = 0; k < next.size(); ++k) {
            const std::size_t index = next[k];
            folders[index].listed = true;
            folders[index].listing = std::move(listed[k]);
            // Taken out first: adding folders may move the one listed.
            std::vector<FolderListing::SubFolder> subFolders =
                std::move(folders[index].listing.listing.subFolders);
            for (FolderListing::SubFolder& sub : subFolders) {
                if (sub.isLink || isOtherApplication(state, sub.path))
                    continue;
                folders[index].subFolders.push_back(folders.size());
                folders.push_back(Folder{std::move(sub.path), false, {}, {}});
            }
        }

        while (!pending.empty() && folders[pending.back()].listed) {
            Folder& folder = folders[pending.back()];
            pending.pop_back();
            if (&folder != &folders.front())
                state.lastsubpath = folder.path;
            if (folder.listing.failure)
                std::rethrow_exception(folder.listing.failure);
            for (const std::string& file : folder.listing.listing.files) {
                if (isToolkitFile(file)) {
                    state.logpath = file;
                    state.toolkitFiles.push_back(file);
                } else {
                    list.addRow(file);
                }
            }
            folder.listing.listing = FolderListing{};
            pending.insert(pending.end(), folder.subFolders.rbegin(), folder.subFolders.rend());
        }
    }
}

} // namespace uninst
