#pragma once

#include "engine/registry.h"

#include <string>

namespace uninst {

// Deletes the application's Uninstall entry and its App Paths entry, found by
// key name or by an AppToUninstall value equal to `cmdline`.
void removeentries(Registry& registry, const std::string& cmdline);

void scankeys(Registry& registry, const std::string& keypath, const std::string& target);
void scanvalues(Registry& registry, const std::string& keyname, const std::string& target);

} // namespace uninst
