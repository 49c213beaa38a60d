#include "engine/app_path_expansion.h"

#include "engine/system_paths.h"

#include <string>
#include <vector>

namespace uninst {

std::optional<std::string> expandedAppPath(Registry& registry, Shell& shell,
                                           const std::string& afile) {
    // Asked as a batch of one: the entry opened as itself, its value read,
    // the key closed. A reader that read every entry's value already may
    // answer it from that reading.
    const std::vector<Registry::PathValue> reads = registry.readValueOfEach(
        Registry::localMachine, {std::string(appPathsKeyPath) + "\\" + afile}, "");
    if (reads.size() != 1 || !reads[0].opened)
        return std::nullopt;
    std::uint32_t type = Registry::typeSz;
    // The same capacity as the read of the value as it is stored, so that
    // both agree on which values are too long to name a folder.
    std::string buffer(255, '\0');
    if (!codepage::queryValueRead(registry, reads[0], type, buffer).isSuccess() ||
        type != Registry::typeExpandSz)
        return std::nullopt;
    // The terminator stays right after the text where the plain read
    // leaves one, which is wherever the value leaves room for it: a blank
    // after a closing quote is then part of the path, or trimmed with the
    // buffer's spaces, the same whether or not the value is expandable.
    const std::size_t end = buffer.find('\0');
    std::string expanded = shell.expandEnvironment(buffer.substr(0, end));
    if (end != std::string::npos)
        expanded.push_back('\0');
    return expanded;
}

} // namespace uninst
