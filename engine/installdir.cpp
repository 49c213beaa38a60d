#include "engine/installdir.h"

#include "engine/app_path_expansion.h"
#include "engine/system_paths.h"

#include <string_view>
#include <utility>

namespace uninst {

namespace {

std::string_view trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// A registered path may be stored in double quotes ("C:\App\a.exe"); a value
// with only an opening quote is taken as it stands.
std::string_view unquote(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return text;
    return text.substr(1, text.size() - 2);
}

} // namespace

std::string registeredFolder(std::string_view value) {
    // The registered path ends at its terminator, which the read leaves right
    // after it: a separator after a NUL inside the value would make a folder
    // name with a NUL in it, which the system reads as the shorter path
    // before the NUL ("C:\" for "C:\<NUL>\App"). Cutting there also puts a
    // closing quote at the end, where unquote looks for it.
    std::string_view text = trimSpaces(value);
    text = unquote(text.substr(0, text.find('\0')));

    // Joining every part but the last is the text before the last separator.
    // The system reads "/" as one too: "C:\App/a.exe" is a.exe in C:\App, not
    // a file "App/a.exe" in C:\.
    const auto lastSeparator = text.find_last_of("\\/");
    if (lastSeparator == std::string_view::npos)
        return {};
    // Doubled separators before the file name ("C:\App\\a.exe") belong to
    // no folder name.
    const auto end = text.find_last_not_of("\\/", lastSeparator);
    return end == std::string_view::npos ? std::string() : std::string(text.substr(0, end + 1));
}

void apath(UninstallState& state, Registry& registry, Shell& shell, const std::string& afile) {
    ScopedKey key(registry);
    if (!key.open(Registry::localMachine, appPathsKeyPath))
        return;
    // A failed read leaves the spaces, which trim to nothing.
    std::string buffer(255, ' ');
    const Registry::Status read = codepage::queryDefaultValue(registry, key.get(), afile, buffer);
    key.reset();
    // The expansion only refines a value the read found: a name the read
    // cannot follow must not reach a value along the second read's path.
    if (read.isSuccess()) {
        if (auto expanded = expandedAppPath(registry, shell, afile))
            buffer = std::move(*expanded);
    }

    state.installdir = registeredFolder(buffer);
}

} // namespace uninst
