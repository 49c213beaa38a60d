// The whole start-up and uninstall of the sample application, with the
// install log replaced by the fuzz input. The log decides which start-menu
// folder goes, so whatever it says, every deletion must stay inside the
// install folder or strictly inside the start-menu root, no path handed to
// the file system may hold a NUL (the system would act on the shorter path
// before it), kept files and what a link points at survive, and the run ends
// normally or with the program's own error.

#include "engine/error.h"
#include "engine/run.h"
#include "engine/system_paths.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/recording_ports.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"
#include "tests/support/text_helpers.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace uninst;
using namespace uninst::test;
namespace s = uninst::test::sample;

const std::string linkPath = s::installdir + "\\Shared";
const std::string linkTarget = "C:\\Users\\Shared\\Projects";
const std::string linkedFile = linkTarget + "\\plan.doc";

bool insideInstallFolder(const std::string& path) {
    const std::string u = upper(path);
    return u == upper(s::installdir) || startsWith(u, upper(s::installdir + "\\"));
}

// Strictly below the root, and not by way of a "." or ".." step.
bool insideStartMenu(const std::string& path) {
    const std::string root = upper(startMenuRoot);
    const std::string u = upper(path);
    if (!startsWith(u, root) || u.size() == root.size())
        return false;
    for (std::string_view step : pathSteps(std::string_view(u).substr(root.size()))) {
        if (step.find_first_not_of(". ") == std::string_view::npos)
            return false;
    }
    return true;
}

std::vector<std::string> minus(const std::vector<std::string>& a,
                               const std::vector<std::string>& b) {
    const std::multiset<std::string> other(b.begin(), b.end());
    std::vector<std::string> out;
    for (const std::string& line : a) {
        if (other.count(line) == 0)
            out.push_back(line);
    }
    return out;
}

bool registryLineMayChange(const std::string& line) {
    const std::string u = upper(line);
    for (const std::string& key : {s::uninstallEntry, s::appPathsEntry}) {
        if (u == "K " + upper(key) || startsWith(u, "V " + upper(key) + " | "))
            return true;
    }
    return startsWith(u, "V " + upper(s::sharedDllsKey) + " | ") ||
           startsWith(u, "K " + upper(s::sharedDllsKey) + "\\");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SampleWorld w;
    w.fs.addFile(s::log, std::string(reinterpret_cast<const char*>(data), size));
    w.fs.addLink(linkPath, linkTarget);
    w.fs.addFile(linkedFile, "plan");
    w.fs.addFile(startMenuRoot + std::string("Accessories\\Notepad.lnk"));
    const auto diskBefore = w.fs.snapshot("C:");
    const auto registryBefore = snapshotLines(w.registry);

    RecordingFileSystem fs(w.fs);
    try {
        formLoad(w.state, w.registry, fs, s::exe, w.list);
        check(w.list.mark(s::dataFile), "data.mdb is not listed");
        command4Click(w.state, w.registry, fs, w.list, w.progress);
    } catch (const Error&) {
        // The program's own report; what it left is checked below.
    } catch (const std::exception& e) {
        propertyFailed(std::string("the run threw a non-program error: ") + e.what());
    }

    for (const std::string& call : fs.history()) {
        check(call.find('\0') == std::string::npos,
              "a path with a NUL reached the file system: " + detail::printable(call));
        for (const std::string operation : {"delete file ", "delete folder "}) {
            if (!startsWith(call, operation))
                continue;
            const std::string path = call.substr(operation.size());
            check(insideInstallFolder(path) || insideStartMenu(path),
                  "deleted outside the install folder and the start menu: " +
                      detail::printable(path));
        }
    }

    const auto diskAfter = w.fs.snapshot("C:");
    check(minus(diskAfter, diskBefore).empty(), "something appeared on disk");
    for (const std::string& line : minus(diskBefore, diskAfter)) {
        // Snapshot lines end folders with "\\" and name a link's target.
        std::string path = line.substr(0, line.find(" -> "));
        if (!path.empty() && path.back() == '\\')
            path.pop_back();
        check(insideInstallFolder(path) || insideStartMenu(path),
              "removed from disk: " + detail::printable(line));
    }
    check(w.fs.fileExists(s::dataFile), "the kept file was deleted");
    check(w.fs.exists(linkPath) && w.fs.fileExists(linkedFile), "the link or its files went");

    const auto registryAfter = snapshotLines(w.registry);
    for (const auto& line : minus(registryAfter, registryBefore))
        check(registryLineMayChange(line), "registry now holds: " + line);
    for (const auto& line : minus(registryBefore, registryAfter))
        check(registryLineMayChange(line), "registry lost: " + line);
    return 0;
}
