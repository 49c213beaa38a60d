#include "tests/faults/faulty_ports.h"

#include "engine/error.h"

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
        throw Error(message(operation, path));
}

bool FaultyFileSystem::removeEmptyFolder(const std::string& path) {
    if (next("remove empty folder", path))
        return false;
    return inner().removeEmptyFolder(path);
}

bool FaultyRegistry::next(const std::string& operation, const std::string& subject) {
    const std::size_t call = record(operation, subject);
    return fails(call, history()[call]);
}

} // namespace uninst::test
