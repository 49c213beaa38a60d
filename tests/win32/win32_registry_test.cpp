// The code-page boundary of the registry layer: the engine speaks UTF-8, the
// registry's 8-bit entry points the ANSI code page.

#include "engine/system_paths.h"
#include "platform/text_encoding.h"
#include "platform/win32_registry.h"
#include "tests/support/win32_handles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace uninst {
namespace {

using namespace std::string_literals;
using test::KeyHandle;

class Win32RegistryText : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetACP() != 1252)
            GTEST_SKIP() << "the names below are chosen for code page 1252, not " << GetACP();
        root_ = L"Software\\UninstWin32Test" + std::to_wstring(GetCurrentProcessId());
        rootUtf8_ = text::fromWide(root_);
    }

    void TearDown() override {
        if (!root_.empty())
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, root_.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, root_.c_str());
        for (Registry::Key key : opened_)
            registry_.closeKey(key);
    }

    // Fixtures go in through the wide API, so that nothing of the layer under
    // test builds them.
    void setText(const std::wstring& keyPath, const std::wstring& name, const std::wstring& value) {
        KeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, (root_ + keyPath).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
        const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()), bytes));
    }

    void setBinary(const std::wstring& name, const std::string& data) {
        KeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, root_.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), name.c_str(), 0, REG_BINARY,
                                                reinterpret_cast<const BYTE*>(data.data()),
                                                static_cast<DWORD>(data.size())));
    }

    Registry::Key open(const std::string& path) {
        Registry::Key key = 0;
        EXPECT_EQ(Registry::Status::success(), registry_.openKey(Registry::localMachine, path, key))
            << path;
        if (key != 0)
            opened_.push_back(key);
        return key;
    }

    Win32Registry registry_;
    std::wstring root_;
    std::string rootUtf8_;
    std::vector<Registry::Key> opened_;
};

TEST_F(Win32RegistryText, NonAsciiNamesAndTextCrossAsUtf8) {
    setText(L"\\Caf\u00e9", L"Cr\u00e8me", L"C:\\Program Files\\Caf\u00e9\\caf\u00e9.exe");
    setText(L"\\Caf\u00e9\\app.exe", L"", L"D:\\\u00c9t\u00e9\\app.exe");

    const Registry::Key key = open(rootUtf8_ + "\\CAFÉ");
    ASSERT_NE(0u, key) << "opening by a name upper-cased outside ASCII";

    std::string buffer(64, ' ');
    std::uint32_t type = 0;
    ASSERT_EQ(Registry::Status::success(),
              codepage::queryValue(registry_, key, "Crème", type, buffer));
    const std::string expected = "C:\\Program Files\\Café\\café.exe\0"s;
    // The buffer's 64 characters: 31 of text and terminator, which take 33
    // bytes in UTF-8, then the 33 blanks the read left.
    EXPECT_EQ(expected + std::string(33, ' '), buffer);

    buffer.assign(255, ' ');
    ASSERT_EQ(Registry::Status::success(),
              codepage::queryDefaultValue(registry_, key, "app.exe", buffer));
    EXPECT_EQ("D:\\Été\\app.exe\0"s, buffer.substr(0, 17));

    const Registry::Key root = open(rootUtf8_);
    std::string name(255, ' ');
    std::uint32_t nameLength = 255;
    ASSERT_EQ(Registry::Status::success(), codepage::enumKey(registry_, root, 0, name, nameLength));
    EXPECT_EQ(5u, nameLength) << "the length of \"Café\" in UTF-8 bytes";
    EXPECT_EQ("Café\0"s, name.substr(0, 6));
    EXPECT_EQ(std::string(255 - 5, ' '), name.substr(6)) << "five characters written";

    std::string data(64, '\0');
    std::uint32_t dataLength = 64;
    name.assign(255, ' ');
    nameLength = 255;
    ASSERT_EQ(Registry::Status::success(),
              codepage::enumValue(registry_, key, 0, name, nameLength, type, data, dataLength));
    EXPECT_EQ("Crème", name.substr(0, nameLength));
    EXPECT_EQ(expected.size(), dataLength) << "data length counts the converted text";
    EXPECT_EQ(expected, data.substr(0, dataLength));
}

// Rooms are counted in characters of the code page, as the system counts
// them: eight accented letters take nine with the terminator, though
// seventeen bytes in UTF-8.
TEST_F(Win32RegistryText, NamesAndDataAreMeasuredInCodePageCharacters) {
    setText(L"\\\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9",
            L"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", L"\u00e9\u00e9\u00e9");
    const Registry::Key root = open(rootUtf8_);
    const std::string eight = "éééééééé";

    std::string name(9, '#');
    std::uint32_t nameLength = 0;
    ASSERT_EQ(Registry::Status::success(), codepage::enumKey(registry_, root, 0, name, nameLength));
    EXPECT_EQ(eight + '\0', name);
    EXPECT_EQ(16u, nameLength) << "the name's length in the buffer, in UTF-8 bytes";

    name.assign(8, '#');
    EXPECT_EQ(Registry::Status::moreData(), codepage::enumKey(registry_, root, 0, name, nameLength))
        << "no room for the terminator";
    EXPECT_EQ(std::string(8, '#'), name);

    const Registry::Key key = open(rootUtf8_ + "\\" + eight);
    std::uint32_t type = 0;
    std::string data(4, '#');
    std::uint32_t dataLength = 0;
    name.assign(12, '#');
    ASSERT_EQ(Registry::Status::success(),
              codepage::enumValue(registry_, key, 0, name, nameLength, type, data, dataLength));
    EXPECT_EQ(eight + '\0' + "###", name);
    EXPECT_EQ("ééé\0"s, data) << "three letters and the terminator fill four characters";

    data.assign(3, '#');
    EXPECT_EQ(Registry::Status::moreData(),
              codepage::enumValue(registry_, key, 0, name, nameLength, type, data, dataLength));
    EXPECT_EQ("###", data);

    std::string buffer(4, ' ');
    ASSERT_EQ(Registry::Status::success(),
              codepage::queryValue(registry_, key, eight, type, buffer));
    EXPECT_EQ("ééé\0"s, buffer);
    buffer.assign(3, ' ');
    EXPECT_EQ(Registry::Status::moreData(),
              codepage::queryValue(registry_, key, eight, type, buffer));
    EXPECT_EQ("   ", buffer);
}

// Letter case is folded as the registry folds it, beyond a-z: an application
// registered as "übung.exe" is the one started as "ÜBUNG.EXE".
TEST_F(Win32RegistryText, NamesCompareAsTheRegistryMatchesThem) {
    setText(L"\\\u00fcbung.exe", L"", L"x");
    EXPECT_NE(0u, open(rootUtf8_ + "\\ÜBUNG.EXE")) << "the registry itself matches them";

    EXPECT_TRUE(registry_.sameName("übung.exe", "ÜBUNG.EXE"));
    EXPECT_TRUE(registry_.sameName("Crème Brûlée", "CRÈME BRÛLÉE"));
    EXPECT_TRUE(registry_.sameName("œuvre ÿ š", "ŒUVRE Ÿ Š")) << "letters of 0x80-0x9F";
    EXPECT_TRUE(registry_.sameName("MyApp.exe", "myapp.EXE"));
    EXPECT_FALSE(registry_.sameName("übung.exe", "ubung.exe")) << "accents still count";
    EXPECT_FALSE(registry_.sameName("straße", "STRASSE"));
    EXPECT_FALSE(registry_.sameName("app.exe", "app.exe "));
    EXPECT_FALSE(registry_.sameName("\u0101pp.exe", "?pp.exe"))
        << "a letter the code page lacks is not its replacement character";

    EXPECT_EQ(4u, registry_.codePageLength("Café"));
    EXPECT_EQ(8u, registry_.codePageLength("éé\0x\0yy\0"s));
    EXPECT_EQ(0u, registry_.codePageLength(""));
}

// The system's own conversion puts a look-alike where the code page has no
// place for a character ("\u0100" becomes "A"); such text is no read at all,
// or a folder or name of another application would be taken for it.
TEST_F(Win32RegistryText, TextOutsideTheCodePageIsNotReadAsALookAlike) {
    setText(L"\\app.exe", L"", L"C:\\Program Files\\\u0100pp\\app.exe");
    setText(L"\\app.exe", L"AppToUninstall", L"\u0101pp.exe");
    setText(L"\\plain.exe", L"", L"C:\\Program Files\\Caf\u00e9\\plain.exe");
    KeyHandle bare;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, (root_ + L"\\bare.exe").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, bare.put(), nullptr));
    const Registry::Key root = open(rootUtf8_);

    std::string buffer(255, ' ');
    EXPECT_NE(Registry::Status::success(),
              codepage::queryDefaultValue(registry_, root, "app.exe", buffer));
    EXPECT_EQ(std::string(255, ' '), buffer);

    const Registry::Key key = open(rootUtf8_ + "\\app.exe");
    std::uint32_t type = Registry::typeSz;
    buffer.assign(255, ' ');
    EXPECT_NE(Registry::Status::success(),
              codepage::queryValue(registry_, key, "AppToUninstall", type, buffer));
    EXPECT_EQ(std::string(255, ' '), buffer);

    buffer.assign(255, ' ');
    ASSERT_EQ(Registry::Status::success(),
              codepage::queryDefaultValue(registry_, root, "plain.exe", buffer));
    const std::string plain = "C:\\Program Files\\Café\\plain.exe\0"s;
    EXPECT_EQ(plain, buffer.substr(0, plain.size()));

    buffer.assign(255, ' ');
    EXPECT_EQ(RegQueryValueA(HKEY_LOCAL_MACHINE, text::toAnsi(rootUtf8_ + "\\bare.exe").c_str(),
                             nullptr, nullptr),
              codepage::queryDefaultValue(registry_, root, "bare.exe", buffer).code())
        << "a key without a default value reads as the system reads it";
}

// Read together, as the scan of a crowded list reads them, the entries are
// judged as each alone: a look-alike is no read on any thread, and a key
// named outside the code page is not reached under the default character.
TEST_F(Win32RegistryText, EntriesReadTogetherKeepTheCodePageChecks) {
    std::vector<std::string> paths;
    for (int i = 0; i < 100; ++i) {
        const std::wstring name = L"\\e" + std::to_wstring(i);
        setText(name, L"AppToUninstall",
                i % 10 == 0 ? L"\u0101pp.exe" : L"Caf\u00e9" + std::to_wstring(i) + L".exe");
        paths.push_back(rootUtf8_ + text::fromWide(name));
    }
    setText(L"\\App.exe", L"AppToUninstall", L"app.exe");
    paths.push_back(rootUtf8_ + "\\\u0100pp.exe");

    const std::vector<Registry::PathValue> reads =
        registry_.readValueOfEach(Registry::localMachine, paths, "AppToUninstall");
    ASSERT_EQ(paths.size(), reads.size());
    for (int i = 0; i < 100; ++i) {
        if (i % 10 == 0) {
            EXPECT_EQ(Registry::Status::noUnicodeTranslation(), reads[i].status) << paths[i];
            continue;
        }
        ASSERT_EQ(Registry::Status::success(), reads[i].status) << paths[i];
        EXPECT_EQ("Café" + std::to_string(i) + ".exe\0"s, reads[i].value.data);
    }
    EXPECT_TRUE(reads.back().status.isNotFound())
        << "expected the key to be missing, got " << reads.back().status;
}

// The default values the App Paths pass reads together: a look-alike is
// refused after the key opened, text the code page holds (all of 1252's
// letters, not only Latin-1's) arrives as readValue gives it, and a key
// without a default value opens and has none.
TEST_F(Win32RegistryText, DefaultValuesReadTogetherAreNotReadAsLookAlikesEither) {
    setText(L"\\app.exe", L"", L"C:\\Program Files\\\u0100pp\\app.exe");
    setText(L"\\plain.exe", L"", L"C:\\Program Files\\Caf\u00e9\\plain.exe");
    setText(L"\\euro.exe", L"", L"C:\\\u20ac\u0160\\euro.exe");
    KeyHandle bare;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, (root_ + L"\\bare.exe").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, bare.put(), nullptr));
    const std::vector<std::string> paths{rootUtf8_ + "\\app.exe", rootUtf8_ + "\\plain.exe",
                                         rootUtf8_ + "\\euro.exe", rootUtf8_ + "\\bare.exe"};
    const std::vector<Registry::PathValue> read =
        registry_.readValueOfEach(Registry::localMachine, paths, "");
    ASSERT_EQ(paths.size(), read.size());

    EXPECT_TRUE(read[0].opened);
    EXPECT_EQ(Registry::Status::noUnicodeTranslation(), read[0].status);
    EXPECT_TRUE(read[0].value.data.empty());
    EXPECT_EQ(Registry::Status::success(), read[1].status);
    EXPECT_EQ("C:\\Program Files\\Café\\plain.exe\0"s, read[1].value.data);
    EXPECT_EQ(Registry::Status::success(), read[2].status) << "code page 1252 holds both";
    EXPECT_EQ("C:\\€Š\\euro.exe\0"s, read[2].value.data);
    EXPECT_TRUE(read[3].opened);
    EXPECT_TRUE(read[3].status.isNotFound()) << "expected no default value, got " << read[3].status;

    for (std::size_t i = 0; i < 3; ++i) {
        const Registry::Key key = open(paths[i]);
        Registry::Value alone;
        EXPECT_EQ(registry_.readValue(key, "", alone), read[i].status) << paths[i];
        EXPECT_EQ(alone.data, read[i].value.data) << paths[i];
    }
}

TEST_F(Win32RegistryText, BinaryDataIsNotConverted) {
    setBinary(L"Blob", "\xE9\x80\xFF\x00\x41"s);
    const Registry::Key key = open(rootUtf8_);

    std::string buffer(8, '\0');
    std::uint32_t type = 0;
    ASSERT_EQ(Registry::Status::success(),
              codepage::queryValue(registry_, key, "Blob", type, buffer));
    EXPECT_EQ(Registry::typeBinary, type);
    EXPECT_EQ("\xE9\x80\xFF\x00\x41\0\0\0"s, buffer);
}

// A key the caller closed may stay open inside the layer for the next open of
// the same path. What the caller sees must not change: values written by
// others in between are read, and a deleted key does not open again.
class Win32RegistryReopen : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = "Software\\UninstReopenTest" + std::to_string(GetCurrentProcessId());
        shared_ = root_ + "\\Shared";
        KeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, shared_.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
        setCount(3);
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, root_.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, root_.c_str());
    }

    // Written around the layer under test.
    void setCount(DWORD count) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, shared_.c_str(), "a.dll",
                                                 REG_DWORD, &count, sizeof count));
    }

    // Opens, reads the count and closes, as the install log does per line.
    Registry::Status readCount(std::uint32_t& count) {
        Registry::Key key = 0;
        const Registry::Status opened = registry_.openKey(Registry::localMachine, shared_, key);
        if (!opened.isSuccess())
            return opened;
        std::uint32_t type = Registry::typeDword;
        std::string data(4, '\0');
        const Registry::Status status = codepage::queryValue(registry_, key, "a.dll", type, data);
        std::memcpy(&count, data.data(), sizeof count);
        registry_.closeKey(key);
        return status;
    }

    // Whether the key opens through the layer; closes it again if so.
    bool opens() {
        Registry::Key key = 0;
        if (!registry_.openKey(Registry::localMachine, shared_, key).isSuccess())
            return false;
        registry_.closeKey(key);
        return true;
    }

    Win32Registry registry_;
    std::string root_;
    std::string shared_;
};

TEST_F(Win32RegistryReopen, ReopenedKeySeesWhatOthersWroteMeanwhile) {
    std::uint32_t count = 0;
    ASSERT_EQ(Registry::Status::success(), readCount(count));
    EXPECT_EQ(3u, count);
    setCount(7);
    ASSERT_EQ(Registry::Status::success(), readCount(count));
    EXPECT_EQ(7u, count);
}

TEST_F(Win32RegistryReopen, DeletedKeyDoesNotOpenAgain) {
    std::uint32_t count = 0;
    ASSERT_EQ(Registry::Status::success(), readCount(count));
    EXPECT_EQ(Registry::Status::success(), registry_.deleteKey(Registry::localMachine, shared_));
    EXPECT_FALSE(opens());
}

TEST_F(Win32RegistryReopen, KeyDeletedWhileTheCallerHoldsItDoesNotOpenAgain) {
    Registry::Key key = 0;
    ASSERT_EQ(Registry::Status::success(), registry_.openKey(Registry::localMachine, shared_, key));
    EXPECT_EQ(Registry::Status::success(), registry_.deleteKey(Registry::localMachine, shared_));
    registry_.closeKey(key);
    EXPECT_FALSE(opens());
}

// Another uninstaller removing its own entry while this run reads every
// entry: the value of a key deleted under a handle held here is gone, as the
// key is, and not a read that failed (which ended such runs 1603).
TEST_F(Win32RegistryReopen, KeyAnotherProgramDeletesWhileItIsHeldReadsAsGone) {
    Registry::Key key = 0;
    ASSERT_EQ(Registry::Status::success(), registry_.openKey(Registry::localMachine, shared_, key));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, shared_.c_str()));
    Registry::Value value;
    const Registry::Status read = registry_.readValue(key, "a.dll", value);
    EXPECT_TRUE(read.isNotFound()) << read.code();
    registry_.closeKey(key);
}

bool runsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Where the system keeps a key this program names "Software\\...".
std::wstring keptAt(const std::wstring& path) {
    return runsUnderWow64() ? L"Software\\Wow6432Node" + path.substr(std::wcslen(L"Software"))
                            : path;
}

// A registry link inside an entry being deleted whole: what it points to is
// not the application's, and neither is the link to follow.
TEST(Win32RegistryTree, LinkInsideIsNeitherFollowedNorDeleted) {
    const std::wstring root = L"Software\\UninstTreeTest" + std::to_wstring(GetCurrentProcessId());
    const std::wstring target = root + L"\\Target";
    const std::wstring entry = root + L"\\Entry";
    // Deleted as itself: a tree deletion would go through it.
    auto removeLink = [&] {
        KeyHandle own;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (entry + L"\\Link").c_str(), REG_OPTION_OPEN_LINK,
                          DELETE, own.put()) == ERROR_SUCCESS) {
            using DeleteFn = LONG(WINAPI*)(HANDLE);
            const auto ntDeleteKey = reinterpret_cast<DeleteFn>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
            if (ntDeleteKey != nullptr)
                ntDeleteKey(own.get());
        }
    };
    // One left by an earlier run of the same process number.
    removeLink();
    {
        KeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, (target + L"\\Inside").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
        KeyHandle plain;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, (entry + L"\\Plain").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, plain.put(), nullptr));
    }
    KeyHandle link;
    const LONG created =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, (entry + L"\\Link").c_str(), 0, nullptr,
                        REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, link.put(), nullptr);
    // A link names where its target is kept: under WOW64 the keys this
    // 32-bit test made in its own view of Software are kept in WOW6432Node.
    const std::wstring destination = L"\\Registry\\Machine\\" + keptAt(target);
    const bool linked =
        created == ERROR_SUCCESS &&
        RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                       reinterpret_cast<const BYTE*>(destination.data()),
                       static_cast<DWORD>(destination.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
    link.reset();
    auto exists = [](const std::wstring& path) {
        KeyHandle key;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ,
                             key.put()) == ERROR_SUCCESS;
    };
    if (!linked || !exists(entry + L"\\Link\\Inside")) {
        removeLink();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, root.c_str());
        GTEST_SKIP() << "this system made no working registry link (status " << created << ")";
    }

    Win32Registry registry;
    EXPECT_NE(Registry::Status::success(),
              registry.deleteTree(Registry::localMachine, text::fromWide(entry)));
    EXPECT_TRUE(exists(target + L"\\Inside")) << "the link's target lost its sub-key";
    EXPECT_TRUE(exists(entry + L"\\Link")) << "the link itself was deleted";
    EXPECT_FALSE(exists(entry + L"\\Plain")) << "the rest of the tree stayed";

    EXPECT_NE(Registry::Status::success(),
              registry.deleteTree(Registry::localMachine, text::fromWide(entry + L"\\Link")))
        << "a link asked for by name";
    EXPECT_TRUE(exists(target + L"\\Inside"));

    // Opened for its values or sub-keys (a SharedDLLs key or an Uninstall
    // list that is a link), it is refused rather than its target handed out.
    Registry::Key opened = 0;
    EXPECT_NE(Registry::Status::success(),
              registry.openKey(Registry::localMachine, text::fromWide(entry + L"\\Link"), opened));
    if (opened != 0)
        registry.closeKey(opened);
    // Nor are its target's values read as the link's when many entries are
    // read together.
    {
        KeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, target.c_str(), 0, KEY_SET_VALUE, key.put()));
        const std::wstring value = L"app.exe";
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.get(), L"AppToUninstall", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    }
    std::vector<std::string> paths(70, text::fromWide(entry + L"\\Link"));
    paths.push_back(text::fromWide(target));
    const std::vector<Registry::PathValue> reads =
        registry.readValueOfEach(Registry::localMachine, paths, "AppToUninstall");
    ASSERT_EQ(paths.size(), reads.size());
    for (std::size_t i = 0; i + 1 < reads.size(); ++i) {
        EXPECT_FALSE(reads[i].opened) << "the link was followed";
        EXPECT_EQ(Registry::Status::accessDenied(), reads[i].status)
            << "refused as openKey refuses it";
        EXPECT_TRUE(reads[i].value.data.empty());
    }
    EXPECT_EQ(Registry::Status::success(), reads.back().status) << "the target read as itself";
    EXPECT_EQ("app.exe"s + '\0', reads.back().value.data);

    removeLink();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, root.c_str());
}

// The two registry views of a 64-bit Windows, as the 32-bit program sees
// them: the lists a 32-bit setup wrote are read in the 32-bit view, App Paths
// through the key the system shares between the views, and a link the
// system did not make is refused in either.
class Win32RegistryViews : public ::testing::Test {
protected:
    void SetUp() override {
        if (!runsUnderWow64())
            GTEST_SKIP() << "only a 64-bit Windows keeps two registry views";
    }
    void TearDown() override {
        for (const auto& [path, view] : made_) {
            KeyHandle key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK,
                              KEY_ALL_ACCESS | view, key.put()) == ERROR_SUCCESS &&
                !ntDeleteKey(key.get()))
                RegDeleteTreeW(key.get(), nullptr);
            key.reset();
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), view, 0);
        }
    }

    // Creates `path` in `view` (0: this program's own) with `name` = `value`.
    void setText(const std::wstring& path, REGSAM view, const std::wstring& name,
                 const std::wstring& value) {
        KeyHandle key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr));
        made_.emplace_back(path, view);
        const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()), bytes));
    }

    static bool ntDeleteKey(HKEY key) {
        using DeleteFn = LONG(WINAPI*)(HANDLE);
        const auto call = reinterpret_cast<DeleteFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
        return call != nullptr && call(key) == 0;
    }

    std::string readText(Registry::Key key, const std::string& name) {
        Registry::Value value;
        if (!registry_.readValue(key, name, value).isSuccess())
            return "(none)";
        return value.data.substr(0, value.data.find('\0'));
    }

    Win32Registry registry_;
    std::vector<std::pair<std::wstring, REGSAM>> made_;
    const std::wstring id_ = std::to_wstring(GetCurrentProcessId());
};

TEST_F(Win32RegistryViews, SharedAppPathsListOpensThroughTheSystemsArrangement) {
    const std::wstring list = text::toWide(appPathsKeyPath);
    const std::wstring entry = list + L"\\uninstviewtest" + id_ + L".exe";
    setText(entry, 0, L"", L"C:\\Program Files (x86)\\View Test\\a.exe");

    // Written in the 32-bit view, the entry is the one the 64-bit view shows.
    KeyHandle native;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, entry.c_str(), 0,
                                           KEY_READ | KEY_WOW64_64KEY, native.put()));

    Registry::Key key = 0;
    ASSERT_EQ(Registry::Status::success(),
              registry_.openKey(Registry::localMachine, appPathsKeyPath, key));
    Registry::Value value;
    EXPECT_EQ(
        Registry::Status::success(),
        registry_.readDefaultValue(key, "uninstviewtest" + text::fromWide(id_) + ".exe", value));
    EXPECT_EQ("C:\\Program Files (x86)\\View Test\\a.exe",
              value.data.substr(0, value.data.find('\0')));
    registry_.closeKey(key);
}

TEST_F(Win32RegistryViews, RedirectedListsShowThisViewsOwnValuesOnly) {
    // Values of one name in both views' SharedDLLs: the 32-bit setup's
    // count is the one the program reads; the 64-bit one is another file's.
    const std::wstring list = text::toWide(sharedDllsKeyPath);
    const std::wstring viewKey = list + L"\\UninstViewTest" + id_;
    setText(viewKey, 0, L"Side", L"32");
    setText(viewKey, KEY_WOW64_64KEY, L"Side", L"64");

    Registry::Key key = 0;
    ASSERT_EQ(Registry::Status::success(),
              registry_.openKey(Registry::localMachine, text::fromWide(viewKey), key));
    EXPECT_EQ("32", readText(key, "Side"));
    registry_.closeKey(key);

    const std::wstring uninstall = text::toWide(uninstallKeyPath) + L"\\UninstViewTest" + id_;
    setText(uninstall, KEY_WOW64_64KEY, L"DisplayName", L"64-bit");
    EXPECT_NE(Registry::Status::success(),
              registry_.openKey(Registry::localMachine, text::fromWide(uninstall), key))
        << "the 64-bit view's Uninstall entry was seen from the 32-bit one";
}

TEST_F(Win32RegistryViews, LinkToTheSamePathInTheOtherViewIsRefusedOutsideTheSharedKeys) {
    // A redirected list (an Uninstall list, say) made a link to its 64-bit
    // twin would hand the 64-bit applications' entries to this run.
    const std::wstring path = L"Software\\UninstViewLink" + id_;
    setText(path + L"\\Inside", KEY_WOW64_64KEY, L"Side", L"64");
    made_.emplace_back(path, KEY_WOW64_64KEY);
    KeyHandle link;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                              KEY_ALL_ACCESS, nullptr, link.put(), nullptr));
    made_.emplace_back(path, 0);
    const std::wstring destination = L"\\Registry\\Machine\\" + path;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                             reinterpret_cast<const BYTE*>(destination.data()),
                             static_cast<DWORD>(destination.size() * sizeof(wchar_t))));
    link.reset();
    KeyHandle through;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (path + L"\\Inside").c_str(), 0, KEY_READ,
                      through.put()) != ERROR_SUCCESS)
        GTEST_SKIP() << "this system made no working link between the views";
    through.reset();

    Registry::Key key = 0;
    EXPECT_NE(Registry::Status::success(),
              registry_.openKey(Registry::localMachine, text::fromWide(path), key));
    EXPECT_NE(Registry::Status::success(),
              registry_.deleteTree(Registry::localMachine, text::fromWide(path)));
    KeyHandle kept;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, (path + L"\\Inside").c_str(), 0,
                                           KEY_READ | KEY_WOW64_64KEY, kept.put()))
        << "the 64-bit key behind the link lost its sub-key";
}

} // namespace
} // namespace uninst
