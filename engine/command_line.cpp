#include "engine/command_line.h"

#include "engine/error.h"

#include <cstddef>

namespace uninst {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

// Reads one option at `at` (on its "/") and applies it; returns the error
// text when it is not valid.
class OptionReader {
public:
    OptionReader(std::string_view text, Options& options) : text_(text), options_(options) {}

    std::string read(std::size_t& at) {
        const std::size_t start = at++;
        while (at < text_.size() && text_[at] != ':' && !isBlank(text_[at]))
            ++at;
        const std::string name = lower(text_.substr(start + 1, at - start - 1));
        const std::string_view written = text_.substr(start, at - start);

        std::optional<std::string> value;
        if (at < text_.size() && text_[at] == ':') {
            ++at;
            if (at < text_.size() && text_[at] == '"') {
                const std::size_t close = text_.find('"', at + 1);
                if (close == std::string_view::npos)
                    return "The value of " + std::string(written) + " has no closing quote.";
                value.emplace(text_.substr(at + 1, close - at - 1));
                at = close + 1;
                if (at < text_.size() && !isBlank(text_[at]))
                    return "The quoted value of " + std::string(written) +
                           " must be followed by a blank.";
            } else {
                const std::size_t end = at;
                while (at < text_.size() && !isBlank(text_[at]))
                    ++at;
                value.emplace(text_.substr(end, at - end));
            }
        }

        if (name == "quiet" || name == "passive" || name == "preview" || name == "help" ||
            name == "?") {
            if (value)
                return "The option " + std::string(written) + " takes no value.";
            if (name == "quiet")
                options_.quiet = true;
            else if (name == "passive")
                options_.passive = true;
            else if (name == "preview")
                options_.preview = true;
            else
                options_.help = true;
            return {};
        }
        if (name == "keep" || name == "log") {
            if (!value || value->empty())
                return "The option " + std::string(written) +
                       " needs a value: " + std::string(written) + ":" +
                       (name == "keep" ? "PATTERN" : "FILE") + ".";
            if (name == "log") {
                if (options_.logFile)
                    return "The option /log is given twice; one log file only.";
                options_.logFile = std::move(value);
                return {};
            }
            try {
                options_.keep.emplace_back(*value);
            } catch (const Error& error) {
                return error.what();
            }
            return {};
        }
        return "Unknown option " + std::string(written) + ".";
    }

private:
    std::string_view text_;
    Options& options_;
};

} // namespace

ParsedCommandLine parseCommandLine(std::string_view text) {
    ParsedCommandLine parsed;
    Options& options = parsed.options;
    OptionReader reader(text, options);
    std::size_t at = 0;
    while (at < text.size() && text[at] == '/') {
        std::string error = reader.read(at);
        // The first fault is the one reported; the options after it are still
        // read, as far as they can be, to know whether anyone is watching.
        if (!error.empty() && parsed.error.empty())
            parsed.error = std::move(error);
        while (at < text.size() && isBlank(text[at]))
            ++at;
        if (!parsed.error.empty() && at < text.size() && text[at] != '/')
            break;
    }
    options.appName.assign(text.substr(at));
    if (!parsed.error.empty())
        return parsed;

    if (options.quiet && options.passive)
        parsed.error = "The options /quiet and /passive exclude each other.";
    else if (options.preview && options.passive)
        parsed.error = "The option /preview never shows the window, so it cannot be /passive.";
    else if (!options.help && options.appName.empty() && (options.quiet || options.preview))
        parsed.error = "No application name was given: it follows the options, for example "
                       "uninstall.exe /quiet myapp.exe.";
    return parsed;
}

std::string usageText() {
    return "Usage: uninstall.exe [options] APPNAME\n"
           "\n"
           "APPNAME is the registered executable name of the application to remove, for "
           "example myapp.exe.\n"
           "\n"
           "Options:\n"
           "  /quiet          No window and no messages; errors go to the log and the exit "
           "code.\n"
           "  /passive        The window shows and runs by itself.\n"
           "  /keep:PATTERN   Keep the files whose path below the install folder matches "
           "PATTERN (* any characters, \\ included; ? one character). May be repeated.\n"
           "  /log:FILE       Append a log of the run to FILE.\n"
           "  /preview        Change nothing; write what a quiet run would do.\n"
           "  /? or /help     This text.\n"
           "\n"
           "Exit codes: 0 removed, 1602 closed without uninstalling, 1603 failed, 1605 not "
           "registered, 1618 another run in progress, 1622 log not writable, 1639 invalid "
           "command line.\n";
}

} // namespace uninst
