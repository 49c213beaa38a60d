#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace uninst {

// The program's one error type. It carries the failing operation ("delete
// file", "open the log file") and its subject (a path, a key, a name, a row),
// and the whole message the user reads, which names both in words a user can
// act on ("Cannot delete file C:\App\a.dll: Access is denied."). Where one
// error stands for several (the counts left standing, the registration left
// behind), the subject is what they share and the message lists each.
//
// Where it is caught:
// - at the run's boundary, where the error report is shown or logged and the
//   run ends: Session's steps (engine/session.cpp) and, in the window, the
//   event handlers (ui/error_report.h, ui/window.cpp, ui/main.cpp for the
//   log file);
// - in the one place that collects what stayed: the steps after the install
//   log's deletion (Leftovers in engine/run.cpp), and within them the start
//   menu's clean-up, which goes on past a shortcut or folder it cannot
//   remove and throws once for all of them;
// - where a failure is itself the answer sought: a keep pattern refused on
//   the command line (engine/command_line.cpp), the first failed delete of a
//   batch made one file at a time (engine/filesystem.cpp), and the probes
//   that take a path the system cannot resolve, list or read as naming
//   nothing of the application's (the preview, the shared folders, the
//   start menu's shortcuts, the Win32 folder removal).
// A worker thread (the batch calls, the start-up in the background) catches
// whatever it meets only to throw it again on the thread that waits for it.
class Error : public std::runtime_error {
public:
    Error(std::string operation, std::string subject, const std::string& message)
        : std::runtime_error(message), operation_(std::move(operation)),
          subject_(std::move(subject)) {}

    // "Cannot <operation> <subject>: <detail>", the form most failures take.
    static Error cannot(std::string operation, std::string subject, std::string_view detail) {
        std::string message = "Cannot " + operation + " " + subject + ": ";
        message.append(detail);
        return Error(std::move(operation), std::move(subject), message);
    }

    const std::string& operation() const noexcept { return operation_; }
    const std::string& subject() const noexcept { return subject_; }

private:
    std::string operation_;
    std::string subject_;
};

} // namespace uninst
