#pragma once

#include "engine/filesystem.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <optional>
#include <string>
#include <string_view>

// Start-menu groups live below a start-menu root: the fixed one, and on
// today's systems an all-users and a per-user Programs folder. Every root is
// shared with other applications and with the system itself, so only this
// application's shortcuts are removed there, then the folders that left
// empty.

namespace uninst {

// The steps below the start-menu root of a folder named as a setup writes it
// on the systems the fixed root belongs to: for
// "C:\WINDOWS\Start Menu\Programs\Acme\Tools" (any drive, WINDOWS in
// capitals) they are "Acme\Tools". Nothing for any other folder, the root
// itself included.
std::optional<std::string_view> classicStartMenuSteps(std::string_view folder);

// Looks, below the fixed start-menu root and in each of the shell's
// Programs folders, for every folder the log names: the group
// (state.groupname), the group of every shortcut line, every folder of a
// directory-created line in the fixed root's form, and every folder of one
// inside that Programs folder. Removes the shortcuts (.lnk, .pif, .url) in
// them and below them that are this application's (named by a shortcut line
// of the log, or leading into state.installdir), then each folder that this
// left empty, and each folder the log named that is empty; a folder the
// system owns and a root always stay. Links are never entered; nothing that
// is not a shortcut is removed. A failure does not stop the others; one Error
// at the end names every one.
void removeStartMenuGroups(const UninstallState& state, FileSystem& fs, Shell& shell);

// The file an Internet shortcut's text (.url) leads to: its URL= line in the
// [InternetShortcut] section when that is a file: URL, as a path. Nothing for
// any other URL.
std::optional<std::string> internetShortcutTarget(std::string_view text);

// Whether `target` is `folder` or lies inside it. Letters compare without
// regard to ASCII case, "/" separates as "\" does, and a path with a "." or
// ".." step is never taken to lie inside anything.
bool leadsInto(std::string_view target, std::string_view folder);

} // namespace uninst
