#pragma once

#include "engine/keep_patterns.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// One argument of a command line as the system splits it
// (CommandLineToArgvW): blanks (spaces, tabs) end an argument outside
// quotes; a quote preceded by 2n backslashes gives n backslashes and opens or
// closes a quoted part, by 2n+1 backslashes n backslashes and a quote; other
// backslashes stand for themselves; inside quotes, "" gives one quote and
// ends the quoted part.
struct Argument {
    std::string value;
    std::size_t begin = 0; // where the argument starts in the text
    std::size_t end = 0;   // one past its last character
    bool quoted = false;   // it holds a quote character, escaped or not
};

struct SplitArguments {
    std::vector<Argument> arguments;
    // The text ended inside a quoted part.
    bool unclosedQuote = false;
};

// The arguments of the text after the program's own name.
SplitArguments splitArguments(std::string_view text);

// What the command line asks for. The argument text (what follows the
// program's own name) is split as the system splits arguments. When its
// first argument starts with "/", the arguments that start with "/" are
// options ("/" optname [ ":" value ]), and the arguments after them name the
// application: one argument is the name, unquoted; several unquoted words
// are the name as typed between them ("my app.exe"). A text whose first
// argument does not start with "/" is all name, exactly as typed, which is
// how the program has always been started. Option names match without
// regard to case.
struct Options {
    bool quiet = false;   // no window, no message box
    bool passive = false; // the window runs by itself
    bool preview = false; // plan only, change nothing
    bool help = false;    // usage text only
    bool list = false;    // the inventory, or one application's record: changes nothing
    std::vector<KeepPattern> keep;
    std::optional<std::string> logFile;
    // The folder below which the run's backup is written before anything
    // changes.
    std::optional<std::string> backupFolder;
    // A backup folder (the one holding manifest.txt) whose application is
    // put back instead of removing one.
    std::optional<std::string> restoreFolder;
    std::string appName;

    // Nobody is there to answer a message box.
    bool unattended() const { return quiet || passive || preview || list; }
    // No window at all.
    bool windowless() const { return quiet || preview || list; }
};

// The outcome of reading the argument text. When `error` is set the command
// line is invalid: `options` then holds what was understood, and /quiet,
// /passive, /preview or /list anywhere in the text, even after the name or with a
// value, is always among it, so that a run nobody watches is never answered
// with a message box.
struct ParsedCommandLine {
    Options options;
    std::string error;
};

ParsedCommandLine parseCommandLine(std::string_view text);

// The usage text: options, one per line.
std::string usageText();

} // namespace uninst
