#include "engine/run.h"

#include "engine/error.h"
#include "engine/installdir.h"
#include "engine/installlog.h"
#include "engine/inventory.h"
#include "engine/path_safety.h"
#include "engine/registration.h"
#include "engine/removal.h"
#include "engine/shared_folders.h"
#include "engine/start_menu_groups.h"
#include "engine/system_paths.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace uninst {

namespace {

// Throws when the install folder apath found is missing or is one the run
// must not list: a drive, a device path, a share's root, a folder reached
// through a "." or ".." step.
void refuseUnsafeInstallFolder(const UninstallState& state) {
    const std::string& cmdline = state.cmdline;
    if (state.installdir.empty()) {
        if (cmdline.empty())
            throw Error("find the application", "",
                        "No application name was given: start the uninstaller with the registered "
                        "executable name of the application to remove, for example "
                        "uninstall.exe myapp.exe.");
        throw Error(
            "find the application", cmdline,
            "\"" + cmdline +
                "\" is not registered under App Paths (HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"
                "\\Windows\\CurrentVersion\\App Paths), or its registration names no folder: "
                "check the name given to the uninstaller.");
    }
    if (isDriveRoot(state.installdir))
        throw Error("list the install folder", state.installdir,
                    "The install folder of " + cmdline + " is the whole drive " +
                        state.installdir.substr(0, 2) +
                        ", which the uninstaller will not list or remove.");
    if (isDevicePathOrShareRoot(state.installdir))
        throw Error("list the install folder", state.installdir,
                    "The install folder of " + cmdline + ", " + state.installdir +
                        ", is a device path or the root of a network share, which the uninstaller "
                        "will not list or remove.");
    // "C:\App\..\a.exe" registers an executable in C:\, yet the text passes
    // the drive-root test; other steps back land in another application.
    if (hasDotStep(state.installdir))
        throw Error("list the install folder", state.installdir,
                    "The install folder of " + cmdline + ", " + state.installdir +
                        ", goes through a \".\" or \"..\" step, which the uninstaller will not "
                        "follow: it lists only the folder the executable is registered in.");
    // "C:.", "C:..\x", "\App", "App" and "\??\C:\x" pass the tests above as
    // text, yet the system reads them against a current folder, which may be
    // a drive's root or anyone's folder.
    if (!isFullyQualified(state.installdir))
        throw Error("list the install folder", state.installdir,
                    "The install folder of " + cmdline + ", " + state.installdir +
                        ", does not name its drive and folder in full, so the system would read it "
                        "against whatever the current folder is: the uninstaller lists only a "
                        "folder registered with its full path.");
}

// The folder the system will use for the registered one, judged again: the
// clean-up ("/" as "\\", trailing dots and blanks dropped, separators run
// together) can make of the text a folder the tests above never saw. Every
// later path is built from it, so that the file system, which takes paths
// as they stand, never cleans one up again.
std::string resolvedInstallFolder(const UninstallState& state, FileSystem& fs) {
    std::string full = fs.fullPath(state.installdir);
    while (full.size() > 3 && full.back() == '\\')
        full.pop_back();
    if (!isFolderBelowARoot(full))
        throw Error("list the install folder", state.installdir,
                    "The install folder of " + state.cmdline + ", " + state.installdir + ", is " +
                        full +
                        " to the system, which is not a folder below a drive's or "
                        "a share's root: the uninstaller will not list or remove it.");
    return full;
}

// Failures of the steps that follow the log's deletion, in the order met.
class Leftovers {
public:
    template <typename Step> void run(Step&& step) {
        try {
            step();
        } catch (const Error& error) {
            failures_.emplace_back(error.what());
        }
    }

    void add(std::string failure) { failures_.push_back(std::move(failure)); }

    // One report for all of them; the run still ends as a failed one.
    void throwIfAny() const {
        if (failures_.empty())
            return;
        std::string message =
            "The uninstall went through to the end, but some of the application was left "
            "behind:\n";
        for (const std::string& failure : failures_)
            message.append("\n").append(failure);
        message.append("\n\nRemove what is left by hand.");
        throw Error("remove the application", "", message);
    }

private:
    std::vector<std::string> failures_;
};

// Runs each named step with the observer told around it.
class Steps {
public:
    explicit Steps(StepObserver* observer) : observer_(observer) {}

    template <typename Step> void run(std::string_view name, Step&& step) {
        if (observer_ != nullptr)
            observer_->before(name);
        step();
        if (observer_ != nullptr)
            observer_->after(name);
    }

private:
    StepObserver* observer_;
};

} // namespace

void startUp(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
             const std::string& cmdline, FileList& list, StepObserver* observer,
             const RegisteredApplications* registered, StartUpFor purpose) {
    Steps steps(observer);
    state.cmdline = cmdline;
    // No key name holds a "\": "myapp.exe\" or "myapp.exe\Sub" reads the
    // registration of a key below, or of the entry itself, yet no entry's
    // name ever equals it, so the files would go and the registration stay
    // for ever. Such a name is taken as not registered.
    steps.run("apath", [&] {
        if (cmdline.find('\\') == std::string::npos)
            apath(state, registry, shell, cmdline);
    });
    steps.run("refuseUnsafeInstallFolder", [&] {
        refuseUnsafeInstallFolder(state);
        state.installdir = resolvedInstallFolder(state, fs);
    });
    // Before anything is listed: the window would offer every application in
    // "C:\Program Files" for deletion, and a quiet run would take them all.
    steps.run("refuseSharedFolder", [&] { refuseSharedFolder(state, registry, shell); });
    steps.run("findOtherApplications", [&] {
        if (registered != nullptr)
            placeOtherApplications(state, registry, fs, *registered, purpose == StartUpFor::run);
        else
            findOtherApplications(state, registry, fs, &shell);
    });
    steps.run("listfolder", [&] { listfolder(state, fs, state.installdir, list); });
    // Last, once there is something to remove: an entry the removal could
    // not delete would stay once the files are gone.
    steps.run("refuseUnremovableRegistration",
              [&] { refuseUnremovableRegistration(registry, cmdline); });
}

UninstallEnd uninstall(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
                       FileList& list, Progress& progress, BlockedFiles* blocked,
                       StepObserver* observer) {
    Steps steps(observer);
    std::vector<std::string> roots{state.installdir, startMenuRoot};
    for (std::string& folder : shell.programsFolders())
        roots.push_back(std::move(folder));
    fs.setRemovalRoots(roots);
    const std::vector<std::string> files = filesToDelete(state, list);
    // Asked again before the first change: the window may have been open for
    // minutes, time enough for another program to put a link in its place.
    steps.run("recheckRegistration",
              [&] { refuseUnremovableRegistration(registry, state.cmdline); });
    PreflightResult checked;
    steps.run("preflight", [&] { checked = preflight(state, fs, files, blocked); });
    if (checked.cancelled)
        return UninstallEnd::cancelled;
    std::vector<std::string> shared;
    steps.run("readlog", [&] { shared = readlog(state, fs, state.installdir, progress); });
    steps.run("deletefiles", [&] { deletefiles(state, fs, files, checked.atRestart); });

    // The log is gone: a second run would be refused, so nothing may stop
    // this one now. Each later step runs whatever the one before it met,
    // above all the registration removal, and what stayed behind is told
    // once at the end.
    Leftovers left;
    const auto step = [&](std::string_view name, auto&& body) {
        left.run([&] { steps.run(name, body); });
    };
    step("lowerSharedCounts", [&] { lowerSharedCounts(registry, shared); });
    step("sweepfolders", [&] { sweepfolders(state, fs, state.installdir, files); });
    // Only when the inventory offered no file: the folder then holds the
    // setup toolkit's leftovers, and whatever was saved there since, which
    // nobody was shown and so stays.
    step("installfolder", [&] {
        if (list.rowCount() == 0)
            removeWhatTheListingSaw(state, fs);
    });
    if (!checked.atRestart.empty())
        step("scheduleFoldersAtRestart",
             [&] { scheduleFoldersAtRestart(state, fs, checked.atRestart); });
    // Only this application's shortcuts go from the start menu, then the
    // folders that left empty: the roots are shared with other applications
    // and the system, and the log may name any folder in them. A group that
    // would lead outside the start menu is left alone rather than stopping
    // the run: by now the files and the log are gone, and the registration
    // must still go, or nothing could remove it later.
    step("removeStartMenuGroups", [&] { removeStartMenuGroups(state, fs, shell); });
    step("repaint", [&] { list.refresh(); });
    step("removeentries", [&] { removeentries(registry, state.cmdline); });
    // Only a file that is gone counts as removed: a deletion may answer
    // removed or notFound and still leave one at its listed path (Wine
    // names the handle of "data.mdb." as "data.mdb", and the check that it
    // holds the listed item then leaves it alone), and another process may
    // have put one back since.
    step("filesStillThere", [&] {
        std::vector<std::string> deleted;
        for (const std::string& file : files) {
            if (std::find(checked.atRestart.begin(), checked.atRestart.end(), file) ==
                checked.atRestart.end())
                deleted.push_back(file);
        }
        for (const std::string& file : fs.filesStillThere(state.installdir, deleted))
            left.add("File " + file + " is still there after its deletion.");
    });
    left.throwIfAny();
    return checked.atRestart.empty() ? UninstallEnd::removed : UninstallEnd::restartNeeded;
}

} // namespace uninst
