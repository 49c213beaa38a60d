#include "engine/start_menu_groups.h"

#include "engine/ascii_case.h"
#include "engine/error.h"
#include "engine/folder_walk.h"
#include "engine/path_safety.h"
#include "engine/shared_folders.h"
#include "engine/system_paths.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace uninst {

namespace {

// Folders every system puts into the Programs folders for itself, under
// their English names; the shell names Startup and Administrative Tools of
// localised systems as well. Another application's setup may have put its
// shortcuts into them, so they are never removed, only emptied of this
// application's shortcuts.
constexpr std::array<std::string_view, 14> systemFolderNames = {
    "Startup",
    "Administrative Tools",
    "Accessories",
    "System Tools",
    "Maintenance",
    "Accessibility",
    "Ease of Access",
    "Entertainment",
    "Communications",
    "Windows Accessories",
    "Windows Administrative Tools",
    "Windows Ease of Access",
    "Windows PowerShell",
    "Windows System",
};

bool separator(char c) {
    return c == '\\' || c == '/';
}

// Same text, ASCII letters compared without regard to case and "/" equal to
// "\". Other characters compare exactly: names the tests and setups use fold
// in ASCII, and a miss only leaves a shortcut or folder in place.
bool samePath(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (separator(a[i]) && separator(b[i]))
            continue;
        if (asciiUpper(a[i]) != asciiUpper(b[i]))
            return false;
    }
    return true;
}

std::string_view withoutTrailingSeparators(std::string_view path) {
    while (!path.empty() && separator(path.back()))
        path.remove_suffix(1);
    return path;
}

// The steps of `path` below `folder`, or nothing when it is not strictly
// inside it.
std::optional<std::string_view> below(std::string_view path, std::string_view folder) {
    folder = withoutTrailingSeparators(folder);
    if (folder.empty() || path.size() <= folder.size() + 1 || !separator(path[folder.size()]) ||
        !samePath(path.substr(0, folder.size()), folder))
        return std::nullopt;
    return withoutTrailingSeparators(path.substr(folder.size() + 1));
}

std::string_view lastName(std::string_view path) {
    const auto at = path.find_last_of("\\/");
    return at == std::string_view::npos ? path : path.substr(at + 1);
}

enum class ShortcutKind { none, shellLink, internet };

ShortcutKind kindOf(std::string_view path) {
    const std::string_view name = lastName(path);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return ShortcutKind::none;
    const std::string_view extension = name.substr(dot);
    if (samePath(extension, ".lnk") || samePath(extension, ".pif"))
        return ShortcutKind::shellLink;
    if (samePath(extension, ".url"))
        return ShortcutKind::internet;
    return ShortcutKind::none;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
            hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i] == '/' ? '\\' : text[i];
        }
    }
    return out;
}

bool startsWithText(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && samePath(text.substr(0, prefix.size()), prefix);
}

// The file: URL as a path: "file:///C:/App/a.exe" and "file://C:/App/a.exe"
// name a drive path, "file://server/share/a.exe" a share.
std::optional<std::string> fileUrlPath(std::string_view url) {
    constexpr std::string_view scheme = "file:";
    if (!startsWithText(url, scheme))
        return std::nullopt;
    std::string_view rest = url.substr(scheme.size());
    std::size_t slashes = 0;
    while (slashes < rest.size() && separator(rest[slashes]))
        ++slashes;
    rest.remove_prefix(slashes);
    const bool drive =
        rest.size() >= 2 && (rest[1] == ':' || rest[1] == '|') && isAsciiLetter(rest[0]);
    if (drive) {
        std::string path = percentDecoded(rest);
        path[1] = ':';
        return path;
    }
    if (slashes == 2 && !rest.empty())
        return "\\\\" + percentDecoded(rest);
    return std::nullopt;
}

std::size_t depthOf(std::string_view steps) {
    std::size_t depth = 0;
    for (const char c : steps)
        depth += separator(c) ? 1 : 0;
    return depth;
}

// A caption names a file in its group's folder: one step, which a file could
// be named.
bool isCaption(std::string_view caption) {
    return caption.find_first_of("\\/") == std::string_view::npos &&
           isGroupInsideStartMenu(caption);
}

class GroupCleaner {
public:
    GroupCleaner(const UninstallState& state, FileSystem& fs, Shell& shell)
        : state_(state), fs_(fs), shell_(shell) {
        addRoot(std::string(withoutTrailingSeparators(startMenuRoot)));
        for (const std::string& root : shell.programsFolders())
            addRoot(std::string(withoutTrailingSeparators(root)));
        systemFolders_ = shell.systemFolders();
    }

    void run() {
        // Steps that name a folder below whichever root holds it.
        std::vector<std::string_view> anywhere;
        if (!state_.groupname.empty())
            anywhere.push_back(state_.groupname);
        for (const std::string& folder : state_.createdfolders) {
            if (const auto steps = classicStartMenuSteps(folder))
                anywhere.push_back(*steps);
        }
        for (const auto& shortcut : state_.shortcuts)
            anywhere.push_back(shortcut.group);

        for (const std::string& root : roots_) {
            std::vector<std::string_view> steps = anywhere;
            for (const std::string& folder : state_.createdfolders) {
                if (const auto inside = below(folder, root))
                    steps.push_back(*inside);
            }
            cleanRoot(root, steps);
        }
        if (!failures_.empty())
            throw Error("remove the start-menu group", "", failures_);
    }

private:
    void addRoot(std::string root) {
        if (root.empty())
            return;
        for (const std::string& known : roots_) {
            if (samePath(known, root))
                return;
        }
        roots_.push_back(std::move(root));
    }

    void fail(const Error& error) {
        failures_.append(failures_.empty() ? "" : "\n").append(error.what());
    }

    // The steps as the system reads them ("Tools " is the folder Tools),
    // resolved once below the fixed root: nothing for steps that would leave
    // a root, that no folder could be named, or that cannot be resolved.
    const std::optional<std::string>& resolved(std::string_view steps) {
        std::string key = asciiUpper(steps);
        if (const auto known = resolved_.find(key); known != resolved_.end())
            return known->second;
        std::optional<std::string> result;
        if (isGroupInsideStartMenu(steps)) {
            const std::string root = startMenuRoot;
            try {
                const std::string full = fs_.fullPath(root + std::string(steps));
                if (isStrictlyInside(full, root))
                    result = full.substr(root.size());
            } catch (const Error& error) {
                fail(error);
            }
        }
        return resolved_.emplace(std::move(key), std::move(result)).first->second;
    }

    void cleanRoot(const std::string& root, const std::vector<std::string_view>& written) {
        named_.clear();
        namedShortcuts_.clear();
        listings_.clear();
        std::vector<std::pair<std::size_t, std::string>> groups;
        for (const std::string_view steps : written) {
            const auto& inside = resolved(steps);
            if (!inside)
                continue;
            std::string folder = root + "\\" + *inside;
            if (named_.insert(asciiUpper(folder)).second)
                groups.emplace_back(depthOf(*inside), std::move(folder));
        }
        for (const auto& shortcut : state_.shortcuts) {
            const auto& inside = resolved(shortcut.group);
            if (inside && isCaption(shortcut.caption))
                namedShortcuts_.insert(asciiUpper(root + "\\" + *inside + "\\" + shortcut.caption));
        }
        try {
            if (groups.empty() || !fs_.folderExists(root))
                return;
        } catch (const Error& error) {
            fail(error);
            return;
        }
        // Outer folders first: one walk through a group settles the folders
        // the log named inside it, and a folder found missing settles every
        // one below it.
        std::stable_sort(groups.begin(), groups.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::set<std::string> settled;
        for (const auto& [depth, folder] : groups) {
            if (isSettled(settled, root, folder))
                continue;
            try {
                std::string reached;
                if (find(root, folder.substr(root.size() + 1), reached))
                    clean(reached);
                settled.insert(asciiUpper(reached));
            } catch (const Error& error) {
                fail(error);
            }
        }
    }

    // Whether `folder` or a folder above it, below the root, is settled.
    static bool isSettled(const std::set<std::string>& settled, const std::string& root,
                          const std::string& folder) {
        const std::string upper = asciiUpper(folder);
        for (std::size_t at = upper.find('\\', root.size() + 1); at != std::string::npos;
             at = upper.find('\\', at + 1)) {
            if (settled.count(upper.substr(0, at)) != 0)
                return true;
        }
        return settled.count(upper) != 0;
    }

    // Reaches the folder one step at a time, so that no link on the way is
    // entered, and sets `reached` to it as the file system spells it. When a
    // step is missing or is a link, sets `reached` to that step's path and
    // answers false. The folders on the way are listed once for all groups:
    // a walk through a group changes only what lies inside it, and every
    // folder there is settled by then.
    bool find(const std::string& root, std::string_view steps, std::string& reached) {
        reached = root;
        for (const std::string_view step : pathSteps(steps)) {
            std::string key = asciiUpper(reached);
            auto listing = listings_.find(key);
            if (listing == listings_.end())
                listing = listings_.emplace(std::move(key), fs_.listFolder(reached)).first;
            const FolderListing::SubFolder* next = nullptr;
            for (const auto& sub : listing->second.subFolders) {
                if (samePath(lastName(sub.path), step))
                    next = &sub;
            }
            if (next == nullptr || next->isLink) {
                reached.append("\\").append(step);
                return false;
            }
            reached = next->path;
        }
        return true;
    }

    // Removes this application's shortcuts in `top` and below it, then each
    // folder left empty that this emptied or the log named, deepest first.
    void clean(const std::string& top) {
        struct Group {
            std::string path;
            std::vector<std::string> files;
            bool remains = false; // something stays in it
            bool removed = false; // this run removed something from it
        };
        const auto enter = [&](const std::string& path) -> std::optional<EnteredFolder<Group>> {
            try {
                FolderListing listing = fs_.listFolder(path);
                return EnteredFolder<Group>{Group{path, std::move(listing.files)},
                                            std::move(listing.subFolders)};
            } catch (const Error& error) {
                fail(error);
                return std::nullopt;
            }
        };
        std::optional<EnteredFolder<Group>> first = enter(top);
        if (!first)
            return;
        walkPostOrder(
            std::move(*first),
            [&](Group& parent, const FolderListing::SubFolder& sub) {
                std::optional<EnteredFolder<Group>> child;
                if (!sub.isLink)
                    child = enter(sub.path);
                if (!child)
                    parent.remains = true;
                return child;
            },
            [&](Group& folder, Group* parent) {
                for (const std::string& file : folder.files) {
                    if (isOurShortcut(file) && deleteShortcut(file))
                        folder.removed = true;
                    else
                        folder.remains = true;
                }
                // A folder the log did not name and this run did not empty
                // may be another application's, even when it is empty.
                const bool named = named_.count(asciiUpper(folder.path)) != 0;
                const bool gone =
                    !folder.remains && (named || folder.removed) && !systemOwned(folder.path) &&
                    registeredFolderIn(state_, folder.path).empty() && removeFolder(folder.path);
                const bool removed = folder.removed || gone;
                if (parent != nullptr) {
                    parent->remains = parent->remains || !gone;
                    parent->removed = parent->removed || removed;
                }
            });
    }

    // The one call first; when it refuses, the folder is looked at the
    // ordinary way, as the folder sweep does.
    bool removeFolder(const std::string& folder) {
        if (fs_.removeEmptyFolder(folder))
            return true;
        try {
            if (!fs_.folderExists(folder))
                return true;
            const FolderListing listing = fs_.listFolder(folder);
            if (!listing.files.empty() || !listing.subFolders.empty())
                return false;
            fs_.deleteFolder(folder);
            return true;
        } catch (const Error& error) {
            fail(error);
            return false;
        }
    }

    // A shortcut that refuses is told at the end; the others still go.
    bool deleteShortcut(const std::string& file) {
        try {
            return fs_.deleteFile(file) == Removal::removed;
        } catch (const Error& error) {
            fail(error);
            return false;
        }
    }

    bool isOurShortcut(const std::string& file) {
        const ShortcutKind kind = kindOf(file);
        if (kind == ShortcutKind::none)
            return false;
        // The kind comes from the name's extension, so the last dot is in
        // the name.
        if (namedShortcuts_.count(asciiUpper(std::string_view(file).substr(0, file.rfind('.')))) !=
            0)
            return true;
        std::optional<std::string> target;
        if (kind == ShortcutKind::shellLink) {
            target = shell_.shortcutTarget(file);
        } else {
            // One that cannot be read cannot be shown to be ours.
            try {
                target = internetShortcutTarget(fs_.readTextFile(file));
            } catch (const Error&) {
                return false;
            }
        }
        return target && !state_.installdir.empty() && leadsInto(*target, state_.installdir) &&
               !leadsIntoAnotherApplication(*target);
    }

    // Another application registered inside the install folder keeps its
    // folder, so its shortcuts stay too, even those in a group of ours.
    bool leadsIntoAnotherApplication(std::string_view target) const {
        for (const std::string& other : state_.otherApplications) {
            if (leadsInto(target, other))
                return true;
        }
        for (const std::string& registered : state_.registeredFolders) {
            if (below(registered, state_.installdir) && leadsInto(target, registered))
                return true;
        }
        return false;
    }

    bool systemOwned(const std::string& folder) const {
        for (const std::string_view name : systemFolderNames) {
            if (samePath(lastName(folder), name))
                return true;
        }
        for (const std::string& owned : systemFolders_) {
            if (samePath(withoutTrailingSeparators(owned), folder))
                return true;
        }
        for (const std::string& root : roots_) {
            if (samePath(root, folder))
                return true;
        }
        return false;
    }

    const UninstallState& state_;
    FileSystem& fs_;
    Shell& shell_;
    std::vector<std::string> roots_;
    std::vector<std::string> systemFolders_;
    std::map<std::string, std::optional<std::string>> resolved_;
    std::map<std::string, FolderListing> listings_; // upper-cased folder -> listing
    // Upper-cased, for the root being cleaned: the folders the log names,
    // and its named shortcuts' paths without their extensions.
    std::set<std::string> named_;
    std::set<std::string> namedShortcuts_;
    std::string failures_;
};

} // namespace

std::optional<std::string_view> classicStartMenuSteps(std::string_view folder) {
    constexpr std::string_view windows = "WINDOWS";
    constexpr std::string_view programs = "\\Start Menu\\Programs\\";
    const bool drive = folder.size() > 3 && folder[1] == ':' && folder[2] == '\\';
    if (!drive || folder.substr(3, windows.size()) != windows)
        return std::nullopt;
    const std::string_view rest = folder.substr(3 + windows.size());
    if (rest.size() <= programs.size() || !samePath(rest.substr(0, programs.size()), programs))
        return std::nullopt;
    return rest.substr(programs.size());
}

void removeStartMenuGroups(const UninstallState& state, FileSystem& fs, Shell& shell) {
    GroupCleaner(state, fs, shell).run();
}

std::optional<std::string> internetShortcutTarget(std::string_view text) {
    bool inSection = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.front() == '[') {
            inSection = samePath(line, "[InternetShortcut]");
            continue;
        }
        constexpr std::string_view key = "URL=";
        if (inSection && startsWithText(line, key))
            return fileUrlPath(line.substr(key.size()));
    }
    return std::nullopt;
}

bool leadsInto(std::string_view target, std::string_view folder) {
    folder = withoutTrailingSeparators(folder);
    if (folder.empty() || hasDotStep(target))
        return false;
    return samePath(withoutTrailingSeparators(target), folder) || below(target, folder).has_value();
}

} // namespace uninst
