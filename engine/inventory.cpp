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
    // Every folder of a level is listed in one batch, which a system that
    // waits on the disk or a server for each listing may run together. The
    // rows come out depth-first in the platform's order, as far as the
    // levels listed so far reach, before the next level is asked for: the
    // window shows them while the rest is listed, and a folder that cannot
    // be listed stops the walk where a walk one folder at a time would stop,
    // before anything deeper is read. Links are not entered, nor another
    // registered application's folder: its files are as much not this
    // application's.
    struct Folder {
        std::string path;
        ListedFolder listed;
        std::vector<std::size_t> subFolders;
    };
    // In the order listed, a level after the other: a folder is listed once
    // its index is below `listedEnd`.
    std::vector<Folder> folders;
    folders.push_back(Folder{path, {}, {}});
    std::size_t listedEnd = 0;
    // An explicit stack rather than recursion: the depth of a tree on disk
    // is bounded only by path length, and one frame per level could exhaust
    // a 32-bit thread's stack.
    std::vector<std::size_t> pending{0};
    while (!pending.empty()) {
        const std::size_t levelEnd = folders.size();
        std::vector<std::string> paths;
        for (std::size_t i = listedEnd; i < levelEnd; ++i)
            paths.push_back(folders[i].path);
        std::vector<ListedFolder> listed;
        if (!paths.empty())
            listed = fs.listFolders(paths);
        for (std::size_t i = listedEnd; i < levelEnd; ++i) {
            folders[i].listed = std::move(listed[i - listedEnd]);
            for (FolderListing::SubFolder& sub : folders[i].listed.listing.subFolders) {
                if (sub.isLink || isOtherApplication(state, sub.path))
                    continue;
                folders[i].subFolders.push_back(folders.size());
                folders.push_back(Folder{std::move(sub.path), {}, {}});
            }
        }
        listedEnd = levelEnd;

        while (!pending.empty() && pending.back() < listedEnd) {
            Folder& folder = folders[pending.back()];
            pending.pop_back();
            if (&folder != &folders.front())
                state.lastsubpath = folder.path;
            if (folder.listed.failure)
                std::rethrow_exception(folder.listed.failure);
            for (const std::string& file : folder.listed.listing.files) {
                if (isToolkitFile(file)) {
                    state.logpath = file;
                    state.toolkitFiles.push_back(file);
                } else {
                    list.addRow(file);
                }
            }
            folder.listed.listing = FolderListing{};
            pending.insert(pending.end(), folder.subFolders.rbegin(), folder.subFolders.rend());
        }
    }
}

} // namespace uninst
