#include "engine/registration.h"

#include "engine/error.h"
#include "engine/system_paths.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
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
// 8-bit caller: an application registered as "übung.exe" and started as
// "ÜBUNG.EXE" was found by that spelling, and its entries go with it.
std::string appToUninstallValue(Registry& registry, Registry::Key key, Registry::Status& read) {
    std::string buffer(nameCapacity, ' ');
    std::uint32_t valueType = Registry::typeSz;
    read = codepage::queryValue(registry, key, std::string(appToUninstall), valueType, buffer);
    return std::string(appToUninstallText(buffer));
}

// The same test on a read readValueOfEach made: `read` receives the status
// queryValue would have given.
bool namesTarget(Registry& registry, const Registry::PathValue& made, const std::string& target,
                 Registry::Status& read) {
    std::string buffer(nameCapacity, ' ');
    std::uint32_t valueType = Registry::typeSz;
    read = codepage::queryValueRead(registry, made, valueType, buffer);
    const std::string_view regvalue = appToUninstallText(buffer);
    return !regvalue.empty() && registry.sameName(regvalue, target);
}

std::string listText(const std::string& keypath) {
    return "the list HKEY_LOCAL_MACHINE\\" + keypath;
}

std::string statusText(Registry::Status status) {
    return "status " + std::to_string(status.code());
}

std::string stays(const std::string& keyname, Registry::Status status) {
    return "HKEY_LOCAL_MACHINE\\" + keyname + " stays (" + statusText(status) + ")";
}

// A status after which nobody can tell whether an entry is the
// application's. Not an entry that is gone, one whose value is too large to
// be a name, one the system keeps from an administrator, or one named
// outside the code page, which no 8-bit setup wrote: such entries are
// another's, and every run would otherwise end as a failure beside them.
bool unknowable(Registry::Status status) {
    return !status.isSuccess() && !status.isNotFound() && !status.isMoreData() &&
           status != Registry::Status::accessDenied() &&
           status != Registry::Status::noUnicodeTranslation();
}

std::string unreadable(const std::string& keyname, Registry::Status status) {
    return "HKEY_LOCAL_MACHINE\\" + keyname +
           " could not be read, so it may be the application's (" + statusText(status) + ")";
}

} // namespace

void removeentries(Registry& registry, const std::string& cmdline) {
    // Both lists are scanned whatever the first left: an entry that stays in
    // one is no reason to keep the other.
    std::vector<std::string> left = scankeys(registry, uninstallKeyPath, cmdline);
    for (std::string& more : scankeys(registry, appPathsKeyPath, cmdline))
        left.push_back(std::move(more));
    if (left.empty())
        return;
    std::string message = "Cannot remove the registration of " + cmdline + ":";
    for (const std::string& what : left)
        message.append("\n").append(what);
    throw Error("remove the registration", cmdline, message);
}

void refuseUnremovableRegistration(RegistryReader& registry, const std::string& cmdline) {
    // The entries the removal deletes by the application's own name, asked
    // as the deletion opens them: a link, at the entry or below it, and an
    // entry this user may not delete, are refused here rather than left
    // once the files are gone.
    for (const char* list : {appPathsKeyPath, uninstallKeyPath}) {
        const std::string keyname = std::string(list) + "\\" + cmdline;
        const Registry::Status status = registry.checkDeleteTree(Registry::localMachine, keyname);
        if (status.isSuccess() || status.isNotFound())
            continue;
        throw Error("remove the registration", keyname,
                    "The registration HKEY_LOCAL_MACHINE\\" + keyname + " of " + cmdline +
                        " could not be removed (" + statusText(status) +
                        "): it, or a key below it, is a registry link, or this user may not "
                        "delete it. Nothing has been changed.");
    }
}

namespace {

// Adds to `gone` each of `entries`, all named by an earlier walk of the
// list, that is gone now.
void addGone(Registry& registry, const std::string& keypath,
             const std::vector<std::string>& entries, std::set<std::string>& gone) {
    if (entries.empty())
        return;
    std::vector<std::string> paths;
    paths.reserve(entries.size());
    for (const std::string& entry : entries)
        paths.push_back(keypath + "\\" + entry);
    const std::vector<Registry::PathValue> reads =
        registry.readValueOfEach(Registry::localMachine, paths, std::string(appToUninstall));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!reads[i].opened && reads[i].status.isNotFound())
            gone.insert(entries[i]);
    }
}

// Deletes each of `entries` of the list that is the application's, and
// tells in `left` each that stays or cannot be judged. Adds to `gone` each
// that was gone already: deleted since the walk named it.
void judgeEntries(Registry& registry, const std::string& keypath, const std::string& target,
                  const std::vector<std::string>& entries, std::vector<std::string>& left,
                  std::set<std::string>& gone) {
    // Most entries are other applications'. Their AppToUninstall values are
    // read all together first, which a registry of round trips may overlap,
    // and only an entry whose value names the application is scanned in
    // full; deleting one does not move another under its path.
    std::vector<std::string> others;
    for (const std::string& entry : entries) {
        if (!registry.sameName(entry, target))
            others.push_back(keypath + "\\" + entry);
    }
    const std::vector<Registry::PathValue> reads =
        registry.readValueOfEach(Registry::localMachine, others, std::string(appToUninstall));
    std::size_t other = 0;
    for (const std::string& entry : entries) {
        const std::string keyname = keypath + "\\" + entry;
        // An entry that refuses deletion stays, and is told; the others
        // still go.
        if (!registry.sameName(entry, target)) {
            const Registry::PathValue& made = reads[other++];
            if (!made.opened && made.status.isNotFound())
                gone.insert(entry);
            Registry::Status read;
            if (!namesTarget(registry, made, target, read)) {
                if (unknowable(read))
                    left.push_back(unreadable(keyname, read));
                continue;
            }
            if (std::string what = scanvalues(registry, keyname, target); !what.empty())
                left.push_back(std::move(what));
            continue;
        }
        const Registry::Status deleted = registry.deleteTree(Registry::localMachine, keyname);
        if (deleted.isNotFound())
            gone.insert(entry);
        if (!deleted.isSuccess() && !deleted.isNotFound())
            left.push_back(stays(keyname, deleted));
    }
}

} // namespace

std::vector<std::string> scankeys(Registry& registry, const std::string& keypath,
                                  const std::string& target) {
    std::vector<std::string> left;
    Registry::Key opened = 0;
    const Registry::Status open = registry.openKey(Registry::localMachine, keypath, opened);
    ScopedKey key(registry, open.isSuccess() ? opened : 0);
    // A list that is not there holds no entry; one that cannot be read may.
    if (!open.isSuccess()) {
        if (!open.isNotFound())
            left.push_back(listText(keypath) + " could not be opened (" + statusText(open) + ")");
        return left;
    }
    // A reinstall by another version of a setup leaves an entry named after
    // the application beside one that names it by AppToUninstall, and every
    // one of them must go. Deleting while walking by index would move the
    // next entry into the deleted one's place, unseen: the walk names them
    // all first, then each is judged and deleted as before. Another program
    // deleting an entry the walk had named moves the rest up the same way:
    // when a named entry is gone, the list is walked again for the names not
    // judged yet. One added meanwhile moves the rest down, and is only seen
    // twice. A walk again is as exposed as the first: an entry judged by an
    // earlier walk that goes while it runs moves the rest up too. Another
    // uninstaller clearing out many entries makes walk after walk meet
    // deletions; each such walk names fewer entries than the one before, so
    // they come to an end, and only a walk that does not (entries added
    // meanwhile) counts toward the limit. A name the walk gives that opens
    // nothing, walk after walk, is no deletion: the 8-bit list names an entry
    // whose name its code page cannot hold by characters that name no entry
    // ("?" for each), which this program can neither read nor delete. It is
    // another application's, passed over as such once the next walk names it
    // again.
    constexpr int mostUnsettledWalks = 8;
    std::set<std::string> judged;
    std::set<std::string> foundGone;
    std::string name;
    std::size_t namedBefore = SIZE_MAX;
    for (int unsettled = 0;;) {
        std::vector<std::string> entries;
        std::vector<std::string> judgedBefore;
        for (std::uint32_t index = 0;; ++index) {
            name.assign(nameCapacity, ' ');
            std::uint32_t nameLength = 0;
            const Registry::Status status =
                codepage::enumKey(registry, key.get(), index, name, nameLength);
            // Another application's entry with a name too long for the
            // buffer is passed over: ending the walk there would keep this
            // application's entries further down for ever.
            if (status.isMoreData())
                continue;
            if (!status.isSuccess()) {
                if (status.isNoMoreItems())
                    break;
                left.push_back(listText(keypath) + " could not be read to its end (" +
                               statusText(status) + ")");
                return left;
            }
            std::string entry(std::string_view(name).substr(0, nameLength));
            if (judged.insert(entry).second)
                entries.push_back(std::move(entry));
            else if (foundGone.count(entry) == 0)
                judgedBefore.push_back(std::move(entry));
        }
        std::set<std::string> gone;
        judgeEntries(registry, keypath, target, entries, left, gone);
        addGone(registry, keypath, judgedBefore, gone);
        if (gone.empty())
            return left;
        foundGone.insert(gone.begin(), gone.end());
        const std::size_t named = entries.size() + judgedBefore.size();
        if (named >= namedBefore)
            ++unsettled;
        namedBefore = named;
        if (unsettled == mostUnsettledWalks) {
            left.push_back(listText(keypath) +
                           " kept changing while it was read, so entries of the application may "
                           "remain in it");
            return left;
        }
    }
}

std::string scanvalues(Registry& registry, const std::string& keyname, const std::string& target) {
    const auto unread = [&](Registry::Status status) {
        return unknowable(status) ? unreadable(keyname, status) : std::string();
    };
    Registry::Key opened = 0;
    const Registry::Status open = registry.openKey(Registry::localMachine, keyname, opened);
    if (!open.isSuccess())
        return unread(open);
    ScopedKey key(registry, opened);
    Registry::Status read;
    if (!appToUninstallOf(
            registry, key.get(),
            [&](std::string_view text) { return registry.sameName(text, target); }, read))
        return unread(read);
    // Deleted while this handle is still open: the registry allows it.
    const Registry::Status deleted = registry.deleteTree(Registry::localMachine, keyname);
    return deleted.isSuccess() || deleted.isNotFound() ? std::string() : stays(keyname, deleted);
}

namespace {

// What the walk of an entry's values in index order, as `valueAt` gives
// them, makes of the AppToUninstall text read by name: the value must be
// there by that very name before anything the 8-bit enumeration cannot hand
// over (a longer name, larger data) ends the walk. `readAgain` gives the
// text once the value is known to be there, given the value the walk met.
std::optional<std::string> confirmedByWalk(
    RegistryReader& registry,
    const std::function<Registry::Status(std::uint32_t, Registry::NamedValue&)>& valueAt,
    const std::function<std::string(const Registry::NamedValue&)>& readAgain,
    const std::function<bool(std::string_view)>& wanted, Registry::Status& read) {
    std::string name;
    std::string data;
    for (std::uint32_t index = 0;; ++index) {
        name.assign(nameCapacity, ' ');
        data.assign(dataCapacity, '\0');
        std::uint32_t nameLength = 0;
        std::uint32_t type = 0;
        std::uint32_t dataLength = 0;
        Registry::NamedValue found;
        Registry::Status status = valueAt(index, found);
        if (status.isSuccess())
            status =
                codepage::enumValueRead(registry, found, name, nameLength, type, data, dataLength);
        if (!status.isSuccess()) {
            read = status.isNoMoreItems() || status.isMoreData() ? Registry::Status::success()
                                                                 : status;
            return std::nullopt;
        }
        if (std::string_view(name).substr(0, nameLength) != appToUninstall)
            continue;
        std::string text = readAgain(found);
        if (text.empty() || !wanted(text))
            return std::nullopt;
        return text;
    }
}

} // namespace

std::optional<std::string> appToUninstallOf(Registry& registry, Registry::Key key,
                                            const std::function<bool(std::string_view)>& wanted,
                                            Registry::Status& read) {
    // Value names are looked up without regard to case, so when a direct read
    // of AppToUninstall does not give a wanted name, no value the scan below
    // could find would either, and the entry is settled with one call rather
    // than one per value. Crowded registries hold thousands of entries.
    if (std::string text = appToUninstallValue(registry, key, read); text.empty() || !wanted(text))
        return std::nullopt;
    return confirmedByWalk(
        registry,
        [&](std::uint32_t index, Registry::NamedValue& found) {
            return registry.enumValue(key, index, found.name, found.value);
        },
        // Read again once the value is known to be there by its own name:
        // the caller may act on the entry at once, and the scan ends here.
        [&](const Registry::NamedValue&) { return appToUninstallValue(registry, key, read); },
        wanted, read);
}

std::vector<std::optional<std::string>>
appToUninstallOfEach(RegistryReader& registry, const std::vector<std::string>& paths,
                     const std::vector<std::string>& alsoNamed,
                     std::vector<std::vector<Registry::PathValue>>* alsoRead,
                     const std::function<bool(std::string_view)>& wanted) {
    const auto takes = [&](std::string_view text) { return !wanted || wanted(text); };
    std::vector<std::optional<std::string>> texts(paths.size());
    if (alsoRead != nullptr)
        alsoRead->assign(paths.size(), {});
    const std::vector<Registry::PathValue> reads =
        registry.readValueOfEach(Registry::localMachine, paths, std::string(appToUninstall));
    std::vector<std::size_t> named;
    std::vector<std::string> walked;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!reads[i].opened)
            continue;
        std::string buffer(nameCapacity, ' ');
        std::uint32_t valueType = Registry::typeSz;
        codepage::queryValueRead(registry, reads[i], valueType, buffer);
        // As for a single entry: a text read by name that is not wanted
        // settles the entry without its walk.
        if (const std::string_view text = appToUninstallText(buffer); text.empty() || !takes(text))
            continue;
        named.push_back(i);
        walked.push_back(paths[i]);
    }
    std::vector<Registry::PathValues> walks = registry.readValuesOfEach(
        Registry::localMachine, walked, std::string(appToUninstall), alsoNamed);
    for (std::size_t k = 0; k < named.size(); ++k) {
        Registry::PathValues& walk = walks[k];
        if (!walk.opened)
            continue;
        if (alsoRead != nullptr)
            (*alsoRead)[named[k]] = std::move(walk.named);
        Registry::Status read;
        texts[named[k]] = confirmedByWalk(
            registry,
            [&](std::uint32_t index, Registry::NamedValue& found) {
                if (index < walk.values.size()) {
                    found = walk.values[index];
                    return Registry::Status::success();
                }
                return walk.status.isSuccess() ? Registry::Status::noMoreItems() : walk.status;
            },
            // The text as the walk met it, under that very name: what a read
            // by name then would give. The first read only chose the entry
            // to walk; another program may have changed the value since.
            [&](const Registry::NamedValue& found) {
                std::string buffer(nameCapacity, ' ');
                std::uint32_t valueType = Registry::typeSz;
                codepage::queryValueRead(
                    registry, Registry::PathValue{true, Registry::Status::success(), found.value},
                    valueType, buffer);
                return std::string(appToUninstallText(buffer));
            },
            takes, read);
    }
    return texts;
}

} // namespace uninst
