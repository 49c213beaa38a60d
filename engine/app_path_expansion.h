#pragma once

#include "engine/registry.h"
#include "engine/shell.h"

#include <optional>
#include <string>

namespace uninst {

// The App Paths registration of `afile` with its environment strings
// expanded ("%ProgramFiles%\App\a.exe"), when it is stored as REG_EXPAND_SZ:
// the system expands such a value before it starts the program, so the
// folder it names is the expanded one. Nothing when the value is missing,
// of another type, or longer than the 255 bytes the plain read takes.
std::optional<std::string> expandedAppPath(Registry& registry, Shell& shell,
                                           const std::string& afile);

} // namespace uninst
