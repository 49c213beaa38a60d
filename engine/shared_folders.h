#pragma once

#include "engine/error.h"
#include "engine/filesystem.h"
#include "engine/registry.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Folders that are not the application's to remove although its install
// folder may be or hold them: the ones the system and every application
// share, and the folders of the other registered applications. A legacy
// setup let the user type any folder, so "C:\Program Files" or a profile can
// be a registered install folder without anyone meaning harm.

namespace uninst {

// The steps of a folder path as this file compares them: "\" and "/"
// separate, empty steps are dropped, and so are the trailing dots and blanks
// the system drops from a name.
std::vector<std::string_view> folderSteps(std::string_view path);

// Whether `inner` is `outer` or lies below it, step by step, names compared
// as the registry compares them (letter case as the system folds it).
bool isSameOrBelow(Registry& registry, std::string_view inner, std::string_view outer);

// The same with only ASCII letters folded, for the steps that have no
// registry at hand.
bool isSameOrBelowAscii(std::string_view inner, std::string_view outer);

// Throws, naming the folder and what it is, when the resolved install folder
// is one of the shell's shared folders or holds one.
void refuseSharedFolder(const UninstallState& state, Registry& registry, Shell& shell);

// What one pass over App Paths read: every entry in the list's order, with
// the folder its value names (a REG_EXPAND_SZ value expanded as apath expands
// it, when there is a shell; a "." or ".." step resolved by the system), or
// no folder when it names none a setup could have made, or the Error that
// kept it from being read; and the Error that ended the list's walk.
struct RegisteredApplications {
    struct Entry {
        std::string name;
        std::optional<std::string> folder;
        std::size_t folderStepCount = 0; // folderSteps(*folder).size()
        std::optional<Error> unreadable;
    };
    std::vector<Entry> entries;
    std::optional<Error> unreadable;
    // With indexByName: the entries' indices in the registry's order of
    // names, so that a caller placing many applications finds each one's
    // own entry without comparing every name.
    std::vector<std::size_t> byName;
};

void indexByName(RegisteredApplications& registered, Registry& registry);

RegisteredApplications readRegisteredApplications(Registry& registry, FileSystem& fs, Shell* shell);

// findOtherApplications on a pass already made: every application but the
// one named state.cmdline, as if App Paths were read now; without
// `keepRegisteredFolders`, only state.otherApplications is filled.
void placeOtherApplications(UninstallState& state, Registry& registry, FileSystem& fs,
                            const RegisteredApplications& registered,
                            bool keepRegisteredFolders = true);

// One pass over App Paths: records the folder of every entry but the
// application's own (a REG_EXPAND_SZ value expanded as apath expands it, when
// there is a shell; a "." or ".." step resolved by the system) in
// state.registeredFolders, and each of them strictly
// inside the install folder that exists there, reached one step at a time
// and no link on the way, in state.otherApplications. Throws when the list
// or one of its entries cannot be read: a folder that cannot be told apart
// from another application's is not listed.
void findOtherApplications(UninstallState& state, Registry& registry, FileSystem& fs, Shell* shell);

// Whether `path` is one of state.otherApplications, by the listing's
// spelling with ASCII letters folded.
bool isOtherApplication(const UninstallState& state, std::string_view path);

// The first registered folder of another application that `folder` is or
// holds; empty when there is none.
std::string registeredFolderIn(const UninstallState& state, std::string_view folder);

} // namespace uninst
