#include "ui/blocked_file_prompt.h"

#include "platform/restart_manager.h"
#include "platform/text_encoding.h"
#include "ui/error_report.h"

namespace uninst {

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
    const std::vector<std::string> holders =
        file.inUse ? programsHolding(file.path) : std::vector<std::string>{};
    const int choice = MessageBoxW(owner_, text::toWide(blockedFileText(file, holders)).c_str(),
                                   formCaption, MB_RETRYCANCEL | MB_ICONWARNING | MB_TASKMODAL);
    return choice == IDRETRY ? Answer::retry : Answer::cancel;
}

} // namespace uninst
