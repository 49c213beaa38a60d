#pragma once

#include "engine/registry.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace uninst {

// A registry held in memory that answers as Windows does: names match without
// regard to case, sub-keys enumerate in case-insensitive sorted order and
// values in creation order, later items move down one index after a deletion,
// a buffer too small gives moreData and is left alone, and deleting an open
// key succeeds while calls through the stale handle then fail.
// Everything lives under HKEY_LOCAL_MACHINE; fixture paths are full key paths
// below it ("Software\\Microsoft\\..."). Calls through the handle of a deleted
// key give keyDeleted; handles that were never opened or are closed give
// invalidHandle. Text data is stored exactly as given: setString adds the NUL
// terminator, setValue does not; a read of a text value whose data lacks the
// terminator appends one when the buffer has room, as Windows does, and the
// unset default value of an existing key reads as empty text.
class MemoryRegistry : public Registry {
public:
    struct Value {
        std::uint32_t type = 0;
        std::string data;
    };

    static constexpr long keyDeleted = 1018;

    MemoryRegistry();
    ~MemoryRegistry() override;

    // Building and inspecting a world in tests. The setters create the key
    // and its parents as needed.
    void createKey(const std::string& path);
    void setValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                  const std::string& data);
    void setString(const std::string& keyPath, const std::string& name, const std::string& text);
    void setDword(const std::string& keyPath, const std::string& name, std::uint32_t value);
    bool keyExists(const std::string& path) const;
    std::optional<Value> value(const std::string& keyPath, const std::string& name) const;
    std::optional<std::uint32_t> dword(const std::string& keyPath, const std::string& name) const;
    std::vector<std::string> subKeyNames(const std::string& path) const;
    std::size_t openHandleCount() const;

    long openKey(Key root, const std::string& path, std::uint32_t access, Key& out) override;
    long queryDefaultValue(Key key, const std::string& subkey, std::string& buffer) override;
    long queryValue(Key key, const std::string& name, std::uint32_t& type,
                    std::string& buffer) override;
    long setDwordValue(Key key, const std::string& name, std::uint32_t value) override;
    long deleteKey(Key key, const std::string& subkey) override;
    long deleteTree(Key key, const std::string& subkey) override;
    long enumKey(Key key, std::uint32_t index, std::string& name, std::uint32_t& nameLength,
                 std::string& cls, std::uint32_t& classLength) override;
    long enumValue(Key key, std::uint32_t index, std::string& name, std::uint32_t& nameLength,
                   std::uint32_t& type, std::string& data, std::uint32_t& dataLength) override;
    long closeKey(Key key) override;

private:
    struct Node;
    Node* find(const std::string& path) const;
    Node& create(const std::string& path);
    // The node behind a handle, or the status a call through it gives.
    long resolve(Key key, Node*& node) const;
    long walk(Node* from, const std::string& path, Node*& node) const;

    std::shared_ptr<Node> root_;
    std::map<Key, std::shared_ptr<Node>> handles_;
    Key nextHandle_ = 0x100;
    // Lookup keys are folded into this buffer so that opening a key allocates
    // nothing but its handle.
    mutable std::u16string scratch_;
};

} // namespace uninst
