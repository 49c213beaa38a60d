#pragma once

#include "engine/exit_codes.h"

namespace uninst {

// The window's ways of ending, as the exit codes automation reads.
inline constexpr int exitCompleted = exitRemoved; // the uninstall ran to its end
inline constexpr int exitFailed = exitRunFailed;  // start-up or the uninstall stopped on an error
inline constexpr int exitClosed = exitUserClosed; // the window was closed without uninstalling
// Cancelled at a file in use, or removed with files left to the next restart.
inline constexpr int exitCancelled = exitUserClosed;
inline constexpr int exitRestart = exitRestartNeeded;

} // namespace uninst
