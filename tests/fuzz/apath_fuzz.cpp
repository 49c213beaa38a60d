// The App Paths registration and the argument both come from outside. The
// install folder derived from them decides what is later listed and deleted,
// so it must be nothing but the registered path up to its last separator
// ("\\" or "/"), or empty; start-up must end in a clear refusal rather than a
// crash; and what start-up lists is the folder the system makes of a path
// named in full, strictly below a drive's or a share's root, whatever the
// current folder.
//
// Input: the argument, a 0x01 byte, one byte choosing the value's type, then
// the value's data.

#include "engine/error.h"
#include "engine/installdir.h"
#include "engine/path_safety.h"
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

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// "X:\\..." or "\\\\...": the only registered forms no current folder takes
// part in reading.
bool namedInFull(const std::string& path) {
    const bool drive = path.size() >= 3 && path[1] == ':' && isSeparator(path[2]) &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive || (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]));
}

// A folder strictly below a drive's root ("C:\\App") or a share's root
// ("\\\\server\\share\\App"), spelled as the system resolves it: "\\" only,
// no empty, "." or ".." step, no trailing dot or blank at the end (a step
// before the last may keep one: "A.." resolves to "A.").
bool resolvedBelowARoot(const std::string& path) {
    const bool share = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
    const std::vector<std::string_view> steps =
        pathSteps(std::string_view(path).substr(share ? 2 : 0), "\\");
    for (const std::string_view step : steps) {
        if (step.empty() || step == "." || step == ".." || step.find('/') != std::string_view::npos)
            return false;
    }
    if (steps.back().back() == '.' || steps.back().back() == ' ')
        return false;
    if (share)
        return steps.size() >= 3 && steps[0] != "?" && steps[0] != ".";
    return steps.size() >= 2 && steps[0].size() == 2 && steps[0][1] == ':';
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
        apath(state, registry, noShell(), afile);
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
        const auto last = rest.find_first_not_of("\\/");
        check(
            !rest.empty() && isSeparator(rest[0]) &&
                (last == std::string::npos || rest.find_first_of("\\/", last) == std::string::npos),
            where + ": not cut at the last separator");
    } else {
        const auto lastSeparator = registered.find_last_of("\\/");
        check(lastSeparator == std::string::npos ||
                  registered.find_first_not_of("\\/") >= lastSeparator,
              where + ": a folder was registered but none was found");
    }

    // Start-up over an empty disk, and over one where the folder the system
    // makes of the registration exists, started from a folder of another
    // application: refusals and missing folders are errors, never crashes,
    // and a listing happens only below the resolved folder.
    for (const bool folderPresent : {false, true}) {
        MemoryFileSystem memory;
        memory.setDriveFolder("C:\\Program Files\\Other");
        memory.setCurrentFolder("D:\\Work");
        if (folderPresent) {
            // The fixture refuses paths no disk could hold; that is no fault
            // of the engine's.
            try {
                memory.addFile(memory.fullPath(dir) + "\\app.exe", "MZ");
                memory.addFile(memory.fullPath(dir) + "\\ST6UNST.LOG", "");
            } catch (const std::invalid_argument&) {
                continue;
            } catch (const Error&) {
                continue;
            }
        }
        RecordingFileSystem fs(memory);
        UninstallState startup;
        RecordingList list;
        bool started = false;
        try {
            uninst::startUp(startup, registry, fs, noShell(), afile, list);
            started = true;
        } catch (const Error& e) {
            check(std::string(e.what()).size() > 10,
                  std::string("start-up refused without saying why: ") + e.what());
        } catch (const std::exception& e) {
            propertyFailed(std::string("start-up threw a non-program error: ") + e.what());
        }
        check(registry.openHandleCount() == 0, "start-up left registry keys open");
        const std::string listed = detail::printable(startup.installdir);
        if (started) {
            check(namedInFull(dir), "start-up went on with a folder not named in full: " + where);
            check(resolvedBelowARoot(startup.installdir),
                  "start-up listed a folder that is no resolved folder below a root: " + listed);
        }
        for (const std::string& call : fs.history()) {
            if (call.rfind("resolve path ", 0) == 0)
                continue;
            check(started || call.rfind("list folder ", 0) == 0,
                  "start-up did more than list: " + detail::printable(call));
            const std::string path = call.substr(call.find(' ', call.find(' ') + 1) + 1);
            check(path == startup.installdir || path.rfind(startup.installdir + "\\", 0) == 0,
                  "start-up touched " + detail::printable(path) + " for the folder " + listed);
        }
    }
    return 0;
}
