#include "ui/blocked_file_prompt.h"

#include "platform/handles.h"
#include "platform/restart_manager.h"
#include "platform/text_encoding.h"
#include "ui/error_report.h"

namespace uninst {

namespace {

bool identify(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    const FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), &info) != FALSE;
}

// Whether `path` is this program's own file: started from the install
// folder, it is one of the files listed, and it cannot be deleted while it
// runs, whatever the user closes. Compared as files, not as names.
bool isThisProgram(const std::string& path) {
    std::wstring own(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size()));
        if (length == 0)
            return false;
        if (length < own.size()) {
            own.resize(length);
            break;
        }
        own.resize(own.size() * 2);
    }
    std::wstring listed = text::toWide(path);
    if (listed.size() > 2 && listed[1] == L':')
        listed.insert(0, L"\\\\?\\");
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return identify(own, a) && identify(listed, b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

} // namespace

std::string blockedFileText(const BlockedFile& file, const std::vector<std::string>& holders) {
    std::string text;
    if (!file.inUse) {
        text = file.reason;
    } else if (holders.empty()) {
        text = file.path + " cannot be removed: another program is using it.";
    } else {
        std::string names;
        for (std::size_t i = 0; i < holders.size(); ++i) {
            if (i > 0)
                names += i + 1 == holders.size() ? " and " : ", ";
            names += holders[i];
        }
        text = file.path + " cannot be removed: " + names + " is using it.";
    }
    text += file.inUse ? "\n\nClose it, then choose Retry." : "\n\nChoose Retry to check again.";
    text += " Choose Cancel to end the uninstall with nothing removed.";
    return text;
}

BlockedFiles::Answer BlockedFilePrompt::blocked(const BlockedFile& file) {
    // Nobody can close it but this run: asking would leave only Cancel.
    if (file.inUse && !file.isLog && isThisProgram(file.path))
        return Answer::deleteAtRestart;
    const std::vector<std::string> holders =
        file.inUse ? programsHolding(file.path) : std::vector<std::string>{};
    const int choice = MessageBoxW(owner_, text::toWide(blockedFileText(file, holders)).c_str(),
                                   formCaption, MB_RETRYCANCEL | MB_ICONWARNING | MB_TASKMODAL);
    return choice == IDRETRY ? Answer::retry : Answer::cancel;
}

} // namespace uninst
