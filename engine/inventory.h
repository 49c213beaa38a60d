#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/state.h"

#include <string>

namespace uninst {

// Lists the application's files as the window's rows.
// Walks `path` depth-first in the platform's order and appends every file to
// `list`, except the setup toolkit's own ST6UNST files, which it records in
// toolkitFiles (the last one as logpath); records lastsubpath. Links are neither entered nor
// listed.
void listfolder(UninstallState& state, FileSystem& fs, const std::string& path, FileList& list);

} // namespace uninst
