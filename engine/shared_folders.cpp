#include "engine/shared_folders.h"

#include "engine/ascii_case.h"
#include "engine/error.h"
#include "engine/installdir.h"
#include "engine/path_safety.h"
#include "engine/system_paths.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace uninst {

namespace {

// The steps of a path one at a time, as folderSteps gives them, without
// building their list: start-up compares its folder with every shared
// folder, and the inventory starts up once for every application.
class StepCursor {
public:
    explicit StepCursor(std::string_view path) : rest_(path) {}

    // The next step; false when there is none.
    bool next(std::string_view& step) {
        while (!done_) {
            const std::size_t end = rest_.find_first_of("\\/");
            step = rest_.substr(0, end);
            if (end == std::string_view::npos)
                done_ = true;
            else
                rest_.remove_prefix(end + 1);
            while (!step.empty() && (step.back() == '.' || step.back() == ' '))
                step.remove_suffix(1);
            if (!step.empty())
                return true;
        }
        return false;
    }

private:
    std::string_view rest_;
    bool done_ = false;
};

template <typename Same>
bool sameOrBelow(std::string_view inner, std::string_view outer, Same&& same) {
    StepCursor in(inner);
    StepCursor out(outer);
    std::string_view innerStep;
    std::string_view outerStep;
    bool any = false;
    while (out.next(outerStep)) {
        any = true;
        if (!in.next(innerStep) || !same(innerStep, outerStep))
            return false;
    }
    return any;
}

// One name of the resolved install folder against one shared folder: the
// message that refuses it, or nothing.
std::optional<std::string> refusal(Registry& registry, const UninstallState& state,
                                   const std::string& folder, const SharedFolder& shared) {
    if (!isSameOrBelow(registry, shared.path, folder))
        return std::nullopt;
    std::string intro = "The install folder of " + state.cmdline + ", " + state.installdir + ", ";
    if (folder != state.installdir)
        intro += "which is " + folder + ", ";
    if (isSameOrBelow(registry, folder, shared.path))
        return intro + "is " + shared.role +
               ", shared by the system and other applications: the uninstaller will not list or "
               "remove it.";
    return intro + "holds " + shared.path + ", " + shared.role +
           ", which the system and other applications share: the uninstaller will not list or "
           "remove it.";
}

// The folder below `root` whose steps are `steps`, as the listing spells it,
// each step found by the registry's comparison; nothing when a step is
// missing or is a link, whose contents the listing never enters anyway.
std::optional<std::string> spelledBelow(Registry& registry, FileSystem& fs, const std::string& root,
                                        const std::vector<std::string_view>& steps) {
    std::string folder = root;
    for (const std::string_view step : steps) {
        const FolderListing listing = fs.listFolder(folder);
        const FolderListing::SubFolder* next = nullptr;
        for (const FolderListing::SubFolder& sub : listing.subFolders) {
            const std::vector<std::string_view> name = folderSteps(sub.path);
            if (!name.empty() && registry.sameName(name.back(), step))
                next = &sub;
        }
        if (next == nullptr || next->isLink)
            return std::nullopt;
        folder = next->path;
    }
    return folder;
}

} // namespace

std::vector<std::string_view> folderSteps(std::string_view path) {
    std::vector<std::string_view> steps;
    for (std::string_view step : pathSteps(path)) {
        while (!step.empty() && (step.back() == '.' || step.back() == ' '))
            step.remove_suffix(1);
        if (!step.empty())
            steps.push_back(step);
    }
    return steps;
}

bool isSameOrBelow(Registry& registry, std::string_view inner, std::string_view outer) {
    return sameOrBelow(inner, outer, [&](std::string_view a, std::string_view b) {
        return registry.sameName(a, b);
    });
}

bool isSameOrBelowAscii(std::string_view inner, std::string_view outer) {
    return sameOrBelow(inner, outer, sameAsciiCase);
}

void refuseSharedFolder(const UninstallState& state, Registry& registry, Shell& shell) {
    const std::vector<SharedFolder> shared = shell.sharedFolders();
    // "C:\PROGRA~1", or a path through "C:\Documents and Settings", is the
    // shared folder under another name: it is judged by every name.
    std::vector<std::string> names{state.installdir};
    for (std::string& name : shell.folderNames(state.installdir)) {
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
    }
    for (const std::string& name : names) {
        // The folder itself first: "C:\Program Files" is refused as the
        // Program Files folder, not as the holder of its Common Files. Both
        // are shared folders the install folder holds, so one comparison
        // with each shared folder finds them: the inventory judges
        // thousands of install folders against dozens of shared ones.
        const SharedFolder* held = nullptr;
        for (const SharedFolder& folder : shared) {
            if (!isSameOrBelow(registry, folder.path, name))
                continue;
            if (isSameOrBelow(registry, name, folder.path))
                throw Error("remove the install folder", name,
                            *refusal(registry, state, name, folder));
            if (held == nullptr)
                held = &folder;
        }
        if (held != nullptr)
            throw Error("remove the install folder", name, *refusal(registry, state, name, *held));
    }
}

namespace {

Error unreadable(const std::string& what, Registry::Status status) {
    return Error("read", what,
                 "Cannot read " + what + " (" + std::to_string(status.code()) +
                     "), so the uninstaller cannot tell another application's folder from this "
                     "one's: nothing has been changed.");
}

const std::string appPathsList = "the list of registered applications (App Paths)";

// The folder of one App Paths entry, from the read of its default value, or
// nothing when it names none that a setup could have made. Throws when the
// entry cannot be read.
std::optional<std::string> entryFolder(FileSystem& fs, Shell* shell, const std::string& name,
                                       const Registry::PathValue& read) {
    const Registry::Status status = read.status;
    if (!read.opened) {
        // Gone since the list was read: nobody's folder any more. One
        // that even an administrator may not open, whose name the code
        // page cannot hold, or whose path is too long for the 8-bit calls
        // to open, is the system's own or no setup's.
        if (status.isNotFound() || status.isMoreData() ||
            status == Registry::Status::accessDenied() ||
            status == Registry::Status::noUnicodeTranslation())
            return std::nullopt;
        throw unreadable("the registration of " + name, status);
    }
    if (status.isNotFound() || status == Registry::Status::noUnicodeTranslation())
        return std::nullopt;
    if (!status.isSuccess())
        throw unreadable("the registration of " + name, status);
    const Registry::Value& value = read.value;
    if (value.type != Registry::typeSz && value.type != Registry::typeExpandSz)
        return std::nullopt;
    std::string text = value.data.substr(0, value.data.find('\0'));
    if (value.type == Registry::typeExpandSz && shell != nullptr)
        text = shell->expandEnvironment(text);
    std::string folder = registeredFolder(text);
    // A folder read against a current folder is nobody's in particular.
    if (!isFullyQualified(folder))
        return std::nullopt;
    // A step back is the system's to resolve, as it resolves the
    // install folder; what it cannot resolve names no folder.
    if (hasDotStep(folder)) {
        try {
            folder = fs.fullPath(folder);
        } catch (const Error&) {
            return std::nullopt;
        }
    }
    return folder;
}

} // namespace

RegisteredApplications readRegisteredApplications(Registry& registry, FileSystem& fs,
                                                  Shell* shell) {
    RegisteredApplications registered;
    ScopedKey list(registry);
    if (!list.open(Registry::localMachine, appPathsKeyPath)) {
        registered.unreadable = unreadable(appPathsList, Registry::Status::notFound());
        return registered;
    }
    // The names first, then every entry's value in one request, which the
    // registry may answer several entries at a time; the entries are then
    // judged in the list's order, as one by one.
    std::vector<std::string> paths;
    for (std::uint32_t index = 0;; ++index) {
        std::string name;
        const Registry::Status status = registry.enumKey(list.get(), index, name);
        if (status.isNoMoreItems())
            break;
        if (!status.isSuccess()) {
            registered.unreadable = unreadable(appPathsList, status);
            break;
        }
        paths.push_back(std::string(appPathsKeyPath) + "\\" + name);
        registered.entries.emplace_back().name = std::move(name);
    }
    const std::vector<Registry::PathValue> reads =
        registry.readValueOfEach(Registry::localMachine, paths, "");
    for (std::size_t i = 0; i < registered.entries.size(); ++i) {
        RegisteredApplications::Entry& entry = registered.entries[i];
        try {
            entry.folder = entryFolder(fs, shell, entry.name, reads[i]);
            if (entry.folder)
                entry.folderStepCount = folderSteps(*entry.folder).size();
        } catch (const Error& error) {
            entry.unreadable = error;
        }
    }
    return registered;
}

void indexByName(RegisteredApplications& registered, Registry& registry) {
    registered.byName.resize(registered.entries.size());
    for (std::size_t i = 0; i < registered.byName.size(); ++i)
        registered.byName[i] = i;
    std::stable_sort(registered.byName.begin(), registered.byName.end(),
                     [&](std::size_t a, std::size_t b) {
                         return registry.compareNames(registered.entries[a].name,
                                                      registered.entries[b].name) < 0;
                     });
}

void placeOtherApplications(UninstallState& state, Registry& registry, FileSystem& fs,
                            const RegisteredApplications& registered, bool keepRegisteredFolders) {
    // The application's own entries: found in the index when there is one,
    // by the same rule the comparison below applies to each name otherwise.
    std::vector<bool> own;
    if (!registered.byName.empty()) {
        own.assign(registered.entries.size(), false);
        const auto nameOf = [&](std::size_t i) -> const std::string& {
            return registered.entries[i].name;
        };
        auto at = std::lower_bound(registered.byName.begin(), registered.byName.end(),
                                   state.cmdline, [&](std::size_t i, const std::string& name) {
                                       return registry.compareNames(nameOf(i), name) < 0;
                                   });
        for (; at != registered.byName.end() &&
               registry.compareNames(nameOf(*at), state.cmdline) == 0;
             ++at)
            own[*at] = true;
    }
    const std::vector<std::string_view> installSteps = folderSteps(state.installdir);
    for (std::size_t index = 0; index < registered.entries.size(); ++index) {
        const RegisteredApplications::Entry& entry = registered.entries[index];
        if (own.empty() ? registry.sameName(entry.name, state.cmdline) : own[index])
            continue;
        if (entry.unreadable)
            throw *entry.unreadable;
        if (!entry.folder)
            continue;
        const std::string& folder = *entry.folder;
        // Counted once for every placement: most folders are no deeper than
        // the install folder, and then cannot lie inside it.
        if (entry.folderStepCount > installSteps.size() &&
            isSameOrBelow(registry, folder, state.installdir)) {
            const std::vector<std::string_view> steps = folderSteps(folder);
            const std::vector<std::string_view> below(steps.begin() + installSteps.size(),
                                                      steps.end());
            if (auto spelled = spelledBelow(registry, fs, state.installdir, below);
                spelled && !isOtherApplication(state, *spelled))
                state.otherApplications.push_back(std::move(*spelled));
        }
        if (keepRegisteredFolders)
            state.registeredFolders.push_back(folder);
    }
    if (registered.unreadable)
        throw *registered.unreadable;
}

void findOtherApplications(UninstallState& state, Registry& registry, FileSystem& fs,
                           Shell* shell) {
    placeOtherApplications(state, registry, fs, readRegisteredApplications(registry, fs, shell));
}

bool isOtherApplication(const UninstallState& state, std::string_view path) {
    for (const std::string& other : state.otherApplications) {
        if (sameAsciiCase(other, path))
            return true;
    }
    return false;
}

std::string registeredFolderIn(const UninstallState& state, std::string_view folder) {
    for (const std::string& registered : state.registeredFolders) {
        if (isSameOrBelowAscii(registered, folder))
            return registered;
    }
    return {};
}

} // namespace uninst
