#include "engine/registration.h"

#include "engine/system_paths.h"

#include <cstdint>
#include <string_view>

namespace uninst {

namespace {

constexpr std::uint32_t nameCapacity = 255;
constexpr std::uint32_t dataCapacity = 2048;
constexpr std::string_view appToUninstall = "AppToUninstall";

// Registry names compare without regard to case. ASCII letters are all that
// matter here; bytes of multi-byte UTF-8 characters are left as they are.
std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

// The buffer as the registry left it: the text, its NUL terminator, then the
// spaces the read did not overwrite. Empty when the read failed (value too
// large for the buffer) or stored nothing, which can match no name.
std::string_view appToUninstallText(std::string_view buffer) {
    const std::size_t first = buffer.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    buffer = buffer.substr(first, buffer.find_last_not_of(' ') - first + 1);
    buffer.remove_suffix(1);
    return buffer.substr(0, buffer.find('\0'));
}

// Reads the entry's AppToUninstall text the way the registry hands it to an
// 8-bit caller and compares it with the upper-cased target.
bool namesTarget(Registry& registry, Registry::Key key, const std::string& wanted) {
    std::string buffer(nameCapacity, ' ');
    std::uint32_t valueType = Registry::typeSz;
    registry.queryValue(key, std::string(appToUninstall), valueType, buffer);
    const std::string_view regvalue = appToUninstallText(buffer);
    return !regvalue.empty() && upper(regvalue) == wanted;
}

} // namespace

void removeentries(Registry& registry, const std::string& cmdline) {
    scankeys(registry, uninstallKeyPath, cmdline);
    scankeys(registry, appPathsKeyPath, cmdline);
}

void scankeys(Registry& registry, const std::string& keypath, const std::string& target) {
    ScopedKey key(registry);
    if (!key.open(Registry::localMachine, keypath))
        return;
    const std::string wanted = upper(keypath + "\\" + target);
    std::string name;
    std::string cls;
    // After a deletion the next index skips the entry that moved into the
    // deleted one's place; only one entry per application is expected.
    for (std::uint32_t index = 0;; ++index) {
        name.assign(nameCapacity, ' ');
        cls.assign(nameCapacity, ' ');
        std::uint32_t nameLength = nameCapacity;
        std::uint32_t classLength = nameCapacity;
        if (registry.enumKey(key.get(), index, name, nameLength, cls, classLength) !=
            Registry::success)
            break;
        const std::string keyname = keypath + "\\" + name.substr(0, nameLength);
        if (upper(keyname) == wanted) {
            registry.deleteTree(Registry::localMachine, keyname);
            break;
        }
        scanvalues(registry, keyname, target);
    }
}

void scanvalues(Registry& registry, const std::string& keyname, const std::string& target) {
    ScopedKey key(registry);
    if (!key.open(Registry::localMachine, keyname))
        return;
    const std::string wanted = upper(target);
    // Value names are looked up without regard to case, so when a direct read
    // of AppToUninstall does not give the target, no value the scan below
    // could find would either, and the entry is settled with one call rather
    // than one per value. Crowded registries hold thousands of entries.
    if (!namesTarget(registry, key.get(), wanted))
        return;

    std::string name;
    std::string data;
    for (std::uint32_t index = 0;; ++index) {
        name.assign(nameCapacity, ' ');
        data.assign(dataCapacity, '\0');
        std::uint32_t nameLength = nameCapacity;
        std::uint32_t type = 0;
        std::uint32_t dataLength = dataCapacity;
        if (registry.enumValue(key.get(), index, name, nameLength, type, data, dataLength) !=
            Registry::success)
            break;
        if (std::string_view(name).substr(0, nameLength) != appToUninstall)
            continue;

        if (namesTarget(registry, key.get(), wanted)) {
            // Deleted while this handle is still open: the registry allows
            // it, and the loop ends here so the stale handle is not used.
            registry.deleteTree(Registry::localMachine, keyname);
            break;
        }
    }
}

} // namespace uninst
