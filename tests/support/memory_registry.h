#pragma once

#include "engine/registry.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// A registry held in memory that answers as Windows does: names match without
// regard to case, sub-keys enumerate in case-insensitive sorted order and
// values in creation order, later items move down one index after a deletion,
// and deleting an open key succeeds while calls through the stale handle then
// fail.
// Everything lives under HKEY_LOCAL_MACHINE; fixture paths are full key paths
// below it ("Software\\Microsoft\\..."). Calls through the handle of a deleted
// key give keyDeleted; handles that were never opened or are closed give
// invalidHandle. Text data is stored exactly as given: setString adds the NUL
// terminator, setValue does not; the unset default value of an existing key
// reads as empty text.
class MemoryRegistry : public Registry {
public:
    static constexpr Status keyDeleted = Status(1018);

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

    Status openKey(Key root, const std::string& path, Key& out) override;
    Status closeKey(Key key) override;
    Status readDefaultValue(Key key, const std::string& subkey, Value& out) override;
    Status readValue(Key key, const std::string& name, Value& out) override;
    Status setDwordValue(Key key, const std::string& name, std::uint32_t value) override;
    Status deleteKey(Key key, const std::string& subkey) override;
    Status deleteTree(Key key, const std::string& subkey) override;
    Status createSubKey(Key key, const std::string& name, Key& out) override;
    Status writeValue(Key key, const std::string& name, const Value& value) override;
    Status enumKey(Key key, std::uint32_t index, std::string& name) override;
    Status enumValue(Key key, std::uint32_t index, std::string& name, Value& value) override;
    // Letter case folds as memory_names.h folds it: ASCII, Latin-1 and the
    // other scripts names in tests use, as code page 1252 and Wine fold them.
    bool sameName(std::string_view a, std::string_view b) override;
    int compareNames(std::string_view a, std::string_view b) override;
    // One character of the code page for each UTF-16 unit, whatever its
    // UTF-8 length: a code page that holds every character.
    std::size_t codePageLength(std::string_view text) override;

private:
    struct Node;
    Node* find(const std::string& path) const;
    Node& create(const std::string& path);
    // The node behind a handle, or the status a call through it gives.
    Status resolve(Key key, Node*& node) const;
    Status walk(Node* from, const std::string& path, Node*& node) const;
    // The node at `subkey` below the handle's, or the status either step gives.
    Status resolveBelow(Key key, const std::string& subkey, Node*& node) const;

    std::shared_ptr<Node> root_;
    std::map<Key, std::shared_ptr<Node>> handles_;
    Key nextHandle_ = 0x100;
    // Lookup keys are folded into this buffer so that opening a key allocates
    // nothing but its handle.
    mutable std::u16string scratch_;
};

} // namespace uninst
