#pragma once

#include "engine/backup.h"
#include "engine/command_line.h"
#include "engine/filesystem.h"
#include "engine/keep_patterns.h"
#include "engine/logged_ports.h"
#include "engine/planned_ports.h"
#include "engine/ports.h"
#include "engine/preflight.h"
#include "engine/registry.h"
#include "engine/restore.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <functional>
#include <optional>

namespace uninst {

// How a restore ended: the exit code, and what a message box tells.
struct RestoreOutcome {
    int exitCode = 0;
    std::string message;
};

// One run of the program, wired once: the options, the ports as the run uses
// them (each change told to the log, and with options.preview only planned),
// the state, the report, the keep patterns and what to do with a file in
// use. The window drives it through its two handlers; a run without a window
// drives it with a row list of its own (runWithoutWindow).
//
// The ports, the shell and the log are the caller's and must outlive the
// session. Judging names (the log's folder, the keep patterns) asks the
// caller's file system itself: it changes nothing, and is no part of what the
// log tells.
class Session {
public:
    Session(const Options& options, Registry& registry, FileSystem& fs, Shell& shell,
            RunLog* log = nullptr, StepObserver* observer = nullptr, BackupStore* backup = nullptr);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const Options& options() const { return options_; }
    UninstallState& state() { return state_; }
    const UninstallState& state() const { return state_; }
    const RunReport& report() const { return report_; }

    // Start-up for options.appName: the install folder found and judged, its
    // files listed in `list`. Throws Error.
    void startUp(FileList& list);

    // The exit code of a start-up that threw: a name that is registered
    // nowhere is told apart from a registered application the run cannot act
    // on.
    int startFailureCode() const;

    // Once start-up knows the install folder, before anything changes: a log
    // file inside the install folder or a start-menu folder is refused (the
    // run's removal would take it, or it is one of the application's own
    // files, the install log among them), anything else is opened. Nothing
    // to do without a log. Throws Error saying why; the run then ends with
    // exitLogFailed.
    void admitLog();

    // With options.backupFolder, once start-up knows the install folder: a
    // backup folder inside the install folder or a start-menu folder is
    // refused like the log (exitLogFailed), for the same reasons.
    void admitBackup() const;

    // Tells the log what start-up found: the install folder, and each other
    // application's folder inside it, which the run leaves as it is.
    void reportStartUp() const;

    // The keep patterns read against the install folder, the rows they name
    // marked, and the log told of each pattern that named no file. Throws
    // Error, having marked nothing, for a pattern that names no file below the
    // install folder; the run then ends with exitBadCommandLine.
    void keepRows(FileList& list);

    // The uninstall, with the log told first which files stay and why (a
    // pattern, or the user's mark). With a backup store, the backup is
    // written whole before the first change (in a preview, only named with
    // its size); when it cannot be, this throws and nothing has changed. A run nobody attends
    // leaves a file in use to the next restart; otherwise `ask` is asked (without it, such a file
    // throws).
    UninstallEnd uninstall(FileList& list, Progress& progress, BlockedFiles* ask = nullptr);

    // The whole run with no window: start-up, the log, the keep patterns and
    // the uninstall, with an in-memory row list. Returns the exit code;
    // errors go to the log.
    int runWithoutWindow();

    // /restore: the backup read and judged, then put back through the run's
    // ports (only planned with options.preview), each change told to the
    // log. Ends exitBadBackup when the backup is damaged (nothing changed),
    // exitRunFailed when a change failed, something that stands there now
    // was kept, or the backup cannot be read now (nothing changed), and exitRemoved when everything
    // came back. `admit`, given the application's name once the backup is read, answers whether
    // this run may act on it now (no other run for it at work); when it may not, nothing changes
    // and the restore ends exitAlreadyRunning.
    RestoreOutcome restore(BackupSource& source,
                           const std::function<bool(const std::string&)>& admit = {});

private:
    // The start-menu folder or install folder `path` lies in, if any.
    std::optional<std::string> removedFolderHolding(const std::string& path) const;
    void backUp(FileList& list);

    Options options_;
    Registry& realRegistry_;
    FileSystem& names_;
    Shell& shell_;
    RunLog* log_;
    StepObserver* observer_;
    BackupStore* backup_;
    RunReport report_;
    std::optional<PlannedRegistry> plannedRegistry_;
    std::optional<PlannedFileSystem> plannedFs_;
    LoggedRegistry registry_;
    LoggedFileSystem fs_;
    UninstallState state_;
    KeepRules keep_;
    DeleteAtRestartWhenInUse atRestart_;
};

} // namespace uninst
