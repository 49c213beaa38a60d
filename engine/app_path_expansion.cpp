#include "engine/app_path_expansion.h"

#include "engine/system_paths.h"

namespace uninst {

std::optional<std::string> expandedAppPath(Registry& registry, Shell& shell,
                                           const std::string& afile) {
    ScopedKey key(registry);
    if (!key.open(Registry::localMachine, std::string(appPathsKeyPath) + "\\" + afile))
        return std::nullopt;
    std::uint32_t type = Registry::typeSz;
    // The same capacity as the read of the value as it is stored, so that
    // both agree on which values are too long to name a folder.
    std::string buffer(255, '\0');
    if (!codepage::queryValue(registry, key.get(), "", type, buffer).isSuccess() ||
        type != Registry::typeExpandSz)
        return std::nullopt;
    return shell.expandEnvironment(buffer.substr(0, buffer.find('\0')));
}

} // namespace uninst
