#pragma once

#include "engine/registry.h"

#include <string>

namespace uninst {

// Removes the application's registration from the registry.
// Deletes its Uninstall entry and its App Paths entry, found by key name or
// by an AppToUninstall value equal to `cmdline`.
void removeentries(Registry& registry, const std::string& cmdline);

// Deletes every sub-key of `keypath` that belongs to `target`: the ones named
// after it and the ones whose AppToUninstall value names it.
void scankeys(Registry& registry, const std::string& keypath, const std::string& target);
// Deletes the key `keyname` when its AppToUninstall value names `target`.
void scanvalues(Registry& registry, const std::string& keyname, const std::string& target);

} // namespace uninst
