#pragma once

#include "engine/registry.h"
#include "tests/support/memory_names.h"
#include "tests/support/text_helpers.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// A whole registry read back through the Registry interface with buffers
// larger than anything a test stores, so that the picture does not depend on
// the buffer sizes the engine uses. Fuzz targets and the fault sweep compare
// worlds before and after a run with it.
namespace uninst::test {

struct SnapValue {
    std::string name;
    std::uint32_t type = 0;
    std::string data;
};

struct SnapKey {
    std::string name;              // as stored; the root's is empty
    std::vector<SnapValue> values; // enumeration order
    std::vector<SnapKey> children; // enumeration order
};

namespace detail {

// Buffers start at a size above anything the engine reads and grow when the
// registry says an item does not fit, so no item is ever missed.
inline constexpr std::uint32_t startSize = 4096;
inline constexpr std::uint32_t largest = 1u << 24;

inline void readKey(Registry& registry, Registry::Key key, SnapKey& out) {
    std::string name;
    std::string data;
    std::uint32_t size = startSize;
    for (std::uint32_t index = 0;;) {
        name.assign(size, ' ');
        data.assign(size, '\0');
        std::uint32_t nameLength = size;
        std::uint32_t dataLength = size;
        std::uint32_t type = 0;
        const long status =
            registry.enumValue(key, index, name, nameLength, type, data, dataLength);
        if (status == Registry::moreData && size < largest) {
            size *= 2;
            continue;
        }
        if (status != Registry::success)
            break;
        out.values.push_back({name.substr(0, nameLength), type, data.substr(0, dataLength)});
        ++index;
    }
    std::string cls;
    size = startSize;
    for (std::uint32_t index = 0;;) {
        name.assign(size, ' ');
        cls.assign(size, ' ');
        std::uint32_t nameLength = size;
        std::uint32_t classLength = size;
        const long status = registry.enumKey(key, index, name, nameLength, cls, classLength);
        if (status == Registry::moreData && size < largest) {
            size *= 2;
            continue;
        }
        if (status != Registry::success)
            break;
        SnapKey child;
        child.name = name.substr(0, nameLength);
        Registry::Key handle = 0;
        if (registry.openKey(key, child.name, Registry::allAccess, handle) == Registry::success) {
            readKey(registry, handle, child);
            registry.closeKey(handle);
        }
        out.children.push_back(std::move(child));
        ++index;
    }
}

inline std::string printable(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '%') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[b >> 4]);
            out.push_back(hex[b & 15]);
        }
    }
    return out;
}

inline void flatten(const SnapKey& key, const std::string& path, std::vector<std::string>& out) {
    out.push_back("K " + printable(path));
    for (const SnapValue& value : key.values)
        out.push_back("V " + printable(path) + " | " + printable(value.name) + " | " +
                      std::to_string(value.type) + " | " + printable(value.data));
    for (const SnapKey& child : key.children)
        flatten(child, path.empty() ? child.name : path + "\\" + child.name, out);
}

} // namespace detail

inline SnapKey snapshotTree(Registry& registry) {
    SnapKey root;
    detail::readKey(registry, Registry::localMachine, root);
    return root;
}

// One line per key and per value, in enumeration order, with bytes outside
// printable ASCII written as %xx so that differences are readable.
inline std::vector<std::string> flatten(const SnapKey& root) {
    std::vector<std::string> lines;
    detail::flatten(root, "", lines);
    return lines;
}

inline std::vector<std::string> snapshotLines(Registry& registry) {
    return flatten(snapshotTree(registry));
}

// The lines of `expected` that `actual` lacks, then those it has beyond
// them, each on a line of its own after the label that says what it means.
inline std::string linesDiff(const std::vector<std::string>& expected,
                             const std::vector<std::string>& actual, const std::string& missing,
                             const std::string& unexpected) {
    std::string diff;
    for (const auto& line : expected) {
        if (std::find(actual.begin(), actual.end(), line) == actual.end())
            diff += "\n  " + missing + ": " + line;
    }
    for (const auto& line : actual) {
        if (std::find(expected.begin(), expected.end(), line) == expected.end())
            diff += "\n  " + unexpected + ": " + line;
    }
    return diff;
}

// The key below `key` at a relative path of "\\"-separated names, matched
// without regard to case as the registry does, or nullptr.
inline const SnapKey* findKey(const SnapKey& key, const std::string& path) {
    std::vector<std::string_view> steps = pathSteps(path);
    // A trailing separator names no further key.
    if (steps.back().empty())
        steps.pop_back();
    const SnapKey* current = &key;
    for (std::string_view step : steps) {
        const auto wanted = memory::foldName(step);
        const SnapKey* next = nullptr;
        for (const SnapKey& child : current->children) {
            if (memory::foldName(child.name) == wanted)
                next = &child;
        }
        current = next;
        if (current == nullptr)
            break;
    }
    return current;
}

} // namespace uninst::test
