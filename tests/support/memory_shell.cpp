#include "tests/support/memory_shell.h"

#include "engine/error.h"

#include <cctype>

namespace uninst {

namespace {

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

MemoryShell::MemoryShell(MemoryFileSystem& fs)
    : fs_(fs), programs_{commonPrograms, userPrograms}, system_{commonPrograms + "\\Startup",
                                                                userPrograms + "\\Startup"} {
    for (const std::string& folder : system_)
        fs_.addFolder(folder);
}

void MemoryShell::setVariable(const std::string& name, const std::string& value) {
    variables_[upper(name)] = value;
}

void MemoryShell::addShortcut(const std::string& path, const std::string& target) {
    fs_.addFile(path, target);
}

std::optional<std::string> MemoryShell::finalFolder(const std::string& path) {
    const auto found = finals_.find(path);
    return found == finals_.end() ? path : found->second;
}

std::vector<std::string> MemoryShell::folderNames(const std::string& path) {
    std::vector<std::string> names = Shell::folderNames(path);
    if (const auto found = otherNames_.find(path); found != otherNames_.end())
        names.insert(names.end(), found->second.begin(), found->second.end());
    return names;
}

std::optional<std::string> MemoryShell::shortcutTarget(const std::string& path) {
    try {
        std::string target = fs_.readTextFile(path);
        if (target.empty())
            return std::nullopt;
        return target;
    } catch (const Error&) {
        return std::nullopt;
    }
}

std::string MemoryShell::expandEnvironment(const std::string& text) {
    std::string out;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t open = text.find('%', position);
        const std::size_t close =
            open == std::string::npos ? std::string::npos : text.find('%', open + 1);
        if (close == std::string::npos) {
            out.append(text, position);
            break;
        }
        out.append(text, position, open - position);
        const auto found = variables_.find(upper(text.substr(open + 1, close - open - 1)));
        if (found == variables_.end()) {
            // Kept as written, both signs included, as Wine keeps it.
            out.append(text, open, close - open + 1);
            position = close + 1;
        } else {
            out += found->second;
            position = close + 1;
        }
    }
    return out;
}

} // namespace uninst
