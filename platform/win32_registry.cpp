#include "platform/win32_registry.h"

#include "engine/ascii_case.h"
#include "engine/system_paths.h"
#include "platform/handles.h"
#include "platform/parallel_work.h"
#include "platform/text_encoding.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace uninst {

namespace {

HKEY hkey(Registry::Key key) {
    return reinterpret_cast<HKEY>(key);
}

bool isText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// What an 8-bit call wrote into the first `written` bytes, as the engine
// sees it: text in UTF-8, other data as it is.
std::string converted(const std::string& raw, DWORD written, DWORD type) {
    const std::string_view bytes(raw.data(), written);
    return isText(type) ? text::fromAnsi(bytes) : std::string(bytes);
}

// Items are read whole: a first call with room for the usual sizes, then
// calls with the room the system asks for until the item fits. The room only
// grows, so a value that keeps growing behind the program's back cannot hold
// it here for long; past a few rounds the status stands.
constexpr DWORD firstRoom = 512;
constexpr int roomRounds = 8;

DWORD grown(DWORD room, DWORD asked) {
    return std::max<DWORD>(asked, room * 2);
}

// Calls `call` with `raw` given `size` bytes of room, more each round, while
// it asks for more, at most roomRounds times; `next` makes the next room from
// the last one and the size the call asked for. The last call's status.
template <typename Next, typename Call>
LONG withGrowingRoom(std::string& raw, DWORD& size, Next next, Call call) {
    LONG status = ERROR_MORE_DATA;
    DWORD room = firstRoom;
    for (int round = 0; status == ERROR_MORE_DATA && round < roomRounds; ++round) {
        raw.assign(room, '\0');
        size = room;
        status = call();
        room = next(room, size);
    }
    return status;
}

// The system converts stored text to the code page itself, and where a
// character has no place there it puts the nearest look-alike: a folder
// "\u0100pp" (capital a with a macron) reads as "App", which may be another
// application's, and an AppToUninstall value then names another
// application. The same value read through the wide API tells whether the
// 8-bit text is the stored one; a value that cannot be told is not. A key
// without a default value reads as empty text, which is exact.
bool fitsCodePage(HKEY key, const std::wstring& valueName) {
    const wchar_t* name = valueName.empty() ? nullptr : valueName.c_str();
    // Values read here are names and paths: one call with room for the usual
    // sizes, a second only for a larger one.
    std::wstring wide(300, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    LONG status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(wide.data()), &size);
    if (status == ERROR_MORE_DATA) {
        wide.assign(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
        status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(wide.data()),
                                  &size);
    }
    if (status == ERROR_FILE_NOT_FOUND && name == nullptr)
        return true;
    if (status != ERROR_SUCCESS || !isText(type))
        return false;
    wide.resize(size / sizeof(wchar_t));
    if (wide.empty())
        return true;
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        nullptr, 0, nullptr, &usedDefault);
    return usedDefault == FALSE;
}

// A registry link answers to its own handle only when opened with
// REG_OPTION_OPEN_LINK; otherwise the system hands out its target.
bool isRegistryLink(HKEY key) {
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) ==
               ERROR_SUCCESS &&
           type == REG_LINK;
}

// Where a registry link leads, as the system stores it: an NT path such as
// "\Registry\Machine\Software\...", without a terminator. Empty when the
// key holds no link target.
std::wstring linkTarget(HKEY key) {
    wchar_t target[512];
    DWORD type = REG_NONE;
    DWORD size = sizeof target;
    if (RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, reinterpret_cast<BYTE*>(target),
                         &size) != ERROR_SUCCESS ||
        type != REG_LINK)
        return {};
    return std::wstring(target, size / sizeof(wchar_t));
}

bool isWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
}

// On 64-bit Windows a 32-bit program sees its own view of HKLM\SOFTWARE
// (WOW6432Node), except for the keys the system shares between the two
// views, which both see as the one 64-bit key. Of the keys the run opens,
// App Paths is shared (Windows 7 and later; an executable registered by a
// 32-bit or a 64-bit setup starts from either side); Uninstall and
// SharedDLLs are redirected, each view keeping its own. Windows maps a shared
// key without a link; Wine makes the 32-bit side a registry link to the
// 64-bit key. That link is the system's arrangement, not one planted in the
// run's way, exactly when the program runs under WOW64, the key is a shared
// one, and the link leads to the same path in the 64-bit view.
bool isSharedViewLink(Registry::Key root, const std::string& path, HKEY link) {
    if (root != Registry::localMachine || !isWow64())
        return false;
    const std::wstring wide = text::toWide(path);
    if (!text::sameFolded(wide, text::toWide(appPathsKeyPath)))
        return false;
    return text::sameFolded(linkTarget(link), L"\\Registry\\Machine\\" + wide);
}

// Opens `name` below `parent` as a tree's removal opens each key: as itself,
// never through a link, with leave to list, read and delete it; a link is
// refused. Its sub-keys' names, taken whole: deleting while enumerating
// would shift the indices.
LONG openTreeKey(HKEY parent, const std::wstring& name, KeyHandle& key,
                 std::vector<std::wstring>& subKeys) {
    LONG status = RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK,
                                KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE, key.put());
    if (status != ERROR_SUCCESS)
        return status;
    if (isRegistryLink(key.get()))
        return ERROR_ACCESS_DENIED;
    for (DWORD index = 0;; ++index) {
        wchar_t subKey[256];
        DWORD length = static_cast<DWORD>(std::size(subKey));
        status =
            RegEnumKeyExW(key.get(), index, subKey, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        subKeys.emplace_back(subKey, length);
    }
}

// Removes `name` below `parent` and everything below it, deepest first.
// Every key is opened as itself, never through a link, and a key is deleted
// through the handle that showed it is no link. Depth is bounded by the
// registry's own limit of 512 levels.
LONG removeKeyTree(HKEY parent, const std::wstring& name) {
    KeyHandle key;
    std::vector<std::wstring> subKeys;
    if (const LONG status = openTreeKey(parent, name, key, subKeys); status != ERROR_SUCCESS)
        return status;
    LONG result = ERROR_SUCCESS;
    for (const std::wstring& subKey : subKeys) {
        const LONG status = removeKeyTree(key.get(), subKey);
        if (status != ERROR_SUCCESS)
            result = status;
    }
    if (result != ERROR_SUCCESS)
        return result;
    return RegDeleteKeyW(key.get(), L"");
}

// removeKeyTree without the deletions: whether it could remove `name` below
// `parent` now.
LONG checkKeyTree(HKEY parent, const std::wstring& name) {
    KeyHandle key;
    std::vector<std::wstring> subKeys;
    if (const LONG status = openTreeKey(parent, name, key, subKeys); status != ERROR_SUCCESS)
        return status;
    for (const std::wstring& subKey : subKeys) {
        if (const LONG status = checkKeyTree(key.get(), subKey); status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

// The access every key is opened with: all standard rights with reading,
// writing and enumerating, the same for every key the engine opens.
constexpr REGSAM keyAccess = STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE |
                             KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
static_assert(keyAccess == 0x1F001F);

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The 8-bit calls send a name through the code page, where a character
// without a place becomes the default character: "E2E\u0100.DLL" would reach
// the system as "E2E?.DLL" and read, lower or delete another file's count.
// Such a name is answered as one the code page cannot carry, and nothing is
// asked of the system under it.
std::optional<std::string> exactAnsiName(std::string_view name) {
    std::string ansi = text::toAnsi(name);
    if (text::fromAnsi(ansi) != name)
        return std::nullopt;
    return ansi;
}

// A key deleted since it was opened (another uninstaller removing its own
// entry while this run reads every entry) holds no value any more: read, it
// is gone as a key deleted before the open is, not a key nobody can read.
LONG goneIfDeleted(LONG status) {
    return status == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : status;
}

// Opens `path` below `root` as Win32Registry::openKey does, with nothing
// kept: the caller owns what it opens.
LONG openAsItself(Registry::Key root, const std::string& path, HKEY& opened) {
    // A key the run works on (SharedDLLs, the Uninstall and App Paths lists,
    // an entry) that is a registry link would have its counts lowered and
    // its entries deleted in the link's target, outside them. Opened as
    // itself, a link is refused as one that cannot be opened, unless it is
    // the system's own link between the two registry views: then the key it
    // leads to is opened as itself in the 64-bit view, and refused in turn
    // if that is a link too.
    // A path the code page cannot carry reaches no key under its own name:
    // sent anyway it would open one spelt with the default character.
    const std::optional<std::string> exact = exactAnsiName(path);
    if (!exact)
        return ERROR_FILE_NOT_FOUND;
    const std::string& ansiPath = *exact;
    LONG status =
        RegOpenKeyExA(hkey(root), ansiPath.c_str(), REG_OPTION_OPEN_LINK, keyAccess, &opened);
    if (status == ERROR_SUCCESS && isRegistryLink(opened)) {
        const bool shared = isSharedViewLink(root, path, opened);
        RegCloseKey(opened);
        opened = nullptr;
        status = ERROR_ACCESS_DENIED;
        if (shared && RegOpenKeyExA(hkey(root), ansiPath.c_str(), REG_OPTION_OPEN_LINK,
                                    keyAccess | KEY_WOW64_64KEY, &opened) == ERROR_SUCCESS) {
            if (isRegistryLink(opened)) {
                RegCloseKey(opened);
                opened = nullptr;
            } else {
                status = ERROR_SUCCESS;
            }
        }
    }
    return status;
}

// Win32Registry::readValue on a key the caller holds.
LONG readOpenValue(HKEY key, const std::string& name, Registry::Value& out) {
    const std::optional<std::string> exact = exactAnsiName(name);
    if (!exact)
        return ERROR_NO_UNICODE_TRANSLATION;
    const std::string& ansiName = *exact;
    std::string raw;
    DWORD type = REG_NONE;
    DWORD size = 0;
    const LONG status = withGrowingRoom(raw, size, grown, [&] {
        return RegQueryValueExA(key, ansiName.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(raw.data()), &size);
    });
    if (status != ERROR_SUCCESS)
        return goneIfDeleted(status);
    if (isText(type) && !fitsCodePage(key, text::toWide(text::fromAnsi(ansiName))))
        return ERROR_NO_UNICODE_TRANSLATION;
    out = Registry::Value{type, converted(raw, size, type)};
    return ERROR_SUCCESS;
}

// readOpenValue's answer in one request: the value is asked for once,
// through the wide call, and converted to the code page here. The conversion
// without best fit both makes the 8-bit text the system would have made and
// tells whether that text is the stored one, where readOpenValue asks the
// system twice.
LONG readOpenValueOnce(HKEY key, const std::string& name, Registry::Value& out) {
    const std::optional<std::string> exact = exactAnsiName(name);
    if (!exact)
        return ERROR_NO_UNICODE_TRANSLATION;
    const std::wstring wideName = text::toWide(text::fromAnsi(*exact));
    std::string raw;
    DWORD type = REG_NONE;
    DWORD size = 0;
    const LONG status = withGrowingRoom(raw, size, grown, [&] {
        return RegQueryValueExW(key, wideName.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(raw.data()), &size);
    });
    if (status != ERROR_SUCCESS)
        return status;
    if (!isText(type)) {
        out = Registry::Value{type, raw.substr(0, size)};
        return ERROR_SUCCESS;
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(raw.data());
    const int length = static_cast<int>(size / sizeof(wchar_t));
    std::string ansi;
    if (length > 0) {
        BOOL usedDefault = FALSE;
        const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr,
                                               0, nullptr, &usedDefault);
        if (needed <= 0 || usedDefault != FALSE)
            return ERROR_NO_UNICODE_TRANSLATION;
        ansi.assign(static_cast<std::size_t>(needed), '\0');
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, ansi.data(), needed,
                            nullptr, nullptr);
    }
    out = Registry::Value{type, converted(ansi, static_cast<DWORD>(ansi.size()), type)};
    return ERROR_SUCCESS;
}

// Win32Registry::enumValue on a key the caller holds.
LONG enumOpenValue(HKEY key, std::uint32_t index, std::string& name, Registry::Value& value) {
    std::string rawName;
    std::string rawData;
    DWORD nameSize = 0;
    DWORD dataSize = 0;
    DWORD type = REG_NONE;
    LONG status = ERROR_MORE_DATA;
    DWORD nameRoom = firstRoom;
    DWORD dataRoom = firstRoom;
    for (int round = 0; status == ERROR_MORE_DATA && round < roomRounds; ++round) {
        rawName.assign(nameRoom, '\0');
        rawData.assign(dataRoom, '\0');
        nameSize = nameRoom;
        dataSize = dataRoom;
        status = RegEnumValueA(key, index, rawName.data(), &nameSize, nullptr, &type,
                               reinterpret_cast<BYTE*>(rawData.data()), &dataSize);
        // The system says how much data it has, not whether the name fitted.
        nameRoom *= 2;
        dataRoom = grown(dataRoom, dataSize);
    }
    if (status != ERROR_SUCCESS)
        return status;
    name = converted(rawName, nameSize, REG_SZ);
    value = Registry::Value{type, converted(rawData, dataSize, type)};
    return ERROR_SUCCESS;
}

// A batch's read of one value on a key it opened itself.
void readOnOpened(HKEY key, const std::string& name, RegistryTypes::PathValue& out) {
    const LONG read = readOpenValueOnce(key, name, out.value);
    // Deleted between the open and the read: gone as if before the open.
    out.opened = read != ERROR_KEY_DELETED;
    out.status = RegistryStatus(goneIfDeleted(read));
}

} // namespace

Win32Registry::~Win32Registry() {
    closeParked();
}

void Win32Registry::closeParked() {
    if (parked_.key != 0)
        RegCloseKey(hkey(parked_.key));
    parked_.key = 0;
}

RegistryStatus Win32Registry::openKey(Key root, const std::string& path, Key& out) {
    if (parked_.key != 0 && parked_.root == root && parked_.path == path) {
        out = parked_.key;
        open_.push_back(std::move(parked_));
        parked_ = Opened{0, 0, {}};
        return Status::success();
    }
    HKEY opened = nullptr;
    const LONG status = openAsItself(root, path, opened);
    if (status == ERROR_SUCCESS) {
        out = reinterpret_cast<Key>(opened);
        open_.push_back(Opened{out, root, path});
    }
    return Status(status);
}

RegistryStatus Win32Registry::closeKey(Key key) {
    // Newest first: keys are closed in the reverse order of their opening.
    for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
        if (it->key != key)
            continue;
        closeParked();
        parked_ = std::move(*it);
        open_.erase(std::next(it).base());
        return Status::success();
    }
    return Status(RegCloseKey(hkey(key)));
}

RegistryStatus Win32Registry::readDefaultValue(Key key, const std::string& subkey, Value& out) {
    const std::optional<std::string> exact = exactAnsiName(subkey);
    if (!exact)
        return Status(ERROR_FILE_NOT_FOUND);
    const std::string& ansiSubkey = *exact;
    std::string raw;
    DWORD size = 0;
    const LONG status = withGrowingRoom(raw, size, grown, [&] {
        LONG asked = static_cast<LONG>(size);
        const LONG called = RegQueryValueA(hkey(key), ansiSubkey.c_str(), raw.data(), &asked);
        size = static_cast<DWORD>(asked);
        return called;
    });
    if (status != ERROR_SUCCESS)
        return Status(status);
    KeyHandle opened;
    if (RegOpenKeyExA(hkey(key), ansiSubkey.c_str(), 0, KEY_QUERY_VALUE, opened.put()) !=
            ERROR_SUCCESS ||
        !fitsCodePage(opened.get(), {}))
        return Status(ERROR_NO_UNICODE_TRANSLATION);
    out = Value{REG_SZ, converted(raw, size, REG_SZ)};
    return Status::success();
}

RegistryStatus Win32Registry::readValue(Key key, const std::string& name, Value& out) {
    return Status(readOpenValue(hkey(key), name, out));
}

// A few keys at once: under Wine the open, its link check, the read and the
// close are a round trip each, and the server answers one thread while the
// others wait. The keys are opened and closed here and never parked, so no
// handle the caller holds is touched.
std::vector<RegistryTypes::PathValue>
Win32Registry::readValueOfEach(Key root, const std::vector<std::string>& paths,
                               const std::string& name) {
    std::vector<PathValue> reads(paths.size());
    forEachInParallel(paths.size(), [&](std::size_t i) {
        HKEY opened = nullptr;
        const LONG status = openAsItself(root, paths[i], opened);
        const KeyHandle key(status == ERROR_SUCCESS ? opened : nullptr);
        if (status == ERROR_SUCCESS)
            readOnOpened(key.get(), name, reads[i]);
        else
            reads[i].status = Status(goneIfDeleted(status));
        return true;
    });
    return reads;
}

// As readValueOfEach, a few keys at once; each key's walk is its own
// thread's, one value after another.
std::vector<RegistryTypes::PathValues>
Win32Registry::readValuesOfEach(Key root, const std::vector<std::string>& paths,
                                const std::string& last, const std::vector<std::string>& named) {
    std::vector<PathValues> walks(paths.size());
    forEachInParallel(paths.size(), [&](std::size_t i) {
        PathValues& walk = walks[i];
        HKEY opened = nullptr;
        const LONG status = openAsItself(root, paths[i], opened);
        const KeyHandle key(status == ERROR_SUCCESS ? opened : nullptr);
        walk.opened = status == ERROR_SUCCESS;
        if (!walk.opened) {
            walk.status = Status(status);
            return true;
        }
        for (const std::string& name : named)
            readOnOpened(key.get(), name, walk.named.emplace_back());
        for (std::uint32_t index = 0;; ++index) {
            NamedValue found;
            const LONG read = enumOpenValue(key.get(), index, found.name, found.value);
            if (read != ERROR_SUCCESS) {
                walk.status = Status(read);
                break;
            }
            const bool stop = found.name == last;
            walk.values.push_back(std::move(found));
            if (stop) {
                walk.status = Status::success();
                break;
            }
        }
        return true;
    });
    return walks;
}

RegistryStatus Win32Registry::setDwordValue(Key key, const std::string& name, std::uint32_t value) {
    const std::optional<std::string> exact = exactAnsiName(name);
    if (!exact)
        return Status(ERROR_NO_UNICODE_TRANSLATION);
    const DWORD data = value;
    return Status(RegSetValueExA(hkey(key), exact->c_str(), 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&data), sizeof data));
}

RegistryStatus Win32Registry::deleteKey(Key key, const std::string& subkey) {
    // The deletion may take any key open now, under whatever spelling it was
    // opened: none of them is kept once the caller closes it.
    const std::optional<std::string> exact = exactAnsiName(subkey);
    if (!exact)
        return Status(ERROR_NO_UNICODE_TRANSLATION);
    closeParked();
    open_.clear();
    return Status(RegDeleteKeyA(hkey(key), exact->c_str()));
}

RegistryStatus Win32Registry::deleteTree(Key key, const std::string& subkey) {
    closeParked();
    open_.clear();
    // The name reaches the system the way deleteKey's does: through the code
    // page, so that both act on the key the 8-bit enumeration named.
    return Status(removeKeyTree(hkey(key), text::toWide(text::fromAnsi(text::toAnsi(subkey)))));
}

RegistryStatus Win32Registry::checkDeleteTree(Key key, const std::string& subkey) {
    // Named as deleteTree names it.
    return Status(checkKeyTree(hkey(key), text::toWide(text::fromAnsi(text::toAnsi(subkey)))));
}

RegistryStatus Win32Registry::createSubKey(Key key, const std::string& name, Key& out) {
    const std::optional<std::string> exact = exactAnsiName(name);
    if (!exact)
        return Status(ERROR_NO_UNICODE_TRANSLATION);
    if (exact->empty() || exact->find('\\') != std::string::npos)
        return Status(ERROR_INVALID_PARAMETER);
    HKEY created = nullptr;
    DWORD disposition = 0;
    const LONG status =
        RegCreateKeyExA(hkey(key), exact->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, keyAccess,
                        nullptr, &created, &disposition);
    if (status != ERROR_SUCCESS)
        return Status(status);
    if (disposition != REG_CREATED_NEW_KEY) {
        RegCloseKey(created);
        return Status::alreadyExists();
    }
    out = reinterpret_cast<Key>(created);
    return Status::success();
}

RegistryStatus Win32Registry::writeValue(Key key, const std::string& name, const Value& value) {
    const std::optional<std::string> exact = exactAnsiName(name);
    if (!exact)
        return Status(ERROR_NO_UNICODE_TRANSLATION);
    // Text went through the code page when it was read, and goes back the
    // same way.
    const std::string data = isText(value.type) ? text::toAnsi(value.data) : value.data;
    return Status(RegSetValueExA(hkey(key), exact->c_str(), 0, value.type,
                                 reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())));
}

RegistryStatus Win32Registry::enumKey(Key key, std::uint32_t index, std::string& name) {
    // A key name has at most 255 characters, two bytes each in a double-byte
    // code page: the first room is enough, and the loop is for safety.
    std::string raw;
    DWORD size = 0;
    const LONG status = withGrowingRoom(
        raw, size, [](DWORD room, DWORD) { return room * 2; },
        [&] {
            return RegEnumKeyExA(hkey(key), index, raw.data(), &size, nullptr, nullptr, nullptr,
                                 nullptr);
        });
    if (status != ERROR_SUCCESS)
        return Status(status);
    name = converted(raw, size, REG_SZ);
    return Status::success();
}

RegistryStatus Win32Registry::enumValue(Key key, std::uint32_t index, std::string& name,
                                        Value& value) {
    return Status(enumOpenValue(hkey(key), index, name, value));
}

bool Win32Registry::sameName(std::string_view a, std::string_view b) {
    return compareNames(a, b) == 0;
}

int Win32Registry::compareNames(std::string_view a, std::string_view b) {
    // Nearly every name is ASCII, where the system folds a-z and nothing
    // else; the system's comparison below orders ASCII the same way, so both
    // together still give one order.
    if (isAscii(a) && isAscii(b))
        return compareAsciiCase(a, b);
    // Folded as the registry folds names: the system's ordinal comparison
    // without case. A character the code page lacks matches only itself,
    // never the replacement character the 8-bit calls would have sent.
    const std::wstring wideA = text::toWide(a);
    const std::wstring wideB = text::toWide(b);
    const int order = text::compareFolded(wideA, wideB);
    if (order == 0)
        return wideA.compare(wideB) < 0 ? -1 : (wideA == wideB ? 0 : 1);
    return order - CSTR_EQUAL;
}

std::size_t Win32Registry::codePageLength(std::string_view text) {
    return isAscii(text) ? text.size() : text::toAnsi(text).size();
}

} // namespace uninst
