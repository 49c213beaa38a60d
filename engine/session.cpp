#include "engine/session.h"

#include "engine/error.h"
#include "engine/exit_codes.h"
#include "engine/path_safety.h"
#include "engine/system_paths.h"
#include "engine/unattended.h"
#include "uninst_version.h"

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace uninst {

namespace {

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

Session::Session(const Options& options, Registry& registry, FileSystem& fs, Shell& shell,
                 RunLog* log, StepObserver* observer, BackupStore* backup)
    : options_(options), realRegistry_(registry), names_(fs), shell_(shell), log_(log),
      observer_(observer), backup_(backup), report_(log, options.preview),
      registry_(options.preview ? plannedRegistry_.emplace(registry) : registry, report_),
      fs_(options.preview ? plannedFs_.emplace(fs) : fs, report_) {}

void Session::startUp(FileList& list) {
    uninst::startUp(state_, registry_, fs_, shell_, options_.appName, list, observer_);
}

int Session::startFailureCode() const {
    if (!state_.installdir.empty())
        return exitRunFailed;
    return state_.cmdline.empty() ? exitBadCommandLine : exitNotRegistered;
}

std::optional<std::string> Session::removedFolderHolding(const std::string& path) const {
    std::vector<std::string> folders{state_.installdir, startMenuRoot};
    for (std::string& folder : shell_.programsFolders())
        folders.push_back(std::move(folder));
    // A registration written with short (8.3) steps, "C:\PROGRA~1\MYAPP",
    // names the folder a log or backup path spells in full, and the other
    // way round: each side is also taken as the system names it. The path
    // itself may not exist yet, its folder does.
    std::vector<std::string> forms{path};
    if (std::optional<std::string> named = shell_.finalFolder(path))
        forms.push_back(std::move(*named));
    if (const std::string parent = parentBelowDrive(path); !parent.empty()) {
        if (std::optional<std::string> named = shell_.finalFolder(parent))
            forms.push_back(*named + path.substr(parent.size()));
    }
    const auto holds = [&](const std::string& folder, const std::string& form) {
        std::string inside = names_.foldCase(folder);
        if (inside.empty())
            return false;
        if (inside.back() != '\\')
            inside.push_back('\\');
        std::string self = names_.foldCase(form);
        if (self.empty() || self.back() != '\\')
            self.push_back('\\');
        return self.size() >= inside.size() && self.compare(0, inside.size(), inside) == 0;
    };
    for (const std::string& folder : folders) {
        std::vector<std::string> named{folder};
        if (!folder.empty()) {
            if (std::optional<std::string> final = shell_.finalFolder(folder))
                named.push_back(std::move(*final));
        }
        for (const std::string& side : named) {
            for (const std::string& form : forms) {
                if (holds(side, form))
                    return folder;
            }
        }
    }
    return std::nullopt;
}

void Session::admitLog() {
    if (log_ == nullptr)
        return;
    const std::string path = log_->filePath();
    if (!path.empty()) {
        if (const std::optional<std::string> folder = removedFolderHolding(path)) {
            log_->refuse();
            throw Error(
                "use the log file", path,
                "Cannot use the log file " + path + ": it lies in " +
                    (*folder == state_.installdir ? "the application's install folder "
                                                  : "the start-menu folder ") +
                    *folder +
                    ", whose files the run removes. Name a log file outside it. Nothing has "
                    "been removed.");
        }
    }
    log_->open();
}

void Session::admitBackup() const {
    if (backup_ == nullptr)
        return;
    const std::string path = backup_->folderPath();
    if (const std::optional<std::string> folder = removedFolderHolding(path))
        throw Error("use the backup folder", path,
                    "Cannot write the backup below " + path + ": it lies in " +
                        (*folder == state_.installdir ? "the application's install folder "
                                                      : "the start-menu folder ") +
                        *folder +
                        ", whose files the run removes. Name a backup folder outside it. "
                        "Nothing has been removed.");
}

void Session::backUp(FileList& list) {
    if (backup_ == nullptr)
        return;
    admitBackup();
    // Files in use are taken as the restart would take them: the backup then
    // holds them whatever the user answers later.
    DeleteAtRestartWhenInUse atRestart;
    const BackupPlan plan = planBackup(state_, realRegistry_, names_, shell_, list, &atRestart);
    if (options_.preview) {
        report_.action("Write backup below " + backup_->folderPath() + ": " +
                       std::to_string(plan.files.size()) + " files, " +
                       std::to_string(plan.keys.size()) + " registry keys, " +
                       std::to_string(plan.counts.size()) + " counts, " +
                       std::to_string(backupSize(plan, *backup_)) + " bytes");
        return;
    }
    std::string written;
    try {
        written = writeBackup(plan, *backup_, state_.cmdline, UNINST_VERSION);
    } catch (const Error& error) {
        throw Error("write the backup", backup_->folderPath(),
                    std::string("The backup could not be written whole, so nothing has been "
                                "removed: ") +
                        error.what());
    }
    report_.action("Write backup: " + written);
}

void Session::reportStartUp() const {
    report_.fact("Install folder: " + state_.installdir);
    for (const std::string& folder : state_.otherApplications)
        report_.fact("Left out: " + folder +
                     ", the folder of another registered application, stays as it is.");
}

void Session::keepRows(FileList& list) {
    KeepRules rules(options_.keep, state_.installdir, names_, shell_);
    rules.markRows(list);
    for (const std::string& pattern : rules.unmatched())
        report_.fact("Keep pattern matched no file: " + pattern);
    keep_ = std::move(rules);
}

UninstallEnd Session::uninstall(FileList& list, Progress& progress, BlockedFiles* ask) {
    if (report_.active()) {
        const std::size_t n = list.rowCount();
        for (std::size_t i = 0; i < n; ++i) {
            if (!list.isMarked(i))
                continue;
            const std::string path = list.rowText(i);
            const KeepPattern* pattern = keep_.keeping(path);
            report_.action(
                "Keep file: " + path +
                (pattern != nullptr ? " (pattern " + pattern->text() + ")" : " (marked)"));
        }
    }
    BlockedFiles* const blocked = options_.unattended() ? &atRestart_ : ask;
    backUp(list);
    const UninstallEnd end =
        uninst::uninstall(state_, registry_, fs_, shell_, list, progress, blocked, observer_);
    if (end == UninstallEnd::restartNeeded)
        report_.fact("Some files are in use: they, and the folders they keep, are deleted at the "
                     "next restart.");
    return end;
}

RestoreOutcome Session::restore(BackupSource& source,
                                const std::function<bool(const std::string&)>& admit) {
    report_.fact("Restore from: " + source.folderPath());
    Backup backup;
    try {
        backup = readBackup(source, registry_, fs_, shell_);
    } catch (const Error& error) {
        // A copy another program holds is no damage: the same backup may
        // be restored once it lets go, and a script must not give it up.
        if (error.operation() == damagedBackupOperation) {
            report_.error(error.what());
            return {exitBadBackup, error.what()};
        }
        const std::string message = std::string(error.what()) + " Nothing has been restored from " +
                                    source.folderPath() + ".";
        report_.error(message);
        return {exitRunFailed, message};
    }
    report_.fact("Backup of " + backup.appName + " made on " + backup.machine + " at " +
                 backup.time + " by version " + backup.version);
    if (admit && !admit(backup.appName)) {
        const std::string message = "Another uninstall or restore of " + backup.appName +
                                    " is running. Nothing has been restored; wait until it "
                                    "has ended.";
        report_.error(message);
        return {exitAlreadyRunning, message};
    }
    const std::string planned = options_.preview ? " would be" : "";
    RestoreResult result;
    try {
        result = restoreBackup(backup, registry_, fs_);
    } catch (const Error& error) {
        const std::string message =
            "The restore of " + backup.appName + " from " + backup.folder +
            " stopped: " + error.what() +
            " What was put back before stays; a restore run again keeps it and puts back the "
            "rest.";
        report_.error(message);
        return {exitRunFailed, message};
    }
    for (const std::string& item : result.kept)
        report_.fact("Kept, as it stands there now: " + item);
    std::string message;
    if (result.kept.empty()) {
        message = backup.appName + planned + " restored from " + backup.folder + ": " +
                  std::to_string(result.restored) + " items.";
        report_.fact(message);
        return {exitRemoved, message};
    }
    message = result.restored == 0
                  ? "Nothing" + planned + " restored from " + backup.folder +
                        ": everything the backup holds stands there now, and was kept."
                  : backup.appName + planned + " restored from " + backup.folder +
                        " in part: " + std::to_string(result.restored) + " items" + planned +
                        " put back, " + std::to_string(result.kept.size()) +
                        " kept as they stand now.";
    report_.error(message);
    constexpr std::size_t shown = 12;
    for (std::size_t i = 0; i < result.kept.size() && i < shown; ++i)
        message += "\n- " + result.kept[i];
    if (result.kept.size() > shown)
        message += "\n... and " + std::to_string(result.kept.size() - shown) + " more.";
    return {exitRunFailed, message};
}

int Session::runWithoutWindow() {
    RowList list;
    if (!reported(report_, [&] { startUp(list); }))
        return startFailureCode();
    try {
        admitLog();
    } catch (const Error& error) {
        report_.error(error.what());
        return exitLogFailed;
    }
    try {
        admitBackup();
    } catch (const Error& error) {
        report_.error(error.what());
        return exitLogFailed;
    }
    reportStartUp();
    try {
        keepRows(list);
    } catch (const Error& error) {
        report_.error(error.what());
        return exitBadCommandLine;
    }
    UnseenProgress progress;
    UninstallEnd end = UninstallEnd::removed;
    if (!reported(report_, [&] { end = uninstall(list, progress); }))
        return exitRunFailed;
    return end == UninstallEnd::restartNeeded ? exitRestartNeeded : exitRemoved;
}

} // namespace uninst
