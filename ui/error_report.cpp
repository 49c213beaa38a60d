#include "ui/error_report.h"

#include "platform/text_encoding.h"

namespace uninst {

namespace {

const RunReport* errorLog = nullptr;
bool messageBoxes = true;

} // namespace

void sendErrorReportsTo(const RunReport& report, bool showMessageBoxes) noexcept {
    errorLog = &report;
    messageBoxes = showMessageBoxes;
}

void showErrorReport(HWND owner, std::string_view message) noexcept {
    if (errorLog != nullptr) {
        try {
            errorLog->error(message);
        } catch (...) {
            // The log is an account of the run; the report still goes on.
        }
    }
    if (!messageBoxes)
        return;
    std::wstring text;
    try {
        text = text::toWide(message);
    } catch (...) {
        // Out of memory while converting: a fixed text still tells the user
        // that the program ended on an error.
    }
    const wchar_t* shown = text.empty() ? L"The uninstaller stopped on an error." : text.c_str();
    // Task-modal when there is no owner: the hidden window of a failed
    // start-up must not take input behind the box.
    const UINT flags = MB_OK | MB_ICONERROR | MB_SETFOREGROUND | (owner ? 0u : MB_TASKMODAL);
    MessageBoxW(owner, shown, formCaption, flags);
}

} // namespace uninst
