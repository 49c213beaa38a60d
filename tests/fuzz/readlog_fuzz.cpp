// The install log is text anyone who can write to the install folder can
// change. Whatever it holds, reading it may only lower the counts of the
// shared files it names, each file's once however many lines name it (or ask
// for the removal of a key named like one), must keep the progress bar in
// range and must not crash. It throws only for a log whose encoding cannot be
// told, naming the log, and then changes nothing.

#include "engine/error.h"
#include "engine/installlog.h"
#include "engine/state.h"
#include "engine/text_file.h"
#include "tests/faults/faulty_ports.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/memory_names.h"
#include "tests/support/memory_registry.h"
#include "tests/support/recording_ports.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/text_helpers.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace uninst;
using namespace uninst::test;

const std::string sharedKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const std::string installdir = "C:\\Program Files\\MyApp";

std::string le32(std::uint32_t v) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

std::uint32_t fromLe(const std::string& data) {
    std::uint32_t v = 0;
    for (std::size_t i = std::min<std::size_t>(data.size(), 4); i-- > 0;)
        v = (v << 8) | static_cast<unsigned char>(data[i]);
    return v;
}

// Counts of every kind a SharedDLLs value can be found in, and keys named
// like shared files, one of which cannot be removed because it has a child.
void seed(MemoryRegistry& registry, MemoryFileSystem& fs, const std::string& log) {
    const std::string sys = "C:\\WINDOWS\\SYSTEM\\";
    registry.setDword(sharedKey, sys + "mylib.dll", 3);
    registry.setDword(sharedKey, sys + "grid32.ocx", 1);
    registry.setDword(sharedKey, sys + "report.dll", 0);
    registry.setDword(sharedKey, sys + "negative.dll", 0x80000000u);
    registry.setDword(sharedKey, sys + "minus1.dll", 0xFFFFFFFFu);
    registry.setDword(sharedKey, sys + "max.dll", 0x7FFFFFFFu);
    registry.setString(sharedKey, sys + "text.dll", "5");
    registry.setValue(sharedKey, sys + "binary.dll", Registry::typeBinary, le32(5));
    registry.setValue(sharedKey, sys + "short.dll", Registry::typeDword,
                      std::string("\x02\x00", 2));
    registry.setValue(sharedKey, sys + "long.dll", Registry::typeDword, le32(9) + le32(9));
    registry.setValue(sharedKey, sys + "empty.dll", Registry::typeDword, "");
    registry.setDword(sharedKey, "", 2);
    registry.setDword(sharedKey + "\\" + sys + "old.dll", "kept", 1);
    registry.createKey(sharedKey + "\\" + sys + "held.dll\\child");
    registry.setString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\myapp.exe", "",
                       installdir + "\\myapp.exe");
    registry.setString("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MyApp",
                       "AppToUninstall", "myapp.exe");
    registry.setDword("SOFTWARE\\Other", sys + "mylib.dll", 3);

    fs.addFile(installdir + "\\ST6UNST.LOG", log);
    fs.addFile(installdir + "\\myapp.exe", "MZ");
    fs.addFile("C:\\WINDOWS\\Start Menu\\Programs\\MyApp\\MyApp.lnk");
}

// A line ends at CR LF, CR or LF, and a line end at the very end adds no
// empty line.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

// The names a shared-file line may stand for. The payload loses its last
// character; for an ASCII last byte that is one byte, otherwise it is up to
// four, and every one of those readings is allowed.
struct Mentions {
    std::map<std::u16string, int> exact;
    std::map<std::u16string, int> maybe;
    std::set<std::vector<std::u16string>> keyPaths;
};

std::vector<std::u16string> keyPath(std::string_view path) {
    std::vector<std::u16string> components;
    for (std::string_view step : pathSteps(path, "\\")) {
        if (!step.empty())
            components.push_back(memory::foldName(step));
    }
    return components;
}

Mentions mentionsOf(const std::vector<std::string_view>& lines) {
    Mentions m;
    for (std::string_view line : lines) {
        std::string_view payload;
        if (line.substr(0, 20) == "ACTION: SystemFile: ")
            payload = line.substr(std::min<std::size_t>(21, line.size()));
        else if (line.substr(0, 24) == "ACTION: DllSelfRegister:")
            payload = line.substr(std::min<std::size_t>(26, line.size()));
        else
            continue;
        if (payload.empty())
            continue;
        const bool ascii = static_cast<unsigned char>(payload.back()) < 0x80;
        for (std::size_t drop = 1; drop <= (ascii ? 1u : 4u) && drop <= payload.size(); ++drop) {
            // A registry name ends at a NUL.
            std::string_view name = payload.substr(0, payload.size() - drop);
            name = name.substr(0, name.find('\0'));
            if (name.empty())
                continue;
            ++(ascii ? m.exact : m.maybe)[memory::foldName(name)];
            m.keyPaths.insert(keyPath(name));
        }
    }
    return m;
}

void collectKeys(const SnapKey& key, std::vector<std::string>& path,
                 std::vector<std::vector<std::string>>& out) {
    for (const SnapKey& child : key.children) {
        path.push_back(child.name);
        out.push_back(path);
        collectKeys(child, path, out);
        path.pop_back();
    }
}

std::string join(const std::vector<std::string>& path) {
    std::string out;
    for (const std::string& part : path)
        out += (out.empty() ? "" : "\\") + part;
    return out;
}

SnapKey* mutableKey(SnapKey& root, const std::string& path) {
    return const_cast<SnapKey*>(findKey(root, path));
}

bool removeKey(SnapKey& root, const std::string& parentPath, const std::string& name) {
    SnapKey* parent = mutableKey(root, parentPath);
    if (parent == nullptr)
        return false;
    auto& children = parent->children;
    const auto before = children.size();
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [&](const SnapKey& k) { return k.name == name; }),
                   children.end());
    return children.size() != before;
}

void checkValue(const SnapValue& before, const SnapValue& after, const Mentions& m) {
    const auto folded = memory::foldName(before.name);
    const auto exactIt = m.exact.find(folded);
    const auto maybeIt = m.maybe.find(folded);
    const int exact = exactIt == m.exact.end() ? 0 : exactIt->second;
    const int maybe = maybeIt == m.maybe.end() ? 0 : maybeIt->second;
    const std::string what = "SharedDLLs value \"" + detail::printable(before.name) + "\"";
    check(after.name == before.name, what + " was renamed");
    const bool unchanged = after.type == before.type && after.data == before.data;
    if (exact + maybe == 0 || before.type != Registry::typeDword || before.data.size() > 4) {
        check(unchanged, what + " changed though the log cannot lower it");
        return;
    }
    if (unchanged && before.data.size() != 4)
        return;
    const std::int64_t count = static_cast<std::int32_t>(fromLe(before.data));
    if (before.data.size() == 4 && count < 1) {
        check(unchanged, what + " with a count below 1 was written");
        return;
    }
    check(after.type == Registry::typeDword && after.data.size() == 4,
          what + " was not written back as a 4-byte REG_DWORD");
    const std::int64_t now = fromLe(after.data);
    if (before.data.size() != 4) {
        check(now <= static_cast<std::int64_t>(fromLe(before.data)), what + " was raised");
        return;
    }
    // One lowering per file, however many lines name it.
    const std::int64_t most = count - (exact > 0 ? 1 : 0);
    const std::int64_t least = count - (exact + maybe > 0 ? 1 : 0);
    check(now >= least && now <= most, what + " went from " + std::to_string(count) + " to " +
                                           std::to_string(now) + " with " + std::to_string(exact) +
                                           " mentions");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string log(reinterpret_cast<const char*>(data), size);
    MemoryRegistry registry;
    MemoryFileSystem fs;
    seed(registry, fs, log);

    const SnapKey before = snapshotTree(registry);
    const auto filesBefore = fs.snapshot("C:");
    UninstallState state;
    state.installdir = installdir;
    RecordingProgress progress;
    FaultyRegistry recorder(registry); // never fails: it only records the calls
    if (recogniseText(log).encoding == TextEncoding::unknown) {
        try {
            lowerSharedCounts(recorder, readlog(state, fs, installdir, progress));
            propertyFailed("a log of no known encoding was read");
        } catch (const Error& e) {
            check(std::string(e.what()).find(installdir + "\\st6unst.log") != std::string::npos,
                  std::string("the refusal does not name the log: ") + e.what());
        }
        check(recorder.history().empty(), "a refused log still reached the registry");
        check(state.groupname.empty() && state.menupath.empty(), "a refused log named a group");
        check(fs.snapshot("C:") == filesBefore, "readlog changed the file system");
        check(flatten(snapshotTree(registry)) == flatten(before),
              "a refused log changed the registry");
        return 0;
    }
    const std::string text = fs.readTextFile(installdir + "\\st6unst.log");
    const auto lines = splitLines(text);
    const Mentions mentions = mentionsOf(lines);
    try {
        lowerSharedCounts(recorder, readlog(state, fs, installdir, progress));
    } catch (const std::exception& e) {
        propertyFailed(std::string("readlog threw: ") + e.what());
    } catch (...) {
        propertyFailed("readlog threw something that is not an exception");
    }

    check(registry.openHandleCount() == 0, "readlog left registry keys open");
    for (const std::string& call : recorder.history())
        check(call.find('\0') == std::string::npos,
              "a name with a NUL reached the registry: " + detail::printable(call));
    check(fs.snapshot("C:") == filesBefore, "readlog changed the file system");

    const auto& history = progress.history();
    check(!history.empty() && history.front() == 0, "the bar did not start at 0");
    for (float v : history)
        check(v >= 0 && v <= 100, "the bar left 0..100: " + std::to_string(v));
    check(history.size() == lines.size() + 1,
          "the bar moved " + std::to_string(history.size() - 1) + " times for " +
              std::to_string(lines.size()) + " lines");
    const float expected = static_cast<float>(std::min<std::size_t>(2 * lines.size(), 100));
    check(progress.value() == expected, "the bar ended at " + std::to_string(progress.value()) +
                                            ", not " + std::to_string(expected));

    // What may differ: SharedDLLs values, checked one by one, and keys below
    // SharedDLLs named like a shared file. Everything else must be as before.
    const SnapKey after = snapshotTree(registry);
    SnapKey expectedTree = before;
    const SnapKey* sharedBefore = findKey(before, sharedKey);
    const SnapKey* sharedAfter = findKey(after, sharedKey);
    check(sharedBefore != nullptr && sharedAfter != nullptr, "the SharedDLLs key was removed");
    check(sharedAfter->values.size() == sharedBefore->values.size(),
          "SharedDLLs values were added or removed");
    for (std::size_t i = 0; i < sharedBefore->values.size(); ++i)
        checkValue(sharedBefore->values[i], sharedAfter->values[i], mentions);
    mutableKey(expectedTree, sharedKey)->values = sharedAfter->values;

    std::vector<std::vector<std::string>> keys;
    std::vector<std::string> path;
    collectKeys(*sharedBefore, path, keys);
    // Deepest first, so that a parent's removal is judged after its child's.
    std::sort(keys.begin(), keys.end(),
              [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const auto& key : keys) {
        if (findKey(*sharedAfter, join(key)) != nullptr)
            continue;
        std::vector<std::u16string> folded;
        for (const std::string& part : key)
            folded.push_back(memory::foldName(part));
        check(mentions.keyPaths.count(folded) == 1, "key SharedDLLs\\" +
                                                        detail::printable(join(key)) +
                                                        " removed; the log names no such path");
        std::vector<std::string> parent(key.begin(), key.end() - 1);
        const std::string parentPath = sharedKey + (parent.empty() ? "" : "\\" + join(parent));
        removeKey(expectedTree, parentPath, key.back());
    }

    const auto expectedLines = flatten(expectedTree);
    const auto actualLines = flatten(after);
    if (expectedLines != actualLines)
        propertyFailed("registry changed beyond the shared files the log names:" +
                       linesDiff(expectedLines, actualLines, "missing", "unexpected"));
    return 0;
}
