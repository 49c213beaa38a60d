#include "engine/registration.h"

#include "tests/faults/faulty_ports.h"
#include "tests/support/error_text.h"
#include "tests/support/memory_registry.h"
#include "tests/support/pass_through_ports.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

std::string repeated(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

// A reinstall by another version of a setup leaves an entry named after the
// application beside one that names it by AppToUninstall. Before, the scan
// ended at the first, and "My App (2)" stayed listed as installed for ever.
TEST(RemoveEntries, EveryEntryOfTheApplicationGoesByNameOrByValue) {
    Entries t;
    t.entry("myapp.exe");
    t.entry("Other", "other.exe");
    t.entry("zzz", "myapp.exe");
    t.entry("{5A8E2C41-0D7B-4E55-9F0A-3C1B2D4E6F70}", "MYAPP.EXE");
    t.entry("{6B9F3D52-1E8C-4F66-A01B-4D2C3E5F7081}");
    t.registry.createKey(appPaths + "\\MYAPP.EXE");
    t.registry.createKey(appPaths + "\\other.exe");
    t.registry.setString(appPaths + "\\Second", "AppToUninstall", "myapp.exe");
    removeentries(t.registry, "MyApp.EXE");
    EXPECT_EQ(t.left(), (Names{"Other", "{6B9F3D52-1E8C-4F66-A01B-4D2C3E5F7081}"}));
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
        // The scan goes on whatever "a" held, and "b" goes either way.
        EXPECT_EQ(t.left(), c.removed ? Names{} : Names{"a"});
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

// Deleting while walking by index moved the next entry into the deleted
// one's place, where the walk passed it over.
TEST(RemoveEntries, EntriesAfterADeletedOneAreStillLookedAt) {
    Entries t;
    t.entry("a", "myapp.exe");
    t.entry("b", "myapp.exe");
    t.entry("c", "myapp.exe");
    t.entry("d", "other.exe");
    t.entry("myapp.exe");
    t.entry("z", "myapp.exe");
    removeentries(t.registry, "myapp.exe");
    EXPECT_EQ(t.left(), Names{"d"});
}

// The registry found the application by its name in any letter case, in
// every script the code page holds; its entries must go the same way, or
// they stay for ever once its files are gone.
TEST(RemoveEntries, NamesMatchInAnyLetterCaseBeyondAToZ) {
    struct Case {
        const char* what;
        std::string registered;
        std::string typed;
        bool removed;
    };
    const std::vector<Case> cases = {
        {"Latin-1 capital typed", "übung.exe", "ÜBUNG.EXE", true},
        {"Latin-1 small typed", "ÜBUNG.EXE", "übung.exe", true},
        {"letters of code page 1252's upper half", "œuvre ÿ š.exe", "ŒUVRE Ÿ Š.EXE", true},
        {"accent left out is another name", "übung.exe", "UBUNG.EXE", false},
        {"another accent is another name", "übung.exe", "ÛBUNG.EXE", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Entries byName;
        byName.entry("a", "other.exe");
        byName.entry(c.registered);
        byName.registry.createKey(appPaths + "\\" + c.registered);
        removeentries(byName.registry, c.typed);
        EXPECT_EQ(byName.left(), c.removed ? Names{"a"} : (Names{"a", c.registered}));
        EXPECT_EQ(byName.registry.keyExists(appPaths + "\\" + c.registered), !c.removed);

        Entries byValue;
        byValue.entry("{guid}", c.registered);
        removeentries(byValue.registry, c.typed);
        EXPECT_EQ(byValue.left(), c.removed ? Names{} : Names{"{guid}"});
    }
}

// Buffers hold 255 characters of the code page: a name or a value of 130
// accented letters fits, though it takes 260 bytes in UTF-8.
TEST(RemoveEntries, LengthsCountCodePageCharactersNotBytes) {
    const std::string accented = repeated("é", 130);
    const std::string target = repeated("ü", 200) + ".exe";
    Entries t;
    t.entry(accented, "other.exe");
    t.entry("b", target);
    t.entry("c" + accented);
    t.entry(target);
    t.registry.createKey(appPaths + "\\" + accented);
    t.registry.createKey(appPaths + "\\" + target);
    removeentries(t.registry, target);
    EXPECT_EQ(t.left(), (Names{"c" + accented, accented}));
    EXPECT_EQ(t.registry.subKeyNames(appPaths), Names{accented});
}

// A name too long for the buffer is another application's: it is passed
// over, and the walk goes on to this application's entries after it.
TEST(RemoveEntries, EntryWhoseNameDoesNotFitIsSkipped) {
    const std::string tooLong = repeated("é", 255);
    Entries t;
    t.entry(std::string(255, 'a'), "übung.exe");
    t.entry(tooLong, "übung.exe");
    t.entry(repeated("é", 254), "other.exe");
    t.entry("übung.exe");
    t.registry.createKey(appPaths + "\\" + tooLong);
    t.registry.createKey(appPaths + "\\übung.exe");
    removeentries(t.registry, "übung.exe");
    EXPECT_EQ(t.left(), (Names{std::string(255, 'a'), repeated("é", 254), tooLong}));
    EXPECT_EQ(t.registry.subKeyNames(appPaths), Names{tooLong});
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
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

// The inventory reads every entry's AppToUninstall text together, or the
// texts naming one application; each must come out as the entry read alone
// gives it: the value there by its own name, in that letter case, and met
// before anything the walk cannot take.
TEST(AppToUninstallOfEach, EachEntryAnswersAsItsOwnScan) {
    Entries t;
    t.entry("plain", "myapp.exe");
    t.entry("none");
    t.registry.setString(uninstall + "\\other case", "apptouninstall", "myapp.exe");
    t.registry.setValue(uninstall + "\\large first", "Icon", Registry::typeBinary,
                        std::string(3000, 'x'));
    t.registry.setString(uninstall + "\\large first", "AppToUninstall", "myapp.exe");
    t.registry.setValue(uninstall + "\\fits", "Icon", Registry::typeBinary, std::string(2048, 'x'));
    t.registry.setString(uninstall + "\\fits", "AppToUninstall", "fits.exe");
    t.entry("too long", std::string(300, 'a'));
    t.entry("accented", repeated("é", 200) + ".exe");
    t.registry.setDword(uninstall + "\\number", "AppToUninstall", 7);
    t.registry.setString(uninstall + "\\empty", "AppToUninstall", "");
    const Names names = t.left();
    std::vector<std::string> paths;
    for (const std::string& name : names)
        paths.push_back(uninstall + "\\" + name);
    paths.push_back(uninstall + "\\missing");

    const std::vector<std::optional<std::string>> together =
        appToUninstallOfEach(t.registry, paths);
    const auto mine = [&](std::string_view text) { return t.registry.sameName(text, "MyApp.exe"); };
    const std::vector<std::optional<std::string>> mineTogether =
        appToUninstallOfEach(t.registry, paths, {}, nullptr, mine);
    ASSERT_EQ(together.size(), paths.size());
    ASSERT_EQ(mineTogether.size(), paths.size());
    std::vector<std::string> found;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::optional<std::string> alone;
        std::optional<std::string> mineAlone;
        Registry::Key key = 0;
        if (t.registry.openKey(Registry::localMachine, paths[i], key).isSuccess()) {
            Registry::Status read;
            alone = appToUninstallOf(
                t.registry, key, [](std::string_view) { return true; }, read);
            mineAlone = appToUninstallOf(t.registry, key, mine, read);
            t.registry.closeKey(key);
        }
        EXPECT_EQ(together[i], alone) << paths[i];
        EXPECT_EQ(mineTogether[i], mineAlone) << paths[i];
        if (together[i])
            found.push_back(*together[i]);
    }
    std::sort(found.begin(), found.end());
    // A number's bytes read as text, as the 8-bit call hands them over.
    EXPECT_EQ(found, (Names{"\a", "fits.exe", "myapp.exe", repeated("é", 200) + ".exe"}));
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

// The first read only picks the entries to walk: what another program
// wrote in between is what the walk meets, and that is the answer.
class ChangedAfterTheFirstRead : public PassThroughRegistry {
public:
    using PassThroughRegistry::PassThroughRegistry;
    std::vector<PathValue> readValueOfEach(Key root, const std::vector<std::string>& paths,
                                           const std::string& name) override {
        std::vector<PathValue> reads = PassThroughRegistry::readValueOfEach(root, paths, name);
        for (PathValue& read : reads) {
            if (read.status.isSuccess())
                read.value.data = std::string("myapp.exe") + '\0';
        }
        return reads;
    }
};

TEST(AppToUninstallOfEach, TheTextIsTheOneTheWalkMet) {
    Entries t;
    t.entry("changed", "other.exe");
    ChangedAfterTheFirstRead registry(t.registry);
    const std::vector<std::optional<std::string>> texts =
        appToUninstallOfEach(registry, {uninstall + "\\changed"});
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], std::optional<std::string>("other.exe"));
}

TEST(RemoveEntries, MatchingEntryThatCannotBeDeletedStaysAndTheOthersStillGo) {
    auto build = [](Entries& t) {
        t.registry.createKey(uninstall + "\\myapp.exe");
        t.entry("x", "myapp.exe");
        t.entry("y", "other.exe");
    };
    Entries plain;
    build(plain);
    FaultyRegistry recorder(plain.registry);
    removeentries(recorder, "myapp.exe");
    const auto& calls = recorder.history();
    const auto deletion =
        std::find(calls.begin(), calls.end(), "deleteTree " + uninstall + "\\myapp.exe");
    ASSERT_NE(deletion, calls.end());

    Entries t;
    build(t);
    FaultyRegistry faulty(t.registry);
    faulty.failAt(static_cast<std::size_t>(deletion - calls.begin()));
    const std::string message = errorOf([&] { removeentries(faulty, "myapp.exe"); });
    EXPECT_NE(message.find("Cannot remove the registration of myapp.exe:\nHKEY_LOCAL_MACHINE\\" +
                           uninstall + "\\myapp.exe stays (status "),
              std::string::npos)
        << message;
    EXPECT_TRUE(t.registry.keyExists(uninstall + "\\myapp.exe"));
    EXPECT_EQ(t.left(), (Names{"myapp.exe", "y"}));
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

TEST(RemoveEntries, OwnEntriesGoWithTheirSubKeysAndNothingElseDoes) {
    // RegDeleteKeyA leaves a key with sub-keys in place without a word; the
    // entry then stayed for ever.
    Entries t;
    t.registry.setString(appPaths + "\\myapp.exe", "", "C:\\App\\myapp.exe");
    t.registry.setString(appPaths + "\\myapp.exe\\SupportedProtocols", "http", "");
    t.registry.createKey(appPaths + "\\myapp.exe\\A\\B\\C");
    t.registry.createKey(appPaths + "\\myapp.exe2\\Sub");
    t.entry("MyApp", "myapp.exe");
    t.registry.createKey(uninstall + "\\MyApp\\Components\\Core");
    t.entry("Other", "other.exe");
    t.registry.createKey(uninstall + "\\Other\\Sub");
    removeentries(t.registry, "myapp.exe");
    EXPECT_EQ(t.registry.subKeyNames(appPaths), Names{"myapp.exe2"});
    EXPECT_TRUE(t.registry.keyExists(appPaths + "\\myapp.exe2\\Sub"));
    EXPECT_EQ(t.left(), Names{"Other"});
    EXPECT_TRUE(t.registry.keyExists(uninstall + "\\Other\\Sub"));
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

// Another program deleting entries the walk of a list has named, while the
// walk goes on: every entry behind them moves up a place, and the next one
// read is further on. Each batch of deletions comes when a walk reads the
// place it names, the next batch at the next such read.
class DeletingWhileWalked : public PassThroughRegistry {
public:
    struct Batch {
        std::uint32_t index;
        std::vector<std::string> paths;
    };
    DeletingWhileWalked(MemoryRegistry& inner, std::vector<Batch> batches)
        : PassThroughRegistry(inner), memory_(inner), batches_(std::move(batches)) {}

    Status enumKey(Key key, std::uint32_t index, std::string& name) override {
        if (next_ < batches_.size() && index == batches_[next_].index) {
            for (const std::string& path : batches_[next_].paths)
                memory_.deleteTree(Registry::localMachine, path);
            ++next_;
        }
        return PassThroughRegistry::enumKey(key, index, name);
    }

private:
    MemoryRegistry& memory_;
    std::vector<Batch> batches_;
    std::size_t next_ = 0;
};

TEST(RemoveEntries, EntryMovedUpByAnotherProgramsDeletionsStillGoes) {
    Entries t;
    for (const char* other : {"Another A", "Another B", "Another C"})
        t.entry(other, "another.exe");
    t.entry("Mine", "myapp.exe");
    t.entry("Other", "other.exe");
    DeletingWhileWalked registry(t.registry,
                                 {{2, {uninstall + "\\Another A", uninstall + "\\Another B"}}});
    removeentries(registry, "myapp.exe");
    EXPECT_EQ(t.left(), (Names{"Another C", "Other"}));
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

// The walk again, after the first met deletions, meets more of them: of
// entries the first walk named, so nothing new it names is gone, and the
// application's entry, passed over by both walks, stayed.
TEST(RemoveEntries, EntryMovedUpAgainDuringTheNextWalkStillGoes) {
    Entries t;
    for (const char* other : {"Another A", "Another B", "Another C", "Another D", "Another E"})
        t.entry(other, "another.exe");
    t.entry("Mine", "myapp.exe");
    t.entry("Other", "other.exe");
    const auto entry = [](const char* name) { return uninstall + "\\" + name; };
    DeletingWhileWalked registry(t.registry, {{4, {entry("Another A"), entry("Another B")}},
                                              {2, {entry("Another C"), entry("Another D")}}});
    removeentries(registry, "myapp.exe");
    EXPECT_EQ(t.left(), (Names{"Another E", "Other"}));
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

// Another program that never stops adding entries as it deletes others: the
// walks never settle, and the run says the list may still hold the
// application's entries rather than ending as if it held none.
class ChurningWhileWalked : public PassThroughRegistry {
public:
    explicit ChurningWhileWalked(MemoryRegistry& inner)
        : PassThroughRegistry(inner), memory_(inner) {}

    Status enumKey(Key key, std::uint32_t index, std::string& name) override {
        if (index == 1) {
            memory_.deleteTree(Registry::localMachine, uninstall + "\\" + first());
            for (int more = 0; more < 2; ++more)
                memory_.createKey(uninstall + "\\Another " + std::to_string(added_++));
        }
        return PassThroughRegistry::enumKey(key, index, name);
    }

private:
    std::string first() const { return memory_.subKeyNames(uninstall).front(); }

    MemoryRegistry& memory_;
    int added_ = 10;
};

TEST(RemoveEntries, ListThatNeverSettlesIsToldAsPerhapsHoldingEntries) {
    Entries t;
    for (const char* other : {"Another 1", "Another 2", "Another 3"})
        t.entry(other, "another.exe");
    t.entry("Mine", "myapp.exe");
    ChurningWhileWalked registry(t.registry);
    const std::string message = errorOf([&] { removeentries(registry, "myapp.exe"); });
    EXPECT_NE(message.find("Uninstall kept changing while it was read"), std::string::npos)
        << message;
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

// An entry whose name the code page cannot hold: the 8-bit list names it
// by characters that open nothing, however often it is walked.
class NameOutsideTheCodePage : public PassThroughRegistry {
public:
    NameOutsideTheCodePage(MemoryRegistry& inner, std::string path)
        : PassThroughRegistry(inner), path_(std::move(path)) {}
    Status openKey(Key root, const std::string& path, Key& out) override {
        if (path == path_)
            return Status::notFound();
        return PassThroughRegistry::openKey(root, path, out);
    }
    Status deleteTree(Key key, const std::string& subkey) override {
        if (subkey == path_)
            return Status::notFound();
        return PassThroughRegistry::deleteTree(key, subkey);
    }

private:
    std::string path_;
};

TEST(RemoveEntries, EntryTheCodePageCannotNameIsPassedOverWithoutEndingTheRunFailed) {
    Entries t;
    t.entry("?? entry", "myapp.exe");
    t.entry("Another", "another.exe");
    t.entry("Mine", "myapp.exe");
    t.entry(sample::exe);
    NameOutsideTheCodePage registry(t.registry, uninstall + "\\?? entry");
    removeentries(registry, sample::exe);
    EXPECT_EQ(t.left(), (Names{"?? entry", "Another"}));
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

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

    // Nothing fails: the decorator only counts and records the calls, each of
    // which is a round trip on a real registry.
    FaultyRegistry counting(t.registry);
    removeentries(counting, "myapp.exe");
    const auto valueEnumerations =
        std::count_if(counting.history().begin(), counting.history().end(),
                      [](const std::string& call) { return call.rfind("enumValue ", 0) == 0; });
    EXPECT_FALSE(t.registry.keyExists(uninstall + "\\Zed"));
    EXPECT_EQ(t.left().size(), static_cast<std::size_t>(others));
    // Enumerate, open, read AppToUninstall, close: entries that name another
    // program are never enumerated value by value. Only the matching one is.
    EXPECT_LE(valueEnumerations, 2);
    EXPECT_LE(counting.calls(), static_cast<std::size_t>(2 * others * 4 + 20));
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

// A registry that reads many entries together, as the real one does on a
// few threads: the scan hands it every entry that does not bear the
// application's name, and opens on its own only an entry whose value names
// the application. What the read together gives is judged as a read alone.
class ReadingTogether : public PassThroughRegistry {
public:
    using PassThroughRegistry::PassThroughRegistry;

    Status openKey(Key root, const std::string& path, Key& out) override {
        opened.push_back(path);
        return PassThroughRegistry::openKey(root, path, out);
    }
    std::vector<PathValue> readValueOfEach(Key root, const std::vector<std::string>& paths,
                                           const std::string& name) override {
        batches.push_back(paths.size());
        std::vector<PathValue> reads = inner().readValueOfEach(root, paths, name);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (paths[i].ends_with("\\Unreadable"))
                reads[i].status = Status(1117);
        }
        return reads;
    }

    std::vector<std::string> opened;
    std::vector<std::size_t> batches;
};

TEST(RemoveEntries, OtherEntriesAreReadTogetherAndOnlyTheApplicationsOpenedAlone) {
    Entries t;
    for (int i = 0; i < 90; ++i)
        t.entry("Other" + std::to_string(i), "app" + std::to_string(i) + ".exe");
    t.entry("Zed", "MYAPP.EXE");
    t.entry("myapp.exe");
    t.entry("Unreadable", "other.exe");
    t.registry.createKey(appPaths + "\\myapp.exe");
    t.registry.createKey(appPaths + "\\other.exe");

    ReadingTogether registry(t.registry);
    const std::string message = errorOf([&] { removeentries(registry, "myapp.exe"); });
    EXPECT_EQ(registry.batches, (std::vector<std::size_t>{92, 1}));
    EXPECT_EQ(registry.opened, (Names{uninstall, uninstall + "\\Zed", appPaths}));
    EXPECT_EQ(t.left().size(), 91u);
    EXPECT_FALSE(t.registry.keyExists(uninstall + "\\Zed"));
    EXPECT_FALSE(t.registry.keyExists(uninstall + "\\myapp.exe"));
    EXPECT_EQ(t.registry.subKeyNames(appPaths), Names{"other.exe"});
    // An entry nobody could read may be the application's: the run says so.
    EXPECT_NE(message.find("HKEY_LOCAL_MACHINE\\" + uninstall +
                           "\\Unreadable could not be read, so it may be the application's "
                           "(status 1117)"),
              std::string::npos)
        << message;
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

} // namespace
} // namespace uninst::test
