#pragma once

#include "engine/ports.h"
#include "engine/state.h"
#include "platform/filesystem.h"
#include "platform/registry.h"

#include <string>

namespace uninst {

inline constexpr const char* startMenuRoot = "C:\\WINDOWS\\Start Menu\\Programs\\";

// The window's two handlers as plain functions over the state and the ports,
// so that the whole run can be exercised without a window. Both throw Error;
// the window catches it at its handler boundary.

// Start-up: cmdline, then apath, then listfolder. Refuses an install folder
// that is a drive root.
void formLoad(UninstallState& state, Registry& registry, FileSystem& fs,
              const std::string& cmdline, FileList& list);

// "&Uninstall": log, files, folders, install folder, start-menu group,
// repaint, registration. Returns when the program is to end with status 0.
void command4Click(UninstallState& state, Registry& registry, FileSystem& fs, FileList& list,
                   Progress& progress);

} // namespace uninst
