#include "engine/inventory.h"

#include "engine/ascii_case.h"
#include "engine/shared_folders.h"

#include <cstddef>
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
    // Depth-first with an explicit stack rather than recursion: the depth of
    // a tree on disk is bounded only by path length, and one frame per level
    // could exhaust a 32-bit thread's stack. Sub-folders are pushed in
    // reverse so they are entered in the platform's order.
    std::vector<std::string> pending;
    pending.push_back(path);
    bool first = true;
    while (!pending.empty()) {
        std::string folder = std::move(pending.back());
        pending.pop_back();
        if (!first)
            state.lastsubpath = folder;
        first = false;

        FolderListing listing = fs.listFolder(folder);
        for (const std::string& file : listing.files) {
            if (isToolkitFile(file)) {
                state.logpath = file;
                state.toolkitFiles.push_back(file);
            } else {
                list.addRow(file);
            }
        }
        for (auto it = listing.subFolders.rbegin(); it != listing.subFolders.rend(); ++it) {
            // A link's contents belong to whatever it points at, not to the
            // application: listing them would offer them for deletion.
            // Another registered application's folder is as much not this
            // application's.
            if (!it->isLink && !isOtherApplication(state, it->path))
                pending.push_back(std::move(it->path));
        }
    }
}

} // namespace uninst
