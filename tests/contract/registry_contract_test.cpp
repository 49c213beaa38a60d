// What the engine relies on from the registry layer. The same tests run
// against the in-memory registry and, under Wine, against the real one.

#include "tests/contract/world.h"
#include "tests/support/text_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace uninst::test {
namespace {

constexpr std::uint32_t typeSentinel = 0xA5A5A5A5;

std::string sz(const std::string& text) {
    return text + '\0';
}

class RegistryContract : public ::testing::Test {
protected:
    void SetUp() override {
        world_ = makeContractWorld();
        root_ = world_->keyRoot();
    }

    Registry& reg() { return world_->registry(); }

    // Opens `path` (below the world's key) and records the handle for
    // closing at the end of the test.
    Registry::Key open(const std::string& path) {
        Registry::Key key = 0;
        const Registry::Status status = reg().openKey(Registry::localMachine, path, key);
        EXPECT_EQ(Registry::Status::success(), status) << "opening " << path;
        EXPECT_NE(0u, key) << "opening " << path << " gave a null handle";
        if (key != 0)
            handles_.push_back(key);
        return key;
    }

    void TearDown() override {
        for (Registry::Key key : handles_)
            reg().closeKey(key);
    }

    struct Enumerated {
        Registry::Status status;
        std::string name;
    };

    Enumerated subKey(Registry::Key key, std::uint32_t index) {
        std::string name(255, ' ');
        std::uint32_t nameLength = 255;
        const Registry::Status status = codepage::enumKey(reg(), key, index, name, nameLength);
        return {status,
                status == Registry::Status::success() ? name.substr(0, nameLength) : std::string()};
    }

    std::vector<std::string> allSubKeys(Registry::Key key) {
        std::vector<std::string> names;
        for (std::uint32_t index = 0;; ++index) {
            Enumerated item = subKey(key, index);
            if (item.status != Registry::Status::success()) {
                EXPECT_EQ(Registry::Status::noMoreItems(), item.status) << "end of sub-keys";
                break;
            }
            names.push_back(item.name);
        }
        return names;
    }

    std::unique_ptr<ContractWorld> world_;
    std::string root_;
    std::vector<Registry::Key> handles_;
};

TEST_F(RegistryContract, OpensMultiLevelPathsAndMatchesNamesWithoutCase) {
    world_->createKey(root_ + "\\Level1\\Level2\\Level3");
    open(root_ + "\\Level1\\Level2\\Level3");
    open(upper(root_) + "\\LEVEL1\\level2\\LeVeL3");

    Registry::Key key = 0;
    const Registry::Status status =
        reg().openKey(Registry::localMachine, root_ + "\\Level1\\Missing", key);
    EXPECT_NE(Registry::Status::success(), status) << "opening a missing key succeeded";
    if (status == Registry::Status::success())
        reg().closeKey(key);
}

TEST_F(RegistryContract, TextValueArrivesWithTerminatorAndLeavesTheRestOfTheBuffer) {
    world_->setValue(root_, "Path", Registry::typeSz, sz("C:\\App\\a.exe"));
    const Registry::Key key = open(root_);

    for (const char* name : {"Path", "PATH", "path"}) {
        std::string buffer(32, '#');
        std::uint32_t type = typeSentinel;
        const Registry::Status status = codepage::queryValue(reg(), key, name, type, buffer);
        ASSERT_EQ(Registry::Status::success(), status) << name;
        EXPECT_EQ(sz("C:\\App\\a.exe") + std::string(19, '#'), buffer) << name;
        EXPECT_EQ(Registry::typeSz, type) << name << ": expected type 1, got " << type;
    }
}

TEST_F(RegistryContract, DwordReadsIntoFourBytesAndWritesBack) {
    world_->setValue(root_, "Count", Registry::typeDword, std::string("\x03\x00\x00\x00", 4));
    const Registry::Key key = open(root_);

    std::string buffer(4, '\xEE');
    std::uint32_t type = typeSentinel;
    ASSERT_EQ(Registry::Status::success(), codepage::queryValue(reg(), key, "count", type, buffer));
    EXPECT_EQ(std::string("\x03\x00\x00\x00", 4), buffer);
    EXPECT_EQ(Registry::typeDword, type) << "expected type 4, got " << type;

    ASSERT_EQ(Registry::Status::success(), reg().setDwordValue(key, "COUNT", 0x01020304));
    buffer.assign(4, '\xEE');
    ASSERT_EQ(Registry::Status::success(), codepage::queryValue(reg(), key, "Count", type, buffer));
    EXPECT_EQ(std::string("\x04\x03\x02\x01", 4), buffer);

    // Writing under another spelling replaced the value instead of adding one.
    std::string name(255, ' ');
    std::string data(16, '\0');
    std::uint32_t nameLength = 255;
    std::uint32_t dataLength = 16;
    EXPECT_EQ(Registry::Status::noMoreItems(),
              codepage::enumValue(reg(), key, 1, name, nameLength, type, data, dataLength));
}

TEST_F(RegistryContract, FailedReadsLeaveBufferAndTypeAsTheyWere) {
    world_->setValue(root_, "Long", Registry::typeSz, sz("C:\\Program Files\\Long\\app.exe"));
    world_->setValue(root_, "Blob", Registry::typeBinary, std::string(8, '\x11'));
    const Registry::Key key = open(root_);

    struct Case {
        const char* what;
        const char* name;
        std::size_t size;
    };
    for (const Case& c : {Case{"missing value", "Absent", 64}, Case{"text too long", "Long", 16},
                          Case{"binary too long", "Blob", 4}}) {
        std::string buffer(c.size, '#');
        std::uint32_t type = typeSentinel;
        const Registry::Status status = codepage::queryValue(reg(), key, c.name, type, buffer);
        EXPECT_NE(Registry::Status::success(), status) << c.what << ": read succeeded";
        EXPECT_EQ(std::string(c.size, '#'), buffer) << c.what << ": buffer was written";
        EXPECT_EQ(typeSentinel, type) << c.what << ": expected type 0xA5A5A5A5, got " << type;
    }

    std::string buffer(16, '#');
    std::uint32_t type = typeSentinel;
    EXPECT_EQ(Registry::Status::moreData(), codepage::queryValue(reg(), key, "Long", type, buffer))
        << "a value larger than the buffer";
}

TEST_F(RegistryContract, DefaultValueOfANamedSubKey) {
    world_->setValue(root_ + "\\MyApp.exe", "", Registry::typeSz, sz("C:\\App\\MyApp.exe"));
    world_->setValue(root_ + "\\Huge.exe", "", Registry::typeSz, sz(std::string(300, 'x')));
    world_->setValue(root_, "", Registry::typeSz, sz("own"));
    const Registry::Key key = open(root_);

    std::string buffer(255, ' ');
    ASSERT_EQ(Registry::Status::success(),
              codepage::queryDefaultValue(reg(), key, "myapp.EXE", buffer));
    EXPECT_EQ(sz("C:\\App\\MyApp.exe") + std::string(255 - 17, ' '), buffer);

    buffer.assign(255, ' ');
    ASSERT_EQ(Registry::Status::success(), codepage::queryDefaultValue(reg(), key, "", buffer));
    EXPECT_EQ(sz("own") + std::string(251, ' '), buffer) << "the key's own default value";

    for (const char* subkey : {"Missing.exe", "Huge.exe"}) {
        buffer.assign(255, ' ');
        EXPECT_NE(Registry::Status::success(),
                  codepage::queryDefaultValue(reg(), key, subkey, buffer))
            << subkey;
        EXPECT_EQ(std::string(255, ' '), buffer) << subkey << ": buffer was written";
    }
}

// Enough entries for a registry that reads them together to do so, of every
// kind a scan meets: a value, none, a key that is not there, a value of
// another type, a name spelt in another case. Each answer is the one the
// entry gives read on its own, in the order asked.
TEST_F(RegistryContract, ValuesOfManyKeysReadTogetherAnswerAsEachReadAlone) {
    std::vector<std::string> paths;
    for (int i = 0; i < 150; ++i) {
        const std::string path = root_ + "\\Entry" + std::to_string(i);
        paths.push_back(i % 3 == 0 ? root_ + "\\ENTRY" + std::to_string(i) : path);
        if (i % 11 == 5)
            continue;
        world_->createKey(path);
        if (i % 7 == 2)
            world_->setValue(path, "AppToUninstall", Registry::typeDword,
                             std::string("\x07\x00\x00\x00", 4));
        else if (i % 5 != 1)
            world_->setValue(path, i % 2 == 0 ? "AppToUninstall" : "apptouninstall",
                             Registry::typeSz, sz("app" + std::to_string(i) + ".exe"));
    }

    const std::vector<Registry::PathValue> reads =
        reg().readValueOfEach(Registry::localMachine, paths, "AppToUninstall");
    ASSERT_EQ(paths.size(), reads.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Registry::Key key = 0;
        Registry::Status alone = reg().openKey(Registry::localMachine, paths[i], key);
        Registry::Value value;
        if (alone.isSuccess()) {
            alone = reg().readValue(key, "AppToUninstall", value);
            reg().closeKey(key);
        }
        EXPECT_EQ(alone, reads[i].status) << paths[i];
        EXPECT_EQ(key != 0, reads[i].opened) << paths[i];
        if (alone.isSuccess()) {
            EXPECT_EQ(value.type, reads[i].value.type) << paths[i];
            EXPECT_EQ(value.data, reads[i].value.data) << paths[i];
        }
    }
    EXPECT_TRUE(reads[3].status.isSuccess()) << "expected a value, got " << reads[3].status;
    EXPECT_EQ(sz("app3.exe"), reads[3].value.data);
    EXPECT_TRUE(reads[5].status.isNotFound()) << "expected no key, got " << reads[5].status;
    EXPECT_TRUE(reads[1].status.isNotFound()) << "expected no value, got " << reads[1].status;
    EXPECT_EQ(Registry::typeDword, reads[9].value.type);
    EXPECT_TRUE(reg().readValueOfEach(Registry::localMachine, {}, "AppToUninstall").empty());
}

// The inventory walks the values of every Uninstall entry that names an
// application, together: each walk gives what enumValue gives on the entry
// alone, stopping at the value asked for by its exact name, or at the end,
// and the values it reads by name on the way give what reading each alone
// gives.
TEST_F(RegistryContract, ValueWalksOfManyKeysTogetherAnswerAsEachWalkedAlone) {
    std::vector<std::string> paths;
    for (int i = 0; i < 120; ++i) {
        const std::string path = root_ + "\\Walk" + std::to_string(i);
        paths.push_back(path);
        if (i % 13 == 4)
            continue;
        world_->createKey(path);
        for (int v = 0; v < i % 4; ++v)
            world_->setValue(path, "Before" + std::to_string(v), Registry::typeSz, sz("x"));
        if (i % 5 != 3)
            world_->setValue(path, i % 6 == 1 ? "apptouninstall" : "AppToUninstall",
                             Registry::typeSz, sz("app" + std::to_string(i) + ".exe"));
        world_->setValue(path, "After", Registry::typeDword, dwordBytes(1));
        if (i % 3 == 0)
            world_->setValue(
                path, "DisplayName", Registry::typeSz,
                sz(i % 2 == 0 ? "Walk " + std::to_string(i) : "\u041f\u0443\u0442\u044c"));
        else if (i % 3 == 1)
            world_->setValue(path, "DisplayName", Registry::typeDword, dwordBytes(7));
    }

    // By name the letter case does not count, and a name may be asked twice.
    const std::vector<std::string> named{"DisplayName", "APPTOUNINSTALL", "Missing", "DisplayName"};
    const std::vector<Registry::PathValues> walks =
        reg().readValuesOfEach(Registry::localMachine, paths, "AppToUninstall", named);
    ASSERT_EQ(paths.size(), walks.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i]);
        Registry::Key key = 0;
        const Registry::Status open = reg().openKey(Registry::localMachine, paths[i], key);
        EXPECT_EQ(open.isSuccess(), walks[i].opened);
        if (!open.isSuccess()) {
            EXPECT_EQ(open, walks[i].status);
            continue;
        }
        std::vector<std::string> alone;
        Registry::Status end;
        for (std::uint32_t index = 0;; ++index) {
            std::string name;
            Registry::Value value;
            end = reg().enumValue(key, index, name, value);
            if (!end.isSuccess())
                break;
            alone.push_back(name + "=" + value.data);
            if (name == "AppToUninstall")
                break;
        }
        reg().closeKey(key);
        std::vector<std::string> together;
        for (const Registry::NamedValue& found : walks[i].values)
            together.push_back(found.name + "=" + found.value.data);
        EXPECT_EQ(alone, together);
        EXPECT_EQ(end, walks[i].status);
        ASSERT_EQ(named.size(), walks[i].named.size());
        for (std::size_t n = 0; n < named.size(); ++n) {
            const Registry::PathValue one =
                reg().readValueOfEach(Registry::localMachine, {paths[i]}, named[n]).front();
            const Registry::PathValue& met = walks[i].named[n];
            EXPECT_EQ(one.opened, met.opened) << named[n];
            EXPECT_EQ(one.status, met.status) << named[n];
            EXPECT_EQ(one.value.type, met.value.type) << named[n];
            EXPECT_EQ(one.value.data, met.value.data) << named[n];
        }
    }
    EXPECT_TRUE(walks[4].named.empty());
    EXPECT_EQ(walks[6].named[0].value.data, sz("Walk 6"));
    EXPECT_EQ(walks[0].named[1].value.data, sz("app0.exe"));
    EXPECT_TRUE(walks[2].named[0].status.isNotFound()) << walks[2].named[0].status;
    EXPECT_EQ(walks[0].values.back().name, "AppToUninstall");
    // Another letter case is not the name: the walk goes to the end.
    EXPECT_EQ(walks[1].values.size(), 4u);
    EXPECT_TRUE(walks[1].status.isNoMoreItems()) << walks[1].status;
    EXPECT_FALSE(walks[4].opened);
}

// The App Paths pass reads every entry's default value together: each comes
// back as the entry read alone gives it, text converted as readValue
// converts it, and a key without the value told from a key that is not there.
TEST_F(RegistryContract, DefaultValuesOfManyKeysReadTogetherAnswerAsEachReadAlone) {
    std::vector<std::string> paths;
    for (int i = 0; i < 150; ++i) {
        const std::string path = root_ + "\\App" + std::to_string(i) + ".exe";
        world_->setValue(path, "", Registry::typeSz, sz("C:\\Apps\\" + std::to_string(i)));
        paths.push_back(path);
    }
    world_->setValue(root_ + "\\Expand.exe", "", Registry::typeExpandSz, sz("%ProgramFiles%\\x"));
    world_->setValue(root_ + "\\Dword.exe", "", Registry::typeDword, dwordBytes(7));
    world_->setValue(root_ + "\\Other.exe", "Path", Registry::typeSz, sz("C:\\Other"));
    world_->setValue(root_ + "\\Café.exe", "", Registry::typeSz, sz("C:\\Café"));
    for (const char* extra : {"Expand.exe", "Dword.exe", "Other.exe", "Missing.exe", "Café.exe"})
        paths.push_back(root_ + "\\" + extra);

    const std::vector<Registry::PathValue> together =
        reg().readValueOfEach(Registry::localMachine, paths, "");
    ASSERT_EQ(paths.size(), together.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i]);
        Registry::Key key = 0;
        const Registry::Status open = reg().openKey(Registry::localMachine, paths[i], key);
        EXPECT_EQ(open.isSuccess(), together[i].opened);
        if (!open.isSuccess()) {
            EXPECT_EQ(open, together[i].status);
            continue;
        }
        Registry::Value alone;
        EXPECT_EQ(reg().readValue(key, "", alone), together[i].status);
        reg().closeKey(key);
        if (together[i].status.isSuccess()) {
            EXPECT_EQ(alone.type, together[i].value.type);
            EXPECT_EQ(alone.data, together[i].value.data);
        }
    }
    EXPECT_EQ(sz("C:\\Apps\\149"), together[149].value.data);
    EXPECT_EQ(Registry::typeExpandSz, together[150].value.type);
    EXPECT_EQ(dwordBytes(7), together[151].value.data);
    EXPECT_TRUE(together[152].opened) << "a key without a default value opens";
    EXPECT_TRUE(together[152].status.isNotFound())
        << "expected no default value, got " << together[152].status;
    EXPECT_FALSE(together[153].opened);
    EXPECT_TRUE(together[153].status.isNotFound())
        << "expected no key, got " << together[153].status;
    EXPECT_EQ(sz("C:\\Café"), together[154].value.data) << "text the code page holds";

    const std::vector<Registry::PathValue> named =
        reg().readValueOfEach(Registry::localMachine, {root_ + "\\Other.exe"}, "Path");
    ASSERT_EQ(1u, named.size());
    EXPECT_EQ(sz("C:\\Other"), named[0].value.data) << "a value other than the default";
}

// The inventory answers an entry's read as its sub-key's default value with
// the read of its value on the key opened as itself, where that is plain
// text with one terminator: the two must then agree, letter case, long
// texts and characters beyond ASCII included.
TEST_F(RegistryContract, PlainTextValueOfAKeyIsItsDefaultValueReadThroughItsParent) {
    std::vector<std::string> subkeys;
    for (int i = 0; i < 80; ++i) {
        const std::string name = "App" + std::to_string(i) + ".exe";
        world_->setValue(root_ + "\\" + name, "", Registry::typeSz,
                         sz("C:\\Apps\\" + std::to_string(i) + "\\a.exe"));
        subkeys.push_back(i % 4 == 0 ? upper(name) : name);
    }
    world_->setValue(root_ + "\\Expand.exe", "", Registry::typeExpandSz, sz("%ProgramFiles%\\x"));
    world_->setValue(root_ + "\\Dword.exe", "", Registry::typeDword, dwordBytes(7));
    world_->setValue(root_ + "\\Other.exe", "Path", Registry::typeSz, sz("C:\\Other"));
    world_->setValue(root_ + "\\Café.exe", "", Registry::typeSz, sz("C:\\Café"));
    world_->setValue(root_ + "\\Bare.exe", "", Registry::typeSz, "C:\\Bare\\b.exe");
    world_->setValue(root_ + "\\Huge.exe", "", Registry::typeSz, sz(std::string(3000, 'h')));
    world_->setValue(root_ + "\\Empty.exe", "", Registry::typeSz, sz(""));
    for (const char* extra : {"Expand.exe", "Dword.exe", "Other.exe", "Missing.exe", "Café.exe",
                              "Bare.exe", "Huge.exe", "Empty.exe"})
        subkeys.push_back(extra);
    std::vector<std::string> paths;
    for (const std::string& subkey : subkeys)
        paths.push_back(root_ + "\\" + subkey);
    const std::vector<Registry::PathValue> own =
        reg().readValueOfEach(Registry::localMachine, paths, "");
    const Registry::Key key = open(root_);

    std::size_t plain = 0;
    for (std::size_t i = 0; i < subkeys.size(); ++i) {
        const Registry::Value& value = own[i].value;
        if (!own[i].opened || !own[i].status.isSuccess() || value.type != Registry::typeSz ||
            value.data.find('\0') + 1 != value.data.size())
            continue;
        ++plain;
        SCOPED_TRACE(subkeys[i]);
        Registry::Value throughParent;
        ASSERT_EQ(Registry::Status::success(),
                  reg().readDefaultValue(key, subkeys[i], throughParent));
        EXPECT_EQ(Registry::typeSz, throughParent.type);
        EXPECT_EQ(value.data, throughParent.data);
    }
    EXPECT_GE(plain, 83u) << "every text value stored with its terminator";
    EXPECT_FALSE(own[83].opened) << "no key";
}

TEST_F(RegistryContract, SubKeysEnumerateInCaseInsensitiveOrderKeepingTheirCase) {
    for (const char* name : {"delta", "Bravo", "ECHO", "alpha", "Charlie"})
        world_->createKey(root_ + "\\" + name);
    const Registry::Key key = open(root_);

    const std::vector<std::string> expected{"alpha", "Bravo", "Charlie", "delta", "ECHO"};
    EXPECT_EQ(expected, allSubKeys(key));

    std::string name(255, ' ');
    std::uint32_t nameLength = 255;
    ASSERT_EQ(Registry::Status::success(), codepage::enumKey(reg(), key, 2, name, nameLength));
    EXPECT_EQ(7u, nameLength) << "expected the length without terminator";
    EXPECT_EQ(sz("Charlie") + std::string(247, ' '), name);
}

TEST_F(RegistryContract, NameBufferTooSmallGivesMoreDataAndIsLeftAlone) {
    world_->createKey(root_ + "\\TenLetters");
    const Registry::Key key = open(root_);

    std::string name(10, '#');
    std::uint32_t nameLength = 10;
    const Registry::Status status = codepage::enumKey(reg(), key, 0, name, nameLength);
    EXPECT_EQ(Registry::Status::moreData(), status) << "no room for the terminator";
    EXPECT_EQ(std::string(10, '#'), name);

    name.assign(11, '#');
    nameLength = 11;
    ASSERT_EQ(Registry::Status::success(), codepage::enumKey(reg(), key, 0, name, nameLength));
    EXPECT_EQ(sz("TenLetters"), name);
}

TEST_F(RegistryContract, ValuesEnumerateInCreationOrder) {
    world_->setValue(root_, "zeta", Registry::typeSz, sz("1"));
    world_->setValue(root_, "Alpha", Registry::typeSz, sz("2"));
    world_->setValue(root_, "AppToUninstall", Registry::typeSz, sz("myapp.exe"));
    const Registry::Key key = open(root_);

    std::vector<std::string> names;
    for (std::uint32_t index = 0;; ++index) {
        std::string name(255, ' ');
        std::string data(2048, '\0');
        std::uint32_t nameLength = 255;
        std::uint32_t dataLength = 2048;
        std::uint32_t type = typeSentinel;
        const Registry::Status status =
            codepage::enumValue(reg(), key, index, name, nameLength, type, data, dataLength);
        if (status != Registry::Status::success()) {
            EXPECT_EQ(Registry::Status::noMoreItems(), status);
            break;
        }
        names.push_back(name.substr(0, nameLength));
        EXPECT_EQ('\0', name[nameLength]) << "name without terminator";
    }
    EXPECT_EQ((std::vector<std::string>{"zeta", "Alpha", "AppToUninstall"}), names);
}

TEST_F(RegistryContract, ValueEnumerationStopsOnBuffersTooSmall) {
    // Named so that creation order and sorted order agree: Wine enumerates
    // values sorted by name.
    world_->setValue(root_, "TenLetters", Registry::typeBinary, std::string(4, '\x01'));
    world_->setValue(root_, "Wide", Registry::typeBinary, std::string(64, '\x02'));
    const Registry::Key key = open(root_);

    std::string name(10, '#');
    std::string data(16, '\0');
    std::uint32_t nameLength = 10;
    std::uint32_t dataLength = 16;
    std::uint32_t type = 0;
    Registry::Status status =
        codepage::enumValue(reg(), key, 0, name, nameLength, type, data, dataLength);
    EXPECT_EQ(Registry::Status::moreData(), status) << "short name buffer";

    name.assign(255, ' ');
    nameLength = 255;
    dataLength = 16;
    status = codepage::enumValue(reg(), key, 1, name, nameLength, type, data, dataLength);
    EXPECT_EQ(Registry::Status::moreData(), status) << "short data buffer";
    EXPECT_EQ(std::string(16, '\0'), data) << "data buffer was written";
}

TEST_F(RegistryContract, LaterSubKeysMoveDownAfterADeletion) {
    for (const char* name : {"A", "B", "C"})
        world_->createKey(root_ + "\\" + name);
    const Registry::Key key = open(root_);

    Enumerated first = subKey(key, 0);
    ASSERT_EQ(Registry::Status::success(), first.status);
    ASSERT_EQ("A", first.name);
    ASSERT_EQ(Registry::Status::success(), reg().deleteKey(key, first.name));

    Enumerated next = subKey(key, 0);
    ASSERT_EQ(Registry::Status::success(), next.status);
    EXPECT_EQ("B", next.name) << "index 0 after deleting A";
    EXPECT_EQ((std::vector<std::string>{"B", "C"}), allSubKeys(key));
}

TEST_F(RegistryContract, OpenKeyCanBeDeletedAndItsHandleGoesStale) {
    world_->setValue(root_ + "\\Entry", "AppToUninstall", Registry::typeSz, sz("myapp.exe"));
    const Registry::Key entry = open(root_ + "\\Entry");

    EXPECT_EQ(Registry::Status::success(),
              reg().deleteKey(Registry::localMachine, root_ + "\\ENTRY"))
        << "deleting a key whose own handle is open";
    EXPECT_FALSE(world_->keyExists(root_ + "\\Entry"));

    std::string buffer(255, ' ');
    std::uint32_t type = typeSentinel;
    EXPECT_NE(Registry::Status::success(),
              codepage::queryValue(reg(), entry, "AppToUninstall", type, buffer))
        << "read through the handle of a deleted key";
    EXPECT_EQ(std::string(255, ' '), buffer);
    EXPECT_NE(Registry::Status::success(), subKey(entry, 0).status)
        << "enumeration through the handle of a deleted key";
}

TEST_F(RegistryContract, KeyCanBeDeletedWhileItsParentIsOpen) {
    world_->createKey(root_ + "\\Parent\\Child");
    const Registry::Key parent = open(root_ + "\\Parent");

    EXPECT_EQ(Registry::Status::success(),
              reg().deleteKey(Registry::localMachine, root_ + "\\Parent\\Child"));
    EXPECT_FALSE(world_->keyExists(root_ + "\\Parent\\Child"));
    EXPECT_EQ(Registry::Status::noMoreItems(), subKey(parent, 0).status)
        << "the parent's handle still works and shows no sub-key";
}

TEST_F(RegistryContract, KeyWithSubKeysIsNotDeleted) {
    world_->createKey(root_ + "\\Outer\\Inner");

    EXPECT_NE(Registry::Status::success(),
              reg().deleteKey(Registry::localMachine, root_ + "\\Outer"));
    EXPECT_TRUE(world_->keyExists(root_ + "\\Outer\\Inner"));

    EXPECT_NE(Registry::Status::success(),
              reg().deleteKey(Registry::localMachine, root_ + "\\Absent"))
        << "deleting a missing key";
}

TEST_F(RegistryContract, TreeGoesWithEverySubKeyAndNothingBesideIt) {
    world_->setValue(root_ + "\\Entry", "", Registry::typeSz, sz("C:\\App\\a.exe"));
    world_->createKey(root_ + "\\Entry\\SupportedProtocols");
    world_->createKey(root_ + "\\Entry\\A\\B\\C");
    world_->createKey(root_ + "\\Entry2\\Sub");
    const Registry::Key entry = open(root_ + "\\Entry\\A");

    EXPECT_EQ(Registry::Status::success(),
              reg().deleteTree(Registry::localMachine, root_ + "\\ENTRY"))
        << "deleting a tree while a handle below it is open";
    EXPECT_FALSE(world_->keyExists(root_ + "\\Entry"));
    EXPECT_TRUE(world_->keyExists(root_ + "\\Entry2\\Sub"));
    EXPECT_NE(Registry::Status::success(), subKey(entry, 0).status)
        << "enumeration through the handle of a key deleted with its parent";

    EXPECT_NE(Registry::Status::success(),
              reg().deleteTree(Registry::localMachine, root_ + "\\Absent"))
        << "deleting a missing tree";
}

// The registry matches names without regard to case beyond a-z; the engine's
// own comparisons must agree with it, or an application found under one
// spelling keeps its entries under the other.
TEST_F(RegistryContract, NamesCompareWithoutCaseAsTheRegistryMatchesThem) {
    world_->createKey(root_ + "\\übung.exe");
    open(root_ + "\\ÜBUNG.EXE");

    EXPECT_TRUE(reg().sameName("übung.exe", "ÜBUNG.EXE"));
    EXPECT_TRUE(reg().sameName("Ærø œuvre ÿ š", "ÆRØ ŒUVRE Ÿ Š"));
    EXPECT_TRUE(reg().sameName("MyApp.exe", "MYAPP.exe"));
    EXPECT_FALSE(reg().sameName("übung.exe", "ubung.exe"));
    EXPECT_FALSE(reg().sameName("app.exe", "app.ex"));
    EXPECT_TRUE(reg().sameName("", ""));
}

// Sorting by compareNames brings the names sameName takes for the same side
// by side, so the order must agree with it and hold across ASCII and other
// names alike.
TEST_F(RegistryContract, NamesOrderAsTheyCompare) {
    const std::vector<std::string> names = {
        "MyApp.exe", "MYAPP.EXE", "myapp.ex", "myapp.exe2", "übung.dll", "ÜBUNG.DLL", "ubung.dll",
        "Zeta",      "_under",    "[x]",      "a",          "B",         "",          "日本.dll",
        "ÿ",         "Ÿ",         "é",        "É",          "e",         "z\u00e9"};
    auto sign = [](int order) { return order < 0 ? -1 : (order > 0 ? 1 : 0); };
    for (const std::string& a : names) {
        for (const std::string& b : names) {
            SCOPED_TRACE(a + " | " + b);
            const int ab = sign(reg().compareNames(a, b));
            EXPECT_EQ(ab == 0, reg().sameName(a, b));
            EXPECT_EQ(ab, -sign(reg().compareNames(b, a)));
            for (const std::string& c : names) {
                if (ab <= 0 && sign(reg().compareNames(b, c)) <= 0) {
                    EXPECT_LE(sign(reg().compareNames(a, c)), 0) << c;
                }
            }
        }
    }
}

// Every buffer is measured in characters of the code page, however many bytes
// they take in UTF-8.
TEST_F(RegistryContract, BuffersHoldCodePageCharacters) {
    std::string accented;
    for (int i = 0; i < 254; ++i)
        accented += "é";
    EXPECT_EQ(254u, reg().codePageLength(accented));
    world_->setValue(root_, "Fits", Registry::typeSz, sz(accented));
    world_->setValue(root_, "TooLong", Registry::typeSz, sz(accented + "é"));
    world_->createKey(root_ + "\\" + accented);
    const Registry::Key key = open(root_);

    std::string buffer(255, ' ');
    std::uint32_t type = typeSentinel;
    ASSERT_EQ(Registry::Status::success(), codepage::queryValue(reg(), key, "Fits", type, buffer));
    EXPECT_EQ(sz(accented), buffer);
    buffer.assign(255, ' ');
    EXPECT_TRUE(codepage::queryValue(reg(), key, "TooLong", type, buffer).isMoreData());
    EXPECT_EQ(std::string(255, ' '), buffer);

    std::string name(255, ' ');
    std::uint32_t nameLength = 0;
    ASSERT_EQ(Registry::Status::success(), codepage::enumKey(reg(), key, 0, name, nameLength));
    EXPECT_EQ(sz(accented), name);
    EXPECT_EQ(accented.size(), nameLength);
    name.assign(254, ' ');
    EXPECT_TRUE(codepage::enumKey(reg(), key, 0, name, nameLength).isMoreData())
        << "no room for the terminator";
}

} // namespace
} // namespace uninst::test

namespace uninst::test {
namespace {

// What a restore makes: a new key below an open one, opened; values of any
// type as they were read; a key that is there is neither opened nor changed.
TEST_F(RegistryContract, CreatedKeyIsNewAndTakesValuesAsTheyWereRead) {
    const Registry::Key parent = open(root_);
    Registry::Key made = 0;
    ASSERT_EQ(Registry::Status::success(), reg().createSubKey(parent, "Made", made));
    handles_.push_back(made);
    const std::string multi("one\0two\0\0", 9);
    EXPECT_EQ(Registry::Status::success(),
              reg().writeValue(made, "", Registry::Value{Registry::typeSz, sz("C:\\App")}));
    EXPECT_EQ(Registry::Status::success(),
              reg().writeValue(made, "Multi", Registry::Value{7, multi}));
    EXPECT_EQ(Registry::Status::success(),
              reg().writeValue(made, "Bytes",
                               Registry::Value{Registry::typeBinary, std::string("\0\xfe", 2)}));
    const Registry::Key again = open(root_ + "\\made");
    for (const auto& [name, type, data] :
         {std::tuple<std::string, std::uint32_t, std::string>{"", Registry::typeSz, sz("C:\\App")},
          {"Multi", 7u, multi},
          {"Bytes", Registry::typeBinary, std::string("\0\xfe", 2)}}) {
        Registry::Value value;
        ASSERT_EQ(Registry::Status::success(), reg().readValue(again, name, value)) << name;
        EXPECT_EQ(type, value.type) << name;
        EXPECT_EQ(data, value.data) << name;
    }

    world_->setValue(root_ + "\\There", "Kept", Registry::typeSz, sz("as it was"));
    Registry::Key there = 0;
    EXPECT_EQ(Registry::Status::alreadyExists(), reg().createSubKey(parent, "THERE", there));
    EXPECT_EQ(0u, there) << "a key that was there was opened";
    const Registry::Key kept = open(root_ + "\\There");
    Registry::Value value;
    ASSERT_EQ(Registry::Status::success(), reg().readValue(kept, "Kept", value));
    EXPECT_EQ(sz("as it was"), value.data);
}

} // namespace
} // namespace uninst::test
