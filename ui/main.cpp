#include "engine/command_line.h"
#include "engine/exit_codes.h"
#include "engine/installed_applications.h"
#include "engine/session.h"
#include "platform/system_library.h"
#include "platform/text_encoding.h"
#include "platform/win32_backup_source.h"
#include "platform/win32_backup_store.h"
#include "platform/win32_filesystem.h"
#include "platform/win32_registry.h"
#include "platform/win32_run_log.h"
#include "platform/win32_shell.h"
#include "ui/error_report.h"
#include "ui/window.h"

#include <windows.h>

#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The argument text as typed: the command line without the program's own
// name and the blanks after it, not split and not unquoted. The name ends
// where the C runtime ends it: at its closing quote, or at the first blank.
std::wstring_view argumentText(std::wstring_view line) {
    std::size_t at = 0;
    if (!line.empty() && line.front() == L'"') {
        const std::size_t close = line.find(L'"', 1);
        at = close == std::wstring_view::npos ? line.size() : close + 1;
    } else {
        while (at < line.size() && !isBlank(line[at]))
            ++at;
    }
    while (at < line.size() && isBlank(line[at]))
        ++at;
    return line.substr(at);
}

// The usage text in a message box, or on standard output for a run nobody
// watches.
void showUsage(bool unattended) {
    const std::string usage = uninst::usageText();
    if (unattended) {
        if (HANDLE output = uninst::StandardOutputLog::handle())
            uninst::StandardOutputLog(output).write(usage);
        return;
    }
    MessageBoxW(nullptr, uninst::text::toWide(usage).c_str(), uninst::formCaption,
                MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
}

// Where the run's account goes: the /log file, or for a preview without one,
// standard output when there is one.
struct Logs {
    std::optional<uninst::FileRunLog> file;
    std::optional<uninst::StandardOutputLog> output;
    uninst::RunLog* active = nullptr;
};

// /list: the records go to the /log file, or else to standard output when
// there is one; a reason that stops the list goes to standard output. No
// window, no message box, no lock: it changes nothing.
int listInstalled(const uninst::Options& options) {
    using namespace uninst;
    std::optional<StandardOutputLog> console;
    if (HANDLE output = StandardOutputLog::handle())
        console.emplace(output);
    RunLog* const errors = console ? &*console : nullptr;
    try {
        std::optional<FileRunLog> file;
        if (options.logFile) {
            try {
                file.emplace(*options.logFile);
                file->open();
            } catch (const Error& error) {
                RunReport(errors, false).error(error.what());
                return exitLogFailed;
            }
        }
        Win32Registry registry;
        // Every file is asked whether it can go, as the run asks, but none is
        // held open afterwards or marked for deletion even for an instant:
        // the list deletes nothing, and the applications' own programs may
        // want their files meanwhile.
        Win32FileSystem fs(Win32FileSystem::ChangesNothing{});
        Win32Shell shell;
        ApplicationInventory inventory(registry, fs, shell);
        return listApplications(inventory, options.appName, file ? &*file : errors, errors);
    } catch (const std::exception& error) {
        RunReport(errors, false).error(error.what());
        return exitRunFailed;
    }
}

// /restore: no window. The outcome goes to the log, and in a message box to
// whoever started it, unless nobody watches.
int restoreApplication(const uninst::Options& options, uninst::RunLog* log) {
    using namespace uninst;
    const RunReport report(log, false);
    const auto tell = [&](const std::string& message, bool failed) {
        if (!options.unattended())
            MessageBoxW(nullptr, text::toWide(message).c_str(), formCaption,
                        MB_OK | MB_TASKMODAL | (failed ? MB_ICONERROR : MB_ICONINFORMATION));
    };
    if (log != nullptr) {
        try {
            log->open();
        } catch (const Error& error) {
            report.error(error.what());
            tell(error.what(), true);
            return exitLogFailed;
        }
    }
    std::optional<Win32BackupSource> source;
    try {
        source.emplace(*options.restoreFolder);
    } catch (const Error& error) {
        report.error(error.what());
        tell(error.what(), true);
        return exitLogFailed;
    }
    Win32Registry registry;
    Win32FileSystem fs;
    Win32Shell shell;
    Session session(options, registry, fs, shell, log);
    // Held until the program ends, as a run's is: an uninstall of the same
    // application must not remove what the restore is putting back.
    std::optional<RunLock> lock;
    const RestoreOutcome outcome = session.restore(
        *source, [&](const std::string& name) { return lock.emplace(name).acquired(); });
    tell(outcome.message, outcome.exitCode != exitRemoved);
    return outcome.exitCode;
}

// What happens between reading the command line and the exit code.
int runProgram(HINSTANCE instance, int showCommand, const std::string& arguments, Logs& logs) {
    using namespace uninst;
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    const Options& options = parsed.options;
    if (parsed.error.empty() && options.list && !options.help)
        return listInstalled(options);

    // The log's folder opens before anything else happens: without it an
    // unattended run would leave no account, so it changes nothing. The file
    // itself is created once start-up has found the install folder, and only
    // outside it; lines wait for it until then.
    if (options.logFile) {
        std::string failure;
        HANDLE output = StandardOutputLog::handle();
        try {
            logs.active = &logs.file.emplace(*options.logFile);
            if (output != nullptr)
                logs.file->fallBackTo(&logs.output.emplace(output));
        } catch (const Error& error) {
            failure = error.what();
        }
        if (!failure.empty()) {
            // A line read otherwise than meant may name its log wrongly too:
            // the caller learns first that the line was not understood.
            if (!parsed.error.empty())
                failure = parsed.error;
            if (output != nullptr) {
                logs.active = &logs.output.emplace(output);
                reportStart(*logs.active, localTimeText(), arguments);
                RunReport(logs.active, false).error(failure);
            }
            if (!options.unattended())
                showErrorReport(nullptr,
                                parsed.error.empty() ? failure : failure + "\n\n" + usageText());
            return parsed.error.empty() ? exitLogFailed : exitBadCommandLine;
        }
    }
    if (logs.active == nullptr && !options.help &&
        (options.windowless() || !parsed.error.empty())) {
        if (HANDLE handle = StandardOutputLog::handle())
            logs.active = &logs.output.emplace(handle);
    }
    RunLog* const log = logs.active;
    const RunReport report(log, false);
    if (log != nullptr)
        reportStart(*log, localTimeText(), arguments);

    if (!parsed.error.empty()) {
        report.error(parsed.error);
        if (!options.unattended())
            showErrorReport(nullptr, parsed.error + "\n\n" + usageText());
        return exitBadCommandLine;
    }
    sendErrorReportsTo(report, !options.unattended());
    if (options.help) {
        showUsage(options.unattended());
        return exitRemoved;
    }
    if (options.restoreFolder) {
        try {
            return restoreApplication(options, log);
        } catch (const std::exception& error) {
            showErrorReport(nullptr, error.what());
            return exitRunFailed;
        }
    }

    // Held until the program ends. Without a name there is nothing to guard,
    // and start-up says what is missing.
    std::optional<RunLock> lock;
    if (!options.appName.empty() && !lock.emplace(options.appName).acquired()) {
        showErrorReport(nullptr, "Another uninstall of " + options.appName +
                                     " is running. Nothing has been removed; wait until it "
                                     "has ended.");
        return exitAlreadyRunning;
    }

    // The backup's folder is reached and held before anything is read, so
    // that a folder through a link is refused before the run starts.
    std::optional<Win32BackupStore> backup;
    if (options.backupFolder) {
        try {
            backup.emplace(*options.backupFolder);
        } catch (const Error& error) {
            showErrorReport(nullptr, error.what());
            return exitLogFailed;
        }
    }
    Win32Registry registry;
    std::optional<Win32FileSystem> fs;
    if (options.preview)
        fs.emplace(Win32FileSystem::ChangesNothing{});
    else
        fs.emplace();
    Win32Shell shell;
    Session session(options, registry, *fs, shell, log, nullptr, backup ? &*backup : nullptr);
    if (options.windowless())
        return session.runWithoutWindow();
    uninstallfrm window(session);
    return window.run(instance, showCommand);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    using namespace uninst;
    // Before anything can load a DLL by name: none from the folder the
    // program was started from.
    restrictDllSearchToSystemFolder();
    std::string arguments;
    if (!runHandler(nullptr, [&] { arguments = text::fromWide(argumentText(GetCommandLineW())); }))
        return exitRunFailed;
    Logs logs;
    int code = runProgram(instance, showCommand, arguments, logs);
    // A run that ended before its log was judged (a bad command line, a name
    // registered nowhere) found no install folder for it to lie in.
    if (logs.file && logs.file->pending()) {
        try {
            logs.file->open();
        } catch (const Error&) {
            if (code != exitBadCommandLine)
                code = exitLogFailed;
        }
    }
    if (logs.active != nullptr)
        reportExit(*logs.active, code);
    return code;
}
