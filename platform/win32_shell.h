#pragma once

#include "engine/shell.h"
#include "platform/system_library.h"

#include <windows.h>

#include <shlobj.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace uninst {

// The desktop shell through shell32 and COM. Both DLLs are loaded from the
// system folder on first use and not imported: they are not among the DLLs
// every system maps from its own folder, and start-up needs neither.
class Win32Shell : public Shell {
public:
    std::vector<std::string> programsFolders() override;
    std::vector<std::string> systemFolders() override;
    // The shell's folders by number (SHGetFolderPathW) and, from Vista on,
    // by identifier (SHGetFolderPathEx, SHGetKnownFolderPath's form with the
    // caller's buffer); the 64-bit Program Files folders
    // from the environment, as a 32-bit program is given the 32-bit ones;
    // every profile from the system's profile list.
    std::vector<SharedFolder> sharedFolders() override;
    // GetLongPathNameW, then the name of the opened folder
    // (GetFinalPathNameByHandleW); Wine 8 names the folder by the path it was
    // opened with, so there only short steps are resolved.
    std::optional<std::string> finalFolder(const std::string& path) override;
    std::vector<std::string> folderNames(const std::string& path) override;
    // Shell links through IShellLinkW. A program information file the shell
    // cannot read as a link (Wine reads none) is read directly: it names its
    // program in the OEM code page at a fixed place.
    std::optional<std::string> shortcutTarget(const std::string& path) override;
    std::string expandEnvironment(const std::string& text) override;

private:
    std::vector<std::string> folders(const std::vector<int>& ids);
    std::optional<std::string> linkTarget(const std::string& path);
    std::optional<std::wstring> itemListPath(IShellLinkW& link, const SystemLibrary& ole32);

    std::unique_ptr<SystemLibrary> shell32_;
    std::unique_ptr<SystemLibrary> ole32_;
};

} // namespace uninst
