#pragma once

#include <cstdint>
#include <string>

namespace uninst {

// The registry operations the engine uses, shaped like the 8-bit advapi32
// entry points they stand for. Every call returns a status: 0 is success and
// callers only ever test zero against non-zero. No call throws.
//
// Text crosses this interface as UTF-8; implementations that talk to a real
// registry convert to and from the 8-bit code page themselves. Buffers are
// std::string objects pre-filled by the caller; their size is the capacity
// handed to the registry. A failed read leaves the caller's buffer exactly as
// it was.
class Registry {
public:
    using Key = std::uintptr_t;
    static constexpr Key localMachine = 0x80000002;
    static constexpr std::uint32_t allAccess = 0x1F001F;

    static constexpr long success = 0;
    static constexpr long accessDenied = 5;
    static constexpr long moreData = 234;
    static constexpr long noMoreItems = 259;
    static constexpr long fileNotFound = 2;
    static constexpr long invalidHandle = 6;

    static constexpr std::uint32_t typeSz = 1;
    static constexpr std::uint32_t typeExpandSz = 2;
    static constexpr std::uint32_t typeBinary = 3;
    static constexpr std::uint32_t typeDword = 4;

    virtual ~Registry() = default;

    // RegOpenKeyExA(root, path, 0, access, &out). `path` may have several
    // levels separated by "\".
    virtual long openKey(Key root, const std::string& path, std::uint32_t access, Key& out) = 0;

    // RegQueryValueA(key, subkey, buffer, &size) with size = buffer.size():
    // the default value of `subkey` is written to the front of the buffer,
    // followed by its NUL terminator; the rest of the buffer is untouched.
    virtual long queryDefaultValue(Key key, const std::string& subkey, std::string& buffer) = 0;

    // RegQueryValueExA(key, name, 0, &type, buffer, &size) with
    // size = buffer.size(): on success the stored data is written to the
    // front of the buffer (text data with its NUL terminator), `type` receives
    // the stored type and the rest of the buffer is untouched. A missing
    // value, or one larger than the buffer, leaves buffer and type as they
    // were.
    virtual long queryValue(Key key, const std::string& name, std::uint32_t& type,
                            std::string& buffer) = 0;

    // RegSetValueExA(key, name, 0, REG_DWORD, &value, 4).
    virtual long setDwordValue(Key key, const std::string& name, std::uint32_t value) = 0;

    // RegDeleteKeyA(key, subkey): removes that one key, even while a handle
    // on it or on its parent is open. A key that still has sub-keys is not
    // removed.
    virtual long deleteKey(Key key, const std::string& subkey) = 0;

    // Removes `subkey` with every key below it, deepest first, each as
    // deleteKey would. A registry link met on the way, `subkey` included, is
    // neither followed nor deleted: it and the keys holding it stay, and the
    // status is not success. So does anything that refuses deletion.
    virtual long deleteTree(Key key, const std::string& subkey) = 0;

    // RegEnumKeyExA(key, index, name, &nameLength, 0, cls, &classLength, &t)
    // with both lengths in = the buffers' sizes. On success the index-th
    // sub-key name is written to the front of `name` followed by a NUL, and
    // nameLength receives its length without the terminator. A name that does
    // not fit gives moreData and leaves the buffer alone; past the end gives
    // noMoreItems.
    virtual long enumKey(Key key, std::uint32_t index, std::string& name, std::uint32_t& nameLength,
                         std::string& cls, std::uint32_t& classLength) = 0;

    // RegEnumValueA(key, index, name, &nameLength, 0, &type, data, &dataLength)
    // with nameLength in = name.size() and dataLength in = data.size().
    virtual long enumValue(Key key, std::uint32_t index, std::string& name,
                           std::uint32_t& nameLength, std::uint32_t& type, std::string& data,
                           std::uint32_t& dataLength) = 0;

    // RegCloseKey(key).
    virtual long closeKey(Key key) = 0;
};

// Owns one open key of a Registry and closes it when it goes out of scope,
// so that no path out of a procedure leaks a handle.
class ScopedKey {
public:
    ScopedKey() = default;
    explicit ScopedKey(Registry& registry) : registry_(&registry) {}
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    ScopedKey(ScopedKey&& other) noexcept : registry_(other.registry_), key_(other.key_) {
        other.key_ = 0;
    }
    ScopedKey& operator=(ScopedKey&& other) noexcept {
        if (this != &other) {
            reset();
            registry_ = other.registry_;
            key_ = other.key_;
            other.key_ = 0;
        }
        return *this;
    }
    ~ScopedKey() { reset(); }

    // Opens `path` under `root` with all access; false when the open failed.
    bool open(Registry::Key root, const std::string& path) {
        reset();
        Registry::Key key = 0;
        if (registry_->openKey(root, path, Registry::allAccess, key) != Registry::success)
            return false;
        key_ = key;
        return true;
    }

    Registry::Key get() const { return key_; }
    explicit operator bool() const { return key_ != 0; }

    void reset() {
        if (key_ != 0 && registry_ != nullptr)
            registry_->closeKey(key_);
        key_ = 0;
    }

private:
    Registry* registry_ = nullptr;
    Registry::Key key_ = 0;
};

} // namespace uninst
