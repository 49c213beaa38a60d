#include "engine/logged_ports.h"

#include "engine/ascii_case.h"
#include "engine/system_paths.h"

#include <cstddef>
#include <string_view>

namespace uninst {

namespace {

bool isStartMenuGroup(std::string_view path) {
    const std::string_view root = startMenuRoot;
    return path.size() > root.size() && sameAsciiCase(path.substr(0, root.size()), root);
}

const char* alreadyGone(Removal removal) {
    return removal == Removal::notFound ? " (was not there)" : "";
}

} // namespace

Removal LoggedFileSystem::deleteFile(const std::string& path) {
    const Removal removal = inner().deleteFile(path);
    report_.action("Delete file: " + path + alreadyGone(removal));
    return removal;
}

FileRemovals LoggedFileSystem::deleteFiles(const std::vector<std::string>& paths) {
    FileRemovals removals = inner().deleteFiles(paths);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (removals.removals[i])
            report_.action("Delete file: " + paths[i] + alreadyGone(*removals.removals[i]));
    }
    return removals;
}

void LoggedFileSystem::deleteAtRestart(const std::string& path) {
    inner().deleteAtRestart(path);
    report_.action("Delete at restart: " + path);
}

Removal LoggedFileSystem::deleteFolder(const std::string& path) {
    const Removal removal = inner().deleteFolder(path);
    report_.action((isStartMenuGroup(path) ? "Remove start-menu group: " : "Remove folder: ") +
                   path + alreadyGone(removal));
    return removal;
}

bool LoggedFileSystem::removeEmptyFolder(const std::string& path) {
    const bool removed = inner().removeEmptyFolder(path);
    if (removed)
        report_.action((isStartMenuGroup(path) ? "Remove start-menu group: " : "Remove folder: ") +
                       path);
    return removed;
}

std::vector<bool> LoggedFileSystem::removeEmptyFolders(const std::vector<std::string>& paths) {
    std::vector<bool> removed = inner().removeEmptyFolders(paths);
    for (std::size_t i = 0; i < paths.size() && i < removed.size(); ++i) {
        if (removed[i])
            report_.action(
                (isStartMenuGroup(paths[i]) ? "Remove start-menu group: " : "Remove folder: ") +
                paths[i]);
    }
    return removed;
}

Creation LoggedFileSystem::createFolder(const std::string& path) {
    const Creation creation = inner().createFolder(path);
    if (creation == Creation::created)
        report_.action(
            (isStartMenuGroup(path) ? "Restore start-menu folder: " : "Restore folder: ") + path);
    return creation;
}

Creation LoggedFileSystem::copyNewFile(const std::string& from, const std::string& to) {
    const Creation creation = inner().copyNewFile(from, to);
    if (creation == Creation::created)
        report_.action("Restore file: " + to);
    return creation;
}

RegistryStatus LoggedRegistry::openKey(Key root, const std::string& path, Key& out) {
    const Status status = inner().openKey(root, path, out);
    if (status.isSuccess()) {
        const auto parent = paths_.find(root);
        paths_[out] = parent == paths_.end() ? path : parent->second + "\\" + path;
    }
    return status;
}

RegistryStatus LoggedRegistry::readValue(Key key, const std::string& name, Value& out) {
    const Status status = inner().readValue(key, name, out);
    if (isSharedDlls(key)) {
        lastName_ = name;
        lastRead_ = status.isSuccess();
        lastValue_ = lastRead_ ? dwordFromBytes(out.data) : 0;
    }
    return status;
}

// Passed on whole, so that the registry may read them together: no key it
// opens outlives the call, so none needs a name here. A read of the counts
// goes through readValue above, which notes the count a change then reports.
std::vector<RegistryTypes::PathValue>
LoggedRegistry::readValueOfEach(Key root, const std::vector<std::string>& paths,
                                const std::string& name) {
    const auto parent = paths_.find(root);
    const std::string prefix = parent == paths_.end() ? std::string() : parent->second + "\\";
    for (const std::string& path : paths) {
        if (sameAsciiCase(prefix + path, sharedDllsKeyPath))
            return RegistryReader::readValueOfEach(root, paths, name);
    }
    return inner().readValueOfEach(root, paths, name);
}

RegistryStatus LoggedRegistry::setDwordValue(Key key, const std::string& name,
                                             std::uint32_t value) {
    const Status status = inner().setDwordValue(key, name, value);
    const bool raised = name != lastName_ || !lastRead_ || value > lastValue_;
    if (status.isSuccess() && isSharedDlls(key))
        report_.action(std::string(raised ? "Raise" : "Lower") + " SharedDLLs count: " + name +
                       ", " + lastCount(name) + " -> " + std::to_string(value));
    else if (!status.isSuccess())
        report_.action("Could not set registry value " + name + " (status " +
                       std::to_string(status.code()) + ")");
    return status;
}

RegistryStatus LoggedRegistry::deleteKey(Key key, const std::string& subkey) {
    const Status status = inner().deleteKey(key, subkey);
    if (isSharedDlls(key)) {
        // The request names a key, which a file path normally is not: the
        // count stays as it is, and the log says so.
        report_.action("Request SharedDLLs removal: " + subkey + ", " + lastCount(subkey) +
                       (status.isSuccess() ? ", key removed" : ", count stays"));
        return status;
    }
    reportRemoval(key, subkey, status);
    return status;
}

RegistryStatus LoggedRegistry::deleteTree(Key key, const std::string& subkey) {
    const Status status = inner().deleteTree(key, subkey);
    reportRemoval(key, subkey, status);
    return status;
}

RegistryStatus LoggedRegistry::createSubKey(Key key, const std::string& name, Key& out) {
    const Status status = inner().createSubKey(key, name, out);
    const std::string path = fullName(key, name);
    if (status.isSuccess()) {
        paths_[out] = path.substr(std::string_view("HKEY_LOCAL_MACHINE\\").size());
        report_.action("Restore registry key: " + path);
    } else if (!status.isAlreadyExists()) {
        report_.action("Could not restore registry key " + path + " (status " +
                       std::to_string(status.code()) + ")");
    }
    return status;
}

RegistryStatus LoggedRegistry::writeValue(Key key, const std::string& name, const Value& value) {
    const Status status = inner().writeValue(key, name, value);
    const std::string shown = name.empty() ? "(default)" : name;
    if (status.isSuccess())
        report_.action("Restore registry value: " + fullName(key, "") + ", " + shown);
    else
        report_.action("Could not set registry value " + shown + " (status " +
                       std::to_string(status.code()) + ")");
    return status;
}

std::string LoggedRegistry::fullName(Key key, const std::string& subkey) const {
    const auto parent = paths_.find(key);
    std::string path = parent == paths_.end() ? std::string() : parent->second;
    if (!subkey.empty())
        path = path.empty() ? subkey : path + "\\" + subkey;
    return "HKEY_LOCAL_MACHINE\\" + path;
}

void LoggedRegistry::reportRemoval(Key key, const std::string& subkey, Status status) const {
    const auto parent = paths_.find(key);
    const std::string path =
        "HKEY_LOCAL_MACHINE\\" + (parent == paths_.end() ? subkey : parent->second + "\\" + subkey);
    if (status.isSuccess())
        report_.action("Remove registry key: " + path);
    else
        report_.action("Could not remove registry key " + path + " (status " +
                       std::to_string(status.code()) + ")");
}

RegistryStatus LoggedRegistry::closeKey(Key key) {
    paths_.erase(key);
    return inner().closeKey(key);
}

bool LoggedRegistry::isSharedDlls(Key key) const {
    const auto found = paths_.find(key);
    return found != paths_.end() && sameAsciiCase(found->second, sharedDllsKeyPath);
}

std::string LoggedRegistry::lastCount(const std::string& name) const {
    if (name != lastName_ || !lastRead_)
        return "no count";
    return "count " + std::to_string(static_cast<std::int32_t>(lastValue_));
}

} // namespace uninst
