#include "engine/path_safety.h"

#include "engine/ascii_case.h"
#include "engine/utf8.h"

#include <cstddef>

namespace uninst {

std::vector<std::string_view> pathSteps(std::string_view path, std::string_view separators) {
    std::vector<std::string_view> steps;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(separators, start);
        if (end == std::string_view::npos)
            end = path.size();
        steps.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return steps;
}

bool startsWithDrive(std::string_view path) {
    return path.size() >= 2 && isAsciiLetter(path[0]) && path[1] == ':';
}

std::string withoutLastStep(const std::string& path) {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string parentBelowDrive(const std::string& path) {
    std::string parent = withoutLastStep(path);
    if (parent.size() == 2 && parent[1] == ':')
        return {};
    return parent;
}

// "C:" or "C:\": the install folder of an executable registered in a drive's
// root. Listing it would offer the whole drive for deletion.
bool isDriveRoot(std::string_view folder) {
    return startsWithDrive(folder) && folder.find_first_not_of("\\/", 2) == std::string_view::npos;
}

// A path in the device namespace ("\\?\C:\App", "\\.\C:") skips the system's
// clean-up and names whatever the system maps it to; "\\?\C:" is drive C
// itself. "\\server\share" is a whole share. No setup program registers
// either, and the system lists the roots as it lists a drive's.
bool isDevicePathOrShareRoot(std::string_view folder) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (folder.size() < 2 || !separator(folder[0]) || !separator(folder[1]))
        return false;
    if (folder.size() >= 3 && (folder[2] == '?' || folder[2] == '.'))
        return true;
    std::size_t named = 0;
    for (const std::string_view step : pathSteps(folder.substr(2)))
        named += !step.empty();
    return named <= 2;
}

// A step of only dots and blanks: "." or "..", or one Windows reads as such
// after dropping trailing dots and blanks. "/" separates steps as "\" does.
bool hasDotStep(std::string_view path) {
    for (const std::string_view step : pathSteps(path)) {
        if (!step.empty() && step.find_first_not_of(". ") == std::string_view::npos)
            return true;
    }
    return false;
}

bool isFullyQualified(std::string_view path) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 3 && path[1] == ':' && separator(path[2]))
        return startsWithDrive(path);
    return path.size() >= 2 && separator(path[0]) && separator(path[1]);
}

bool isFolderBelowARoot(std::string_view full) {
    return isFullyQualified(full) && !isDriveRoot(full) && !isDevicePathOrShareRoot(full) &&
           !hasDotStep(full) && full.find('/') == std::string_view::npos &&
           full.find('\0') == std::string_view::npos;
}

bool isStrictlyInside(std::string_view full, std::string_view root) {
    if (full.size() <= root.size() || !sameAsciiCase(full.substr(0, root.size()), root))
        return false;
    const std::string_view rest = full.substr(root.size());
    return rest.front() != '\\' && !hasDotStep(rest) && full.find('/') == std::string_view::npos;
}

// The group name comes from the install log, which anyone who can write to
// the install folder can change. Only a folder strictly inside the start-menu
// root may be removed: no empty, "." or ".." step, no drive. Windows drops
// trailing dots and blanks from a name, so "..." or ". " would climb as well.
// The system reads a path only up to a NUL, so a group "<NUL>x" would be the
// start-menu root itself. A name no folder can have (a reserved character, a
// step over 255 characters) names nothing to remove, and trying would only
// stop the run after the files are gone.
bool isGroupInsideStartMenu(std::string_view group) {
    for (const char c : group) {
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view(":<>\"|?*").find(c) != std::string_view::npos)
            return false;
    }
    for (const std::string_view step : pathSteps(group)) {
        if (step.find_first_not_of(". ") == std::string_view::npos || utf8Length(step) > 255)
            return false;
    }
    return true;
}

} // namespace uninst
