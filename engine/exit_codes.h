#pragma once

namespace uninst {

// How a run ends, as the number its caller reads. Deployment tools already
// know these numbers from the Windows installer and map them by default, so
// the program uses the same ones.
inline constexpr int exitRemoved = 0;           // removed, or a preview that found nothing wrong
inline constexpr int exitUserClosed = 1602;     // the window was closed without uninstalling
inline constexpr int exitRunFailed = 1603;      // start-up or the removal stopped on an error
inline constexpr int exitNotRegistered = 1605;  // no App Paths entry, or it names no folder
inline constexpr int exitAlreadyRunning = 1618; // another run for the same application
// The backup to restore from is damaged or was not made by this program: the
// installer's code for a package that is not a valid one.
inline constexpr int exitBadBackup = 1620;
inline constexpr int exitLogFailed = 1622;      // the log file cannot be written
inline constexpr int exitBadCommandLine = 1639; // unknown option, missing value, no name
// Removed, but files in use go at the next restart, which finishes the job.
inline constexpr int exitRestartNeeded = 3010;

} // namespace uninst
