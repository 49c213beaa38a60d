#include "tests/support/memory_registry.h"

#include "tests/support/memory_names.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace uninst {

namespace {

constexpr long badPathname = 161;

bool isText(std::uint32_t type) {
    // REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ
    return type == 1 || type == 2 || type == 7;
}

std::string dwordBytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// Writes stored value data to the front of a caller's buffer of `capacity`
// bytes, or reports moreData and leaves it alone.
long writeData(const MemoryRegistry::Value& value, std::string& buffer, std::size_t capacity) {
    const std::string& data = value.data;
    if (data.size() > capacity)
        return Registry::moreData;
    std::copy(data.begin(), data.end(), buffer.begin());
    if (isText(value.type) && !data.empty() && data.back() != '\0' && data.size() < capacity)
        buffer[data.size()] = '\0';
    return Registry::success;
}

template <typename Visit> void forEachComponent(std::string_view path, Visit visit) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start && !visit(path.substr(start, end - start)))
            return;
        start = end + 1;
    }
}

} // namespace

struct MemoryRegistry::Node : std::enable_shared_from_this<Node> {
    std::string name;
    Node* parent = nullptr;
    bool deleted = false;
    // Hashed for lookups; enumeration goes through `order`, sorted by the
    // same folded keys and rebuilt after the set of sub-keys changes.
    std::unordered_map<std::u16string, std::shared_ptr<Node>> children;
    mutable std::vector<std::pair<const std::u16string*, Node*>> order;
    mutable bool orderValid = false;
    std::vector<std::pair<std::string, Value>> values;
    std::unordered_map<std::u16string, std::size_t> valueIndex;

    const std::vector<std::pair<const std::u16string*, Node*>>& ordered() const {
        if (!orderValid) {
            order.clear();
            order.reserve(children.size());
            for (const auto& entry : children)
                order.emplace_back(&entry.first, entry.second.get());
            std::sort(order.begin(), order.end(),
                      [](const auto& a, const auto& b) { return *a.first < *b.first; });
            orderValid = true;
        }
        return order;
    }

    const Value* findValue(std::string_view valueName, std::u16string& scratch) const {
        memory::foldInto(valueName, scratch);
        auto it = valueIndex.find(scratch);
        return it == valueIndex.end() ? nullptr : &values[it->second].second;
    }

    void putValue(const std::string& valueName, Value value, std::u16string& scratch) {
        memory::foldInto(valueName, scratch);
        auto it = valueIndex.find(scratch);
        if (it != valueIndex.end()) {
            values[it->second].second = std::move(value);
            return;
        }
        valueIndex.emplace(scratch, values.size());
        values.emplace_back(valueName, std::move(value));
    }
};

MemoryRegistry::MemoryRegistry() : root_(std::make_shared<Node>()) {}

MemoryRegistry::~MemoryRegistry() = default;

long MemoryRegistry::walk(Node* from, const std::string& path, Node*& node) const {
    if (!path.empty() && path.front() == '\\')
        return badPathname;
    Node* current = from;
    forEachComponent(path, [&](std::string_view component) {
        memory::foldInto(component, scratch_);
        auto it = current->children.find(scratch_);
        current = it == current->children.end() ? nullptr : it->second.get();
        return current != nullptr;
    });
    if (current == nullptr)
        return fileNotFound;
    node = current;
    return success;
}

long MemoryRegistry::resolve(Key key, Node*& node) const {
    if (key == localMachine) {
        node = root_.get();
        return success;
    }
    auto it = handles_.find(key);
    if (it == handles_.end())
        return invalidHandle;
    if (it->second->deleted)
        return keyDeleted;
    node = it->second.get();
    return success;
}

MemoryRegistry::Node* MemoryRegistry::find(const std::string& path) const {
    Node* node = nullptr;
    return walk(root_.get(), path, node) == success ? node : nullptr;
}

MemoryRegistry::Node& MemoryRegistry::create(const std::string& path) {
    Node* current = root_.get();
    forEachComponent(path, [&](std::string_view component) {
        auto key = memory::foldName(component);
        auto it = current->children.find(key);
        if (it == current->children.end()) {
            auto child = std::make_shared<Node>();
            child->name = std::string(component);
            child->parent = current;
            it = current->children.emplace(std::move(key), std::move(child)).first;
            current->orderValid = false;
        }
        current = it->second.get();
        return true;
    });
    return *current;
}

void MemoryRegistry::createKey(const std::string& path) {
    create(path);
}

void MemoryRegistry::setValue(const std::string& keyPath, const std::string& name,
                              std::uint32_t type, const std::string& data) {
    create(keyPath).putValue(name, Value{type, data}, scratch_);
}

void MemoryRegistry::setString(const std::string& keyPath, const std::string& name,
                               const std::string& text) {
    setValue(keyPath, name, typeSz, text + '\0');
}

void MemoryRegistry::setDword(const std::string& keyPath, const std::string& name,
                              std::uint32_t value) {
    setValue(keyPath, name, typeDword, dwordBytes(value));
}

bool MemoryRegistry::keyExists(const std::string& path) const {
    return find(path) != nullptr;
}

std::optional<MemoryRegistry::Value> MemoryRegistry::value(const std::string& keyPath,
                                                           const std::string& name) const {
    const Node* node = find(keyPath);
    const Value* found = node == nullptr ? nullptr : node->findValue(name, scratch_);
    if (found == nullptr)
        return std::nullopt;
    return *found;
}

std::optional<std::uint32_t> MemoryRegistry::dword(const std::string& keyPath,
                                                   const std::string& name) const {
    auto found = value(keyPath, name);
    if (!found || found->type != typeDword || found->data.size() != 4)
        return std::nullopt;
    std::uint32_t result = 0;
    for (int i = 3; i >= 0; --i)
        result = (result << 8) | static_cast<unsigned char>(found->data[i]);
    return result;
}

std::vector<std::string> MemoryRegistry::subKeyNames(const std::string& path) const {
    std::vector<std::string> names;
    if (const Node* node = find(path)) {
        for (const auto& entry : node->ordered())
            names.push_back(entry.second->name);
    }
    return names;
}

std::size_t MemoryRegistry::openHandleCount() const {
    return handles_.size();
}

long MemoryRegistry::openKey(Key root, const std::string& path, std::uint32_t, Key& out) {
    out = 0;
    Node* from = nullptr;
    if (long status = resolve(root, from); status != success)
        return status;
    Node* node = nullptr;
    if (long status = walk(from, path, node); status != success)
        return status;
    const Key handle = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(handle, node->shared_from_this());
    out = handle;
    return success;
}

long MemoryRegistry::queryDefaultValue(Key key, const std::string& subkey, std::string& buffer) {
    Node* node = nullptr;
    if (long status = resolve(key, node); status != success)
        return status;
    if (long status = walk(node, subkey, node); status != success)
        return status;
    const Value* found = node->findValue("", scratch_);
    if (found == nullptr) {
        // An unset default value reads as empty text.
        if (!buffer.empty())
            buffer[0] = '\0';
        return success;
    }
    return writeData(*found, buffer, buffer.size());
}

long MemoryRegistry::queryValue(Key key, const std::string& name, std::uint32_t& type,
                                std::string& buffer) {
    Node* node = nullptr;
    if (long status = resolve(key, node); status != success)
        return status;
    const Value* found = node->findValue(name, scratch_);
    if (found == nullptr)
        return fileNotFound;
    if (long status = writeData(*found, buffer, buffer.size()); status != success)
        return status;
    type = found->type;
    return success;
}

long MemoryRegistry::setDwordValue(Key key, const std::string& name, std::uint32_t value) {
    Node* node = nullptr;
    if (long status = resolve(key, node); status != success)
        return status;
    node->putValue(name, Value{typeDword, dwordBytes(value)}, scratch_);
    return success;
}

long MemoryRegistry::deleteKey(Key key, const std::string& subkey) {
    Node* node = nullptr;
    if (long status = resolve(key, node); status != success)
        return status;
    if (long status = walk(node, subkey, node); status != success)
        return status;
    if (node == root_.get() || !node->children.empty())
        return accessDenied;
    Node* parent = node->parent;
    node->deleted = true;
    parent->children.erase(memory::foldName(node->name));
    parent->orderValid = false;
    return success;
}

long MemoryRegistry::deleteTree(Key key, const std::string& subkey) {
    Node* node = nullptr;
    if (long status = resolve(key, node); status != success)
        return status;
    if (long status = walk(node, subkey, node); status != success)
        return status;
    if (node == root_.get())
        return accessDenied;
    // Handles open anywhere below go stale, as they do on Windows.
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* current = pending.back();
        pending.pop_back();
        current->deleted = true;
        for (const auto& entry : current->children)
            pending.push_back(entry.second.get());
    }
    Node* parent = node->parent;
    parent->children.erase(memory::foldName(node->name));
    parent->orderValid = false;
    return success;
}

long MemoryRegistry::enumKey(Key key, std::uint32_t index, std::string& name,
                             std::uint32_t& nameLength, std::string& cls,
                             std::uint32_t& classLength) {
    Node* node = nullptr;
    if (long status = resolve(key, node); status != success)
        return status;
    const auto& order = node->ordered();
    if (index >= order.size())
        return noMoreItems;
    const std::string& childName = order[index].second->name;
    const std::size_t capacity = std::min<std::size_t>(nameLength, name.size());
    if (childName.size() >= capacity)
        return moreData;
    std::copy(childName.begin(), childName.end(), name.begin());
    name[childName.size()] = '\0';
    nameLength = static_cast<std::uint32_t>(childName.size());
    if (classLength > 0 && !cls.empty())
        cls[0] = '\0';
    classLength = 0;
    return success;
}

long MemoryRegistry::enumValue(Key key, std::uint32_t index, std::string& name,
                               std::uint32_t& nameLength, std::uint32_t& type, std::string& data,
                               std::uint32_t& dataLength) {
    Node* node = nullptr;
    if (long status = resolve(key, node); status != success)
        return status;
    if (index >= node->values.size())
        return noMoreItems;
    const auto& [valueName, value] = node->values[index];
    const std::size_t nameCapacity = std::min<std::size_t>(nameLength, name.size());
    const std::size_t dataCapacity = std::min<std::size_t>(dataLength, data.size());
    type = value.type;
    if (valueName.size() >= nameCapacity || value.data.size() > dataCapacity) {
        dataLength = static_cast<std::uint32_t>(value.data.size());
        return moreData;
    }
    std::copy(valueName.begin(), valueName.end(), name.begin());
    name[valueName.size()] = '\0';
    nameLength = static_cast<std::uint32_t>(valueName.size());
    writeData(value, data, dataCapacity);
    dataLength = static_cast<std::uint32_t>(value.data.size());
    return success;
}

long MemoryRegistry::closeKey(Key key) {
    if (key == localMachine)
        return success;
    return handles_.erase(key) == 1 ? success : invalidHandle;
}

} // namespace uninst
