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

long FaultyRegistry::openKey(Key root, const std::string& path, std::uint32_t access, Key& out) {
    if (next("openKey", path))
        return injectedStatus;
    return inner_.openKey(root, path, access, out);
}

long FaultyRegistry::queryDefaultValue(Key key, const std::string& subkey, std::string& buffer) {
    if (next("queryDefaultValue", subkey))
        return injectedStatus;
    return inner_.queryDefaultValue(key, subkey, buffer);
}

long FaultyRegistry::queryValue(Key key, const std::string& name, std::uint32_t& type,
                                std::string& buffer) {
    if (next("queryValue", name))
        return injectedStatus;
    return inner_.queryValue(key, name, type, buffer);
}

long FaultyRegistry::setDwordValue(Key key, const std::string& name, std::uint32_t value) {
    if (next("setDwordValue", name))
        return injectedStatus;
    return inner_.setDwordValue(key, name, value);
}

long FaultyRegistry::deleteKey(Key key, const std::string& subkey) {
    if (next("deleteKey", subkey))
        return injectedStatus;
    return inner_.deleteKey(key, subkey);
}

long FaultyRegistry::deleteTree(Key key, const std::string& subkey) {
    if (next("deleteTree", subkey))
        return injectedStatus;
    return inner_.deleteTree(key, subkey);
}

long FaultyRegistry::enumKey(Key key, std::uint32_t index, std::string& name,
                             std::uint32_t& nameLength, std::string& cls,
                             std::uint32_t& classLength) {
    if (next("enumKey", "#" + std::to_string(index)))
        return injectedStatus;
    return inner_.enumKey(key, index, name, nameLength, cls, classLength);
}

long FaultyRegistry::enumValue(Key key, std::uint32_t index, std::string& name,
                               std::uint32_t& nameLength, std::uint32_t& type, std::string& data,
                               std::uint32_t& dataLength) {
    if (next("enumValue", "#" + std::to_string(index)))
        return injectedStatus;
    return inner_.enumValue(key, index, name, nameLength, type, data, dataLength);
}

// A close that fails leaves the handle open, as the real service would.
long FaultyRegistry::closeKey(Key key) {
    if (next("closeKey", std::to_string(key)))
        return injectedStatus;
    return inner_.closeKey(key);
}

} // namespace uninst::test
