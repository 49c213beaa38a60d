#include "tests/faults/faulty_ports.h"

#include "engine/error.h"

namespace uninst::test {

bool FaultPlan::next(const std::string& operation, const std::string& subject) {
    const bool fail = calls_.size() == failAt_;
    calls_.push_back(operation + " " + subject);
    if (fail)
        injected_ = calls_.back();
    return fail;
}

std::string FaultyFileSystem::message(const std::string& operation, const std::string& path) {
    return "Cannot " + operation + " " + path +
           ": The request could not be performed because of "
           "an I/O device error.";
}

void FaultyFileSystem::maybeFail(const std::string& operation, const std::string& path) {
    if (next(operation, path))
        throw Error(message(operation, path));
}

FolderListing FaultyFileSystem::listFolder(const std::string& path) {
    maybeFail("list folder", path);
    return inner_.listFolder(path);
}

bool FaultyFileSystem::folderExists(const std::string& path) {
    maybeFail("check folder", path);
    return inner_.folderExists(path);
}

Removal FaultyFileSystem::deleteFile(const std::string& path) {
    maybeFail("delete file", path);
    return inner_.deleteFile(path);
}

Removal FaultyFileSystem::deleteFolder(const std::string& path) {
    maybeFail("delete folder", path);
    return inner_.deleteFolder(path);
}

bool FaultyFileSystem::removeEmptyFolder(const std::string& path) {
    if (next("remove empty folder", path))
        return false;
    return inner_.removeEmptyFolder(path);
}

std::string FaultyFileSystem::readTextFile(const std::string& path) {
    maybeFail("read file", path);
    return inner_.readTextFile(path);
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
