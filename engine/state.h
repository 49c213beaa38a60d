#pragma once

#include <string>
#include <vector>

namespace uninst {

// Everything one run of the program knows about the application being
// removed. One instance lives for the whole process; start-up and the log
// processing write it, the removal steps read it.
struct UninstallState {
    std::string cmdline;     // the application's name: the argument text as typed
    std::string installdir;  // the install folder as the system resolves it, no trailing separator
    std::string logpath;     // the install log: the last setup-toolkit file listing met
    std::string lastsubpath; // the last sub-folder listing entered; the sweep leaves it
    // The start-menu group the install log names: every step of it below the
    // start-menu root ("Acme\Tools"), as the log spells it.
    std::string groupname;
    std::string menupath; // that group's start-menu folder, as last set by the log
    // Every folder a directory-created line of the log named, without its
    // closing quote: those inside a start-menu root name folders of the
    // group too, which go once this run has emptied them.
    std::vector<std::string> createdfolders;
    // Every shortcut a shortcut line of the log named, by its group's steps
    // below the start-menu root and its caption (the file's name without
    // its extension): wherever it lies, and whatever it leads to, it is the
    // application's own.
    struct NamedShortcut {
        std::string group;
        std::string caption;
    };
    std::vector<NamedShortcut> shortcuts;
    // Every setup-toolkit file the inventory met, in listing order: with no
    // row listed, these and the folders left empty are all that goes.
    std::vector<std::string> toolkitFiles;
    // The folder of every other application App Paths registers, as its
    // value names it: no start-menu step removes one, or a folder holding one.
    std::vector<std::string> registeredFolders;
    // Those of them inside the install folder, as the listing spells them:
    // left out of the list and of every removal, as a link is.
    std::vector<std::string> otherApplications;
    // Files found in the install folder at the end that were never listed
    // (saved there after start-up): they stay, with the folders holding
    // them. No report names them; the run's outcome does not depend on them.
    std::vector<std::string> keptUnlisted;
};

} // namespace uninst
