#pragma once

#include "engine/filesystem.h"

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace uninst {

// A folder the walk has entered: what the caller keeps of it while the walk is
// below it, and the subfolders still to visit.
template <typename Folder> struct EnteredFolder {
    Folder folder;
    std::vector<FolderListing::SubFolder> subFolders;
};

// Walks a folder tree deepest first, each folder listed once, on an explicit
// stack: a tree may be as deep as a path allows. For each subfolder in turn,
// `visit(Folder& parent, FolderListing::SubFolder& sub)` answers the entered
// subfolder, or nothing to pass it by (a link, another's folder, one settled
// without a listing; `visit` tells the parent). Once a folder's subfolders are
// all visited, `leave(Folder& folder, Folder* parent)` runs, the parent null
// for `top`: what a folder learns from below reaches its parent there.
template <typename Folder, typename Visit, typename Leave>
void walkPostOrder(EnteredFolder<Folder> top, Visit visit, Leave leave) {
    struct Frame {
        EnteredFolder<Folder> entered;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back(Frame{std::move(top), 0});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.entered.subFolders.size()) {
            FolderListing::SubFolder& sub = frame.entered.subFolders[frame.next++];
            std::optional<EnteredFolder<Folder>> child = visit(frame.entered.folder, sub);
            // Pushed only now: a push may move the frames `visit` was handed.
            if (child)
                stack.push_back(Frame{std::move(*child), 0});
            continue;
        }
        Folder done = std::move(frame.entered.folder);
        stack.pop_back();
        leave(done, stack.empty() ? nullptr : &stack.back().entered.folder);
    }
}

} // namespace uninst
