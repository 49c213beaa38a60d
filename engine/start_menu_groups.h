#pragma once

#include "engine/filesystem.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <optional>
#include <string>
#include <string_view>

// Today's systems keep start-menu groups in an all-users and a per-user
// Programs folder, shared with other applications and with the system
// itself. Unlike the fixed start-menu root, where the whole group folder
// goes, only this application's shortcuts are removed there.

namespace uninst {

// Looks for the group the log named (state.groupname), and for every folder a
// directory-created line named inside a Programs folder, in each of the
// shell's Programs folders. Removes the shortcuts (.lnk, .pif, .url) in them
// that lead into state.installdir, then each such folder that is left empty,
// unless the system owns it. Links are never entered; nothing that is not a
// shortcut is removed. Throws Error when a folder cannot be listed; a
// shortcut that cannot be deleted does not stop the others, and one Error at
// the end names every such shortcut.
void removeProgramsGroups(const UninstallState& state, FileSystem& fs, Shell& shell);

// The file an Internet shortcut's text (.url) leads to: its URL= line in the
// [InternetShortcut] section when that is a file: URL, as a path. Nothing for
// any other URL.
std::optional<std::string> internetShortcutTarget(std::string_view text);

// Whether `target` is `folder` or lies inside it. Letters compare without
// regard to ASCII case, "/" separates as "\" does, and a path with a "." or
// ".." step is never taken to lie inside anything.
bool leadsInto(std::string_view target, std::string_view folder);

} // namespace uninst
