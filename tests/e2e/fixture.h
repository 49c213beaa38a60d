#pragma once

#include "tools/driver/driver.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The world the end-to-end scenarios build around the uninstaller: keys
// under HKEY_LOCAL_MACHINE and files under C:\, made and inspected with the
// plain wide API so that nothing of the program under test is involved.
namespace e2e {

// Registry; paths are key paths under HKEY_LOCAL_MACHINE, in this 32-bit
// program's own view unless `view` is KEY_WOW64_64KEY: on 64-bit Windows the
// view a 64-bit setup writes.
void createKey(const std::wstring& path, REGSAM view = 0);
void setString(const std::wstring& path, const std::wstring& name, const std::wstring& value,
               REGSAM view = 0);
// The key's default value as REG_EXPAND_SZ, the key made if missing.
void setExpandString(const std::wstring& path, const std::wstring& value, REGSAM view = 0);
void setDword(const std::wstring& path, const std::wstring& name, std::uint32_t value,
              REGSAM view = 0);
bool keyExists(const std::wstring& path, REGSAM view = 0);
std::optional<std::uint32_t> dwordValue(const std::wstring& path, const std::wstring& name,
                                        REGSAM view = 0);
std::optional<std::wstring> stringValue(const std::wstring& path, const std::wstring& name,
                                        REGSAM view = 0);
void deleteValue(const std::wstring& path, const std::wstring& name, REGSAM view = 0);
void deleteKeyTree(const std::wstring& path, REGSAM view = 0);
// A registry link at `path` (this program's view) to `target`, an NT path
// ("\\Registry\\Machine\\Software\\..."); false when the system made none.
// removeKeyLink deletes the link itself, never what it leads to.
bool createKeyLink(const std::wstring& path, const std::wstring& target);
void removeKeyLink(const std::wstring& path);
// Whether this program runs under WOW64: a 32-bit program on 64-bit Windows.
bool runsUnderWow64();
// Starts a host program (Wine runs ELF programs given by their host path)
// without waiting for it; false when it could not be started.
bool runHost(std::wstring commandLine);

// Files; paths are full. createFolder makes the missing parents too.
void createFolder(const std::wstring& path);
void createFile(const std::wstring& path, std::string_view content = "x");
void setReadOnly(const std::wstring& path, bool readOnly);
bool fileExists(const std::wstring& path);
// The file's bytes, read while others may write it; empty when it cannot be
// opened.
std::string readFile(const std::wstring& path);
bool folderExists(const std::wstring& path);
// Gives the file times from 2001 and the hidden and archive attributes, which
// a backup must keep and a restore give back.
bool setOldHiddenFile(const std::wstring& path);
// The names of the folders directly in `folder`; none when it is not there.
std::vector<std::wstring> subFoldersOf(const std::wstring& folder);
// Removes a tree without entering directory links: a link is removed as the
// link, never through it.
void removeTree(const std::wstring& path);

// The shell's folder of CSIDL `id`, as SHGetFolderPathW names it now.
std::wstring folderPath(int id);

// A shell link at `path` to `target`, written by the system's own
// IShellLinkW; the target need not exist.
void createShortcut(const std::wstring& path, const std::wstring& target);

// A directory link at `link` to the existing folder `target`. Under Wine,
// whose CreateSymbolicLinkW makes nothing, it is a host symbolic link, which
// Wine reports as a reparse point. False when neither could be made.
bool createFolderLink(const std::wstring& link, const std::wstring& target);

// A symbolic link at `link` to the existing file `target`. Under Wine it is a
// host symbolic link, which Wine 8 shows as an ordinary file. False when it
// could not be made (Windows grants it only with a privilege).
bool createFileLink(const std::wstring& link, const std::wstring& target);

// A file at `folder`\`name` beside one whose name differs only in case,
// which only the host's file system can hold: made under another name and
// renamed there. False when it could not be made.
bool createCaseTwin(const std::wstring& folder, const std::wstring& name, std::string_view content);

// Removes a link made by createFileLink or createFolderLink, never what it
// points to: Wine 8 deletes a file link's target when asked to delete it.
void removeLink(const std::wstring& link);

// Every file below `folder` in the platform's listing order: a folder's own
// files, then each sub-folder's tree in turn. Links are not entered.
std::vector<std::wstring> filesInListingOrder(const std::wstring& folder);

// One run of uninstall.exe. The destructor ends a run that is still going,
// so a failed scenario leaves no window behind.
class Uninstaller {
public:
    // `arguments` is appended to the program's name exactly as given,
    // blanks included. The name is the quoted full path, or, with
    // `bareName`, just "uninstall.exe" as someone might type it.
    explicit Uninstaller(const std::wstring& arguments, bool bareName = false);
    // Started with exactly `commandLine`, the program's own name included,
    // as a deployment tool writes it.
    struct Exact {
        std::wstring commandLine;
    };
    explicit Uninstaller(const Exact& exact);
    ~Uninstaller();
    Uninstaller(const Uninstaller&) = delete;
    Uninstaller& operator=(const Uninstaller&) = delete;

    uninst::driver::Target target() const;
    // The window once shown; null when it was not (the test then fails).
    HWND form(DWORD timeoutMs = 15000) const;
    // The text of the error report, which is then dismissed. Empty when no
    // report appeared.
    std::wstring takeErrorReport(DWORD timeoutMs = 15000) const;
    // The exit status, or -1 when the program did not end in time (it is
    // then ended by force).
    long exitStatus(DWORD timeoutMs = 30000);
    // The same for a run nobody watches, which must end by itself; watches
    // meanwhile for any top-level window of the program (a message box
    // included) and names the first one seen in `window`, whose text is
    // then given, and closes it.
    long exitStatusUnwatched(std::wstring& window, DWORD timeoutMs = 30000);

private:
    PROCESS_INFORMATION process_{};
};

// Where uninstall.exe is: $UNINST_EXE, or ui/uninstall.exe of the build
// tree that holds this test program.
std::wstring uninstallerPath();

// Text form for assertion messages.
std::string narrow(std::wstring_view text);

} // namespace e2e
