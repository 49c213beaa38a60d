// The whole start-up and uninstall of the sample application, in a world the
// fuzz input varies: the App Paths value, the current folders, which files
// the install folder holds (toolkit files, a "data.mdb." twin, files saved
// after start-up), the marks, and the install log. Whatever they are, every
// path the run lists, deletes or removes is, as it stands, inside the
// install folder the system resolved or strictly inside the start-menu root
// (the file system takes paths as they stand, so none may need clean-up:
// no "/", no empty, "." or ".." step), no path handed to the file system may
// hold a NUL (the system would act on the shorter path before it), kept
// files and what a link points at survive, and the run ends normally or with
// the program's own error. In the start menu only the shortcuts the log
// names go, and the folders left empty, never the root or Startup. A run
// that completes leaves exactly the files a model predicts: the marked rows,
// the toolkit's files but the log (and the last one met) when a row was
// listed, and every file saved after start-up.
//
// Input: the files byte, the marks byte (bit i marks row i), the
// registration byte (below the table's size a form from it, above it a value
// of that many bytes less the table's size from the input), the current-folder byte, then
// the log. The registration byte's forms past the first sixteen are folders
// the system and every application share; files bit 128 registers another
// application in a folder inside the install folder, which must stay whole,
// and folders bit 8 stores the registration as REG_EXPAND_SZ.

#include "engine/error.h"
#include "engine/path_safety.h"
#include "engine/run.h"
#include "engine/system_paths.h"
#include "engine/text_file.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/memory_shell.h"
#include "tests/support/recording_ports.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/sample_app.h"
#include "tests/support/text_helpers.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace uninst;
using namespace uninst::test;
namespace s = uninst::test::sample;

const std::string linkPath = s::installdir + "\\Shared";
const std::string linkTarget = "C:\\Users\\Shared\\Projects";
const std::string linkedFile = linkTarget + "\\plan.doc";

bool insideFolder(const std::string& path, const std::string& folder) {
    const std::string u = upper(path);
    return u == upper(folder) || startsWith(u, upper(folder + "\\"));
}

// A path the system would use as it stands: nothing to clean up.
bool needsNoCleanUp(const std::string& path) {
    if (path.find('/') != std::string::npos)
        return false;
    for (const std::string_view step : pathSteps(path)) {
        // "C:" alone, the drive's root, is no path of the run's.
        if (step.empty() || step == "." || step == "..")
            return false;
    }
    return true;
}

const std::vector<std::string> registrations = {
    s::exeFile,
    s::installdir + "/myapp.exe",
    "C:/Program Files/MyApp/myapp.exe",
    "C:\\Program Files\\\\MyApp\\myapp.exe",
    s::installdir + " \\myapp.exe",
    s::installdir + ".\\myapp.exe",
    "C:.\\myapp.exe",
    "C:..\\MyApp\\myapp.exe",
    "MyApp\\myapp.exe",
    "\\Program Files\\MyApp\\myapp.exe",
    "\\??\\" + s::exeFile,
    "\"" + s::exeFile + "\"",
    s::installdir + "\\..\\Other\\other.exe",
    "C:\\Program Files/myapp.exe",
    s::installdir + "\\\\\\myapp.exe",
    s::installdir + "\\Help/..\\myapp.exe",
    "%ProgramFiles%\\myapp.exe",
    "%ProgramFiles%\\MyApp\\myapp.exe",
    "C:\\Users\\Shared\\myapp.exe",
    "c:\\program files\\COMMON FILES.\\myapp.exe",
};

// What the shell names as shared by the system and every application.
const std::vector<SharedFolder> sharedFolders = {
    {"C:\\Program Files", "the system's Program Files folder"},
    {"C:\\Program Files\\Common Files", "the system's Common Files folder"},
    {"C:\\Users\\Shared", "the public profile folder"},
    {"C:\\WINDOWS", "the Windows folder"}};

// Another application registered inside the install folder.
const std::string pluginDir = s::installdir + "\\Plugin";
const std::string pluginEntry = s::appPathsKey + "\\plugin.exe";
const std::vector<std::string> pluginFiles = {pluginDir + "\\plugin.exe",
                                              pluginDir + "\\ST6UNST.LOG"};

const std::vector<std::string> currentFolders = {"C:\\", "C:\\Program Files", s::installdir,
                                                 "D:\\Elsewhere"};

// Files the fuzz input may take away from the sample or add to it.
const std::string twin = s::dataFile + ".";
const std::string toolkitCopy = s::installdir + "\\st6unst.000";
const std::string toolkitHelper = s::helpFolder + "\\ST6UNST.EXE";
const std::vector<std::string> savedLater = {s::installdir + "\\notes.txt",
                                             s::installdir + "\\Letters\\letter.doc"};

// Every file below `folder` in a snapshot, links and folders left out.
std::set<std::string> filesBelow(MemoryFileSystem& fs, const std::string& folder) {
    std::set<std::string> files;
    for (const std::string& line : fs.snapshot(folder)) {
        if (line.back() != '\\' && line.find(" -> ") == std::string::npos)
            files.insert(upper(line));
    }
    return files;
}

// Strictly below the root, and not by way of a "." or ".." step.
// The log's text as the run reads it, so that names a UTF-16 log holds can
// be looked for in it.
std::string logAsRead(const std::string& bytes) {
    const RecognisedText text = recogniseText(bytes);
    if (text.encoding != TextEncoding::utf16le && text.encoding != TextEncoding::utf16be)
        return std::string(text.body);
    std::string out;
    appendUtf16AsUtf8(out, text.body, text.encoding == TextEncoding::utf16be);
    return out;
}

bool insideStartMenu(const std::string& path) {
    const std::string root = upper(startMenuRoot);
    const std::string u = upper(path);
    if (!startsWith(u, root) || u.size() == root.size())
        return false;
    for (std::string_view step : pathSteps(std::string_view(u).substr(root.size()), "\\")) {
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
    FuzzInput input(data, size);
    const std::uint8_t files = input.byte();
    const std::uint8_t marks = input.byte();
    const std::uint8_t registration = input.byte();
    const std::uint8_t folders = input.byte();
    const std::string registered = registration < registrations.size()
                                       ? registrations[registration]
                                       : input.bytes(registration - registrations.size());

    SampleWorld w;
    MemoryShell shell(w.fs);
    shell.setProgramsFolders({});
    shell.setSharedFolders(sharedFolders);
    shell.setVariable("ProgramFiles", "C:\\Program Files");
    w.registry.setValue(s::appPathsEntry, "",
                        folders & 8 ? Registry::typeExpandSz : Registry::typeSz, registered + '\0');
    if (files & 128) {
        for (const std::string& path : pluginFiles)
            w.fs.addFile(path, "plug-in");
        w.fs.addFolder(pluginDir + "\\Cache");
        w.registry.setString(pluginEntry, "", pluginDir + "\\plugin.exe");
    }
    w.fs.setDriveFolder(folders & 4 ? "C:\\Program Files" : "C:\\WINDOWS");
    w.fs.setCurrentFolder(currentFolders[folders % currentFolders.size()]);
    if (files & 1) {
        for (const std::string& path : {s::exeFile, s::readme, s::helpFile, s::logo, s::sampleData})
            w.fs.deleteFile(path);
    }
    if (files & 2)
        w.fs.deleteFile(s::dataFile);
    if (files & 4)
        w.fs.addFile(twin, "twin");
    if (files & 8)
        w.fs.addFile(toolkitCopy);
    if (files & 16)
        w.fs.addFile(toolkitHelper);
    if (files & 32)
        w.fs.addFolder(s::installdir + "\\Empty");
    const std::string log = input.rest();
    w.fs.addFile(s::log, log);
    w.fs.addLink(linkPath, linkTarget);
    w.fs.addFile(linkedFile, "plan");
    w.fs.addFile(startMenuRoot + std::string("Accessories\\Notepad.lnk"));
    w.fs.addFile(startMenuRoot + std::string("Accessories\\notes.txt"), "mine");
    w.fs.addFile(s::groupFolder + "\\notes.txt", "mine");
    w.fs.addFolder(startMenuRoot + std::string("Startup"));
    const auto diskBefore = w.fs.snapshot("C:");
    const auto registryBefore = snapshotLines(w.registry);
    const std::vector<std::pair<std::string, std::uint32_t>> countsBefore = {{s::sharedLib, 3},
                                                                             {s::otherShared, 4}};

    RecordingFileSystem fs(w.fs);
    bool started = false;
    bool completed = false;
    std::vector<std::string> kept;
    std::set<std::string> expected;
    try {
        uninst::startUp(w.state, w.registry, fs, shell, s::exe, w.list);
        started = true;
        for (std::size_t i = 0; i < w.list.rowCount() && i < 8; ++i) {
            if (marks & (1u << i)) {
                kept.push_back(w.list.rowText(i));
                w.list.mark(w.list.rowText(i));
            }
        }
        for (const std::string& path : kept)
            expected.insert(upper(path));
        if (w.list.rowCount() > 0) {
            for (const std::string& path : w.state.toolkitFiles) {
                // The log that was read goes as well as the last toolkit
                // file the listing met.
                if (path != w.state.logpath &&
                    upper(path) != upper(w.state.installdir + "\\ST6UNST.LOG"))
                    expected.insert(upper(path));
            }
        }
        if (files & 64) {
            for (const std::string& path : savedLater) {
                w.fs.addFile(path, "mine");
                expected.insert(upper(path));
            }
        }
        if (files & 128) {
            for (const std::string& path : pluginFiles) {
                if (insideFolder(path, w.state.installdir))
                    expected.insert(upper(path));
            }
        }
        uninst::uninstall(w.state, w.registry, fs, shell, w.list, w.progress);
        completed = true;
    } catch (const Error&) {
        // The program's own report; what it left is checked below.
    } catch (const std::exception& e) {
        propertyFailed(std::string("the run threw a non-program error: ") + e.what());
    }

    // The folder the run lists and removes: the one the system made of the
    // registration, once start-up accepted it.
    const std::string installdir = started ? w.state.installdir : std::string();
    const auto inside = [&](const std::string& path) {
        return (!installdir.empty() && insideFolder(path, installdir)) || insideStartMenu(path);
    };
    for (const std::string& call : fs.history()) {
        check(call.find('\0') == std::string::npos,
              "a path with a NUL reached the file system: " + detail::printable(call));
        if (startsWith(call, "resolve path "))
            continue;
        if (!started) {
            check(startsWith(call, "list folder ") && !w.state.installdir.empty() &&
                      insideFolder(call.substr(12), w.state.installdir),
                  "start-up failed, yet did this: " + detail::printable(call));
            continue;
        }
        for (const std::string operation :
             {"list folder ", "check folder ", "delete file ", "delete folder ",
              "remove empty folder ", "read file "}) {
            if (!startsWith(call, operation))
                continue;
            const std::string path = call.substr(operation.size());
            // The group is reached from the start-menu root down.
            const bool readsTheRoot =
                (operation == "list folder " || operation == "check folder ") &&
                upper(path + "\\") == upper(startMenuRoot);
            check(inside(path) || readsTheRoot,
                  "outside the install folder " + detail::printable(installdir) +
                      " and the start menu: " + detail::printable(call));
            check(needsNoCleanUp(path),
                  "a path the system would clean up: " + detail::printable(call));
            check(!startsWith(upper(path), upper(linkPath + "\\")),
                  "through the link: " + detail::printable(call));
        }
    }

    const auto diskAfter = w.fs.snapshot("C:");
    for (const std::string& line : minus(diskAfter, diskBefore)) {
        const bool saved = std::any_of(savedLater.begin(), savedLater.end(), [&](const auto& p) {
            return startsWith(line, p) || line == s::installdir + "\\Letters\\";
        });
        check(saved, "something appeared on disk: " + detail::printable(line));
    }
    for (const std::string& line : minus(diskBefore, diskAfter)) {
        // Snapshot lines end folders with "\\" and name a link's target.
        std::string path = line.substr(0, line.find(" -> "));
        if (!path.empty() && path.back() == '\\')
            path.pop_back();
        check(started && inside(path), "removed from disk: " + detail::printable(line));
        // In the start menu only shortcuts go that a shortcut line names (no
        // shortcut here leads anywhere), then folders left empty.
        if (insideStartMenu(path) && line.back() != '\\') {
            const std::string name = path.substr(path.rfind('\\') + 1);
            const std::size_t dot = name.rfind('.');
            const std::string extension = dot == std::string::npos ? "" : upper(name.substr(dot));
            check(extension == ".LNK" || extension == ".PIF" || extension == ".URL",
                  "a start-menu file that is no shortcut went: " + detail::printable(line));
            check(upper(logAsRead(log)).find(upper(name.substr(0, dot))) != std::string::npos,
                  "a shortcut the log does not name went: " + detail::printable(line));
        }
    }
    check(w.fs.exists(startMenuRoot) && w.fs.exists(startMenuRoot + std::string("Startup")),
          "the start-menu root or the system's Startup went");
    for (const std::string& path : kept)
        check(w.fs.fileExists(path), "a kept file was deleted: " + path);
    if (started) {
        for (const SharedFolder& shared : sharedFolders)
            check(!insideFolder(shared.path, installdir), "listed a folder that is or holds " +
                                                              shared.path + ": " +
                                                              detail::printable(installdir));
    }
    if (files & 128) {
        for (const std::string& path : pluginFiles)
            check(w.fs.fileExists(path), "the other application's file went: " + path);
        check(w.fs.exists(pluginDir + "\\Cache"), "the other application's folder went");
        for (const std::string& call : fs.history()) {
            const auto space = call.rfind(" C:");
            check(space == std::string::npos || !insideFolder(call.substr(space + 1), pluginDir) ||
                      startsWith(call, "resolve path "),
                  "acted inside the other application's folder: " + detail::printable(call));
        }
    }
    check(w.fs.exists(linkPath) && w.fs.fileExists(linkedFile), "the link or its files went");

    // The model: after a completed run, the install folder holds exactly the
    // files it predicts, and the files nobody was shown are the ones
    // recorded as kept unlisted.
    if (completed) {
        std::set<std::string> actual;
        if (w.fs.exists(installdir)) {
            for (const std::string& path : filesBelow(w.fs, installdir)) {
                if (!startsWith(path, upper(linkPath + "\\")))
                    actual.insert(path);
            }
        }
        std::set<std::string> expectedInside;
        for (const std::string& path : expected) {
            if (insideFolder(path, installdir))
                expectedInside.insert(path);
        }
        check(actual == expectedInside, "the install folder holds " +
                                            std::to_string(actual.size()) + " files, the model " +
                                            std::to_string(expectedInside.size()));
        std::set<std::string> unlisted;
        for (const std::string& path : w.state.keptUnlisted)
            unlisted.insert(upper(path));
        std::set<std::string> savedInside;
        if (w.list.rowCount() == 0 && (files & 64)) {
            for (const std::string& path : savedLater)
                savedInside.insert(upper(path));
        }
        check(unlisted == savedInside,
              "recorded as kept unlisted: " + std::to_string(unlisted.size()) +
                  " files, the model " + std::to_string(savedInside.size()));
    }

    const auto registryAfter = snapshotLines(w.registry);
    for (const auto& line : minus(registryAfter, registryBefore))
        check(registryLineMayChange(line), "registry now holds: " + line);
    for (const auto& line : minus(registryBefore, registryAfter))
        check(registryLineMayChange(line), "registry lost: " + line);

    // However many lines name a shared file, its count goes down by one at
    // most: the setup counted it once.
    for (const auto& [name, count] : countsBefore) {
        const std::optional<std::uint32_t> now = w.registry.dword(s::sharedDllsKey, name);
        check(now && *now + 1 >= count, "the count of " + name + " went from " +
                                            std::to_string(count) + " to " +
                                            (now ? std::to_string(*now) : std::string("nothing")));
    }
    // A log whose encoding cannot be told is refused before anything changes.
    if (started && recogniseText(log).encoding == TextEncoding::unknown) {
        check(!completed, "a log of no known encoding was taken for read");
        check(registryAfter == registryBefore, "a refused log left the registry changed");
        for (const std::string& call : fs.history()) {
            for (const std::string operation :
                 {"delete file ", "delete folder ", "remove empty folder ", "delete at restart "})
                check(!startsWith(call, operation),
                      "a refused log still let this happen: " + detail::printable(call));
        }
    }
    return 0;
}
