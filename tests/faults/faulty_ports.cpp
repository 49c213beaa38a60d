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

RegistryStatus FaultyRegistry::openKey(Key root, const std::string& path, Key& out) {
    if (next("openKey", path))
        return injectedStatus;
    return inner_.openKey(root, path, out);
}

RegistryStatus FaultyRegistry::closeKey(Key key) {
    if (next("closeKey", std::to_string(key)))
        return injectedStatus;
    return inner_.closeKey(key);
}

RegistryStatus FaultyRegistry::readDefaultValue(Key key, const std::string& subkey, Value& out) {
    if (next("readDefaultValue", subkey))
        return injectedStatus;
    return inner_.readDefaultValue(key, subkey, out);
}

RegistryStatus FaultyRegistry::readValue(Key key, const std::string& name, Value& out) {
    if (next("readValue", name))
        return injectedStatus;
    return inner_.readValue(key, name, out);
}

RegistryStatus FaultyRegistry::setDwordValue(Key key, const std::string& name,
                                             std::uint32_t value) {
    if (next("setDwordValue", name))
        return injectedStatus;
    return inner_.setDwordValue(key, name, value);
}

RegistryStatus FaultyRegistry::deleteKey(Key key, const std::string& subkey) {
    if (next("deleteKey", subkey))
        return injectedStatus;
    return inner_.deleteKey(key, subkey);
}

RegistryStatus FaultyRegistry::deleteTree(Key key, const std::string& subkey) {
    if (next("deleteTree", subkey))
        return injectedStatus;
    return inner_.deleteTree(key, subkey);
}

RegistryStatus FaultyRegistry::enumKey(Key key, std::uint32_t index, std::string& name) {
    if (next("enumKey", "#" + std::to_string(index)))
        return injectedStatus;
    return inner_.enumKey(key, index, name);
}

RegistryStatus FaultyRegistry::enumValue(Key key, std::uint32_t index, std::string& name,
                                         Value& value) {
    if (next("enumValue", "#" + std::to_string(index)))
        return injectedStatus;
    return inner_.enumValue(key, index, name, value);
}

bool FaultyRegistry::sameName(std::string_view a, std::string_view b) {
    return inner_.sameName(a, b);
}

std::size_t FaultyRegistry::codePageLength(std::string_view text) {
    return inner_.codePageLength(text);
}

} // namespace uninst::test
