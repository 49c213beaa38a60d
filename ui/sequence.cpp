#include "ui/sequence.h"

#include "engine/error.h"
#include "engine/installdir.h"
#include "engine/installlog.h"
#include "engine/inventory.h"
#include "engine/registration.h"
#include "engine/removal.h"

#include <cstddef>
#include <string_view>

namespace uninst {

namespace {

// "C:" or "C:\": the install folder of an executable registered in a drive's
// root. Listing it would offer the whole drive for deletion.
bool isDriveRoot(std::string_view folder) {
    if (folder.size() < 2 || folder[1] != ':')
        return false;
    const char letter = folder[0];
    if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')))
        return false;
    return folder.find_first_not_of("\\/", 2) == std::string_view::npos;
}

// A path in the device namespace ("\\?\C:\App", "\\.\C:") skips the system's
// clean-up and names whatever the system maps it to; "\\?\C:" is drive C
// itself. "\\server\share" is a whole share. No setup program registers
// either, and the system lists the roots as it lists a drive's.
bool isDevicePathOrShareRoot(std::string_view folder) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (folder.size() < 2 || !separator(folder[0]) || !separator(folder[1]))
        return false;
    if (folder.size() >= 3 && (folder[2] == '?' || folder[2] == '.'))
        return true;
    std::size_t steps = 0;
    std::size_t start = 2;
    while (start < folder.size()) {
        std::size_t end = folder.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = folder.size();
        steps += end > start;
        start = end + 1;
    }
    return steps <= 2;
}

std::size_t characters(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// A step of only dots and blanks: "." or "..", or one Windows reads as such
// after dropping trailing dots and blanks. "/" separates steps as "\" does.
bool hasDotStep(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view step = path.substr(start, end - start);
        if (!step.empty() && step.find_first_not_of(". ") == std::string_view::npos)
            return true;
        start = end + 1;
    }
    return false;
}

// The group name comes from the install log, which anyone who can write to
// the install folder can change. Only a folder strictly inside the start-menu
// root may be removed: no empty, "." or ".." step, no drive. Windows drops
// trailing dots and blanks from a name, so "..." or ". " would climb as well.
// The system reads a path only up to a NUL, so a group "<NUL>x" would be the
// start-menu root itself. A name no folder can have (a reserved character, a
// step over 255 characters) names nothing to remove, and trying would only
// stop the run after the files are gone.
bool isGroupInsideStartMenu(std::string_view group) {
    for (const char c : group) {
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view(":<>\"|?*").find(c) != std::string_view::npos)
            return false;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = group.find_first_of("\\/", start);
        const std::string_view step = group.substr(start, end - start);
        if (step.find_first_not_of(". ") == std::string_view::npos || characters(step) > 255)
            return false;
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

} // namespace

void formLoad(UninstallState& state, Registry& registry, FileSystem& fs, const std::string& cmdline,
              FileList& list) {
    state.cmdline = cmdline;
    apath(state, registry, cmdline);
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
    listfolder(state, fs, state.installdir, list);
}

void command4Click(UninstallState& state, Registry& registry, FileSystem& fs, FileList& list,
                   Progress& progress) {
    readlog(state, registry, fs, state.installdir, progress);
    deletefiles(state, fs, list);
    sweepfolders(state, fs, state.installdir, true);
    // Only when the inventory offered no file: the folder then holds just
    // the setup toolkit's leftovers. When the sweep already removed it,
    // there is nothing left to do.
    if (list.rowCount() == 0)
        fs.deleteFolder(state.installdir);
    // A group that would lead outside the start menu is left alone rather
    // than stopping the run: by now the files and the log are gone, and the
    // registration must still go, or nothing could remove it later.
    if (!state.menupath.empty() && !state.groupname.empty() &&
        isGroupInsideStartMenu(state.groupname)) {
        state.menupath = startMenuRoot + state.groupname;
        // A group folder the user already removed is not a failure.
        fs.deleteFolder(state.menupath);
    }
    list.refresh();
    removeentries(registry, state.cmdline);
}

} // namespace uninst
