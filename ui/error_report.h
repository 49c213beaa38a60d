#pragma once

#include "engine/error.h"
#include "engine/run_log.h"
#include "ui/exit_status.h"

#include <windows.h>

#include <exception>
#include <new>
#include <string>
#include <string_view>

namespace uninst {

// The caption of the window and of the error report, as it always stood.
inline constexpr const wchar_t* formCaption = L"Uinstall Form";

// Tells the user what stopped the program, in a modal message box owned by
// `owner` (null before the window is shown). Never throws: it is the last
// thing that runs on the way out of a failed handler.
void showErrorReport(HWND owner, std::string_view message) noexcept;

// From now on every error report also goes to `report`'s log, and, when
// nobody is there to answer (a passive run), only there. `report` must outlive
// every later report.
void sendErrorReportsTo(const RunReport& report, bool showMessageBoxes) noexcept;

// The boundary of one event handler: runs `body`, and when anything escapes
// it shows the error report. Returns false when the handler failed, in which
// case the caller ends the program with exitFailed. Nothing is rethrown, so
// no exception ever crosses a window procedure.
template <typename Body> bool runHandler(HWND owner, Body&& body) noexcept {
    try {
        body();
        return true;
    } catch (const Error& error) {
        showErrorReport(owner, error.what());
    } catch (const std::bad_alloc&) {
        showErrorReport(owner, "There is not enough memory to go on. Close other programs and "
                               "start the uninstaller again.");
    } catch (const std::exception& error) {
        showErrorReport(owner, std::string("The uninstaller stopped on an unexpected problem: ") +
                                   error.what());
    } catch (...) {
        showErrorReport(owner, "The uninstaller stopped on an unexpected problem.");
    }
    return false;
}

} // namespace uninst
