#pragma once

#include <string>

namespace uninst {

// Everything one run of the program knows about the application being
// removed. One instance lives for the whole process; start-up and the log
// processing write it, the removal steps read it.
struct UninstallState {
    std::string cmdline;     // argument text as typed, not split or unquoted
    std::string installdir;  // install folder, no trailing separator
    std::string logpath;     // last setup-toolkit file the inventory met
    std::string lastsubpath; // last sub-folder the inventory entered
    std::string groupname;   // start-menu group named by the install log
    std::string menupath;    // start-menu folder as last set by the log
};

} // namespace uninst
