// The Uninstall and App Paths lists hold entries of every program on the
// machine, written by setups of every quality. Whatever they hold, the
// registration removal must delete exactly the keys a plain reading of the
// rules picks (every entry of the application, by name or by AppToUninstall,
// and no other), nothing else, and never crash or throw.
//
// The world is built from the input: per scanned key up to five entries with
// names near the target or near the 255-character limit, each with up to four
// values whose names, types and data probe the AppToUninstall reading and the
// 255-character and 2048-byte buffers.

#include "engine/registration.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/memory_registry.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/text_helpers.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace uninst;
using namespace uninst::test;

const std::string uninstallPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string appPathsPath = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";

// Letters in both cases so that case-insensitive matches happen, ASCII and
// Latin-1 alike, blanks and dots of file names, and a byte that is no UTF-8.
const std::string alphabet[] = {"a", "A", "b",    "B",        "m",        "M", ".", " ", "1",
                                "{", "-", "\xE9", "\xC3\xA9", "\xC3\x89", "x", "X", "e"};

std::string randomText(FuzzInput& input, std::size_t maxLength) {
    std::string out;
    const std::size_t length = input.below(maxLength + 1);
    for (std::size_t i = 0; i < length; ++i)
        out += alphabet[input.below(std::size(alphabet))];
    return out;
}

// Names as the registry compares them.
bool sameName(const std::string& a, const std::string& b) {
    return memory::foldName(a) == memory::foldName(b);
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

// The target with the letters' case changed where the input says so.
std::string recased(FuzzInput& input, const std::string& text) {
    std::string out = text;
    std::uint8_t bits = input.byte();
    for (std::size_t i = 0; i < out.size(); ++i) {
        char& c = out[i];
        if (((bits >> (i % 8)) & 1) == 0)
            continue;
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (c == '\xC3' && i + 1 < out.size()) {
            // The Latin-1 letters U+00C0-U+00DE and U+00E0-U+00FE, but for
            // the signs of multiplication and division.
            const auto next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0x80 && next <= 0x9E && next != 0x97)
                out[i + 1] = static_cast<char>(next + 0x20);
            else if (next >= 0xA0 && next <= 0xBE && next != 0xB7)
                out[i + 1] = static_cast<char>(next - 0x20);
        }
    }
    return out;
}

std::string keyName(FuzzInput& input, const std::string& target) {
    switch (input.below(8)) {
    case 0:
    case 1:
    case 2:
        if (!target.empty() && target.find('\\') == std::string::npos)
            return recased(input, target);
        return "t";
    case 3:
        return std::string(250 + input.below(10), 'k');
    case 4:
        // Two bytes each in UTF-8, one character each in the code page.
        return repeated("\xC3\xA9", 125 + input.below(135));
    default: {
        std::string name = randomText(input, 8);
        return name.empty() ? "e" : name;
    }
    }
}

std::string valueName(FuzzInput& input) {
    switch (input.below(9)) {
    case 0:
    case 1:
    case 2:
        return "AppToUninstall";
    case 3:
        return "apptouninstall";
    case 4:
        return "AppToUninstall ";
    case 5:
        return std::string(250 + input.below(10), 'v');
    case 6:
        return "";
    default:
        return randomText(input, 6);
    }
}

std::string valueData(FuzzInput& input, const std::string& target) {
    switch (input.below(9)) {
    case 0:
    case 1:
    case 2: {
        const std::string text = recased(input, target);
        switch (input.below(5)) {
        case 0:
            return text + '\0';
        case 1:
            return text;
        case 2:
            return text + '\0' + randomText(input, 4);
        case 3:
            return std::string(input.below(4), ' ') + text + std::string(input.below(4), ' ') +
                   '\0';
        default:
            // Blanks up to the buffer's end and past it, without a terminator.
            return text +
                   std::string(252 + input.below(6) - std::min<std::size_t>(text.size(), 252), ' ');
        }
    }
    case 3:
        return std::string(250 + input.below(10), 'd');
    case 4:
        return std::string(2040 + input.below(16), 'D');
    case 5:
        return "";
    case 6:
        return std::string(input.below(8), ' ');
    default:
        return input.bytes(input.below(17));
    }
}

struct Entry {
    std::string name;
    bool enumerable = false; // fits the engine's 255-character name buffer
    bool valueMatches = false;
};

// The AppToUninstall text as the engine must read it: a 255-space buffer,
// trimmed, its last character (the terminator) dropped, cut at a NUL.
// Empty means no match.
std::string appToUninstall(MemoryRegistry& registry, Registry::Key key) {
    std::string buffer(255, ' ');
    std::uint32_t type = Registry::typeSz;
    codepage::queryValue(registry, key, "AppToUninstall", type, buffer);
    const auto first = buffer.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    std::string text = buffer.substr(first, buffer.find_last_not_of(' ') - first + 1);
    text.pop_back();
    return text.substr(0, text.find('\0'));
}

bool valuesMatch(MemoryRegistry& registry, const std::string& keyname, const std::string& target) {
    Registry::Key key = 0;
    if (!registry.openKey(Registry::localMachine, keyname, key).isSuccess())
        return false;
    bool match = false;
    for (std::uint32_t index = 0;; ++index) {
        std::string name(255, ' ');
        std::string data(2048, '\0');
        std::uint32_t nameLength = 255;
        std::uint32_t dataLength = 2048;
        std::uint32_t type = 0;
        if (!codepage::enumValue(registry, key, index, name, nameLength, type, data, dataLength)
                 .isSuccess())
            break;
        if (name.substr(0, nameLength) != "AppToUninstall")
            continue;
        const std::string text = appToUninstall(registry, key);
        match = !text.empty() && sameName(text, target);
        break;
    }
    registry.closeKey(key);
    return match;
}

// The keys below `path` that the rules delete, judged on the world before
// the run.
std::vector<std::string> predictDeleted(MemoryRegistry& registry, const SnapKey& root,
                                        const std::string& path, const std::string& target) {
    const SnapKey* list = findKey(root, path);
    if (list == nullptr)
        return {};
    std::vector<Entry> entries;
    for (const SnapKey& child : list->children) {
        Entry e;
        e.name = child.name;
        e.enumerable = registry.codePageLength(child.name) < 255;
        e.valueMatches = valuesMatch(registry, path + "\\" + child.name, target);
        entries.push_back(e);
    }
    // Every entry of the application goes, with its sub-keys, by its name or
    // by its AppToUninstall value; a name that does not fit is passed over.
    std::vector<std::string> deleted;
    for (const Entry& e : entries) {
        if (e.enumerable && (sameName(e.name, target) || e.valueMatches))
            deleted.push_back(e.name);
    }
    return deleted;
}

void removeChildren(SnapKey& root, const std::string& path, const std::vector<std::string>& names) {
    auto* list = const_cast<SnapKey*>(findKey(root, path));
    if (list == nullptr)
        return;
    auto& children = list->children;
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [&](const SnapKey& k) {
                                      return std::find(names.begin(), names.end(), k.name) !=
                                             names.end();
                                  }),
                   children.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::string target;
    switch (input.below(6)) {
    case 0:
        target = "myapp.exe";
        break;
    case 1:
        target = "";
        break;
    case 2:
        target = "a\\b";
        break;
    default:
        target = randomText(input, 10);
    }

    MemoryRegistry registry;
    for (const std::string& list : {uninstallPath, appPathsPath}) {
        registry.createKey(list);
        const std::size_t count = input.below(6);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string entry = list + "\\" + keyName(input, target);
            registry.createKey(entry);
            const std::size_t values = input.below(5);
            for (std::size_t v = 0; v < values; ++v) {
                const std::string name = valueName(input);
                const std::uint32_t type =
                    std::array<std::uint32_t, 6>{1, 1, 2, 3, 4, 7}[input.below(6)];
                registry.setValue(entry, name, type, valueData(input, target));
            }
            if (input.below(5) == 0)
                registry.createKey(entry + "\\Child");
        }
    }
    // Lists that are not scanned, holding entries that would match.
    const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    registry.setString(run + "\\" + (target.empty() ? "x" : "t"), "AppToUninstall", target);
    registry.setString("Software\\Other\\Uninstall\\" + std::string(target.empty() ? "y" : "u"),
                       "AppToUninstall", target);

    const SnapKey before = snapshotTree(registry);
    SnapKey expected = before;
    for (const std::string& list : {uninstallPath, appPathsPath})
        removeChildren(expected, list, predictDeleted(registry, before, list, target));
    check(registry.openHandleCount() == 0, "the model left keys open");

    try {
        removeentries(registry, target);
    } catch (const std::exception& e) {
        propertyFailed(std::string("removeentries threw: ") + e.what());
    }
    check(registry.openHandleCount() == 0, "removeentries left registry keys open");

    const auto expectedLines = flatten(expected);
    const auto actualLines = flatten(snapshotTree(registry));
    if (expectedLines != actualLines)
        propertyFailed("target \"" + detail::printable(target) + "\":" +
                       linesDiff(expectedLines, actualLines, "kept by the rules, gone",
                                 "deleted by the rules, still there"));
    return 0;
}
