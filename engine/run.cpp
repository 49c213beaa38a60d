#include "engine/run.h"

#include "engine/error.h"
#include "engine/installdir.h"
#include "engine/installlog.h"
#include "engine/inventory.h"
#include "engine/path_safety.h"
#include "engine/registration.h"
#include "engine/removal.h"
#include "engine/start_menu_groups.h"
#include "engine/system_paths.h"

#include <string>
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
            throw Error("No application name was given: start the uninstaller with the registered "
                        "executable name of the application to remove, for example "
                        "uninstall.exe myapp.exe.");
        throw Error("\"" + cmdline +
                    "\" is not registered under App Paths (HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"
                    "\\Windows\\CurrentVersion\\App Paths), or its registration names no folder: "
                    "check the name given to the uninstaller.");
    }
    if (isDriveRoot(state.installdir))
        throw Error("The install folder of " + cmdline + " is the whole drive " +
                    state.installdir.substr(0, 2) +
                    ", which the uninstaller will not list or remove.");
    if (isDevicePathOrShareRoot(state.installdir))
        throw Error("The install folder of " + cmdline + ", " + state.installdir +
                    ", is a device path or the root of a network share, which the uninstaller "
                    "will not list or remove.");
    // "C:\App\..\a.exe" registers an executable in C:\, yet the text passes
    // the drive-root test; other steps back land in another application.
    if (hasDotStep(state.installdir))
        throw Error("The install folder of " + cmdline + ", " + state.installdir +
                    ", goes through a \".\" or \"..\" step, which the uninstaller will not "
                    "follow: it lists only the folder the executable is registered in.");
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
        throw Error(message);
    }

private:
    std::vector<std::string> failures_;
};

void startUp(UninstallState& state, Registry& registry, FileSystem& fs, Shell* shell,
             const std::string& cmdline, FileList& list) {
    state.cmdline = cmdline;
    if (shell != nullptr)
        apath(state, registry, *shell, cmdline);
    else
        apath(state, registry, cmdline);
    refuseUnsafeInstallFolder(state);
    listfolder(state, fs, state.installdir, list);
}

void uninstall(UninstallState& state, Registry& registry, FileSystem& fs, Shell* shell,
               FileList& list, Progress& progress) {
    readlog(state, registry, fs, state.installdir, progress);
    std::vector<std::string> roots{state.installdir, startMenuRoot};
    if (shell != nullptr) {
        for (std::string& folder : shell->programsFolders())
            roots.push_back(std::move(folder));
    }
    fs.setRemovalRoots(roots);
    deletefiles(state, fs, list);

    // The log is gone: a second run would be refused, so nothing may stop
    // this one now. Each later step runs whatever the one before it met,
    // above all the registration removal, and what stayed behind is told
    // once at the end.
    Leftovers left;
    left.run([&] { sweepfolders(state, fs, state.installdir, true); });
    // Only when the inventory offered no file: the folder then holds just
    // the setup toolkit's leftovers. When the sweep already removed it,
    // there is nothing left to do.
    left.run([&] {
        if (list.rowCount() == 0)
            fs.deleteFolder(state.installdir);
    });
    // A group that would lead outside the start menu is left alone rather
    // than stopping the run: by now the files and the log are gone, and the
    // registration must still go, or nothing could remove it later.
    left.run([&] {
        if (!state.menupath.empty() && !state.groupname.empty() &&
            isGroupInsideStartMenu(state.groupname)) {
            state.menupath = startMenuRoot + state.groupname;
            // A group folder the user already removed is not a failure.
            fs.deleteFolder(state.menupath);
        }
    });
    if (shell != nullptr)
        left.run([&] { removeProgramsGroups(state, fs, *shell); });
    left.run([&] { list.refresh(); });
    left.run([&] { removeentries(registry, state.cmdline); });
    left.throwIfAny();
}

} // namespace

void formLoad(UninstallState& state, Registry& registry, FileSystem& fs, const std::string& cmdline,
              FileList& list) {
    startUp(state, registry, fs, nullptr, cmdline, list);
}

void formLoad(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
              const std::string& cmdline, FileList& list) {
    startUp(state, registry, fs, &shell, cmdline, list);
}

void command4Click(UninstallState& state, Registry& registry, FileSystem& fs, FileList& list,
                   Progress& progress) {
    uninstall(state, registry, fs, nullptr, list, progress);
}

void command4Click(UninstallState& state, Registry& registry, FileSystem& fs, Shell& shell,
                   FileList& list, Progress& progress) {
    uninstall(state, registry, fs, &shell, list, progress);
}

} // namespace uninst
