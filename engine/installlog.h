#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/registry.h"
#include "engine/state.h"

#include <string>
#include <vector>

namespace uninst {

// Reads the install log for the start-menu group and the shared files, and
// changes nothing. Reads installdir\st6unst.log: sets groupname and menupath,
// advances the bar by 2 per line, and returns the shared files whose
// SharedDLLs counts the log asks to lower, in the log's order. Throws, naming
// the log, when it cannot be read or its encoding cannot be told.
std::vector<std::string> readlog(UninstallState& state, FileSystem& fs,
                                 const std::string& installdir, Progress& progress);

// Lowers each named file's SharedDLLs count once, however
// many of the names are that file's as the registry compares names. The run
// calls it only once the install log is gone, so that no later
// run can read the same log and lower the counts a second time. Every count
// is tried; then one Error names each that could not be lowered.
void lowerSharedCounts(Registry& registry, const std::vector<std::string>& names);

// installdir\st6unst.log: the one log readlog reads, wherever the inventory's
// logpath points.
std::string installLogPath(const std::string& installdir);

} // namespace uninst
