#pragma once

#include "engine/shell.h"
#include "tests/support/memory_filesystem.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace uninst {

// A desktop shell over a MemoryFileSystem. Shortcuts are its files: a .lnk or
// .pif file's content is the path it leads to, and an empty one cannot be
// read as a shortcut, as a damaged file cannot. Environment variables are set
// by the test; names match without regard to ASCII case, as on Windows.
class MemoryShell : public Shell {
public:
    // The Programs folders as a system of today has them.
    static inline const std::string commonPrograms =
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    static inline const std::string userPrograms =
        "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";

    // Creates both Programs folders in `fs`, and the Startup folders the
    // system owns in them.
    explicit MemoryShell(MemoryFileSystem& fs);

    void setProgramsFolders(std::vector<std::string> folders) { programs_ = std::move(folders); }
    void setSystemFolders(std::vector<std::string> folders) { system_ = std::move(folders); }
    // None until a test sets them.
    void setSharedFolders(std::vector<SharedFolder> folders) { shared_ = std::move(folders); }
    // What finalFolder answers for `path` (a short name, a link on the way);
    // any other folder is named as given.
    void setFinalFolder(const std::string& path, const std::string& final) {
        finals_[path] = final;
    }
    // Another name folderNames gives `path` after finalFolder's: a short
    // name that stands for several folders.
    void addFolderName(const std::string& path, const std::string& name) {
        otherNames_[path].push_back(name);
    }
    void setVariable(const std::string& name, const std::string& value);
    // A shortcut file in the file system leading to `target`.
    void addShortcut(const std::string& path, const std::string& target);

    std::vector<std::string> programsFolders() override { return programs_; }
    std::vector<std::string> systemFolders() override { return system_; }
    std::vector<SharedFolder> sharedFolders() override { return shared_; }
    std::optional<std::string> finalFolder(const std::string& path) override;
    std::vector<std::string> folderNames(const std::string& path) override;
    std::optional<std::string> shortcutTarget(const std::string& path) override;
    std::string expandEnvironment(const std::string& text) override;

private:
    MemoryFileSystem& fs_;
    std::vector<std::string> programs_;
    std::vector<std::string> system_;
    std::vector<SharedFolder> shared_;
    std::map<std::string, std::string> finals_;
    std::map<std::string, std::vector<std::string>> otherNames_;
    std::map<std::string, std::string> variables_; // by upper-case name
};

} // namespace uninst
