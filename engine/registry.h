#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// What a registry call ended with: the system's own status, asked by name.
class RegistryStatus {
public:
    constexpr RegistryStatus() = default;
    constexpr explicit RegistryStatus(long code) : code_(code) {}

    static constexpr RegistryStatus success() { return RegistryStatus(0); }
    static constexpr RegistryStatus notFound() { return RegistryStatus(2); }
    static constexpr RegistryStatus accessDenied() { return RegistryStatus(5); }
    static constexpr RegistryStatus invalidHandle() { return RegistryStatus(6); }
    static constexpr RegistryStatus moreData() { return RegistryStatus(234); }
    static constexpr RegistryStatus noMoreItems() { return RegistryStatus(259); }
    static constexpr RegistryStatus alreadyExists() { return RegistryStatus(183); }
    // A name the 8-bit code page cannot spell.
    static constexpr RegistryStatus noUnicodeTranslation() { return RegistryStatus(1113); }

    constexpr bool isSuccess() const { return code_ == 0; }
    constexpr bool isNotFound() const { return code_ == 2; }
    constexpr bool isMoreData() const { return code_ == 234; }
    constexpr bool isNoMoreItems() const { return code_ == 259; }
    constexpr bool isAlreadyExists() const { return code_ == 183; }

    // The system's number, for messages and for the tests of a registry.
    constexpr long code() const { return code_; }
    friend constexpr bool operator==(RegistryStatus, RegistryStatus) = default;
    // Shows the number, in messages and in failed test expectations.
    template <typename Stream> friend Stream& operator<<(Stream& out, RegistryStatus status) {
        out << "status " << status.code_;
        return out;
    }

private:
    long code_ = 0;
};

// The registry operations the engine uses, on HKEY_LOCAL_MACHINE's keys as
// the system's 8-bit entry points see them: names go out through the 8-bit
// code page, and text comes back as those entry points give it, converted to
// UTF-8. Items come back whole; the sizes of the buffers the engine reads
// them into are applied once, by the codepage functions below. No call
// throws, and an output is only written by a call that succeeds.
//
// The port comes in two halves, what reads and what changes, on the names
// they share. Opening and closing keys is on the reading side: a handle
// changes nothing in the registry. Every change is pure virtual, with no
// default, so that a decorator that does not handle a new change does not
// compile.
struct RegistryTypes {
    using Key = std::uintptr_t;
    using Status = RegistryStatus;
    static constexpr Key localMachine = 0x80000002;

    static constexpr std::uint32_t typeSz = 1;
    static constexpr std::uint32_t typeExpandSz = 2;
    static constexpr std::uint32_t typeBinary = 3;
    static constexpr std::uint32_t typeDword = 4;

    // A value's type and its data as stored: text data with its terminator
    // if it has one, NULs inside it and all.
    struct Value {
        std::uint32_t type = 0;
        std::string data;
    };

    // What reading one value of one key by its path came to: whether the
    // key opened, and then the read's status, else the open's.
    struct PathValue {
        bool opened = false;
        Status status;
        Value value;
    };
    // What walking the values of one key by its path came to: whether the
    // key opened, and the values met in index order. `status` is the open's
    // failure, else what ended the walk: success when it met the value it
    // was to stop at, noMoreItems past the last, or enumValue's failure.
    struct NamedValue {
        std::string name;
        Value value;
    };
    struct PathValues {
        bool opened = false;
        Status status;
        std::vector<NamedValue> values;
        // The values asked for by name on the key the walk opened, in the
        // order asked; none where it did not open.
        std::vector<PathValue> named;
    };
};

class RegistryReader : public RegistryTypes {
public:
    virtual ~RegistryReader() = default;

    // Opens `path` below `root` for reading, writing and deleting. `path` may
    // have several levels separated by "\".
    virtual Status openKey(Key root, const std::string& path, Key& out) = 0;
    virtual Status closeKey(Key key) = 0;

    // The default value of the sub-key `subkey` ("" for the key itself), read
    // as text. An existing key without one reads as empty text: one NUL.
    virtual Status readDefaultValue(Key key, const std::string& subkey, Value& out) = 0;
    virtual Status readValue(Key key, const std::string& name, Value& out) = 0;

    // For each of `paths` below `root`, in the same order, what openKey of it,
    // readValue of `name` on the key it opened and closeKey would give: the
    // open's status where it failed, else the read's, with the value where
    // the read succeeded. A caller may judge a key it may not open apart
    // from one it opened and may not read. A registry where each call is a round trip may read
    // several at once. The default makes the three calls above, one path
    // after another, so that a port which answers them its own way answers
    // this the same way.
    virtual std::vector<PathValue> readValueOfEach(Key root, const std::vector<std::string>& paths,
                                                   const std::string& name);

    // For each of `paths` below `root`, in the same order, what openKey of
    // it, enumValue from index 0 on the key it opened, and closeKey would
    // give: every value up to and including the first whose name is `last`
    // exactly (letter case too), or to the end of the list. Each of `named`
    // is read on that same key before the walk, as readValueOfEach reads it,
    // which spares a key that is walked anyway an opening of its own for
    // them. Batched as readValueOfEach is, and by default asked the same
    // way, one call after another.
    virtual std::vector<PathValues> readValuesOfEach(Key root,
                                                     const std::vector<std::string>& paths,
                                                     const std::string& last,
                                                     const std::vector<std::string>& named);

    // Whether deleteTree(key, subkey) could remove that key and every key
    // below it now: each opened as the deletion opens it, none a registry
    // link, each granting its deletion. notFound when the key is not there.
    // Changes nothing. The default opens the key and closes it again.
    virtual Status checkDeleteTree(Key key, const std::string& subkey);

    // The index-th sub-key's name, or the index-th value with its name; past
    // the last, noMoreItems. After a deletion the later items move down one.
    virtual Status enumKey(Key key, std::uint32_t index, std::string& name) = 0;
    virtual Status enumValue(Key key, std::uint32_t index, std::string& name, Value& value) = 0;

    // Whether the registry takes the two texts for the same name: compared
    // without regard to letter case as the system folds it, in every script
    // the code page holds, not only a-z.
    virtual bool sameName(std::string_view a, std::string_view b) = 0;

    // Orders two names by the rule sameName compares them by: negative, zero
    // exactly when sameName takes them for the same, or positive, and always
    // the same order, so that many names can be sorted and their repeats
    // found side by side rather than each compared with every other.
    virtual int compareNames(std::string_view a, std::string_view b) = 0;

    // How many characters of the 8-bit code page `text` takes: the unit in
    // which the 8-bit entry points measure names, data and their buffers.
    virtual std::size_t codePageLength(std::string_view text) = 0;
};

class RegistryChanges : public RegistryTypes {
public:
    virtual ~RegistryChanges() = default;

    virtual Status setDwordValue(Key key, const std::string& name, std::uint32_t value) = 0;

    // Removes that one key, even while a handle on it or on its parent is
    // open. A key that still has sub-keys is not removed.
    virtual Status deleteKey(Key key, const std::string& subkey) = 0;

    // Removes `subkey` with every key below it, deepest first, each as
    // deleteKey would. A registry link met on the way, `subkey` included, is
    // neither followed nor deleted: it and the keys holding it stay, and the
    // status is not success. So does anything that refuses deletion.
    virtual Status deleteTree(Key key, const std::string& subkey) = 0;

    // What a restore puts back. createSubKey makes the one new key `name`
    // directly below `key` and opens it as openKey would; a key already
    // there is not opened and answers alreadyExists.
    virtual Status createSubKey(Key key, const std::string& name, Key& out) = 0;
    // Sets a value of any type, its data as stored (text in UTF-8).
    virtual Status writeValue(Key key, const std::string& name, const Value& value) = 0;
};

// The whole port: what the run's steps take when they both read and change.
class Registry : public RegistryReader, public RegistryChanges {};

// A DWORD value's data as the registry holds it, least significant byte
// first. Bytes missing from a short value read as zero; bytes past the fourth
// are not part of the number.
std::uint32_t dwordFromBytes(std::string_view bytes);
std::string dwordBytes(std::uint32_t value);

// The 8-bit calls as the engine makes them, with the caller's buffers: the one
// place where those buffers are filled. A buffer holds one byte for each
// character of the code page it offers, all of them set by the caller (blanks
// or NULs); its size is the room handed to the call. A call that succeeds lays
// the data over the front of the buffer, text converted to UTF-8 (so the
// front may take more bytes than the characters it stands for), with a NUL
// after text that has none where there is room for it; the rest of the buffer
// stays as the caller set it. Data larger than the room gives moreData. A
// call that fails leaves the buffer and every other output as they were.
namespace codepage {

// RegQueryValueA(key, subkey, buffer, &size).
Registry::Status queryDefaultValue(RegistryReader& registry, Registry::Key key,
                                   const std::string& subkey, std::string& buffer);

// RegQueryValueExA(key, name, 0, &type, buffer, &size).
Registry::Status queryValue(RegistryReader& registry, Registry::Key key, const std::string& name,
                            std::uint32_t& type, std::string& buffer);

// queryValue for a read made already (by readValueOfEach): the status and
// the value it gave, laid over the buffer as queryValue lays them.
Registry::Status queryValueRead(RegistryReader& registry, const Registry::PathValue& read,
                                std::uint32_t& type, std::string& buffer);

// RegEnumKeyExA(key, index, name, &nameLength, 0, 0, 0, 0): the name and its
// NUL; nameLength receives the name's length in the buffer, in bytes. A name
// without room for its NUL gives moreData.
Registry::Status enumKey(RegistryReader& registry, Registry::Key key, std::uint32_t index,
                         std::string& name, std::uint32_t& nameLength);

// RegEnumValueA(key, index, name, &nameLength, 0, &type, data, &dataLength):
// the name as enumKey gives it, the data as queryValue does; dataLength
// receives the data's length in the buffer, in bytes.
Registry::Status enumValue(RegistryReader& registry, Registry::Key key, std::uint32_t index,
                           std::string& name, std::uint32_t& nameLength, std::uint32_t& type,
                           std::string& data, std::uint32_t& dataLength);

// enumValue for a value met already (by readValuesOfEach): laid over the
// buffers as enumValue lays it.
Registry::Status enumValueRead(RegistryReader& registry, const Registry::NamedValue& found,
                               std::string& name, std::uint32_t& nameLength, std::uint32_t& type,
                               std::string& data, std::uint32_t& dataLength);

} // namespace codepage

// Owns one open key of a registry and closes it when it goes out of scope,
// so that no path out of a procedure leaks a handle.
class ScopedKey {
public:
    ScopedKey() = default;
    explicit ScopedKey(RegistryReader& registry) : registry_(&registry) {}
    // Takes over a key the caller opened itself, to see the open's status.
    ScopedKey(RegistryReader& registry, Registry::Key key) : registry_(&registry), key_(key) {}
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

    // Opens `path` under `root`; false when the open failed.
    bool open(Registry::Key root, const std::string& path) {
        reset();
        Registry::Key key = 0;
        if (!registry_->openKey(root, path, key).isSuccess())
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
    RegistryReader* registry_ = nullptr;
    Registry::Key key_ = 0;
};

} // namespace uninst
