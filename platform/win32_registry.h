#pragma once

#include "engine/registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// The registry as the system keeps it, through advapi32's 8-bit entry points.
// Names go out in the ANSI code page and text comes back as UTF-8, each item
// read whole; lengths are counted and names compared in the code page, as
// those entry points count and compare them. Keys handed out are the
// system's HKEY values; the caller closes them with closeKey.
//
// The key closed last stays open behind the caller's back, and an open of the
// same path gets it again without a round trip to the
// registry: the install log opens SharedDLLs once for each shared file it
// names. A deletion closes it and keeps no key open at that moment from being
// parked, so a deleted key is never handed out again.
class Win32Registry : public Registry {
public:
    Win32Registry() = default;
    ~Win32Registry() override;
    Win32Registry(const Win32Registry&) = delete;
    Win32Registry& operator=(const Win32Registry&) = delete;

    Status openKey(Key root, const std::string& path, Key& out) override;
    Status closeKey(Key key) override;
    Status readDefaultValue(Key key, const std::string& subkey, Value& out) override;
    Status readValue(Key key, const std::string& name, Value& out) override;
    std::vector<PathValue> readValueOfEach(Key root, const std::vector<std::string>& paths,
                                           const std::string& name) override;
    std::vector<PathValues> readValuesOfEach(Key root, const std::vector<std::string>& paths,
                                             const std::string& last,
                                             const std::vector<std::string>& named) override;
    Status setDwordValue(Key key, const std::string& name, std::uint32_t value) override;
    Status deleteKey(Key key, const std::string& subkey) override;
    Status deleteTree(Key key, const std::string& subkey) override;
    Status checkDeleteTree(Key key, const std::string& subkey) override;
    // In the key given, opened as itself: no link is followed to reach it.
    Status createSubKey(Key key, const std::string& name, Key& out) override;
    Status writeValue(Key key, const std::string& name, const Value& value) override;
    Status enumKey(Key key, std::uint32_t index, std::string& name) override;
    Status enumValue(Key key, std::uint32_t index, std::string& name, Value& value) override;
    bool sameName(std::string_view a, std::string_view b) override;
    int compareNames(std::string_view a, std::string_view b) override;
    std::size_t codePageLength(std::string_view text) override;

private:
    struct Opened {
        Key key;
        Key root;
        std::string path;
    };
    void closeParked();

    // Keys the caller holds that may be parked when closed.
    std::vector<Opened> open_;
    // The key closed last, still open; key 0 when none.
    Opened parked_{0, 0, {}};
};

} // namespace uninst
