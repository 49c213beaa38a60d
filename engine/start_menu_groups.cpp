#include "engine/start_menu_groups.h"

#include "engine/ascii_case.h"
#include "engine/error.h"
#include "engine/path_safety.h"
#include "engine/shared_folders.h"

#include <array>
#include <cstddef>
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
    const bool drive = rest.size() >= 2 && (rest[1] == ':' || rest[1] == '|') &&
                       asciiUpper(rest[0]) >= 'A' && asciiUpper(rest[0]) <= 'Z';
    if (drive) {
        std::string path = percentDecoded(rest);
        path[1] = ':';
        return path;
    }
    if (slashes == 2 && !rest.empty())
        return "\\\\" + percentDecoded(rest);
    return std::nullopt;
}

class GroupCleaner {
public:
    GroupCleaner(const UninstallState& state, FileSystem& fs, Shell& shell)
        : state_(state), installdir_(state.installdir), fs_(fs), shell_(shell),
          roots_(shell.programsFolders()), systemFolders_(shell.systemFolders()) {}

    void run(const UninstallState& state) {
        std::vector<std::pair<std::string, std::string>> groups;
        const auto add = [&](const std::string& root, std::string_view steps) {
            if (!isGroupInsideStartMenu(steps))
                return;
            for (const auto& [knownRoot, knownSteps] : groups) {
                if (samePath(knownRoot, root) && samePath(knownSteps, steps))
                    return;
            }
            groups.emplace_back(root, steps);
        };
        for (const std::string& root : roots_) {
            if (!state.groupname.empty())
                add(root, state.groupname);
            for (const std::string& folder : state.createdfolders) {
                if (const auto steps = below(folder, root))
                    add(root, *steps);
            }
        }
        for (const auto& [root, steps] : groups) {
            if (const auto folder = find(root, steps))
                clean(*folder, true);
        }
        if (!failures_.empty())
            throw Error(failures_);
    }

private:
    // The group folder as the file system spells it, reached one step at a
    // time so that no link on the way is entered. Nothing when a step is
    // missing or is a link.
    std::optional<std::string> find(const std::string& root, std::string_view steps) {
        if (!fs_.folderExists(root))
            return std::nullopt;
        std::string folder = root;
        for (const std::string_view step : pathSteps(steps)) {
            const FolderListing listing = fs_.listFolder(folder);
            const FolderListing::SubFolder* next = nullptr;
            for (const auto& sub : listing.subFolders) {
                if (samePath(lastName(sub.path), step))
                    next = &sub;
            }
            if (next == nullptr || next->isLink)
                return std::nullopt;
            folder = next->path;
        }
        return folder;
    }

    // Removes this application's shortcuts in `folder` and below, then the
    // folders this left empty, and `folder` itself when the log named it and
    // it is empty. Says whether anything was removed.
    bool clean(const std::string& folder, bool named) {
        const FolderListing listing = fs_.listFolder(folder);
        bool removed = false;
        for (const auto& sub : listing.subFolders) {
            if (!sub.isLink)
                removed = clean(sub.path, false) || removed;
        }
        for (const std::string& file : listing.files) {
            if (isOurShortcut(file) && deleteShortcut(file))
                removed = true;
        }
        // A folder the log did not name and this run did not empty may be
        // another application's, even when it is empty.
        if ((named || removed) && !systemOwned(folder) &&
            registeredFolderIn(state_, folder).empty())
            removed = fs_.removeEmptyFolder(folder) || removed;
        return removed;
    }

    // A shortcut that refuses is told at the end; the others still go.
    bool deleteShortcut(const std::string& file) {
        try {
            return fs_.deleteFile(file) == Removal::removed;
        } catch (const Error& error) {
            failures_.append(failures_.empty() ? "" : "\n").append(error.what());
            return false;
        }
    }

    bool isOurShortcut(const std::string& file) {
        std::optional<std::string> target;
        switch (kindOf(file)) {
        case ShortcutKind::none:
            return false;
        case ShortcutKind::shellLink:
            target = shell_.shortcutTarget(file);
            break;
        case ShortcutKind::internet:
            // One that cannot be read cannot be shown to be ours.
            try {
                target = internetShortcutTarget(fs_.readTextFile(file));
            } catch (const Error&) {
                return false;
            }
            break;
        }
        return target && leadsInto(*target, installdir_);
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
        return false;
    }

    const UninstallState& state_;
    const std::string& installdir_;
    FileSystem& fs_;
    Shell& shell_;
    std::vector<std::string> roots_;
    std::vector<std::string> systemFolders_;
    std::string failures_;
};

} // namespace

void removeProgramsGroups(const UninstallState& state, FileSystem& fs, Shell& shell) {
    if (state.installdir.empty())
        return;
    GroupCleaner(state, fs, shell).run(state);
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
