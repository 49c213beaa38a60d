#pragma once

#include "platform/registry.h"

namespace uninst {

// The registry as the system keeps it, through advapi32's 8-bit entry points.
// Names go out in the ANSI code page and text comes back as UTF-8; a result
// that no longer fits the caller's buffer once converted is reported as
// moreData, exactly like one that did not fit in the first place. Keys handed
// out are the system's HKEY values; the caller closes them with closeKey.
class Win32Registry : public Registry {
public:
    long openKey(Key root, const std::string& path, std::uint32_t access, Key& out) override;
    long queryDefaultValue(Key key, const std::string& subkey, std::string& buffer) override;
    long queryValue(Key key, const std::string& name, std::uint32_t& type,
                    std::string& buffer) override;
    long setDwordValue(Key key, const std::string& name, std::uint32_t value) override;
    long deleteKey(Key key, const std::string& subkey) override;
    long enumKey(Key key, std::uint32_t index, std::string& name, std::uint32_t& nameLength,
                 std::string& cls, std::uint32_t& classLength) override;
    long enumValue(Key key, std::uint32_t index, std::string& name, std::uint32_t& nameLength,
                   std::uint32_t& type, std::string& data, std::uint32_t& dataLength) override;
    long closeKey(Key key) override;
};

} // namespace uninst
