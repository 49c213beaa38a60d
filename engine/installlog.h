#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/registry.h"
#include "engine/state.h"

#include <string>

namespace uninst {

// Reads the install log for the start-menu group and the shared files.
// Reads installdir\st6unst.log: sets groupname and menupath, lowers the
// SharedDLLs count of every shared file it names and advances the bar by 2
// per line.
void readlog(UninstallState& state, Registry& registry, FileSystem& fs,
             const std::string& installdir, Progress& progress);

// installdir\st6unst.log: the one log readlog reads, wherever the inventory's
// logpath points.
std::string installLogPath(const std::string& installdir);

} // namespace uninst
