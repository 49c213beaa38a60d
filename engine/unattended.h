#pragma once

#include "engine/command_line.h"
#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/registry.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <cstddef>
#include <string>
#include <vector>

namespace uninst {

// The file list of a run without a window: rows and marks in memory.
class RowList : public FileList {
public:
    void addRow(const std::string& path) override;
    std::size_t rowCount() const override { return rows_.size(); }
    std::string rowText(std::size_t index) const override;
    bool isMarked(std::size_t index) const override;
    void setMarked(std::size_t index, bool marked) override;

private:
    std::vector<std::string> rows_;
    std::vector<bool> marks_;
};

// The exit code of a start-up that threw: a name that is registered nowhere
// is told apart from a registered application the run cannot act on.
int startFailureCode(const UninstallState& state);

// What start-up found, for the log: the install folder, and each other
// application's folder inside it, which the run leaves as it is.
void reportStartUp(const RunReport& report, const UninstallState& state);

// The uninstall as the button runs it, with the log told first which files
// stay and why (a pattern, or the user's mark). With a shell, the group in
// its Programs folders goes too.
UninstallEnd uninstallReported(UninstallState& state, Registry& registry, FileSystem& fs,
                               FileList& list, Progress& progress, const KeepRules& keep,
                               const RunReport& report, Shell* shell = nullptr,
                               BlockedFiles* blocked = nullptr);

// Once start-up knows the install folder, before anything changes: a log
// file inside the install folder or a start-menu folder is refused (the
// run's removal would take it, or it is one of the application's own
// files, the install log among them), anything else is opened. Throws Error
// saying why; the run then ends with exitLogFailed.
void admitLog(RunLog& log, const UninstallState& state, FileSystem& names, Shell* shell);

// The keep patterns read against the install folder, the rows they name
// marked, and the log told of each pattern that named no file. Throws
// Error for a pattern that names no file below the install folder; the run
// then ends with exitBadCommandLine.
KeepRules keepRows(const std::vector<KeepPattern>& patterns, const UninstallState& state,
                   FileSystem& names, Shell* shell, FileList& list, const RunReport& report);

// A run nobody watches: the window's start-up and uninstall, with the rows
// the keep patterns name marked. With options.preview the registry and the
// file system are only read, and the log gets the same lines marked as
// planned. A file in use goes at the next restart, and the exit code then
// asks for one. Returns the exit code; errors go to the log. `log` may be null.
// With a shell, start-up and uninstall are those of a system that has one
// (formLoad and command4Click with a Shell).
int runWithoutWindow(const Options& options, Registry& registry, FileSystem& fs, RunLog* log,
                     Shell* shell = nullptr);

} // namespace uninst
