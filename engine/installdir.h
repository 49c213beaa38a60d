#pragma once

#include "engine/registry.h"
#include "engine/shell.h"
#include "engine/state.h"

#include <string>
#include <string_view>

namespace uninst {

// The folder an App Paths value names, as text: the value up to its first
// NUL, without surrounding blanks and quotes, cut before its last "\" or
// "/". Empty when it holds no separator.
std::string registeredFolder(std::string_view value);

// Finds the install folder from the App Paths registration.
// Sets state.installdir to the folder holding the executable registered as
// `afile`, as text: judging and resolving it is the caller's. Leaves it empty
// when the name is not registered or its value holds no "\" or "/". A value
// stored as REG_EXPAND_SZ names the folder of its text as `shell` expands
// it, as the system reads it.
void apath(UninstallState& state, Registry& registry, Shell& shell, const std::string& afile);

} // namespace uninst
