#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/state.h"

#include <string>

namespace uninst {

// Deletes the files the user did not keep, then the install log.
// Every unmarked row's file goes in index order, then the file at logpath,
// then the install log that was read when logpath named another toolkit file.
void deletefiles(const UninstallState& state, FileSystem& fs, const FileList& list);

// Removes the folders the deletion left empty.
// Those below and including `path` that no longer hold any file go,
// sub-folders before their parent; the folder at lastsubpath is never removed
// by its own test.
void sweepfolders(const UninstallState& state, FileSystem& fs, const std::string& path,
                  bool recurse);

} // namespace uninst
