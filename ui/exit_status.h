#pragma once

namespace uninst {

// The program's exit statuses, which automation reads. Every way the program
// ends maps to one of these, and only here are they given their numbers.
inline constexpr int exitCompleted = 0; // the uninstall ran to its end
inline constexpr int exitFailed = 1;    // start-up or the uninstall stopped on a reported error
inline constexpr int exitClosed = 2;    // the window was closed without uninstalling

} // namespace uninst
