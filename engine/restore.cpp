#include "engine/restore.h"

#include "engine/ascii_case.h"
#include "engine/error.h"
#include "engine/path_safety.h"
#include "engine/shared_folders.h"
#include "engine/state.h"
#include "engine/system_paths.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

namespace uninst {

namespace {

constexpr std::string_view manifestTitle = "Backup of an uninstall by uninstall.exe";
constexpr std::string_view machineRoot = "HKEY_LOCAL_MACHINE\\";

[[noreturn]] void damaged(const BackupSource& source, const std::string& why) {
    throw Error(
        std::string(damagedBackupOperation), source.folderPath(),
        "The backup in " + source.folderPath() +
            " is damaged or was not made by this program, so nothing has been restored: " + why);
}

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// A decimal number of at most 20 digits that fits, or nothing.
std::optional<std::uint64_t> number(std::string_view text) {
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// A device's name ("NUL", "com1.txt"): the system opens the device for
// it, and an item made under it by name no program can open or remove.
bool isDeviceName(std::string_view step) {
    const std::string base = asciiLower(step.substr(0, step.find('.')));
    if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" ||
        base == "conout$")
        return true;
    return base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) &&
           base[3] >= '1' && base[3] <= '9';
}

// A path below a folder that stays below it: steps between "\" that are
// names, none empty, none "." or "..", nothing a name cannot hold (a drive's
// colon, a stream's, "/", the wildcards, a trailing dot or blank that the
// system drops, a device's name). A backup names only items that a setup
// made by name, so none of these.
bool staysBelow(std::string_view relative) {
    if (relative.empty())
        return false;
    for (const std::string_view step : pathSteps(relative, "\\")) {
        if (step.empty() || hasDotStep(step) || step.back() == '.' || step.back() == ' ' ||
            isDeviceName(step))
            return false;
        for (const char c : step) {
            if (static_cast<unsigned char>(c) < 32 ||
                std::string_view(":*?\"<>|/").find(c) != std::string_view::npos)
                return false;
        }
    }
    return true;
}

// The folded text of `relative` is `group` or lies below it.
bool isSameOrInside(const std::string& relative, const std::string& group) {
    return relative == group || (relative.size() > group.size() && relative[group.size()] == '\\' &&
                                 relative.compare(0, group.size(), group) == 0);
}

struct Manifest {
    std::string appName;
    std::string machine;
    std::string time;
    std::string version;
    std::vector<std::string> roots;
    std::vector<std::string> groups;
    std::vector<BackupPlan::Item> folders;
    std::vector<BackupPlan::Item> files;
    std::vector<std::uint64_t> sizes;
    std::vector<std::string> keys;
    std::vector<BackupPlan::Count> counts;
};

Manifest parseManifest(const BackupSource& source, const std::string& text) {
    Manifest manifest;
    const auto fail = [&](const std::string& why) { damaged(source, why); };
    std::size_t at = 0;
    std::size_t line = 0;
    bool ended = false;
    bool sizeDue = false;
    const auto item = [&](std::string_view rest, const char* kind) {
        const std::size_t space = rest.find(' ');
        const std::optional<std::uint64_t> root = number(rest.substr(0, space));
        if (space == std::string_view::npos || !root || *root >= manifest.roots.size())
            fail(std::string("a ") + kind + " line of manifest.txt names no root it gave.");
        return BackupPlan::Item{static_cast<std::size_t>(*root),
                                std::string(rest.substr(space + 1))};
    };
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            fail("manifest.txt ends in the middle of a line.");
        const std::string_view row(text.data() + at, end - at);
        at = end + 2;
        ++line;
        if (ended)
            fail("something follows the end of manifest.txt.");
        if (sizeDue && !startsWith(row, "Size: "))
            fail("a file in manifest.txt is given without its size.");
        if (line == 1) {
            if (row != manifestTitle)
                fail("its manifest.txt does not start as this program's do.");
        } else if (startsWith(row, "Application: ")) {
            manifest.appName = row.substr(13);
        } else if (startsWith(row, "Machine: ")) {
            manifest.machine = row.substr(9);
        } else if (startsWith(row, "Time: ")) {
            manifest.time = row.substr(6);
        } else if (startsWith(row, "Program version: ")) {
            manifest.version = row.substr(17);
        } else if (startsWith(row, "Root ")) {
            const std::size_t colon = row.find(": ");
            const std::optional<std::uint64_t> index =
                colon == std::string_view::npos ? std::nullopt : number(row.substr(5, colon - 5));
            if (!index || *index != manifest.roots.size())
                fail("the roots in manifest.txt are not numbered in order.");
            manifest.roots.emplace_back(row.substr(colon + 2));
        } else if (startsWith(row, "Group: ")) {
            manifest.groups.emplace_back(row.substr(7));
        } else if (startsWith(row, "Folder: ")) {
            manifest.folders.push_back(item(row.substr(8), "folder"));
        } else if (startsWith(row, "File: ")) {
            manifest.files.push_back(item(row.substr(6), "file"));
            sizeDue = true;
        } else if (startsWith(row, "Size: ")) {
            const std::optional<std::uint64_t> size = number(row.substr(6));
            if (!sizeDue || !size)
                fail("a size in manifest.txt belongs to no file, or is not a number.");
            manifest.sizes.push_back(*size);
            sizeDue = false;
        } else if (startsWith(row, "Key: ")) {
            if (!startsWith(row.substr(5), machineRoot))
                fail("a key in manifest.txt lies outside HKEY_LOCAL_MACHINE.");
            manifest.keys.emplace_back(row.substr(5 + machineRoot.size()));
        } else if (startsWith(row, "Count: ")) {
            const std::string_view rest = row.substr(7);
            const std::size_t arrow = rest.find(" -> ");
            const std::size_t bar = rest.find(" | ");
            const std::size_t bar2 =
                bar == std::string_view::npos ? bar : rest.find(" | ", bar + 3);
            const std::optional<std::uint64_t> before =
                arrow == std::string_view::npos ? std::nullopt : number(rest.substr(0, arrow));
            const std::optional<std::uint64_t> after =
                arrow == std::string_view::npos || bar == std::string_view::npos || bar < arrow
                    ? std::nullopt
                    : number(rest.substr(arrow + 4, bar - arrow - 4));
            if (!before || !after || bar2 == std::string_view::npos || *before > 0xFFFFFFFFu ||
                *after >= *before || !startsWith(rest.substr(bar + 3), machineRoot))
                fail("a count in manifest.txt is not one the run lowered.");
            manifest.counts.push_back(
                {std::string(rest.substr(bar + 3 + machineRoot.size(),
                                         bar2 - bar - 3 - machineRoot.size())),
                 std::string(rest.substr(bar2 + 3)), static_cast<std::uint32_t>(*before),
                 static_cast<std::uint32_t>(*after)});
        } else if (startsWith(row, "End of backup: ")) {
            const std::string expected = std::to_string(manifest.files.size()) + " files, " +
                                         std::to_string(manifest.folders.size()) + " folders, " +
                                         std::to_string(manifest.keys.size()) + " keys, " +
                                         std::to_string(manifest.counts.size()) + " counts";
            if (row.substr(15) != expected)
                fail("manifest.txt does not hold the items its last line counts.");
            ended = true;
        } else {
            fail("manifest.txt holds a line of no known kind.");
        }
    }
    if (!ended)
        fail("manifest.txt has no last line: the backup was cut short.");
    if (manifest.appName.empty() || manifest.roots.empty())
        fail("manifest.txt names no application or no install folder.");
    return manifest;
}

std::string copyOf(const BackupPlan::Item& item) {
    return backupCopyPath(item);
}

std::string targetOf(const BackupPlan& plan, const BackupPlan::Item& item) {
    return plan.roots[item.root] + (item.relative.empty() ? "" : "\\" + item.relative);
}

// Whether `path` names the key `parent` followed by one more step.
bool isEntryOf(Registry& registry, const std::string& path, std::string_view parent,
               std::string& name) {
    if (path.size() <= parent.size() + 1 || path[parent.size()] != '\\' ||
        !registry.sameName(std::string_view(path).substr(0, parent.size()), parent))
        return false;
    name = path.substr(parent.size() + 1);
    return !name.empty() && name.find('\\') == std::string::npos;
}

std::string textOf(const RegistryTypes::Value& value) {
    std::string text = value.data;
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

void judgeKeys(const BackupSource& source, const Manifest& manifest,
               const std::vector<BackupPlan::Key>& keys, Registry& registry) {
    const auto fail = [&](const std::string& why) { damaged(source, why); };
    if (keys.size() != manifest.keys.size())
        fail("registry.txt and manifest.txt do not name the same keys.");
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const BackupPlan::Key& key = keys[i];
        if (key.path != manifest.keys[i])
            fail("registry.txt and manifest.txt do not name the same keys.");
        std::string name;
        bool own = false;
        if (isEntryOf(registry, key.path, appPathsKeyPath, name)) {
            own = registry.sameName(name, manifest.appName);
        } else if (isEntryOf(registry, key.path, uninstallKeyPath, name)) {
            own = registry.sameName(name, manifest.appName);
            if (!own && !key.tree.empty()) {
                for (const auto& [valueName, value] : key.tree.front().values) {
                    if (registry.sameName(valueName, "AppToUninstall") &&
                        registry.sameName(textOf(value), manifest.appName))
                        own = true;
                }
            }
        }
        if (!own)
            fail("the key HKEY_LOCAL_MACHINE\\" + key.path + " is not one of " + manifest.appName +
                 "'s own entries.");
        if (key.tree.empty() || key.tree.front().path != key.path)
            fail("the key HKEY_LOCAL_MACHINE\\" + key.path + " is held without its own entry.");
        for (std::size_t e = 1; e < key.tree.size(); ++e) {
            const std::string& path = key.tree[e].path;
            const std::string parent = withoutLastStep(path);
            const bool afterParent =
                std::any_of(key.tree.begin(), key.tree.begin() + static_cast<std::ptrdiff_t>(e),
                            [&](const auto& entry) { return entry.path == parent; });
            if (!afterParent || path.size() == parent.size() + 1)
                fail("the key HKEY_LOCAL_MACHINE\\" + path + " does not lie below " + key.path +
                     " after its parent.");
        }
    }
}

} // namespace

std::vector<BackupSource::SizeAnswer>
BackupSource::fileSizes(const std::vector<std::string>& relatives) {
    std::vector<SizeAnswer> answers(relatives.size());
    for (std::size_t i = 0; i < relatives.size(); ++i) {
        try {
            answers[i].size = fileSize(relatives[i]);
        } catch (...) {
            answers[i].error = std::current_exception();
        }
        if (!answers[i].size)
            break;
    }
    return answers;
}

Backup readBackup(BackupSource& source, Registry& registry, FileSystemReader& fs, Shell& shell) {
    const auto fail = [&](const std::string& why) { damaged(source, why); };
    const std::optional<std::string> text = source.readFile("manifest.txt");
    if (!text)
        fail("it holds no manifest.txt, which a backup writes last: it was cut short, or this "
             "is not a backup's folder.");
    Manifest manifest = parseManifest(source, *text);
    // Another machine's backup puts back an application this one never had,
    // and raises counts of files it may not hold: a script that picked the
    // wrong folder of a share gets told so.
    if (const std::string here = source.machineName(); !sameAsciiCase(manifest.machine, here))
        fail("it was made on the machine \"" + manifest.machine + "\", and this one is \"" + here +
             "\".");

    Backup backup;
    backup.folder = source.folderPath();
    backup.appName = manifest.appName;
    backup.machine = manifest.machine;
    backup.time = manifest.time;
    backup.version = manifest.version;
    BackupPlan& plan = backup.plan;

    // The install folder passes the run's own tests: a folder below a root,
    // through no "." or ".." step, that no application owns alone.
    const std::string installFolder = withoutTrailingSeparators(manifest.roots[0]);
    if (!isFullyQualified(installFolder) || !isFolderBelowARoot(installFolder) ||
        hasDotStep(installFolder) || isDevicePathOrShareRoot(installFolder))
        fail("its install folder " + installFolder + " is not one a setup makes.");
    UninstallState judged;
    judged.cmdline = manifest.appName;
    judged.installdir = installFolder;
    try {
        refuseSharedFolder(judged, registry, shell);
    } catch (const Error& error) {
        fail(error.what());
    }
    plan.roots.push_back(installFolder);
    // The start-menu folders are this machine's: one the backup names that
    // is none of them holds nothing that may be put back.
    std::vector<std::string> menus{withoutTrailingSeparators(startMenuRoot)};
    for (std::string& folder : shell.programsFolders())
        menus.push_back(withoutTrailingSeparators(std::move(folder)));
    std::vector<bool> menuKnown(manifest.roots.size(), false);
    for (std::size_t root = 1; root < manifest.roots.size(); ++root) {
        const std::string named = withoutTrailingSeparators(manifest.roots[root]);
        for (const std::string& menu : menus)
            menuKnown[root] = menuKnown[root] || fs.foldCase(menu) == fs.foldCase(named);
        plan.roots.push_back(named);
    }
    std::vector<std::string> groups;
    for (const std::string& group : manifest.groups) {
        if (!group.empty() && !staysBelow(group))
            fail("its start-menu group \"" + group + "\" leaves the start menu.");
        groups.push_back(fs.foldCase(group));
    }
    const auto judgeItem = [&](const BackupPlan::Item& item, bool folder) {
        const std::string shown = targetOf(plan, item);
        if (item.root == 0) {
            if ((!item.relative.empty() || !folder) && !staysBelow(item.relative))
                fail("the item " + shown + " leaves the install folder.");
            return;
        }
        if (!menuKnown[item.root])
            fail("the item " + shown + " lies in " + plan.roots[item.root] +
                 ", which is no start-menu folder of this machine.");
        if (!staysBelow(item.relative))
            fail("the item " + shown + " leaves the start-menu group.");
        const std::string folded = fs.foldCase(item.relative);
        // An empty group is the root itself, whose own shortcuts a log may
        // name: only files directly in it.
        const bool inGroup = std::any_of(groups.begin(), groups.end(), [&](const auto& group) {
            if (group.empty())
                return !folder && folded.find('\\') == std::string::npos;
            return isSameOrInside(folded, group) || (folder && isSameOrInside(group, folded));
        });
        if (!inGroup)
            fail("the item " + shown + " lies outside the start-menu group the backup names.");
    };
    for (const BackupPlan::Item& folder : manifest.folders)
        judgeItem(folder, true);
    for (const BackupPlan::Item& file : manifest.files)
        judgeItem(file, false);
    plan.folders = manifest.folders;
    plan.files = manifest.files;
    backup.sizes = manifest.sizes;
    std::vector<std::string> copies;
    copies.reserve(plan.files.size());
    for (const BackupPlan::Item& file : plan.files)
        copies.push_back(copyOf(file));
    const std::vector<BackupSource::SizeAnswer> answers = source.fileSizes(copies);
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        if (answers[i].error)
            std::rethrow_exception(answers[i].error);
        const std::optional<std::uint64_t>& size = answers[i].size;
        if (!size)
            fail("the copy of " + targetOf(plan, plan.files[i]) +
                 " is missing, or is no file of the backup's own (a link, a folder or a second "
                 "name of another file).");
        if (*size != backup.sizes[i])
            fail("the copy of " + targetOf(plan, plan.files[i]) + " holds " +
                 std::to_string(*size) + " bytes, not the " + std::to_string(backup.sizes[i]) +
                 " the manifest gives.");
    }

    const std::optional<std::string> keys = source.readFile("registry.txt");
    if (!keys)
        fail("it holds no registry.txt.");
    try {
        plan.keys = keysFromText(*keys);
    } catch (const Error& error) {
        fail(error.what());
    }
    judgeKeys(source, manifest, plan.keys, registry);
    for (const BackupPlan::Count& count : manifest.counts) {
        if (!registry.sameName(count.key, sharedDllsKeyPath) || count.name.empty())
            fail("the count " + count.name + " in HKEY_LOCAL_MACHINE\\" + count.key +
                 " is no shared-use count.");
    }
    plan.counts = manifest.counts;
    return backup;
}

namespace {

// Opens a key that must be there; throws naming it otherwise.
ScopedKey openOrFail(Registry& registry, const std::string& path) {
    Registry::Key opened = 0;
    const Registry::Status status = registry.openKey(Registry::localMachine, path, opened);
    if (!status.isSuccess())
        throw Error("restore registry key", "HKEY_LOCAL_MACHINE\\" + path,
                    "Cannot open HKEY_LOCAL_MACHINE\\" + path + " (status " +
                        std::to_string(status.code()) + ") to put back what lies below it.");
    return ScopedKey(registry, opened);
}

[[noreturn]] void keyFailed(const std::string& path, Registry::Status status) {
    throw Error("restore registry key", "HKEY_LOCAL_MACHINE\\" + path,
                "Cannot restore HKEY_LOCAL_MACHINE\\" + path + " (status " +
                    std::to_string(status.code()) + ").");
}

// A key that cannot be asked about stops the restore: taken for missing,
// the application would seem unregistered and its counts be raised twice.
bool keyExists(Registry& registry, const std::string& path) {
    Registry::Key opened = 0;
    const Registry::Status status = registry.openKey(Registry::localMachine, path, opened);
    if (status.isNotFound())
        return false;
    if (!status.isSuccess())
        keyFailed(path, status);
    registry.closeKey(opened);
    return true;
}

void restoreKey(const BackupPlan::Key& key, Registry& registry, RestoreResult& result) {
    if (keyExists(registry, key.path)) {
        result.kept.push_back("registry key HKEY_LOCAL_MACHINE\\" + key.path);
        return;
    }
    for (const BackupPlan::Key::Entry& entry : key.tree) {
        const std::string parentPath = withoutLastStep(entry.path);
        const ScopedKey parent = openOrFail(registry, parentPath);
        Registry::Key made = 0;
        const Registry::Status status =
            registry.createSubKey(parent.get(), entry.path.substr(parentPath.size() + 1), made);
        if (status.isAlreadyExists()) {
            result.kept.push_back("registry key HKEY_LOCAL_MACHINE\\" + entry.path);
            return;
        }
        if (!status.isSuccess())
            keyFailed(entry.path, status);
        const ScopedKey held(registry, made);
        ++result.restored;
        for (const auto& [name, value] : entry.values) {
            const Registry::Status written = registry.writeValue(held.get(), name, value);
            if (!written.isSuccess())
                keyFailed(entry.path + "\\" + name, written);
        }
    }
}

void raiseCount(const BackupPlan::Count& count, Registry& registry, RestoreResult& result) {
    Registry::Key opened = 0;
    Registry::Status status = registry.openKey(Registry::localMachine, count.key, opened);
    if (status.isNotFound()) {
        const std::string parentPath = withoutLastStep(count.key);
        const ScopedKey parent = openOrFail(registry, parentPath);
        status =
            registry.createSubKey(parent.get(), count.key.substr(parentPath.size() + 1), opened);
    }
    if (!status.isSuccess())
        keyFailed(count.key, status);
    const ScopedKey key(registry, opened);
    Registry::Value value;
    const Registry::Status read = registry.readValue(key.get(), count.name, value);
    if (!read.isSuccess() && !read.isNotFound())
        keyFailed(count.key + "\\" + count.name, read);
    std::uint64_t now = 0;
    if (read.isSuccess()) {
        // Not a count that a setup wrote: raising a number guessed from it
        // would corrupt it.
        if (value.type != Registry::typeDword || value.data.size() != 4) {
            result.kept.push_back("shared-use count " + count.name + ", which is not a number");
            return;
        }
        const auto stored = static_cast<std::int32_t>(dwordFromBytes(value.data));
        now = stored < 0 ? 0 : static_cast<std::uint64_t>(stored);
    }
    const std::uint64_t raised = std::min<std::uint64_t>(
        now + (count.before - count.after),
        static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()));
    const Registry::Status set =
        registry.setDwordValue(key.get(), count.name, static_cast<std::uint32_t>(raised));
    if (!set.isSuccess())
        keyFailed(count.key + "\\" + count.name, set);
    ++result.restored;
}

} // namespace

RestoreResult restoreBackup(const Backup& backup, Registry& registry, FileSystem& fs) {
    const BackupPlan& plan = backup.plan;
    RestoreResult result;
    fs.setRemovalRoots(plan.roots);

    std::vector<BackupPlan::Item> folders = plan.folders;
    const auto depth = [](const std::string& relative) {
        return relative.empty()
                   ? std::ptrdiff_t{0}
                   : std::count(relative.begin(), relative.end(), '\\') + std::ptrdiff_t{1};
    };
    std::stable_sort(folders.begin(), folders.end(), [&](const auto& a, const auto& b) {
        return a.root != b.root ? a.root < b.root : depth(a.relative) < depth(b.relative);
    });
    for (const BackupPlan::Item& folder : folders) {
        if (fs.createFolder(targetOf(plan, folder)) == Creation::created)
            ++result.restored;
    }
    for (const BackupPlan::Item& file : plan.files) {
        const std::string target = targetOf(plan, file);
        if (fs.copyNewFile(backup.folder + "\\" + copyOf(file), target) == Creation::created)
            ++result.restored;
        else
            result.kept.push_back("file " + target);
    }

    const std::string registration = std::string(appPathsKeyPath) + "\\" + backup.appName;
    const auto isRegistration = [&](const BackupPlan::Key& key) {
        return registry.sameName(key.path, registration);
    };
    for (const BackupPlan::Key& key : plan.keys) {
        if (!isRegistration(key))
            restoreKey(key, registry, result);
    }
    const bool registered = keyExists(registry, registration);
    for (const BackupPlan::Count& count : plan.counts) {
        if (registered)
            result.kept.push_back("shared-use count " + count.name + ", as " + backup.appName +
                                  " is registered now and was counted again");
        else
            raiseCount(count, registry, result);
    }
    for (const BackupPlan::Key& key : plan.keys) {
        if (isRegistration(key))
            restoreKey(key, registry, result);
    }
    return result;
}

} // namespace uninst
