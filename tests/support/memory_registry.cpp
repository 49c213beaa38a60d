#include "tests/support/memory_registry.h"

#include "tests/support/memory_names.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace uninst {

namespace {

constexpr RegistryStatus badPathname = RegistryStatus(161);

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

RegistryStatus MemoryRegistry::walk(Node* from, const std::string& path, Node*& node) const {
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
        return Status::notFound();
    node = current;
    return Status::success();
}

RegistryStatus MemoryRegistry::resolve(Key key, Node*& node) const {
    if (key == localMachine) {
        node = root_.get();
        return Status::success();
    }
    auto it = handles_.find(key);
    if (it == handles_.end())
        return Status::invalidHandle();
    if (it->second->deleted)
        return keyDeleted;
    node = it->second.get();
    return Status::success();
}

MemoryRegistry::Node* MemoryRegistry::find(const std::string& path) const {
    Node* node = nullptr;
    return walk(root_.get(), path, node).isSuccess() ? node : nullptr;
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
    return dwordFromBytes(found->data);
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

RegistryStatus MemoryRegistry::openKey(Key root, const std::string& path, Key& out) {
    Node* from = nullptr;
    if (Status status = resolve(root, from); !status.isSuccess())
        return status;
    Node* node = nullptr;
    if (Status status = walk(from, path, node); !status.isSuccess())
        return status;
    const Key handle = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(handle, node->shared_from_this());
    out = handle;
    return Status::success();
}

RegistryStatus MemoryRegistry::resolveBelow(Key key, const std::string& subkey, Node*& node) const {
    if (Status status = resolve(key, node); !status.isSuccess())
        return status;
    return walk(node, subkey, node);
}

RegistryStatus MemoryRegistry::closeKey(Key key) {
    if (key == localMachine)
        return Status::success();
    return handles_.erase(key) == 1 ? Status::success() : Status::invalidHandle();
}

RegistryStatus MemoryRegistry::readDefaultValue(Key key, const std::string& subkey, Value& out) {
    Node* node = nullptr;
    if (Status status = resolveBelow(key, subkey, node); !status.isSuccess())
        return status;
    const Value* found = node->findValue("", scratch_);
    out = found != nullptr ? *found : Value{typeSz, std::string(1, '\0')};
    return Status::success();
}

RegistryStatus MemoryRegistry::readValue(Key key, const std::string& name, Value& out) {
    Node* node = nullptr;
    if (Status status = resolve(key, node); !status.isSuccess())
        return status;
    const Value* found = node->findValue(name, scratch_);
    if (found == nullptr)
        return Status::notFound();
    out = *found;
    return Status::success();
}

RegistryStatus MemoryRegistry::setDwordValue(Key key, const std::string& name,
                                             std::uint32_t value) {
    Node* node = nullptr;
    if (Status status = resolve(key, node); !status.isSuccess())
        return status;
    node->putValue(name, Value{typeDword, dwordBytes(value)}, scratch_);
    return Status::success();
}

RegistryStatus MemoryRegistry::createSubKey(Key key, const std::string& name, Key& out) {
    Node* node = nullptr;
    if (Status status = resolve(key, node); !status.isSuccess())
        return status;
    if (name.empty() || name.find('\\') != std::string::npos)
        return Status(87);
    auto folded = memory::foldName(name);
    if (node->children.count(folded) != 0)
        return Status::alreadyExists();
    auto child = std::make_shared<Node>();
    child->name = name;
    child->parent = node;
    node->children.emplace(std::move(folded), child);
    node->orderValid = false;
    const Key handle = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(handle, std::move(child));
    out = handle;
    return Status::success();
}

RegistryStatus MemoryRegistry::writeValue(Key key, const std::string& name, const Value& value) {
    Node* node = nullptr;
    if (Status status = resolve(key, node); !status.isSuccess())
        return status;
    node->putValue(name, value, scratch_);
    return Status::success();
}

RegistryStatus MemoryRegistry::deleteKey(Key key, const std::string& subkey) {
    Node* node = nullptr;
    if (Status status = resolveBelow(key, subkey, node); !status.isSuccess())
        return status;
    if (node == root_.get() || !node->children.empty())
        return Status::accessDenied();
    Node* parent = node->parent;
    node->deleted = true;
    parent->children.erase(memory::foldName(node->name));
    parent->orderValid = false;
    return Status::success();
}

RegistryStatus MemoryRegistry::deleteTree(Key key, const std::string& subkey) {
    Node* node = nullptr;
    if (Status status = resolveBelow(key, subkey, node); !status.isSuccess())
        return status;
    if (node == root_.get())
        return Status::accessDenied();
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
    return Status::success();
}

RegistryStatus MemoryRegistry::enumKey(Key key, std::uint32_t index, std::string& name) {
    Node* node = nullptr;
    if (Status status = resolve(key, node); !status.isSuccess())
        return status;
    const auto& order = node->ordered();
    if (index >= order.size())
        return Status::noMoreItems();
    name = order[index].second->name;
    return Status::success();
}

RegistryStatus MemoryRegistry::enumValue(Key key, std::uint32_t index, std::string& name,
                                         Value& value) {
    Node* node = nullptr;
    if (Status status = resolve(key, node); !status.isSuccess())
        return status;
    if (index >= node->values.size())
        return Status::noMoreItems();
    name = node->values[index].first;
    value = node->values[index].second;
    return Status::success();
}

bool MemoryRegistry::sameName(std::string_view a, std::string_view b) {
    return memory::foldName(a) == memory::foldName(b);
}

int MemoryRegistry::compareNames(std::string_view a, std::string_view b) {
    const std::u16string foldedA = memory::foldName(a);
    const std::u16string foldedB = memory::foldName(b);
    return foldedA < foldedB ? -1 : (foldedB < foldedA ? 1 : 0);
}

std::size_t MemoryRegistry::codePageLength(std::string_view text) {
    return memory::foldName(text).size();
}

} // namespace uninst
