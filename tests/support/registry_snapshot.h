#pragma once

#include "engine/registry.h"
#include "tests/support/memory_names.h"
#include "tests/support/text_helpers.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// A whole registry read back through the Registry interface, item by item
// and whole, so that the picture does not depend on the buffer sizes the
// engine uses. Fuzz targets and the fault sweep compare
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

inline void readKey(Registry& registry, Registry::Key key, SnapKey& out) {
    for (std::uint32_t index = 0;; ++index) {
        SnapValue value;
        Registry::Value stored;
        if (!registry.enumValue(key, index, value.name, stored).isSuccess())
            break;
        value.type = stored.type;
        value.data = std::move(stored.data);
        out.values.push_back(std::move(value));
    }
    for (std::uint32_t index = 0;; ++index) {
        SnapKey child;
        if (!registry.enumKey(key, index, child.name).isSuccess())
            break;
        Registry::Key handle = 0;
        if (registry.openKey(key, child.name, handle).isSuccess()) {
            readKey(registry, handle, child);
            registry.closeKey(handle);
        }
        out.children.push_back(std::move(child));
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
    std::vector<std::string_view> steps = pathSteps(path, "\\");
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
