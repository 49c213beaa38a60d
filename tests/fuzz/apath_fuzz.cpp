// The App Paths registration and the argument both come from outside. The
// install folder derived from them decides what is later listed and deleted,
// so it must be nothing but the registered path up to its last separator, or
// empty; and start-up must end in a clear refusal rather than a crash.
//
// Input: the argument, a 0x01 byte, one byte choosing the value's type, then
// the value's data.

#include "engine/error.h"
#include "engine/installdir.h"
#include "engine/run.h"
#include "engine/state.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/memory_registry.h"
#include "tests/support/recording_ports.h"
#include "tests/support/registry_snapshot.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace uninst;
using namespace uninst::test;

const std::string appPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

std::string trimSpaces(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// What the registry hands a 255-space buffer for this argument, read the
// way the engine is told to read it.
std::string registeredText(MemoryRegistry& registry, const std::string& afile) {
    std::string buffer(255, ' ');
    Registry::Key key = 0;
    if (registry.openKey(Registry::localMachine, appPaths, key).isSuccess()) {
        codepage::queryDefaultValue(registry, key, afile, buffer);
        registry.closeKey(key);
    }
    const std::string trimmed = trimSpaces(buffer);
    const std::string text = trimmed.substr(0, trimmed.find('\0'));
    // A path stored in double quotes names the same file without them.
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

// The steps of a path after Windows has read it: "/" separates as "\\"
// does, "." goes, ".." climbs, and trailing dots and blanks of a step are
// dropped (so "..." and " " go too).
std::vector<std::string> stepsAsWindowsReadsThem(const std::string& path) {
    std::vector<std::string> steps;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = path.size();
        const std::string step = path.substr(start, end - start);
        const auto keep = step.find_last_not_of(". ");
        if (step == "..") {
            if (steps.size() > 1)
                steps.pop_back();
        } else if (keep != std::string::npos) {
            steps.push_back(step.substr(0, keep + 1));
        }
        start = end + 1;
    }
    return steps;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::string afile;
    while (!input.empty()) {
        const std::uint8_t b = input.byte();
        if (b == 0x01)
            break;
        afile.push_back(static_cast<char>(b));
    }
    // A command line is a C string: the argument cannot hold a NUL.
    afile.resize(std::min(afile.find('\0'), afile.size()));
    static const std::uint32_t types[] = {Registry::typeSz,     Registry::typeSz,    2, 7,
                                          Registry::typeBinary, Registry::typeDword, 0};
    const std::uint32_t type = types[input.below(sizeof types / sizeof types[0])];
    const std::string value = input.rest();

    MemoryRegistry registry;
    registry.setString(appPaths + "\\other.exe", "", "C:\\Program Files\\Other\\other.exe");
    registry.setValue(appPaths + (afile.empty() ? "" : "\\" + afile), "", type, value);
    const auto registryBefore = snapshotLines(registry);
    const std::string registered = registeredText(registry, afile);

    UninstallState state;
    try {
        apath(state, registry, afile);
    } catch (const std::exception& e) {
        propertyFailed(std::string("apath threw: ") + e.what());
    }
    check(registry.openHandleCount() == 0, "apath left registry keys open");
    check(snapshotLines(registry) == registryBefore, "apath changed the registry");

    // The registered path without its last component; separators doubled
    // before that component are not part of the folder.
    const std::string& dir = state.installdir;
    const std::string where = "installdir \"" + detail::printable(dir) + "\" from \"" +
                              detail::printable(registered) + "\"";
    check(dir.find('\0') == std::string::npos, where + ": holds a NUL");
    if (!dir.empty()) {
        check(registered.compare(0, dir.size(), dir) == 0, where + ": not a prefix");
        check(dir.back() != '\\', where + ": trailing separator");
        const std::string rest = registered.substr(dir.size());
        const auto last = rest.find_first_not_of('\\');
        check(!rest.empty() && rest[0] == '\\' &&
                  (last == std::string::npos || rest.find('\\', last) == std::string::npos),
              where + ": not cut at the last separator");
    } else {
        const auto lastSeparator = registered.find_last_of('\\');
        check(lastSeparator == std::string::npos ||
                  registered.find_first_not_of('\\') >= lastSeparator,
              where + ": a folder was registered but none was found");
    }

    // Start-up over an empty disk, and over one where the folder exists:
    // refusals and missing folders are errors, never crashes.
    for (const bool folderPresent : {false, true}) {
        MemoryFileSystem fs;
        if (folderPresent) {
            // The fixture refuses paths no disk could hold; that is no fault
            // of the engine's.
            try {
                fs.addFile(dir + "\\app.exe", "MZ");
            } catch (const std::invalid_argument&) {
                continue;
            }
        }
        UninstallState startup;
        RecordingList list;
        try {
            formLoad(startup, registry, fs, afile, list);
            check(stepsAsWindowsReadsThem(startup.installdir).size() > 1,
                  "start-up listed a drive root: " + detail::printable(startup.installdir));
        } catch (const Error& e) {
            check(std::string(e.what()).size() > 10,
                  std::string("start-up refused without saying why: ") + e.what());
        } catch (const std::exception& e) {
            propertyFailed(std::string("start-up threw a non-program error: ") + e.what());
        }
        check(registry.openHandleCount() == 0, "start-up left registry keys open");
    }
    return 0;
}
