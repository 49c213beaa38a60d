#pragma once

#include "engine/keep_patterns.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// What the command line asks for. Grammar of the argument text (what follows
// the program's own name):
//
//   text    = { option blanks } name
//   option  = "/" optname [ ":" value ]
//   value   = '"' { any character but '"' } '"' | { any character but a blank }
//   blanks  = one or more spaces or tabs
//
// Option names match without regard to case. The name is the rest of the
// text, exactly as typed; a text that does not start with "/" is all name,
// which is how the program has always been started.
struct Options {
    bool quiet = false;   // no window, no message box
    bool passive = false; // the window runs by itself
    bool preview = false; // plan only, change nothing
    bool help = false;    // usage text only
    std::vector<KeepPattern> keep;
    std::optional<std::string> logFile;
    std::string appName;

    // Nobody is there to answer a message box.
    bool unattended() const { return quiet || passive || preview; }
    // No window at all.
    bool windowless() const { return quiet || preview; }
};

// The outcome of reading the argument text. When `error` is set the command
// line is invalid: `options` then holds what was understood before the
// fault, so that a /quiet run is not answered with a message box.
struct ParsedCommandLine {
    Options options;
    std::string error;
};

ParsedCommandLine parseCommandLine(std::string_view text);

// The usage text: options, one per line.
std::string usageText();

} // namespace uninst
