#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/preflight.h"
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

// How an uninstall that did not throw ended.
enum class UninstallEnd {
    removed,
    restartNeeded, // removed, but files in use go at the next restart
    cancelled,     // the user chose not to go on; nothing was changed
};

// The uninstall: removes everything of the application the user did not keep.
// In order: the pre-flight, log reading, files, the install log, the shared
// counts, folders, install folder, start-menu group, repaint, registration.
// The pre-flight asks of every file to delete whether it can go now, and of
// `blocked` what to do with one that cannot (without it, such a file throws);
// nothing changes before it has passed. The counts are lowered only once the
// install log is gone, so no later run can lower them again. A failure up to
// the install log's deletion throws at once with no count lowered; after it,
// every later step still runs and one Error at the end lists what each
// failing step left behind.
UninstallEnd command4Click(UninstallState& state, Registry& registry, FileSystem& fs,
                           FileList& list, Progress& progress, BlockedFiles* blocked = nullptr);

// The same on a system with a desktop shell: the shell's Programs folders are
// start-menu roots too, and a shortcut that leads into the install folder is
// this application's as well as one the log names (removeStartMenuGroups).
UninstallEnd command4Click(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
                           FileList& list, Progress& progress, BlockedFiles* blocked = nullptr);

} // namespace uninst
