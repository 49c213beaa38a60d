#pragma once

#include "engine/registry.h"

#include <string>
#include <vector>

namespace uninst {

// The registry as the system keeps it, through advapi32's 8-bit entry points.
// Names go out in the ANSI code page and text comes back as UTF-8; a result
// that no longer fits the caller's buffer once converted is reported as
// moreData, exactly like one that did not fit in the first place. Keys handed
// out are the system's HKEY values; the caller closes them with closeKey.
//
// The key closed last stays open behind the caller's back, and an open of the
// same path with the same access gets it again without a round trip to the
// registry: the install log opens SharedDLLs once for each shared file it
// names. A deletion closes it and keeps no key open at that moment from being
// parked, so a deleted key is never handed out again.
class Win32Registry : public Registry {
public:
    Win32Registry() = default;
    ~Win32Registry() override;
    Win32Registry(const Win32Registry&) = delete;
    Win32Registry& operator=(const Win32Registry&) = delete;

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
    struct Opened {
        Key key;
        Key root;
        std::string path;
        std::uint32_t access;
    };
    void closeParked();

    // Keys the caller holds that may be parked when closed.
    std::vector<Opened> open_;
    // The key closed last, still open; key 0 when none.
    Opened parked_{0, 0, {}, 0};
};

} // namespace uninst
