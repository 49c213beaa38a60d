#pragma once

#include "engine/registry.h"
#include "engine/state.h"

#include <string>

namespace uninst {

// Reads the App Paths registration of `afile` and sets state.installdir to
// the folder holding the registered executable. Leaves it empty when the name
// is not registered or its value holds no "\".
void apath(UninstallState& state, Registry& registry, const std::string& afile);

} // namespace uninst
