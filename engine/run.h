#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/preflight.h"
#include "engine/registry.h"
#include "engine/shared_folders.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <string>
#include <string_view>

// The road of one run, as named steps: start-up finds the install folder and
// lists its files; the uninstall removes what was not kept. The session calls
// both, and so can anything else that can offer a file list and a progress
// bar: both throw Error and leave reporting it to their caller. A system
// without a desktop shell passes noShell().

namespace uninst {

// Told before and after each named step of the run, in the run's order: the
// benchmark times the steps through it. A step that throws is not told
// after; the folders left to the restart are a step only when a file was.
class StepObserver {
public:
    virtual ~StepObserver() = default;
    virtual void before(std::string_view step) = 0;
    virtual void after(std::string_view step) = 0;
};

// Start-up: stores the argument text, finds the install folder (apath),
// refuses a folder the run must not touch (refuseUnsafeInstallFolder,
// refuseSharedFolder), reads the other applications' folders inside it
// (findOtherApplications), and lists the files (listfolder).
// With `registered`, findOtherApplications takes that pass over App Paths
// rather than reading the list again. A start-up for a listing alone (the
// inventory's, which starts up once for every application) does not keep
// state.registeredFolders, which only the uninstall's start-menu steps read:
// copied for each application, every other application's folder would make
// the inventory's time grow with the square of their number.
enum class StartUpFor { run, listingOnly };
void startUp(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
             const std::string& cmdline, FileList& list, StepObserver* observer = nullptr,
             const RegisteredApplications* registered = nullptr,
             StartUpFor purpose = StartUpFor::run);

// How an uninstall that did not throw ended.
enum class UninstallEnd {
    removed,
    restartNeeded, // removed, but files in use go at the next restart
    cancelled,     // the user chose not to go on; nothing was changed
};

// The uninstall: removes everything of the application the user did not keep.
// In order: preflight, readlog, deletefiles (the files, then the install
// log), lowerSharedCounts, sweepfolders, the install folder when nothing was
// listed, removeStartMenuGroups, repaint, removeentries. The pre-flight asks
// of every file to delete whether it can go now, and of `blocked` what to do
// with one that cannot (without it, such a file throws); nothing changes
// before it has passed. The counts are lowered only once the install log is
// gone, so no later run can lower them again. A failure up to the install
// log's deletion throws at once with no count lowered; after it, every later
// step still runs and one Error at the end lists what each failing step left
// behind. The shell's Programs folders are start-menu roots too, and a
// shortcut that leads into the install folder is this application's as well
// as one the log names.
UninstallEnd uninstall(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
                       FileList& list, Progress& progress, BlockedFiles* blocked = nullptr,
                       StepObserver* observer = nullptr);

} // namespace uninst
