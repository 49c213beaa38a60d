#include "engine/registration.h"

#include "platform/memory_registry.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace uninst::test {
namespace {

using Names = std::vector<std::string>;

const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string appPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

struct Entries {
    MemoryRegistry registry;

    Entries() {
        registry.createKey(uninstall);
        registry.createKey(appPaths);
    }
    void entry(const std::string& name, const std::string& appToUninstall = {}) {
        registry.createKey(uninstall + "\\" + name);
        if (!appToUninstall.empty())
            registry.setString(uninstall + "\\" + name, "AppToUninstall", appToUninstall);
    }
    Names left() const { return registry.subKeyNames(uninstall); }
};

TEST(RemoveEntries, EntryNamedLikeTheArgumentGoesAndEndsTheScan) {
    Entries t;
    t.entry("myapp.exe");
    t.entry("zzz", "myapp.exe");
    t.registry.createKey(appPaths + "\\MYAPP.EXE");
    t.registry.createKey(appPaths + "\\other.exe");
    removeentries(t.registry, "MyApp.EXE");
    EXPECT_EQ(t.left(), Names{"zzz"});
    EXPECT_EQ(t.registry.subKeyNames(appPaths), Names{"other.exe"});
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

TEST(RemoveEntries, EntryFoundByItsAppToUninstallValue) {
    struct Case {
        const char* what;
        std::string valueName;
        std::string data; // stored as is, type REG_SZ
        bool removed;
    };
    const std::vector<Case> cases = {
        {"same text", "AppToUninstall", std::string("myapp.exe\0", 10), true},
        {"other letter case", "AppToUninstall", std::string("MYAPP.exe\0", 10), true},
        {"surrounding spaces", "AppToUninstall", std::string("  myapp.exe\0", 12), true},
        {"no terminator stored", "AppToUninstall", "myapp.exe", true},
        {"value name in another case", "appToUninstall", std::string("myapp.exe\0", 10), false},
        {"another application", "AppToUninstall", std::string("other.exe\0", 10), false},
        {"inner trailing space", "AppToUninstall", std::string("myapp.exe \0", 11), false},
        {"empty data", "AppToUninstall", "", false},
        {"only a terminator", "AppToUninstall", std::string("\0", 1), false},
        {"too long for the buffer", "AppToUninstall", std::string(300, 'm') + '\0', false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Entries t;
        t.registry.setString(uninstall + "\\a", "DisplayName", "My Application");
        t.registry.setValue(uninstall + "\\a", c.valueName, Registry::typeSz, c.data);
        t.entry("b", "myapp.exe");
        removeentries(t.registry, "myapp.exe");
        // The scan goes on whatever "a" held; after a deletion "b" moves into
        // its place and is passed over.
        EXPECT_EQ(t.left(), c.removed ? Names{"b"} : Names{"a"});
        EXPECT_EQ(t.registry.openHandleCount(), 0u);
    }
}

TEST(RemoveEntries, EmptyArgumentRemovesNothingEvenBesideEmptyValues) {
    Entries t;
    t.registry.setValue(uninstall + "\\a", "AppToUninstall", Registry::typeSz, "");
    t.registry.setString(uninstall + "\\b", "AppToUninstall", "");
    t.entry("c", "myapp.exe");
    removeentries(t.registry, "");
    EXPECT_EQ(t.left(), (Names{"a", "b", "c"}));
}

TEST(RemoveEntries, EntryTakingTheDeletedOnesPlaceIsNotLookedAt) {
    Entries t;
    t.entry("a", "myapp.exe");
    t.entry("b", "myapp.exe");
    t.entry("c", "myapp.exe");
    removeentries(t.registry, "myapp.exe");
    EXPECT_EQ(t.left(), Names{"b"});
}

TEST(RemoveEntries, LargeValueEndsTheScanOfItsEntry) {
    Entries t;
    t.registry.setValue(uninstall + "\\a", "Icon", Registry::typeBinary, std::string(3000, 'x'));
    t.registry.setString(uninstall + "\\a", "AppToUninstall", "myapp.exe");
    t.registry.setValue(uninstall + "\\b", "Icon", Registry::typeBinary, std::string(2048, 'x'));
    t.registry.setString(uninstall + "\\b", "AppToUninstall", "myapp.exe");
    removeentries(t.registry, "myapp.exe");
    EXPECT_EQ(t.left(), Names{"a"});
}

TEST(RemoveEntries, MatchingEntryThatCannotBeDeletedStillEndsTheScan) {
    Entries t;
    t.registry.createKey(uninstall + "\\myapp.exe\\Sub");
    t.entry("x", "myapp.exe");
    removeentries(t.registry, "myapp.exe");
    EXPECT_TRUE(t.registry.keyExists(uninstall + "\\myapp.exe"));
    EXPECT_TRUE(t.registry.keyExists(uninstall + "\\x"));
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

TEST(RemoveEntries, MissingKeysAreSkipped) {
    MemoryRegistry registry;
    registry.createKey(appPaths + "\\myapp.exe");
    removeentries(registry, "myapp.exe");
    EXPECT_FALSE(registry.keyExists(appPaths + "\\myapp.exe"));
}

TEST(RemoveEntries, SampleApplicationLeavesTheOtherOneAlone) {
    SampleWorld w;
    removeentries(w.registry, sample::exe);
    EXPECT_FALSE(w.registry.keyExists(sample::uninstallEntry));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
    EXPECT_EQ(w.registry.subKeyNames(sample::uninstallKey),
              (Names{"Other", "{5A8E2C41-0D7B-4E55-9F0A-3C1B2D4E6F70}"}));
    EXPECT_EQ(w.registry.subKeyNames(sample::appPathsKey), Names{"other.exe"});
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 3u);
}

// Forwards to a memory registry and counts the calls, the cost that matters
// on a real registry, where each one is a round trip.
class CountingRegistry : public Registry {
public:
    explicit CountingRegistry(Registry& inner) : inner_(inner) {}

    long openKey(Key root, const std::string& path, std::uint32_t access, Key& out) override {
        return ++calls, inner_.openKey(root, path, access, out);
    }
    long queryDefaultValue(Key key, const std::string& subkey, std::string& buffer) override {
        return ++calls, inner_.queryDefaultValue(key, subkey, buffer);
    }
    long queryValue(Key key, const std::string& name, std::uint32_t& type,
                    std::string& buffer) override {
        return ++calls, inner_.queryValue(key, name, type, buffer);
    }
    long setDwordValue(Key key, const std::string& name, std::uint32_t value) override {
        return ++calls, inner_.setDwordValue(key, name, value);
    }
    long deleteKey(Key key, const std::string& subkey) override {
        return ++calls, inner_.deleteKey(key, subkey);
    }
    long enumKey(Key key, std::uint32_t index, std::string& name, std::uint32_t& nameLength,
                 std::string& cls, std::uint32_t& classLength) override {
        return ++calls, inner_.enumKey(key, index, name, nameLength, cls, classLength);
    }
    long enumValue(Key key, std::uint32_t index, std::string& name, std::uint32_t& nameLength,
                   std::uint32_t& type, std::string& data, std::uint32_t& dataLength) override {
        ++calls;
        ++valueEnumerations;
        return inner_.enumValue(key, index, name, nameLength, type, data, dataLength);
    }
    long closeKey(Key key) override { return ++calls, inner_.closeKey(key); }

    int calls = 0;
    int valueEnumerations = 0;

private:
    Registry& inner_;
};

TEST(RemoveEntries, CrowdedRegistryCostsAFewCallsPerEntry) {
    Entries t;
    constexpr int others = 200;
    for (int i = 0; i < others; ++i) {
        const std::string entry = uninstall + "\\Other" + std::to_string(1000 + i);
        for (const char* name :
             {"DisplayName", "Publisher", "UninstallString", "InstallLocation", "DisplayIcon",
              "DisplayVersion", "URLInfoAbout", "Comments", "Contact"})
            t.registry.setString(entry, name, "text");
        t.registry.setString(entry, "AppToUninstall", "app" + std::to_string(i) + ".exe");
        t.registry.setString(appPaths + "\\app" + std::to_string(i) + ".exe", "Path", "C:\\A");
    }
    t.entry("Zed", "MYAPP.EXE");

    CountingRegistry counting(t.registry);
    removeentries(counting, "myapp.exe");
    EXPECT_FALSE(t.registry.keyExists(uninstall + "\\Zed"));
    EXPECT_EQ(t.left().size(), static_cast<std::size_t>(others));
    // Enumerate, open, read AppToUninstall, close: entries that name another
    // program are never enumerated value by value. Only the matching one is.
    EXPECT_LE(counting.valueEnumerations, 2);
    EXPECT_LE(counting.calls, 2 * others * 4 + 20);
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

} // namespace
} // namespace uninst::test
