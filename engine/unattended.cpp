#include "engine/unattended.h"

#include "engine/error.h"
#include "engine/exit_codes.h"
#include "engine/keep_patterns.h"
#include "engine/logged_ports.h"
#include "engine/planned_ports.h"
#include "engine/run.h"
#include "engine/system_paths.h"

#include <exception>
#include <new>
#include <optional>

namespace uninst {

namespace {

std::string rowError(std::size_t index) {
    return "Cannot use row " + std::to_string(index) +
           " of the file list: the list has no such row.";
}

// Runs `step`; on failure reports the error and answers false.
template <typename Step> bool reported(const RunReport& report, Step step) {
    try {
        step();
        return true;
    } catch (const Error& error) {
        report.error(error.what());
    } catch (const std::bad_alloc&) {
        report.error("There is not enough memory to go on.");
    } catch (const std::exception& error) {
        report.error(std::string("Unexpected problem: ") + error.what());
    }
    return false;
}

} // namespace

void RowList::addRow(const std::string& path) {
    rows_.push_back(path);
    marks_.push_back(false);
}

std::string RowList::rowText(std::size_t index) const {
    if (index >= rows_.size())
        throw Error(rowError(index));
    return rows_[index];
}

bool RowList::isMarked(std::size_t index) const {
    if (index >= marks_.size())
        throw Error(rowError(index));
    return marks_[index];
}

void RowList::setMarked(std::size_t index, bool marked) {
    if (index >= marks_.size())
        throw Error(rowError(index));
    marks_[index] = marked;
}

int startFailureCode(const UninstallState& state) {
    if (!state.installdir.empty())
        return exitRunFailed;
    return state.cmdline.empty() ? exitBadCommandLine : exitNotRegistered;
}

void reportStartUp(const RunReport& report, const UninstallState& state) {
    report.fact("Install folder: " + state.installdir);
    for (const std::string& folder : state.otherApplications)
        report.fact("Left out: " + folder +
                    ", the folder of another registered application, stays as it is.");
}

void admitLog(RunLog& log, const UninstallState& state, FileSystem& names, Shell* shell) {
    const std::string path = log.filePath();
    if (!path.empty()) {
        std::vector<std::string> folders{state.installdir, startMenuRoot};
        if (shell != nullptr) {
            for (std::string& folder : shell->programsFolders())
                folders.push_back(std::move(folder));
        }
        const std::string folded = names.foldCase(path);
        for (const std::string& folder : folders) {
            std::string inside = names.foldCase(folder);
            if (inside.empty())
                continue;
            if (inside.back() != '\\')
                inside.push_back('\\');
            if (folded.size() <= inside.size() || folded.compare(0, inside.size(), inside) != 0)
                continue;
            log.refuse();
            throw Error("Cannot use the log file " + path + ": it lies in " +
                        (folder == state.installdir ? "the application's install folder "
                                                    : "the start-menu folder ") +
                        folder +
                        ", whose files the run removes. Name a log file outside it. Nothing has "
                        "been removed.");
        }
    }
    log.open();
}

KeepRules keepRows(const std::vector<KeepPattern>& patterns, const UninstallState& state,
                   FileSystem& names, Shell* shell, FileList& list, const RunReport& report) {
    KeepRules rules(patterns, state.installdir, names, shell);
    rules.markRows(list);
    for (const std::string& pattern : rules.unmatched())
        report.fact("Keep pattern matched no file: " + pattern);
    return rules;
}

UninstallEnd uninstallReported(UninstallState& state, Registry& registry, FileSystem& fs,
                               FileList& list, Progress& progress, const KeepRules& keep,
                               const RunReport& report, Shell* shell, BlockedFiles* blocked) {
    if (report.active()) {
        const std::size_t n = list.rowCount();
        for (std::size_t i = 0; i < n; ++i) {
            if (!list.isMarked(i))
                continue;
            const std::string path = list.rowText(i);
            const KeepPattern* pattern = keep.keeping(path);
            report.action(
                "Keep file: " + path +
                (pattern != nullptr ? " (pattern " + pattern->text() + ")" : " (marked)"));
        }
    }
    const UninstallEnd end =
        shell != nullptr ? command4Click(state, registry, fs, *shell, list, progress, blocked)
                         : command4Click(state, registry, fs, list, progress, blocked);
    if (end == UninstallEnd::restartNeeded)
        report.fact("Some files are in use: they, and the folders they keep, are deleted at the "
                    "next restart.");
    return end;
}

int runWithoutWindow(const Options& options, Registry& registry, FileSystem& fs, RunLog* log,
                     Shell* shell) {
    const RunReport report(log, options.preview);
    std::optional<PlannedRegistry> plannedRegistry;
    std::optional<PlannedFileSystem> plannedFs;
    Registry* base = &registry;
    FileSystem* baseFs = &fs;
    if (options.preview) {
        base = &plannedRegistry.emplace(registry);
        baseFs = &plannedFs.emplace(fs);
    }
    LoggedRegistry loggedRegistry(*base, report);
    LoggedFileSystem loggedFs(*baseFs, report);

    UninstallState state;
    RowList list;
    if (!reported(report, [&] {
            if (shell != nullptr)
                formLoad(state, loggedRegistry, loggedFs, *shell, options.appName, list);
            else
                formLoad(state, loggedRegistry, loggedFs, options.appName, list);
        }))
        return startFailureCode(state);
    if (log != nullptr) {
        try {
            admitLog(*log, state, fs, shell);
        } catch (const Error& error) {
            report.error(error.what());
            return exitLogFailed;
        }
    }
    reportStartUp(report, state);

    KeepRules keep;
    try {
        keep = keepRows(options.keep, state, fs, shell, list, report);
    } catch (const Error& error) {
        report.error(error.what());
        return exitBadCommandLine;
    }
    UnseenProgress progress;
    DeleteAtRestartWhenInUse inUse;
    UninstallEnd end = UninstallEnd::removed;
    if (!reported(report, [&] {
            end = uninstallReported(state, loggedRegistry, loggedFs, list, progress, keep, report,
                                    shell, &inUse);
        }))
        return exitRunFailed;
    return end == UninstallEnd::restartNeeded ? exitRestartNeeded : exitRemoved;
}

} // namespace uninst
