#include "engine/command_line.h"

#include "engine/ascii_case.h"
#include "engine/error.h"

#include <cstddef>

namespace uninst {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isOption(const Argument& argument) {
    return !argument.value.empty() && argument.value.front() == '/';
}

// "/Keep:x" -> "keep"
std::string optionName(std::string_view written) {
    const std::size_t colon = written.find(':');
    return asciiLower(
        written.substr(1, colon == std::string_view::npos ? written.npos : colon - 1));
}

bool isFlag(const std::string& name) {
    return name == "quiet" || name == "passive" || name == "preview" || name == "list";
}

void setFlag(Options& options, const std::string& name) {
    if (name == "quiet")
        options.quiet = true;
    else if (name == "passive")
        options.passive = true;
    else if (name == "preview")
        options.preview = true;
    else if (name == "list")
        options.list = true;
}

// Applies one option; returns the error text when it is not valid.
std::string readOption(std::string_view written, Options& options) {
    const std::string name = optionName(written);
    const std::size_t colon = written.find(':');
    std::optional<std::string> value;
    if (colon != std::string_view::npos)
        value.emplace(written.substr(colon + 1));
    const std::string shown(colon == std::string_view::npos ? written : written.substr(0, colon));

    if (isFlag(name) || name == "help" || name == "?") {
        if (value)
            return "The option " + shown + " takes no value.";
        if (isFlag(name))
            setFlag(options, name);
        else
            options.help = true;
        return {};
    }
    if (name == "keep" || name == "log" || name == "backup" || name == "restore") {
        if (!value || value->empty())
            return "The option " + shown + " needs a value: " + shown + ":" +
                   (name == "keep"  ? "PATTERN"
                    : name == "log" ? "FILE"
                                    : "FOLDER") +
                   ".";
        if (name == "restore") {
            if (options.restoreFolder)
                return "The option /restore is given twice; one backup folder only.";
            options.restoreFolder = std::move(value);
            return {};
        }
        if (name == "backup") {
            if (options.backupFolder)
                return "The option /backup is given twice; one backup folder only.";
            options.backupFolder = std::move(value);
            return {};
        }
        if (name == "log") {
            if (options.logFile)
                return "The option /log is given twice; one log file only.";
            options.logFile = std::move(value);
            return {};
        }
        try {
            options.keep.emplace_back(*value);
        } catch (const Error& error) {
            return error.what();
        }
        return {};
    }
    return "Unknown option " + shown + ".";
}

// For a line already in error, which will change nothing: the words between
// blanks and quotes, so that a /quiet swallowed by an unclosed quote still
// keeps the message box away.
void setFlagsOfAnyWord(std::string_view text, Options& options) {
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (isBlank(text[at]) || text[at] == '"'))
            ++at;
        const std::size_t start = at;
        while (at < text.size() && !isBlank(text[at]) && text[at] != '"')
            ++at;
        if (at > start && text[start] == '/')
            setFlag(options, optionName(text.substr(start, at - start)));
    }
}

} // namespace

SplitArguments splitArguments(std::string_view text) {
    SplitArguments split;
    std::size_t at = 0;
    while (true) {
        while (at < text.size() && isBlank(text[at]))
            ++at;
        if (at == text.size())
            break;
        Argument argument;
        argument.begin = at;
        bool inQuotes = false;
        std::size_t backslashes = 0;
        while (at < text.size() && (inQuotes || !isBlank(text[at]))) {
            const char c = text[at];
            if (c == '\\') {
                ++backslashes;
                argument.value.push_back(c);
                ++at;
                continue;
            }
            if (c != '"') {
                backslashes = 0;
                argument.value.push_back(c);
                ++at;
                continue;
            }
            argument.quoted = true;
            argument.value.resize(argument.value.size() - backslashes / 2);
            // The quotes counted since the quoted part opened, this one
            // included: every third is a quote character, two close it.
            int quotes = inQuotes ? 1 : 0;
            if (backslashes % 2 == 1) {
                argument.value.back() = '"';
            } else {
                ++quotes;
            }
            backslashes = 0;
            ++at;
            while (at < text.size() && text[at] == '"') {
                if (++quotes == 3) {
                    argument.value.push_back('"');
                    quotes = 0;
                }
                ++at;
            }
            inQuotes = quotes == 1;
        }
        argument.end = at;
        split.unclosedQuote = inQuotes;
        split.arguments.push_back(std::move(argument));
    }
    return split;
}

ParsedCommandLine parseCommandLine(std::string_view text) {
    ParsedCommandLine parsed;
    Options& options = parsed.options;
    const SplitArguments split = splitArguments(text);
    const std::vector<Argument>& arguments = split.arguments;

    // Whoever wrote one of these wants no window, wherever it stands and
    // whatever else is wrong with the line.
    for (const Argument& argument : arguments) {
        if (isOption(argument))
            setFlag(options, optionName(argument.value));
    }
    auto fail = [&](std::string error) {
        if (parsed.error.empty())
            parsed.error = std::move(error);
    };
    auto misplaced = [&](std::size_t from) {
        for (std::size_t i = from; i < arguments.size(); ++i) {
            if (isOption(arguments[i]))
                fail("The option " + arguments[i].value +
                     " follows the application name: options come first, for example "
                     "uninstall.exe /quiet myapp.exe.");
        }
    };

    if (arguments.empty() || !isOption(arguments.front())) {
        options.appName.assign(text);
        misplaced(1);
        if (!parsed.error.empty())
            setFlagsOfAnyWord(text, options);
        return parsed;
    }

    std::size_t at = 0;
    for (; at < arguments.size() && isOption(arguments[at]); ++at)
        fail(readOption(arguments[at].value, options));
    if (split.unclosedQuote)
        fail("A quote in the command line has no closing quote: " + std::string(text));
    if (at + 1 == arguments.size()) {
        options.appName = arguments[at].value;
    } else if (at < arguments.size()) {
        misplaced(at + 1);
        for (std::size_t i = at; i < arguments.size(); ++i) {
            if (arguments[i].quoted)
                fail("The application name " + std::string(text.substr(arguments[at].begin)) +
                     " is quoted in part: quote it whole, for example /quiet \"my app.exe\".");
        }
        options.appName.assign(
            text.substr(arguments[at].begin, arguments.back().end - arguments[at].begin));
    }
    if (!parsed.error.empty()) {
        setFlagsOfAnyWord(text, options);
        return parsed;
    }

    // The list reads and writes its records, and nothing else: a plan, a
    // window pressed by itself or files to keep would be promises it cannot
    // keep. /quiet says nothing it does not do already.
    // A restore names its application through the backup, and removes
    // nothing that files could be kept from or a backup could hold.
    if (options.restoreFolder && !options.help &&
        (options.list || options.backupFolder || !options.keep.empty() || !options.appName.empty()))
        parsed.error = "The option /restore puts back the application a backup holds, so it "
                       "takes neither /list, /backup, /keep nor an application name.";
    else if (options.list && (options.passive || options.preview || !options.keep.empty()))
        parsed.error = "The option /list reads and changes nothing, so it takes neither "
                       "/passive, /preview nor /keep.";
    // A script that asks for a backup counts on one being written.
    else if (options.list && options.backupFolder)
        parsed.error = "The option /list reads and changes nothing, so it writes no backup: leave "
                       "out /backup.";
    else if (options.quiet && options.passive)
        parsed.error = "The options /quiet and /passive exclude each other.";
    else if (options.preview && options.passive)
        parsed.error = "The option /preview never shows the window, so it cannot be /passive.";
    else if (!options.help && !options.list && !options.restoreFolder && options.appName.empty() &&
             (options.quiet || options.preview))
        parsed.error = "No application name was given: it follows the options, for example "
                       "uninstall.exe /quiet myapp.exe.";
    return parsed;
}

std::string usageText() {
    return "Usage: uninstall.exe [options] APPNAME\n"
           "\n"
           "APPNAME is the registered executable name of the application to remove, for "
           "example myapp.exe. Options come before it; an argument with blanks is quoted, "
           "whole or in part: \"/log:C:\\My Logs\\u.log\" or /log:\"C:\\My Logs\\u.log\".\n"
           "\n"
           "Options:\n"
           "  /quiet          No window and no messages; errors go to the log and the exit "
           "code.\n"
           "  /passive        The window shows and runs by itself.\n"
           "  /keep:PATTERN   Keep the files whose path below the install folder matches "
           "PATTERN (* any characters, \\ included; ? one character). May be repeated.\n"
           "  /log:FILE       Append a log of the run to FILE.\n"
           "  /backup:FOLDER  Before anything changes, copy into a new folder below FOLDER "
           "everything the run removes.\n"
           "  /restore:FOLDER Put back the application a backup folder (the one holding "
           "manifest.txt) holds, never over anything that exists now; no APPNAME.\n"
           "  /preview        Change nothing; write what a quiet run would do.\n"
           "  /list [APPNAME] Change nothing; write, as CSV, each registered application (or "
           "APPNAME alone) and whether a quiet run would remove it. With APPNAME it ends 0 "
           "when removable, 1605 when not installed, 1603 when a run would refuse it.\n"
           "  /? or /help     This text.\n"
           "\n"
           "Exit codes: 0 removed, 1602 closed without uninstalling, 1603 failed, 1605 not "
           "registered, 1618 another run in progress, 1620 backup damaged, 1622 log or backup "
           "folder not usable, 1639 invalid command line.\n";
}

} // namespace uninst
