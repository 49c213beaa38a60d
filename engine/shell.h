#pragma once

#include <optional>
#include <string>
#include <utility>
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

    // Every name the system gives the existing folder `path`, finalFolder's
    // among them: where short names are not unique (Wine makes them from a
    // hash of the long name), opening "C:\PROGRA~1" and spelling its steps
    // in full can reach two different folders, and a folder is judged by
    // both. Never throws. The default gives finalFolder's one name.
    virtual std::vector<std::string> folderNames(const std::string& path) {
        std::vector<std::string> names;
        if (std::optional<std::string> final = finalFolder(path))
            names.push_back(std::move(*final));
        return names;
    }

    // The file a shell link (.lnk) or a program information file (.pif)
    // starts, as stored in it; nothing when the file cannot be read as one.
    // Never throws.
    virtual std::optional<std::string> shortcutTarget(const std::string& path) = 0;

    // `text` with every %NAME% of a defined variable replaced by its value;
    // undefined names and lone "%" stay as they are. Never throws.
    virtual std::string expandEnvironment(const std::string& text) = 0;
};

// A system without a desktop shell: no Programs or shared folders, no
// shortcut read, no variable expanded. The run then knows only the fixed
// start-menu root and the registration as it is stored.
class NullShell final : public Shell {
public:
    std::vector<std::string> programsFolders() override { return {}; }
    std::vector<std::string> systemFolders() override { return {}; }
    std::vector<SharedFolder> sharedFolders() override { return {}; }
    std::optional<std::string> finalFolder(const std::string&) override { return std::nullopt; }
    std::optional<std::string> shortcutTarget(const std::string&) override { return std::nullopt; }
    std::string expandEnvironment(const std::string& text) override { return text; }
};

// The one null shell; it holds nothing, so every run may share it.
inline Shell& noShell() {
    static NullShell shell;
    return shell;
}

} // namespace uninst
