#include "engine/planned_ports.h"

#include "engine/ascii_case.h"
#include "engine/error.h"
#include "engine/folder_walk.h"
#include "engine/path_safety.h"

#include <cstddef>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace uninst {

namespace {

// True when `upperPath` or a folder above it is in `set`.
bool coveredBy(const std::set<std::string>& set, const std::string& upperPath) {
    if (set.empty())
        return false;
    if (set.count(upperPath) != 0)
        return true;
    for (std::size_t at = upperPath.find('\\'); at != std::string::npos;
         at = upperPath.find('\\', at + 1)) {
        if (set.count(upperPath.substr(0, at)) != 0)
            return true;
    }
    return false;
}

} // namespace

// ---- File system ---------------------------------------------------------

void PlannedFileSystem::missing(const char* operation, const std::string& path) const {
    throw Error::cannot(operation, path, "the preview has already planned its removal.");
}

const FolderListing& PlannedFileSystem::realListing(const std::string& path) {
    const std::string key = asciiUpper(path);
    auto found = listings_.find(key);
    if (found == listings_.end())
        found = listings_.emplace(key, reader().listFolder(path)).first;
    return found->second;
}

bool PlannedFileSystem::gone(const std::string& path) const {
    return coveredBy(removed_, asciiUpper(path));
}

PlannedFileSystem::Kind PlannedFileSystem::kindOf(const std::string& path) {
    if (gone(path))
        return Kind::missing;
    const std::string parent = parentBelowDrive(path);
    if (parent.empty())
        return reader().folderExists(path) ? Kind::folder : Kind::missing;
    const FolderListing* listing = nullptr;
    try {
        listing = &realListing(parent);
    } catch (const Error&) {
        return Kind::missing;
    }
    const std::string wanted = asciiUpper(path);
    for (const std::string& file : listing->files) {
        if (asciiUpper(file) == wanted)
            return Kind::file;
    }
    for (const FolderListing::SubFolder& sub : listing->subFolders) {
        if (asciiUpper(sub.path) == wanted)
            return sub.isLink ? Kind::link : Kind::folder;
    }
    return Kind::missing;
}

FolderListing PlannedFileSystem::listFolder(const std::string& path) {
    if (gone(path))
        missing("list folder", path);
    const FolderListing& real = realListing(path);
    if (removed_.empty())
        return real;
    FolderListing shown;
    for (std::size_t i = 0; i < real.files.size(); ++i) {
        if (removed_.count(asciiUpper(real.files[i])) != 0)
            continue;
        shown.files.push_back(real.files[i]);
        if (i < real.fileBytes.size())
            shown.fileBytes.push_back(real.fileBytes[i]);
    }
    for (const FolderListing::SubFolder& sub : real.subFolders) {
        if (removed_.count(asciiUpper(sub.path)) == 0)
            shown.subFolders.push_back(sub);
    }
    return shown;
}

std::vector<ListedFolder> PlannedFileSystem::listFolders(const std::vector<std::string>& paths) {
    std::vector<std::size_t> unread;
    std::vector<std::string> unreadPaths;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!gone(paths[i]) && listings_.count(asciiUpper(paths[i])) == 0) {
            unread.push_back(i);
            unreadPaths.push_back(paths[i]);
        }
    }
    std::vector<ListedFolder> read = reader().listFolders(unreadPaths);
    // As listFolder one path after the other would answer: the first
    // listing of a folder read is kept and serves every later spelling of
    // its path; a failure belongs to its own path alone and is not kept, so
    // a later spelling is read for itself.
    std::vector<std::exception_ptr> failures(paths.size());
    for (std::size_t k = 0; k < unread.size(); ++k) {
        const std::string key = asciiUpper(paths[unread[k]]);
        if (listings_.count(key) != 0)
            continue;
        if (read[k].failure)
            failures[unread[k]] = read[k].failure;
        else
            listings_.emplace(key, std::move(read[k].listing));
    }
    std::vector<ListedFolder> listed(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (failures[i]) {
            listed[i].failure = failures[i];
            continue;
        }
        try {
            listed[i].listing = listFolder(paths[i]);
        } catch (...) {
            listed[i].failure = std::current_exception();
        }
    }
    return listed;
}

bool PlannedFileSystem::folderExists(const std::string& path) {
    if (created_.count(asciiUpper(path)) != 0)
        return true;
    return !gone(path) && reader().folderExists(path);
}

bool PlannedFileSystem::isMissing(const std::string& path) {
    if (created_.count(asciiUpper(path)) != 0)
        return false;
    return gone(path) || reader().isMissing(path);
}

void PlannedFileSystem::needParent(const char* operation, const std::string& path) {
    const std::string parent = withoutLastStep(path);
    if (parent.empty() || !folderExists(parent))
        throw Error::cannot(operation, path, "the folder that would hold it does not exist.");
}

Creation PlannedFileSystem::createFolder(const std::string& path) {
    if (created_.count(asciiUpper(path)) != 0)
        return Creation::exists;
    switch (kindOf(path)) {
    case Kind::folder:
        return Creation::exists;
    case Kind::file:
    case Kind::link:
        throw Error::cannot("create folder", path, "a file or a link stands there.");
    case Kind::missing:
        break;
    }
    needParent("create folder", path);
    created_.insert(asciiUpper(path));
    return Creation::created;
}

Creation PlannedFileSystem::copyNewFile(const std::string&, const std::string& to) {
    if (created_.count(asciiUpper(to)) != 0 || kindOf(to) != Kind::missing)
        return Creation::exists;
    needParent("create file", to);
    created_.insert(asciiUpper(to));
    return Creation::created;
}

Removal PlannedFileSystem::deleteFile(const std::string& path) {
    switch (kindOf(path)) {
    case Kind::missing:
        return Removal::notFound;
    case Kind::file:
        removed_.insert(asciiUpper(path));
        return Removal::removed;
    case Kind::folder:
    case Kind::link:
        break;
    }
    throw Error::cannot("delete file", path, "it is a folder.");
}

Removal PlannedFileSystem::deleteFolder(const std::string& path) {
    if (kindOf(path) != Kind::folder)
        return Removal::notFound;
    removeTree(path);
    return Removal::removed;
}

bool PlannedFileSystem::removeEmptyFolder(const std::string& path) {
    if (kindOf(path) != Kind::folder)
        return false;
    try {
        const FolderListing shown = listFolder(path);
        if (!shown.files.empty() || !shown.subFolders.empty())
            return false;
    } catch (const Error&) {
        return false;
    }
    removed_.insert(asciiUpper(path));
    return true;
}

void PlannedFileSystem::deleteAtRestart(const std::string& path) {
    if (kindOf(path) == Kind::missing)
        missing("schedule the deletion of", path);
}

std::string PlannedFileSystem::readTextFile(const std::string& path) {
    if (gone(path))
        missing("read file", path);
    return reader().readTextFile(path);
}

bool PlannedFileSystem::removeTree(const std::string& path) {
    // As the real removal goes: a link stays, and so does every folder
    // holding one.
    struct Planned {
        std::string path;
        std::vector<std::string> files;
        bool remains = false;
    };
    const auto enter = [&](const std::string& folder) {
        FolderListing listing = listFolder(folder);
        return EnteredFolder<Planned>{Planned{folder, std::move(listing.files), false},
                                      std::move(listing.subFolders)};
    };
    bool remains = false;
    walkPostOrder(
        enter(path),
        [&](Planned& parent,
            const FolderListing::SubFolder& sub) -> std::optional<EnteredFolder<Planned>> {
            if (sub.isLink) {
                parent.remains = true;
                return std::nullopt;
            }
            return enter(sub.path);
        },
        [&](const Planned& folder, Planned* parent) {
            for (const std::string& file : folder.files)
                removed_.insert(asciiUpper(file));
            remains = folder.remains;
            if (!remains)
                removed_.insert(asciiUpper(folder.path));
            if (remains && parent != nullptr)
                parent->remains = true;
        });
    return !remains;
}

// ---- Registry ------------------------------------------------------------

std::string PlannedRegistry::pathOf(Key key, const std::string& subkey) const {
    const auto found = handles_.find(key);
    const std::string base = found == handles_.end() ? std::string() : found->second.path;
    if (subkey.empty())
        return base;
    return base.empty() ? asciiUpper(subkey) : base + "\\" + asciiUpper(subkey);
}

bool PlannedRegistry::deleted(const std::string& upperPath) const {
    return coveredBy(deleted_, upperPath);
}

bool PlannedRegistry::hasSubKeys(const std::string& upperPath) {
    Key key = 0;
    if (!reader().openKey(localMachine, upperPath, key).isSuccess())
        return false;
    bool found = false;
    for (std::uint32_t index = 0; !found; ++index) {
        std::string name;
        if (!reader().enumKey(key, index, name).isSuccess())
            break;
        found = !deleted(upperPath + "\\" + asciiUpper(name));
    }
    reader().closeKey(key);
    return found;
}

RegistryStatus PlannedRegistry::openKey(Key root, const std::string& path, Key& out) {
    const std::string full = pathOf(root, path);
    if (deleted(full))
        return Status::notFound();
    if (createdKeys_.count(full) != 0) {
        out = plannedHandle(full);
        return Status::success();
    }
    if (isPlannedKey(root))
        return Status::notFound();
    const Status status = reader().openKey(root, path, out);
    if (status.isSuccess())
        handles_[out] = Handle{full};
    return status;
}

RegistryStatus PlannedRegistry::readDefaultValue(Key key, const std::string& subkey, Value& out) {
    if (deleted(pathOf(key, subkey)) || isPlannedKey(key))
        return Status::notFound();
    return reader().readDefaultValue(key, subkey, out);
}

RegistryStatus PlannedRegistry::checkDeleteTree(Key key, const std::string& subkey) {
    if (deleted(pathOf(key, subkey)))
        return Status::notFound();
    if (isPlannedKey(key) || createdKeys_.count(pathOf(key, subkey)) != 0)
        return Status::success();
    return reader().checkDeleteTree(key, subkey);
}

RegistryStatus PlannedRegistry::readValue(Key key, const std::string& name, Value& out) {
    const std::string path = pathOf(key, {});
    if (deleted(path))
        return keyDeleted;
    const auto written = counts_.find({path, asciiUpper(name)});
    if (written == counts_.end())
        return isPlannedKey(key) ? Status::notFound() : reader().readValue(key, name, out);
    out = Value{typeDword, dwordBytes(written->second)};
    return Status::success();
}

std::vector<RegistryTypes::PathValue>
PlannedRegistry::readValueOfEach(Key root, const std::vector<std::string>& paths,
                                 const std::string& name) {
    // Until something is planned the registry reads as it is, and may read
    // the keys together; after that each goes through the plan in turn.
    if (deleted_.empty() && counts_.empty())
        return reader().readValueOfEach(root, paths, name);
    return RegistryReader::readValueOfEach(root, paths, name);
}

std::vector<RegistryTypes::PathValues>
PlannedRegistry::readValuesOfEach(Key root, const std::vector<std::string>& paths,
                                  const std::string& last, const std::vector<std::string>& named) {
    if (deleted_.empty() && counts_.empty())
        return reader().readValuesOfEach(root, paths, last, named);
    return RegistryReader::readValuesOfEach(root, paths, last, named);
}

RegistryStatus PlannedRegistry::setDwordValue(Key key, const std::string& name,
                                              std::uint32_t value) {
    const std::string path = pathOf(key, {});
    if (handles_.count(key) == 0)
        return Status::invalidHandle();
    if (deleted(path))
        return keyDeleted;
    counts_[{path, asciiUpper(name)}] = value;
    return Status::success();
}

RegistryStatus PlannedRegistry::planDelete(Key key, const std::string& subkey, bool withSubKeys) {
    if (key != localMachine && handles_.count(key) == 0)
        return Status::invalidHandle();
    const std::string path = pathOf(key, subkey);
    if (subkey.empty() || deleted(path))
        return Status::notFound();
    Key probe = 0;
    if (!reader().openKey(localMachine, path, probe).isSuccess())
        return Status::notFound();
    reader().closeKey(probe);
    if (!withSubKeys && hasSubKeys(path))
        return Status::accessDenied();
    deleted_.insert(path);
    return Status::success();
}

RegistryStatus PlannedRegistry::enumKey(Key key, std::uint32_t index, std::string& name) {
    if (isPlannedKey(key))
        return Status::noMoreItems();
    const auto found = handles_.find(key);
    if (found == handles_.end() || deleted_.empty())
        return reader().enumKey(key, index, name);
    Handle& handle = found->second;
    if (deleted(handle.path))
        return keyDeleted;
    // The sub-keys the run deleted are skipped, so later ones move up one
    // index each, as they do in the real registry.
    std::uint32_t visible = 0;
    std::uint32_t innerIndex = 0;
    if (index >= handle.nextIndex) {
        visible = handle.nextIndex;
        innerIndex = handle.nextInner;
    }
    while (true) {
        std::string candidate;
        const Status status = reader().enumKey(key, innerIndex, candidate);
        if (status.isSuccess() && deleted(handle.path + "\\" + asciiUpper(candidate))) {
            ++innerIndex;
            continue;
        }
        if (!status.isSuccess() || visible == index) {
            if (status.isSuccess()) {
                name = std::move(candidate);
                handle.nextIndex = index + 1;
                handle.nextInner = innerIndex + 1;
            }
            return status;
        }
        ++visible;
        ++innerIndex;
    }
}

RegistryStatus PlannedRegistry::enumValue(Key key, std::uint32_t index, std::string& name,
                                          Value& value) {
    if (deleted(pathOf(key, {})))
        return keyDeleted;
    if (isPlannedKey(key))
        return Status::noMoreItems();
    return reader().enumValue(key, index, name, value);
}

RegistryStatus PlannedRegistry::closeKey(Key key) {
    handles_.erase(key);
    if (planned_.erase(key) != 0)
        return Status::success();
    return reader().closeKey(key);
}

RegistryTypes::Key PlannedRegistry::plannedHandle(const std::string& upperPath) {
    const Key key = nextPlanned_++;
    planned_.insert(key);
    handles_[key] = Handle{upperPath};
    return key;
}

RegistryStatus PlannedRegistry::createSubKey(Key key, const std::string& name, Key& out) {
    if (key != localMachine && handles_.count(key) == 0)
        return Status::invalidHandle();
    const std::string path = pathOf(key, name);
    if (name.empty() || name.find('\\') != std::string::npos)
        return Status(87);
    if (deleted(pathOf(key, {})))
        return keyDeleted;
    if (createdKeys_.count(path) != 0)
        return Status::alreadyExists();
    if (!deleted(path)) {
        Key probe = 0;
        if (reader().openKey(localMachine, path, probe).isSuccess()) {
            reader().closeKey(probe);
            return Status::alreadyExists();
        }
    }
    createdKeys_.insert(path);
    out = plannedHandle(path);
    return Status::success();
}

RegistryStatus PlannedRegistry::writeValue(Key key, const std::string& name, const Value& value) {
    if (handles_.count(key) == 0)
        return Status::invalidHandle();
    const std::string path = pathOf(key, {});
    if (deleted(path))
        return keyDeleted;
    if (value.type == typeDword)
        counts_[{path, asciiUpper(name)}] = dwordFromBytes(value.data);
    return Status::success();
}

} // namespace uninst
