#pragma once

#include "engine/registry.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// Removes the application's registration from the registry.
// Deletes its Uninstall entries and its App Paths entries, found by key name
// or by an AppToUninstall value equal to `cmdline`. Every entry is tried;
// then one Error names each that stayed and each list that could not be
// read, so that a run never ends as done with the application still listed.
void removeentries(Registry& registry, const std::string& cmdline);

// Throws, before anything is removed, when the App Paths or Uninstall entry
// named `cmdline` could not be deleted: a registry link at it or below it
// (a link's target's value named the folder), or an entry this user may not
// delete. removeentries would leave it once the files are gone.
void refuseUnremovableRegistration(RegistryReader& registry, const std::string& cmdline);

// Deletes every sub-key of `keypath` that belongs to `target`: the ones named
// after it and the ones whose AppToUninstall value names it. Says what may
// have stayed: each such entry that refused deletion, and the list itself
// when it is there but could not be opened or read to its end.
std::vector<std::string> scankeys(Registry& registry, const std::string& keypath,
                                  const std::string& target);
// Deletes the key `keyname` when its AppToUninstall value names `target`.
// Says what may have stayed: the entry when it is the target's and refused
// deletion, or when it could not be read to tell; empty otherwise.
std::string scanvalues(Registry& registry, const std::string& keyname, const std::string& target);

// The name an open Uninstall or App Paths entry gives by its AppToUninstall
// value, read as scanvalues reads it, when the value is there by that very
// name and `wanted` takes the text; changes nothing. Otherwise nothing, with
// `read` the status that kept it unknown (success when the entry simply names
// nothing wanted).
std::optional<std::string> appToUninstallOf(Registry& registry, Registry::Key key,
                                            const std::function<bool(std::string_view)>& wanted,
                                            Registry::Status& read);

// appToUninstallOf for each of the entries at `paths` below
// HKEY_LOCAL_MACHINE, read together, taking the texts `wanted` takes (every
// text where it is empty); nothing for an entry that does not open. The text
// is the value as the walk met it under that name. Each entry that is walked
// also has each of `alsoNamed` read by name on the key its walk opened, into
// `alsoRead` (one list per path, empty for an entry not walked), where that
// is given.
std::vector<std::optional<std::string>>
appToUninstallOfEach(RegistryReader& registry, const std::vector<std::string>& paths,
                     const std::vector<std::string>& alsoNamed = {},
                     std::vector<std::vector<Registry::PathValue>>* alsoRead = nullptr,
                     const std::function<bool(std::string_view)>& wanted = {});

} // namespace uninst
