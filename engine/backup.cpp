#include "engine/backup.h"

#include "engine/error.h"
#include "engine/forwarding_ports.h"
#include "engine/planned_ports.h"
#include "engine/run.h"
#include "engine/system_paths.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <type_traits>
#include <utility>

namespace uninst {

namespace {

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

// Sits between the run and the planned ports and notes each change before it
// is planned, reading what it will take away through the planned view, which
// still shows it. Every change is its own override, so a change the port
// gains later does not compile here until the backup holds what it takes.
class NotedFileSystem : public ReadThroughFileSystem {
public:
    NotedFileSystem(FileSystem& inner, BackupPlan& plan)
        : ReadThroughFileSystem(inner), inner_(inner), plan_(plan) {}

    // The pre-flight asks the real file system of each file: what it finds
    // missing, a link among them (under Wine a link to a file lists as a
    // file), the run's deletion leaves where it is, and the backup must not
    // copy what lies behind it.
    DeleteCheck checkDelete(const std::string& path) override {
        DeleteCheck check = ReadThroughFileSystem::checkDelete(path);
        remember(path, check);
        return check;
    }
    std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths) override {
        std::vector<DeleteCheck> checks = ReadThroughFileSystem::checkDeletes(paths);
        for (std::size_t i = 0; i < paths.size() && i < checks.size(); ++i)
            remember(paths[i], checks[i]);
        return checks;
    }
    // As the run's own check after the deletion, which passes over a link.
    std::vector<std::string> filesStillThere(const std::string& folder,
                                             const std::vector<std::string>& paths) override {
        std::vector<std::string> left = ReadThroughFileSystem::filesStillThere(folder, paths);
        std::erase_if(left, [&](const std::string& path) {
            return missing_.count(inner_.foldCase(path)) != 0;
        });
        return left;
    }
    Removal deleteFile(const std::string& path) override {
        if (missing_.count(inner_.foldCase(path)) != 0)
            return Removal::notFound;
        const Removal removal = inner_.deleteFile(path);
        if (removal == Removal::removed)
            note(path, false);
        return removal;
    }
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override {
        return deleteEachInTurn(*this, paths);
    }
    void deleteAtRestart(const std::string& path) override {
        const bool folder = inner_.folderExists(path);
        inner_.deleteAtRestart(path);
        note(path, folder);
    }
    Removal deleteFolder(const std::string& path) override {
        if (inner_.folderExists(path))
            noteTree(path);
        return inner_.deleteFolder(path);
    }
    bool removeEmptyFolder(const std::string& path) override {
        const bool removed = inner_.removeEmptyFolder(path);
        if (removed)
            note(path, true);
        return removed;
    }
    std::vector<bool> removeEmptyFolders(const std::vector<std::string>& paths) override {
        return removeEachEmptyInTurn(*this, paths);
    }
    // What is made takes nothing away, so the backup has nothing to hold.
    Creation createFolder(const std::string& path) override { return inner_.createFolder(path); }
    Creation copyNewFile(const std::string& from, const std::string& to) override {
        return inner_.copyNewFile(from, to);
    }

private:
    void remember(const std::string& path, const DeleteCheck& check) {
        if (check.answer == Deletable::missing)
            missing_.insert(inner_.foldCase(path));
        else
            missing_.erase(inner_.foldCase(path));
    }
    void note(const std::string& path, bool folder) {
        const std::string folded = inner_.foldCase(path);
        for (std::size_t root = 0; root < plan_.roots.size(); ++root) {
            const std::string base = inner_.foldCase(plan_.roots[root]);
            if (folded == base) {
                (folder ? plan_.folders : plan_.files).push_back({root, ""});
                return;
            }
            if (folded.size() > base.size() + 1 && folded.compare(0, base.size(), base) == 0 &&
                folded[base.size()] == '\\') {
                (folder ? plan_.folders : plan_.files)
                    .push_back({root, path.substr(base.size() + 1)});
                return;
            }
        }
        // Below none of the roots nothing is removed (setRemovalRoots): a
        // change the backup cannot place is refused rather than left out.
        throw Error::cannot("back up", path,
                            "it lies outside the install folder and the start menu, and the "
                            "backup holds only what lies inside them.");
    }
    void noteTree(const std::string& path) {
        note(path, true);
        const FolderListing listing = inner_.listFolder(path);
        for (const std::string& file : listing.files)
            note(file, false);
        for (const FolderListing::SubFolder& sub : listing.subFolders) {
            if (!sub.isLink)
                noteTree(sub.path);
        }
    }

    FileSystem& inner_;
    BackupPlan& plan_;
    std::set<std::string> missing_; // folded
};
static_assert(!std::is_abstract_v<NotedFileSystem>, "the backup notes every change to the disk");

class NotedRegistry : public ReadThroughRegistry {
public:
    NotedRegistry(Registry& inner, BackupPlan& plan)
        : ReadThroughRegistry(inner), inner_(inner), plan_(plan) {}

    Status openKey(Key root, const std::string& path, Key& out) override {
        const Status status = inner_.openKey(root, path, out);
        if (status.isSuccess())
            paths_[out] = pathOf(root, path);
        return status;
    }
    Status closeKey(Key key) override {
        paths_.erase(key);
        return inner_.closeKey(key);
    }
    Status setDwordValue(Key key, const std::string& name, std::uint32_t value) override {
        Value before;
        const Status read = inner_.readValue(key, name, before);
        if (!read.isSuccess() && !read.isNotFound())
            unreadable(pathOf(key, "") + "\\" + name, read);
        const bool had = read.isSuccess();
        const Status status = inner_.setDwordValue(key, name, value);
        if (!status.isSuccess())
            return status;
        const std::string path = pathOf(key, "");
        for (BackupPlan::Count& count : plan_.counts) {
            if (count.key == path && count.name == name) {
                count.after = value;
                return status;
            }
        }
        plan_.counts.push_back({path, name, had ? dwordFromBytes(before.data) : 0, value});
        return status;
    }
    Status deleteKey(Key key, const std::string& subkey) override {
        BackupPlan::Key tree = readTree(pathOf(key, subkey));
        const Status status = inner_.deleteKey(key, subkey);
        if (status.isSuccess())
            plan_.keys.push_back(std::move(tree));
        return status;
    }
    // A tree the run could remove only in part is kept whole: restoring
    // what stayed is refused key by key, and nothing is lost.
    Status deleteTree(Key key, const std::string& subkey) override {
        BackupPlan::Key tree = readTree(pathOf(key, subkey));
        const Status status = inner_.deleteTree(key, subkey);
        if (!tree.tree.empty())
            plan_.keys.push_back(std::move(tree));
        return status;
    }

    Status createSubKey(Key key, const std::string& name, Key& out) override {
        return inner_.createSubKey(key, name, out);
    }
    // A value the run overwrites would be lost: only the counts are ever
    // written, and those go through setDwordValue above.
    Status writeValue(Key key, const std::string& name, const Value& value) override {
        Value before;
        if (inner_.readValue(key, name, before).isSuccess())
            throw Error::cannot("back up registry value", pathOf(key, "") + "\\" + name,
                                "the run would overwrite it, and the backup holds no such change.");
        return inner_.writeValue(key, name, value);
    }

private:
    std::string pathOf(Key key, const std::string& subkey) const {
        const auto found = paths_.find(key);
        std::string path = found == paths_.end() ? std::string() : found->second;
        if (!subkey.empty())
            path = path.empty() ? subkey : path + "\\" + subkey;
        return path;
    }
    // Read through the planned registry before the deletion is planned, so
    // that what earlier steps planned away is not taken for the key's own.
    BackupPlan::Key readTree(const std::string& path) {
        BackupPlan::Key key{path, {}};
        readInto(path, key);
        return key;
    }
    // A key that is not there has nothing to lose; one that cannot be read
    // whole stops the run, as a file that cannot be copied does.
    void readInto(const std::string& path, BackupPlan::Key& into) {
        Key opened = 0;
        const Status open = inner_.openKey(localMachine, path, opened);
        if (open.isNotFound())
            return;
        if (!open.isSuccess())
            unreadable(path, open);
        ScopedKey key(inner_, opened);
        BackupPlan::Key::Entry entry{path, {}};
        std::string name;
        Value value;
        Status status;
        for (std::uint32_t i = 0;
             (status = inner_.enumValue(key.get(), i, name, value)).isSuccess(); ++i)
            entry.values.emplace_back(name, value);
        if (!status.isNoMoreItems())
            unreadable(path, status);
        into.tree.push_back(std::move(entry));
        std::vector<std::string> subkeys;
        for (std::uint32_t i = 0; (status = inner_.enumKey(key.get(), i, name)).isSuccess(); ++i)
            subkeys.push_back(name);
        if (!status.isNoMoreItems())
            unreadable(path, status);
        for (const std::string& sub : subkeys)
            readInto(path + "\\" + sub, into);
    }

    [[noreturn]] static void unreadable(const std::string& path, Status status) {
        throw Error::cannot("back up registry key", "HKEY_LOCAL_MACHINE\\" + path,
                            "reading it failed with status " + std::to_string(status.code()) +
                                ", so the backup could not hold it whole.");
    }

    Registry& inner_;
    BackupPlan& plan_;
    std::map<Key, std::string> paths_;
};
static_assert(!std::is_abstract_v<NotedRegistry>, "the backup notes every change to the registry");

std::string hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(digits[byte >> 4]);
        out.push_back(digits[byte & 15]);
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

[[noreturn]] void damaged(std::string_view why) {
    throw Error("read the backup", "registry.txt",
                "The backup's registry.txt is damaged or was not written by this program: " +
                    std::string(why));
}

std::string unhex(std::string_view text) {
    if (text.size() % 2 != 0)
        damaged("a hexadecimal field has an odd length.");
    std::string out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            damaged("a hexadecimal field holds another character.");
        out.push_back(static_cast<char>(high * 16 + low));
    }
    return out;
}

// The relative path of `full` below the start-menu root it lies in, if any.
std::optional<std::string> belowMenu(const BackupPlan& plan, FileSystemReader& fs,
                                     const std::string& full) {
    const std::string folded = fs.foldCase(withoutTrailingSeparators(full));
    for (std::size_t root = 1; root < plan.roots.size(); ++root) {
        const std::string base = fs.foldCase(plan.roots[root]);
        if (folded == base)
            return std::string();
        if (folded.size() > base.size() + 1 && folded.compare(0, base.size(), base) == 0 &&
            folded[base.size()] == '\\')
            return withoutTrailingSeparators(full).substr(base.size() + 1);
    }
    return std::nullopt;
}

void addGroup(BackupPlan& plan, FileSystemReader& fs, const std::string& group) {
    for (const std::string& known : plan.groups) {
        if (fs.foldCase(known) == fs.foldCase(group))
            return;
    }
    plan.groups.push_back(group);
}

} // namespace

std::vector<std::uint64_t> BackupStore::copyFiles(const std::vector<Copy>& copies) {
    std::vector<std::uint64_t> sizes;
    sizes.reserve(copies.size());
    for (const Copy& copy : copies)
        sizes.push_back(copyFile(copy.source, copy.relative));
    return sizes;
}

std::string backupCopyPath(const BackupPlan::Item& item) {
    return "files\\" + std::to_string(item.root) +
           (item.relative.empty() ? "" : "\\" + item.relative);
}

BackupPlan planBackup(const UninstallState& state, RegistryReader& registry, FileSystemReader& fs,
                      Shell& shell, FileList& list, BlockedFiles* blocked) {
    BackupPlan plan;
    plan.roots.push_back(withoutTrailingSeparators(state.installdir));
    plan.roots.push_back(withoutTrailingSeparators(startMenuRoot));
    for (std::string& folder : shell.programsFolders())
        plan.roots.push_back(withoutTrailingSeparators(std::move(folder)));
    PlannedRegistry plannedRegistry(registry);
    PlannedFileSystem plannedFs(fs);
    NotedRegistry notedRegistry(plannedRegistry, plan);
    NotedFileSystem notedFs(plannedFs, plan);
    UninstallState copy = state;
    UnseenProgress progress;
    // A plan that stopped is no plan: the run, asked the same questions a
    // moment later, may get further, and what it then changed the backup
    // would not hold. The run stops here instead, with nothing changed.
    uninstall(copy, notedRegistry, notedFs, shell, list, progress, blocked, nullptr);
    if (!copy.groupname.empty())
        addGroup(plan, fs, withoutTrailingSeparators(copy.groupname));
    for (const UninstallState::NamedShortcut& shortcut : copy.shortcuts)
        addGroup(plan, fs, withoutTrailingSeparators(shortcut.group));
    for (const std::string& folder : copy.createdfolders) {
        if (std::optional<std::string> group = belowMenu(plan, fs, folder))
            addGroup(plan, fs, *group);
    }
    // Deepest first in the run; a restore makes parents first.
    std::sort(plan.folders.begin(), plan.folders.end(), [](const auto& a, const auto& b) {
        return a.root != b.root ? a.root < b.root : a.relative.size() < b.relative.size();
    });
    return plan;
}

std::string backupFolderName(const std::string& machine, const std::string& appName,
                             const std::string& localTime) {
    std::string name = machine + " " + appName + " " + localTime;
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 32 ||
            std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
            c = '-';
    }
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    return name;
}

std::string keysText(const std::vector<BackupPlan::Key>& keys) {
    std::string text = "uninstall.exe registry backup 1\r\n";
    for (const BackupPlan::Key& key : keys) {
        text += "Key " + hex(key.path) + "\r\n";
        for (const BackupPlan::Key::Entry& entry : key.tree) {
            text += "Entry " + hex(entry.path) + "\r\n";
            for (const auto& [name, value] : entry.values)
                text += "Value " + std::to_string(value.type) + " " + hex(name) + " " +
                        hex(value.data) + "\r\n";
        }
    }
    text += "End\r\n";
    return text;
}

std::vector<BackupPlan::Key> keysFromText(const std::string& text) {
    std::vector<BackupPlan::Key> keys;
    std::size_t at = 0;
    bool first = true;
    bool ended = false;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            damaged("it ends in the middle of a line.");
        const std::string_view line(text.data() + at, end - at);
        at = end + 2;
        if (ended)
            damaged("something follows its end.");
        if (first) {
            if (line != "uninstall.exe registry backup 1")
                damaged("its first line is not this program's.");
            first = false;
        } else if (line == "End") {
            ended = true;
        } else if (line.substr(0, 4) == "Key ") {
            keys.push_back({unhex(line.substr(4)), {}});
        } else if (line.substr(0, 6) == "Entry ") {
            if (keys.empty())
                damaged("an entry comes before its key.");
            keys.back().tree.push_back({unhex(line.substr(6)), {}});
        } else if (line.substr(0, 6) == "Value ") {
            const std::string_view rest = line.substr(6);
            const std::size_t space = rest.find(' ');
            const std::size_t second =
                space == std::string_view::npos ? space : rest.find(' ', space + 1);
            if (keys.empty() || keys.back().tree.empty() || second == std::string_view::npos ||
                space == 0 || space > 10)
                damaged("a value is not in its place or not whole.");
            std::uint64_t type = 0;
            for (const char c : rest.substr(0, space)) {
                if (c < '0' || c > '9')
                    damaged("a value's type is not a number.");
                type = type * 10 + static_cast<std::uint64_t>(c - '0');
            }
            if (type > 0xFFFFFFFFu)
                damaged("a value's type is out of range.");
            RegistryTypes::Value value{static_cast<std::uint32_t>(type),
                                       unhex(rest.substr(second + 1))};
            keys.back().tree.back().values.emplace_back(
                unhex(rest.substr(space + 1, second - space - 1)), std::move(value));
        } else {
            damaged("a line is of no known kind.");
        }
    }
    if (!ended)
        damaged("its last line is missing.");
    return keys;
}

std::uint64_t backupSize(const BackupPlan& plan, BackupStore& store) {
    std::uint64_t size = keysText(plan.keys).size();
    for (const BackupPlan::Item& file : plan.files)
        size += store.fileSize(plan.roots[file.root] +
                               (file.relative.empty() ? "" : "\\" + file.relative));
    return size;
}

std::string writeBackup(const BackupPlan& plan, BackupStore& store, const std::string& appName,
                        const std::string& version) {
    const std::string time = store.localTime();
    const std::string machine = store.machineName();
    const std::string name = backupFolderName(machine, appName, time);
    store.create(name);

    std::string manifest = "Backup of an uninstall by uninstall.exe\r\n";
    manifest += "Application: " + appName + "\r\n";
    manifest += "Machine: " + machine + "\r\n";
    manifest += "Time: " + time + "\r\n";
    manifest += "Program version: " + version + "\r\n";
    for (std::size_t root = 0; root < plan.roots.size(); ++root)
        manifest += "Root " + std::to_string(root) + ": " + plan.roots[root] + "\r\n";
    for (const std::string& group : plan.groups)
        manifest += "Group: " + group + "\r\n";

    // Every folder on the way to a copy, made once, parents first.
    std::set<std::string> made;
    const auto makeFolders = [&](const std::string& relative, bool withLast) {
        std::size_t at = 0;
        while (true) {
            const std::size_t next = relative.find('\\', at);
            if (next == std::string::npos && !withLast)
                return;
            const std::string step = relative.substr(0, next);
            if (made.insert(step).second)
                store.makeFolder(step);
            if (next == std::string::npos)
                return;
            at = next + 1;
        }
    };
    for (const BackupPlan::Item& folder : plan.folders) {
        makeFolders(backupCopyPath(folder), true);
        manifest += "Folder: " + std::to_string(folder.root) + " " + folder.relative + "\r\n";
    }
    std::vector<BackupStore::Copy> copies;
    copies.reserve(plan.files.size());
    for (const BackupPlan::Item& file : plan.files) {
        copies.push_back(
            {plan.roots[file.root] + (file.relative.empty() ? "" : "\\" + file.relative),
             backupCopyPath(file)});
        makeFolders(copies.back().relative, false);
    }
    const std::vector<std::uint64_t> sizes = store.copyFiles(copies);
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        const BackupPlan::Item& file = plan.files[i];
        manifest += "File: " + std::to_string(file.root) + " " + file.relative + "\r\n";
        manifest += "Size: " + std::to_string(sizes[i]) + "\r\n";
    }
    store.writeFile("registry.txt", keysText(plan.keys));
    for (const BackupPlan::Key& key : plan.keys)
        manifest += "Key: HKEY_LOCAL_MACHINE\\" + key.path + "\r\n";
    for (const BackupPlan::Count& count : plan.counts)
        manifest += "Count: " + std::to_string(count.before) + " -> " +
                    std::to_string(count.after) + " | HKEY_LOCAL_MACHINE\\" + count.key + " | " +
                    count.name + "\r\n";
    manifest += "End of backup: " + std::to_string(plan.files.size()) + " files, " +
                std::to_string(plan.folders.size()) + " folders, " +
                std::to_string(plan.keys.size()) + " keys, " + std::to_string(plan.counts.size()) +
                " counts\r\n";
    store.writeFile("manifest.txt", manifest);
    // A drive's root ("E:\\") already ends in its separator.
    const std::string folder = store.folderPath();
    return folder + (!folder.empty() && folder.back() == '\\' ? "" : "\\") + name;
}

} // namespace uninst
