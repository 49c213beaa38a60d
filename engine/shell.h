#pragma once

#include <optional>
#include <string>
#include <vector>

namespace uninst {

// A folder the system or every application shares, and what it is: `role`
// completes "C:\Program Files is ..." ("the system's Program Files folder").
struct SharedFolder {
    std::string path;
    std::string role;
};

// What the engine asks of the desktop shell: where today's start-menu groups
// live, where a shortcut leads, and environment strings expanded as the
// system expands them. Text is UTF-8; paths are full, with "\" separators and
// no trailing separator.
class Shell {
public:
    virtual ~Shell() = default;

    // The all-users and the per-user Programs folders, in that order. A
    // folder the system cannot name is left out; never throws.
    virtual std::vector<std::string> programsFolders() = 0;

    // Folders inside the Programs folders that the system itself owns
    // (Startup, Administrative Tools, for both scopes), under whatever names
    // this system gives them. Never throws.
    virtual std::vector<std::string> systemFolders() = 0;

    // Every folder that belongs to the system or to all applications and
    // users together: the Windows folder, both Program Files folders and their
    // Common Files, ProgramData, the users' folder and each user's profile,
    // and the shell's known folders, as this system names them. A folder it
    // cannot name is left out; never throws.
    virtual std::vector<SharedFolder> sharedFolders() = 0;

    // The existing folder `path` names, as the system names it once every
    // short (8.3) step is spelled in full and every link on the way is
    // followed ("C:\PROGRA~1" is "C:\Program Files"); nothing when it
    // cannot be told. Never throws.
    virtual std::optional<std::string> finalFolder(const std::string& path) = 0;

    // The file a shell link (.lnk) or a program information file (.pif)
    // starts, as stored in it; nothing when the file cannot be read as one.
    // Never throws.
    virtual std::optional<std::string> shortcutTarget(const std::string& path) = 0;

    // `text` with every %NAME% of a defined variable replaced by its value;
    // undefined names and lone "%" stay as they are. Never throws.
    virtual std::string expandEnvironment(const std::string& text) = 0;
};

} // namespace uninst
