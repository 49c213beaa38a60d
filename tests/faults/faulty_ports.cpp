#include "tests/faults/faulty_ports.h"

#include "engine/error.h"

#include <cstddef>

namespace uninst::test {

bool FaultPlan::fails(std::size_t call, const std::string& text) {
    if (call != failAt_)
        return false;
    injected_ = text;
    return true;
}

std::string FaultyFileSystem::message(const std::string& operation, const std::string& path) {
    return "Cannot " + operation + " " + path +
           ": The request could not be performed because of "
           "an I/O device error.";
}

bool FaultyFileSystem::next(const std::string& operation, const std::string& path) {
    const std::size_t call = record(operation, path);
    return fails(call, history()[call]);
}

void FaultyFileSystem::before(const std::string& operation, const std::string& path) {
    if (next(operation, path))
        throw Error(operation, path, message(operation, path));
}

bool FaultyFileSystem::removeEmptyFolder(const std::string& path) {
    if (next("remove empty folder", path))
        return false;
    return inner().removeEmptyFolder(path);
}

FileRemovals FaultyFileSystem::deleteFiles(const std::vector<std::string>& paths) {
    if (batches() == Batches::oneAtATime || paths.empty())
        return RecordingFileSystem::deleteFiles(paths);
    const std::size_t failing = paths.size() / 2;
    const std::size_t call = record("delete files", batchSubject(paths));
    if (!fails(call, "delete file " + paths[failing]))
        return inner().deleteFiles(paths);
    std::vector<std::string> finished(paths.begin(),
                                      paths.begin() + static_cast<std::ptrdiff_t>(failing));
    const bool laterOne = failing + 1 < paths.size();
    if (laterOne)
        finished.push_back(paths[failing + 1]);
    const FileRemovals reached = inner().deleteFiles(finished);
    FileRemovals result;
    result.removals.resize(paths.size());
    for (std::size_t i = 0; i < failing; ++i)
        result.removals[i] = reached.removals[i];
    if (laterOne)
        result.removals[failing + 1] = reached.removals.back();
    result.failure = reached.failure ? *reached.failure : message("delete file", paths[failing]);
    return result;
}

bool FaultyRegistry::next(const std::string& operation, const std::string& subject) {
    const std::size_t call = record(operation, subject);
    return fails(call, history()[call]);
}

std::vector<RegistryTypes::PathValue>
FaultyRegistry::readValueOfEach(Key root, const std::vector<std::string>& paths,
                                const std::string& name) {
    if (batches_ == Batches::oneAtATime || paths.empty())
        return RegistryReader::readValueOfEach(root, paths, name);
    if (!next("readValueOfEach", name + " of " + batchSubject(paths)))
        return inner().readValueOfEach(root, paths, name);
    std::vector<PathValue> failed(paths.size());
    for (PathValue& read : failed)
        read.status = injectedStatus;
    return failed;
}

} // namespace uninst::test
