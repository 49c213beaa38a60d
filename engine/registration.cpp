#include "engine/registration.h"

#include "engine/system_paths.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace uninst {

namespace {

constexpr std::uint32_t nameCapacity = 255;
constexpr std::uint32_t dataCapacity = 2048;
constexpr std::string_view appToUninstall = "AppToUninstall";

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
// 8-bit caller and compares it with the target as the registry compares
// names: an application registered as "übung.exe" and started as
// "ÜBUNG.EXE" was found by that spelling, and its entries go with it.
bool namesTarget(Registry& registry, Registry::Key key, const std::string& target) {
    std::string buffer(nameCapacity, ' ');
    std::uint32_t valueType = Registry::typeSz;
    codepage::queryValue(registry, key, std::string(appToUninstall), valueType, buffer);
    const std::string_view regvalue = appToUninstallText(buffer);
    return !regvalue.empty() && registry.sameName(regvalue, target);
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
    // A reinstall by another version of a setup leaves an entry named after
    // the application beside one that names it by AppToUninstall, and every
    // one of them must go. Deleting while walking by index would move the
    // next entry into the deleted one's place, unseen: the walk names them
    // all first, then each is judged and deleted as before.
    std::vector<std::string> entries;
    std::string name;
    for (std::uint32_t index = 0;; ++index) {
        name.assign(nameCapacity, ' ');
        std::uint32_t nameLength = 0;
        const Registry::Status status =
            codepage::enumKey(registry, key.get(), index, name, nameLength);
        // Another application's entry with a name too long for the buffer
        // is passed over: ending the walk there would keep this
        // application's entries further down for ever.
        if (status.isMoreData())
            continue;
        if (!status.isSuccess())
            break;
        entries.emplace_back(std::string_view(name).substr(0, nameLength));
    }
    for (const std::string& entry : entries) {
        const std::string keyname = keypath + "\\" + entry;
        // An entry that refuses deletion stays; the others still go.
        if (registry.sameName(entry, target))
            registry.deleteTree(Registry::localMachine, keyname);
        else
            scanvalues(registry, keyname, target);
    }
}

void scanvalues(Registry& registry, const std::string& keyname, const std::string& target) {
    ScopedKey key(registry);
    if (!key.open(Registry::localMachine, keyname))
        return;
    // Value names are looked up without regard to case, so when a direct read
    // of AppToUninstall does not give the target, no value the scan below
    // could find would either, and the entry is settled with one call rather
    // than one per value. Crowded registries hold thousands of entries.
    if (!namesTarget(registry, key.get(), target))
        return;

    std::string name;
    std::string data;
    for (std::uint32_t index = 0;; ++index) {
        name.assign(nameCapacity, ' ');
        data.assign(dataCapacity, '\0');
        std::uint32_t nameLength = 0;
        std::uint32_t type = 0;
        std::uint32_t dataLength = 0;
        if (!codepage::enumValue(registry, key.get(), index, name, nameLength, type, data,
                                 dataLength)
                 .isSuccess())
            break;
        if (std::string_view(name).substr(0, nameLength) != appToUninstall)
            continue;

        if (namesTarget(registry, key.get(), target)) {
            // Deleted while this handle is still open: the registry allows
            // it, and the loop ends here so the stale handle is not used.
            registry.deleteTree(Registry::localMachine, keyname);
            break;
        }
    }
}

} // namespace uninst
