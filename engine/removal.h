#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/state.h"

#include <string>

namespace uninst {

// Deletes every unmarked row's file in index order, then the file at logpath.
void deletefiles(const UninstallState& state, FileSystem& fs, const FileList& list);

// Removes folders below and including `path` that no longer hold any file,
// sub-folders before their parent; the folder at lastsubpath is never removed
// by its own test.
void sweepfolders(const UninstallState& state, FileSystem& fs, const std::string& path,
                  bool recurse);

} // namespace uninst
