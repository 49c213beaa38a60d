#include "engine/installdir.h"

#include <algorithm>
#include <string_view>

namespace uninst {

namespace {

const char* const appPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

std::string_view trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// A registered path may be stored in double quotes ("C:\App\a.exe"). The read
// leaves the terminator after the closing quote, so the quotes enclose the
// text before the first NUL; a value with only an opening quote is taken as
// it stands.
std::string unquote(std::string_view text) {
    const auto end = text.find('\0');
    const std::string_view body = text.substr(0, end);
    if (body.size() < 2 || body.front() != '"' || body.back() != '"')
        return std::string(text);
    std::string unquoted(body.substr(1, body.size() - 2));
    if (end != std::string_view::npos)
        unquoted += text.substr(end);
    return unquoted;
}

} // namespace

void apath(UninstallState& state, Registry& registry, const std::string& afile) {
    ScopedKey key(registry);
    if (!key.open(Registry::localMachine, appPathsKey))
        return;
    // A failed read leaves the spaces, which trim to nothing.
    std::string buffer(255, ' ');
    registry.queryDefaultValue(key.get(), afile, buffer);
    key.reset();

    // Joining every part but the last is the text before the last separator.
    // The registered path ends at its terminator: a separator after a NUL
    // inside the value would make a folder name with a NUL in it, which the
    // system reads as the shorter path before the NUL ("C:\" for
    // "C:\<NUL>\App").
    std::string text = unquote(trimSpaces(buffer));
    text.resize(std::min(text.find('\0'), text.size()));
    const auto lastSeparator = text.rfind('\\');
    if (lastSeparator == std::string::npos)
        return;
    // Doubled separators before the file name ("C:\App\\a.exe") belong to
    // no folder name.
    const auto end = text.find_last_not_of('\\', lastSeparator);
    state.installdir = end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

} // namespace uninst
