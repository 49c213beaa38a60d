#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/registry.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <string>

// The road of one run: start-up finds the install folder and lists its
// files; the uninstall removes what was not kept. The window calls both, and
// so can anything else that can offer a file list and a progress bar: both
// throw Error and leave reporting it to their caller.

namespace uninst {

// Start-up: finds the application's install folder and lists its files.
// Stores the argument text, finds the install folder (apath), refuses a
// folder the run must not touch, and lists the files (listfolder).
void formLoad(UninstallState& state, Registry& registry, FileSystem& fs, const std::string& cmdline,
              FileList& list);

// The same on a system with a desktop shell: an App Paths value stored as
// REG_EXPAND_SZ is expanded first.
void formLoad(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
              const std::string& cmdline, FileList& list);

// The uninstall: removes everything of the application the user did not keep.
// In order: log, files, folders, install folder, start-menu group, repaint,
// registration. Returns when the program is to end with success. A failure up
// to the install log's deletion throws at once; after it, every later step
// still runs and one Error at the end lists what each failing step left
// behind.
void command4Click(UninstallState& state, Registry& registry, FileSystem& fs, FileList& list,
                   Progress& progress);

// The same on a system with a desktop shell: after the group under the fixed
// start-menu root, this application's shortcuts in the shell's Programs
// folders go too (removeProgramsGroups).
void command4Click(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
                   FileList& list, Progress& progress);

} // namespace uninst
