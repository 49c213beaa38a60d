#include "engine/filesystem.h"

#include "engine/error.h"

#include <cstddef>

namespace uninst {

std::vector<DeleteCheck> FileSystem::checkDeletes(const std::vector<std::string>& paths) {
    std::vector<DeleteCheck> checks;
    checks.reserve(paths.size());
    for (const std::string& path : paths)
        checks.push_back(checkDelete(path));
    return checks;
}

FileRemovals FileSystem::deleteFiles(const std::vector<std::string>& paths) {
    FileRemovals result;
    result.removals.resize(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        try {
            result.removals[i] = deleteFile(paths[i]);
        } catch (const Error& e) {
            result.failure = e.what();
            break;
        }
    }
    return result;
}

} // namespace uninst
