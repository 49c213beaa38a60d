#include "platform/win32_registry.h"

#include "platform/text_encoding.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

namespace uninst {

namespace {

using KeyHandle = UniqueHandle<HKEY, &RegCloseKey, 0>;

HKEY hkey(Registry::Key key) {
    return reinterpret_cast<HKEY>(key);
}

bool isText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The 8-bit twin of a caller's buffer: as many bytes as the caller offers,
// holding the caller's own fill, so that whatever the call does not overwrite
// reads back as it was.
std::string ansiTwin(const std::string& callerBuffer) {
    std::string ansi = text::toAnsi(callerBuffer);
    ansi.resize(callerBuffer.size(), '\0');
    return ansi;
}

// What the call wrote into the first `written` bytes of the twin, as the
// engine sees it.
std::string converted(const std::string& twin, DWORD written, DWORD type) {
    std::string_view raw(twin.data(), written);
    return isText(type) ? text::fromAnsi(raw) : std::string(raw);
}

// Lays `result` over the front of the caller's buffer and keeps the rest. A
// result that grew past the buffer in conversion is refused like any result
// too large for it, so the caller never sees a truncated text.
bool writeBack(std::string& buffer, const std::string& result, std::size_t room) {
    if (result.size() > room)
        return false;
    buffer.replace(0, result.size(), result);
    return true;
}

// Names come back without their terminator; the buffer gets one after them,
// as the system writes it.
bool writeBackName(std::string& buffer, std::string name, std::size_t room) {
    name.push_back('\0');
    return writeBack(buffer, name, room);
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

// Removes `name` below `parent` and everything below it, deepest first.
// Every key is opened as itself, never through a link, and a key is deleted
// through the handle that showed it is no link. Depth is bounded by the
// registry's own limit of 512 levels.
LONG removeKeyTree(HKEY parent, const std::wstring& name) {
    KeyHandle key;
    LONG status = RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK,
                                KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE, key.put());
    if (status != ERROR_SUCCESS)
        return status;
    if (isRegistryLink(key.get()))
        return ERROR_ACCESS_DENIED;

    // Taken whole first: deleting while enumerating would shift the indices.
    std::vector<std::wstring> subKeys;
    for (DWORD index = 0;; ++index) {
        wchar_t subKey[256];
        DWORD length = static_cast<DWORD>(std::size(subKey));
        status =
            RegEnumKeyExW(key.get(), index, subKey, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return status;
        subKeys.emplace_back(subKey, length);
    }
    LONG result = ERROR_SUCCESS;
    for (const std::wstring& subKey : subKeys) {
        status = removeKeyTree(key.get(), subKey);
        if (status != ERROR_SUCCESS)
            result = status;
    }
    if (result != ERROR_SUCCESS)
        return result;
    return RegDeleteKeyW(key.get(), L"");
}

DWORD sizeOf(const std::string& buffer) {
    return static_cast<DWORD>(buffer.size());
}

// The room a caller offers: the length it passes, but never past the end of
// the buffer behind it.
DWORD capacity(std::uint32_t length, const std::string& buffer) {
    return std::min<DWORD>(length, sizeOf(buffer));
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

long Win32Registry::openKey(Key root, const std::string& path, std::uint32_t access, Key& out) {
    if (parked_.key != 0 && parked_.root == root && parked_.access == access &&
        parked_.path == path) {
        out = parked_.key;
        open_.push_back(std::move(parked_));
        parked_ = Opened{0, 0, {}, 0};
        return ERROR_SUCCESS;
    }
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(hkey(root), text::toAnsi(path).c_str(), 0, access, &opened);
    if (status == ERROR_SUCCESS) {
        out = reinterpret_cast<Key>(opened);
        open_.push_back(Opened{out, root, path, access});
    }
    return status;
}

long Win32Registry::queryDefaultValue(Key key, const std::string& subkey, std::string& buffer) {
    std::string twin = ansiTwin(buffer);
    LONG size = static_cast<LONG>(twin.size());
    const std::string ansiSubkey = text::toAnsi(subkey);
    const LONG status = RegQueryValueA(hkey(key), ansiSubkey.c_str(), twin.data(), &size);
    if (status != ERROR_SUCCESS)
        return status;
    KeyHandle opened;
    if (RegOpenKeyExA(hkey(key), ansiSubkey.c_str(), 0, KEY_QUERY_VALUE, opened.put()) !=
            ERROR_SUCCESS ||
        !fitsCodePage(opened.get(), {}))
        return ERROR_NO_UNICODE_TRANSLATION;
    if (!writeBack(buffer, converted(twin, static_cast<DWORD>(size), REG_SZ), buffer.size()))
        return moreData;
    return status;
}

long Win32Registry::queryValue(Key key, const std::string& name, std::uint32_t& type,
                               std::string& buffer) {
    std::string twin = ansiTwin(buffer);
    DWORD storedType = type;
    DWORD size = sizeOf(twin);
    const std::string ansiName = text::toAnsi(name);
    const LONG status = RegQueryValueExA(hkey(key), ansiName.c_str(), nullptr, &storedType,
                                         reinterpret_cast<BYTE*>(twin.data()), &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (isText(storedType) && !fitsCodePage(hkey(key), text::toWide(text::fromAnsi(ansiName))))
        return ERROR_NO_UNICODE_TRANSLATION;
    if (!writeBack(buffer, converted(twin, size, storedType), buffer.size()))
        return moreData;
    type = storedType;
    return status;
}

long Win32Registry::setDwordValue(Key key, const std::string& name, std::uint32_t value) {
    const DWORD data = value;
    return RegSetValueExA(hkey(key), text::toAnsi(name).c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof data);
}

long Win32Registry::deleteKey(Key key, const std::string& subkey) {
    // The deletion may take any key open now, under whatever spelling it was
    // opened: none of them is kept once the caller closes it.
    closeParked();
    open_.clear();
    return RegDeleteKeyA(hkey(key), text::toAnsi(subkey).c_str());
}

long Win32Registry::deleteTree(Key key, const std::string& subkey) {
    closeParked();
    open_.clear();
    // The name reaches the system the way deleteKey's does: through the code
    // page, so that both act on the key the 8-bit enumeration named.
    return removeKeyTree(hkey(key), text::toWide(text::fromAnsi(text::toAnsi(subkey))));
}

long Win32Registry::enumKey(Key key, std::uint32_t index, std::string& name,
                            std::uint32_t& nameLength, std::string& cls,
                            std::uint32_t& classLength) {
    std::string nameTwin = ansiTwin(name);
    std::string classTwin = ansiTwin(cls);
    const DWORD nameRoom = capacity(nameLength, name);
    const DWORD classRoom = capacity(classLength, cls);
    DWORD nameSize = nameRoom;
    DWORD classSize = classRoom;
    FILETIME lastWrite{};
    // With no room for a class the system is asked for none; an empty buffer
    // would otherwise make every key "too large" for it.
    const bool wantClass = classRoom > 0;
    const LONG status = RegEnumKeyExA(hkey(key), index, nameTwin.data(), &nameSize, nullptr,
                                      wantClass ? classTwin.data() : nullptr,
                                      wantClass ? &classSize : nullptr, &lastWrite);
    if (status != ERROR_SUCCESS)
        return status;

    std::string newName = converted(nameTwin, nameSize, REG_SZ);
    std::string newClass = wantClass ? converted(classTwin, classSize, REG_SZ) : std::string();
    std::string nameResult = name;
    std::string classResult = cls;
    if (!writeBackName(nameResult, newName, nameRoom) ||
        (wantClass && !writeBackName(classResult, newClass, classRoom)))
        return moreData;
    name = std::move(nameResult);
    cls = std::move(classResult);
    nameLength = static_cast<std::uint32_t>(newName.size());
    classLength = static_cast<std::uint32_t>(newClass.size());
    return status;
}

long Win32Registry::enumValue(Key key, std::uint32_t index, std::string& name,
                              std::uint32_t& nameLength, std::uint32_t& type, std::string& data,
                              std::uint32_t& dataLength) {
    std::string nameTwin = ansiTwin(name);
    std::string dataTwin = ansiTwin(data);
    const DWORD nameRoom = capacity(nameLength, name);
    const DWORD dataRoom = capacity(dataLength, data);
    DWORD nameSize = nameRoom;
    DWORD dataSize = dataRoom;
    DWORD storedType = type;
    const LONG status =
        RegEnumValueA(hkey(key), index, nameTwin.data(), &nameSize, nullptr, &storedType,
                      reinterpret_cast<BYTE*>(dataTwin.data()), &dataSize);
    // Like the system, say what would be needed when the data does not fit.
    if (status == ERROR_MORE_DATA) {
        type = storedType;
        dataLength = dataSize;
    }
    if (status != ERROR_SUCCESS)
        return status;

    std::string newName = converted(nameTwin, nameSize, REG_SZ);
    std::string newData = converted(dataTwin, dataSize, storedType);
    std::string nameResult = name;
    std::string dataResult = data;
    if (!writeBackName(nameResult, newName, nameRoom) ||
        !writeBack(dataResult, newData, dataRoom)) {
        type = storedType;
        dataLength = static_cast<std::uint32_t>(newData.size());
        return moreData;
    }
    name = std::move(nameResult);
    data = std::move(dataResult);
    nameLength = static_cast<std::uint32_t>(newName.size());
    dataLength = static_cast<std::uint32_t>(newData.size());
    type = storedType;
    return status;
}

long Win32Registry::closeKey(Key key) {
    // Newest first: keys are closed in the reverse order of their opening.
    for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
        if (it->key != key)
            continue;
        closeParked();
        parked_ = std::move(*it);
        open_.erase(std::next(it).base());
        return ERROR_SUCCESS;
    }
    return RegCloseKey(hkey(key));
}

} // namespace uninst
