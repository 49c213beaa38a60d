#include "engine/installlog.h"

#include "engine/error.h"
#include "tests/faults/faulty_ports.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/memory_registry.h"
#include "tests/support/pass_through_ports.h"
#include "tests/support/recording_ports.h"
#include "tests/support/sample_app.h"
#include "tests/support/text_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace uninst::test {
namespace {

using sample::lines;

const std::string shared = sample::sharedDllsKey;

struct LogRun {
    MemoryRegistry registry;
    MemoryFileSystem fs;
    UninstallState state;
    RecordingProgress progress;

    void read(const std::string& text) {
        fs.addFile("C:\\App\\ST6UNST.LOG", text);
        lowerSharedCounts(registry, readlog(state, fs, "C:\\App", progress));
    }
};

std::string createDir(const std::string& path) {
    return "ACTION: CreateDir: \"" + path + "\"";
}
std::string shellLink(const std::string& group) {
    return "ACTION: ShellLink: \"" + group + "\",\"Name\",\"C:\\App\\a.exe\",\"\"";
}
std::string systemFile(const std::string& path) {
    return "ACTION: SystemFile: \"" + path + "\"";
}
std::string selfRegister(const std::string& path) {
    return "ACTION: DllSelfRegister: \"" + path + "\"";
}
const std::string bootstrap = "NOTE: Now spawning the main Setup program 'Setup1.exe'....";

TEST(InstallLog, StartMenuGroup) {
    struct Case {
        const char* what;
        std::vector<std::string> log;
        std::string groupname;
        std::string menupath;
    };
    const std::string root = "C:\\WINDOWS\\Start Menu\\Programs\\";
    const std::vector<Case> cases = {
        {"directory under WINDOWS, later shortcut ignored",
         {createDir(root + "MyGroup"), shellLink("Other")},
         "MyGroup",
         root + "MyGroup"},
        {"shortcut alone", {shellLink("Tools")}, "Tools", root + "Tools"},
        {"every shortcut overwrites without a WINDOWS directory",
         {shellLink("A"), shellLink("B")},
         "B",
         root + "B"},
        {"ordinary directory keeps its closing quote",
         {createDir("C:\\Program Files\\MyApp")},
         "",
         "C:\\Program Files\\MyApp\""},
        {"WINDOWS test is case-sensitive",
         {createDir("D:\\windows\\Start Menu\\Programs\\G")},
         "",
         "D:\\windows\\Start Menu\\Programs\\G\""},
        {"any drive",
         {createDir("D:\\WINDOWS\\Start Menu\\Programs\\G")},
         "G",
         "D:\\WINDOWS\\Start Menu\\Programs\\G"},
        {"a folder of the system's outside the start menu is no group",
         {createDir("C:\\WINDOWS\\SYSTEM\\Foo")},
         "",
         ""},
        {"the vendor's folder, then the group inside it, is a group of two steps",
         {createDir(root + "Acme"), createDir(root + "Acme\\Tools"), shellLink("Acme\\Tools")},
         "Acme\\Tools",
         root + "Acme\\Tools"},
        {"a later folder of the system's does not re-aim the group",
         {createDir(root + "Acme\\Tools"), createDir("C:\\WINDOWS\\SYSTEM\\Foo"),
          createDir("C:\\WINDOWS\\Start Menu")},
         "Acme\\Tools",
         root + "Acme\\Tools"},
        {"the start-menu root itself is no group", {createDir(root)}, "", ""},
        {"later ordinary directory keeps group but sets menupath",
         {createDir(root + "G"), createDir("C:\\App")},
         "G",
         "C:\\App\""},
        {"empty directory line then bootstrap lets a shortcut name the group",
         {createDir(root + "G"), "ACTION: CreateDir: ", bootstrap, shellLink("H")},
         "H",
         root + "H"},
        {"empty directory line alone keeps the group found",
         {createDir(root + "G"), "ACTION: CreateDir: ", shellLink("H")},
         "G",
         ""},
        {"bootstrap with menupath set changes nothing",
         {createDir(root + "G"), bootstrap, shellLink("H")},
         "G",
         root + "G"},
        {"non-ASCII group name loses its quote as a whole character",
         {createDir(root + "Grüße")},
         "Grüße",
         root + "Grüße"},
        {"a multi-byte last character goes as a whole",
         {"ACTION: ShellLink: \"Grüß,\"x\""},
         "Grü",
         root + "Grü"},
        {"shortcut with an empty group name", {"ACTION: ShellLink: \"\",\"Name\""}, "", root},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogRun t;
        std::string text;
        for (const std::string& line : c.log)
            text += line + "\r\n";
        t.read(text);
        EXPECT_EQ(t.state.groupname, c.groupname);
        EXPECT_EQ(t.state.menupath, c.menupath);
    }
}

TEST(InstallLog, EveryShortcutLineNamesItsGroupAndCaption) {
    LogRun t;
    t.read(lines({createDir("C:\\WINDOWS\\Start Menu\\Programs\\Acme"),
                  "ACTION: ShellLink: \"Acme\\Tools\",\"Tool\",\"C:\\App\\a.exe\",\"\"",
                  "ACTION: ShellLink: \"Startup\",\"Tool Agent\"", "ACTION: ShellLink: \"G\",\"\"",
                  "ACTION: ShellLink: \"G\",Bare", "ACTION: ShellLink: \"G\",\"Open",
                  "ACTION: ShellLink: \"G\""}));
    std::vector<std::string> named;
    for (const auto& shortcut : t.state.shortcuts)
        named.push_back(shortcut.group + "|" + shortcut.caption);
    EXPECT_EQ(named, (std::vector<std::string>{"Acme\\Tools|Tool", "Startup|Tool Agent"}));
    EXPECT_EQ(t.state.groupname, "Acme");
}

TEST(InstallLog, DamagedLinesOnlyAdvanceTheBar) {
    const std::vector<std::string> damaged = {
        "ACTION: ShellLink: ",
        "ACTION: ShellLink:",
        "ACTION: ShellLink: \",x",
        "ACTION: SystemFile: ",
        "ACTION: SystemFile: \"",
        "ACTION: SystemFile: \"\"",
        "ACTION: DllSelfRegister: \"",
        "ACTION: DllSelfRegister:",
        "ACTION: CreateDir: \"C:\\WINDOWS\\",
    };
    for (const std::string& line : damaged) {
        SCOPED_TRACE(line);
        LogRun t;
        t.registry.setDword(shared, "", 7);
        t.state.groupname = "Kept";
        t.state.menupath = "C:\\Kept";
        t.read(line + "\r\n");
        EXPECT_EQ(t.state.groupname, "Kept");
        EXPECT_EQ(t.state.menupath, "C:\\Kept");
        EXPECT_EQ(t.registry.dword(shared, ""), 7u);
        EXPECT_EQ(t.progress.value(), 2);
    }
}

TEST(InstallLog, SharedFileCountsAreLowered) {
    LogRun t;
    t.registry.setDword(shared, "C:\\W\\three.dll", 3);
    t.registry.setDword(shared, "C:\\W\\one.dll", 1);
    t.registry.setDword(shared, "C:\\W\\self.ocx", 2);
    t.registry.setDword(shared, "C:\\W\\untouched.dll", 5);
    t.read(lines({systemFile("C:\\W\\three.dll"), systemFile("c:\\w\\ONE.DLL"),
                  selfRegister("C:\\W\\self.ocx")}));
    EXPECT_EQ(t.registry.dword(shared, "C:\\W\\three.dll"), 2u);
    EXPECT_EQ(t.registry.dword(shared, "C:\\W\\one.dll"), 0u);
    EXPECT_EQ(t.registry.dword(shared, "C:\\W\\self.ocx"), 1u);
    EXPECT_EQ(t.registry.dword(shared, "C:\\W\\untouched.dll"), 5u);
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

// The setup counted a file once, however many lines name it: a shared
// control is copied, then registered. Lowering its count once per line takes
// another application's reference.
TEST(InstallLog, EachFileIsLoweredOnceHoweverManyLinesNameIt) {
    LogRun t;
    t.registry.setDword(shared, "C:\\W\\grid32.ocx", 3);
    t.registry.setDword(shared, "C:\\W\\Übung.dll", 3);
    t.registry.setDword(shared, "C:\\W\\other.dll", 3);
    t.registry.setDword(shared, "C:\\W\\Ubung.dll", 3);
    t.registry.setDword(shared, "C:\\W\\spent.dll", 0);
    FaultyRegistry recorder(t.registry);
    t.fs.addFile("C:\\App\\ST6UNST.LOG",
                 lines({systemFile("C:\\W\\grid32.ocx"), selfRegister("C:\\W\\grid32.ocx"),
                        systemFile("C:\\W\\Übung.dll"), systemFile("c:\\w\\GRID32.OCX"),
                        selfRegister("C:\\W\\übung.DLL"), systemFile("C:\\W\\other.dll"),
                        systemFile("C:\\W\\spent.dll"), selfRegister("C:\\W\\spent.dll")}));
    lowerSharedCounts(recorder, readlog(t.state, t.fs, "C:\\App", t.progress));
    EXPECT_EQ(t.registry.dword(shared, "C:\\W\\grid32.ocx"), 2u);
    EXPECT_EQ(t.registry.dword(shared, "C:\\W\\Übung.dll"), 2u) << "case beyond a-z";
    EXPECT_EQ(t.registry.dword(shared, "C:\\W\\other.dll"), 2u);
    EXPECT_EQ(t.registry.dword(shared, "C:\\W\\Ubung.dll"), 3u) << "another name";
    const auto& calls = recorder.history();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "deleteKey C:\\W\\spent.dll"), 1)
        << "a spent count is asked about once too";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "setDwordValue C:\\W\\grid32.ocx"), 1)
        << "the first spelling is the one written";
    EXPECT_EQ(t.registry.openHandleCount(), 0u);
}

// Logs of large suites name thousands of shared files, several lines each;
// finding the repeats must not cost a comparison of every name with every
// other.
TEST(InstallLog, RepeatsAmongThousandsOfFilesAreFoundInFewComparisons) {
    class CountingRegistry : public PassThroughRegistry {
    public:
        using PassThroughRegistry::PassThroughRegistry;
        int compareNames(std::string_view a, std::string_view b) override {
            ++comparisons;
            return PassThroughRegistry::compareNames(a, b);
        }
        std::size_t comparisons = 0;
    };
    MemoryRegistry registry;
    std::vector<std::string> names;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = "C:\\WINDOWS\\SYSTEM\\shared" + std::to_string(i) + ".dll";
        registry.setDword(shared, name, 5);
        names.push_back(name);
        names.push_back(upper(name));
    }
    CountingRegistry counting(registry);
    lowerSharedCounts(counting, names);
    for (int i = 0; i < 2000; i += 397)
        EXPECT_EQ(registry.dword(shared, names[2 * static_cast<std::size_t>(i)]), 4u);
    EXPECT_LT(counting.comparisons, names.size() * 40) << "about n log n, not n squared";
}

TEST(InstallLog, ZeroNegativeOrMissingCountAsksToDeleteAKeyAndWritesNothing) {
    // The deletion request names a key, not the value: a key spelled like the
    // path is the only thing it can remove.
    struct Case {
        const char* what;
        bool hasValue;
        std::uint32_t count;
    };
    for (const Case& c : {Case{"zero", true, 0}, Case{"negative", true, 0x80000000u},
                          Case{"minus one", true, 0xFFFFFFFFu}, Case{"absent", false, 0}}) {
        SCOPED_TRACE(c.what);
        LogRun t;
        if (c.hasValue)
            t.registry.setDword(shared, "C:\\W\\lib.dll", c.count);
        t.registry.createKey(shared + "\\C:\\W\\lib.dll");
        t.read(lines({systemFile("C:\\W\\lib.dll")}));
        EXPECT_FALSE(t.registry.keyExists(shared + "\\C:\\W\\lib.dll"));
        if (c.hasValue)
            EXPECT_EQ(t.registry.dword(shared, "C:\\W\\lib.dll"), c.count);
        else
            EXPECT_FALSE(t.registry.value(shared, "C:\\W\\lib.dll").has_value());
    }
}

TEST(InstallLog, ValueThatIsNoDwordIsLeftExactlyAsItIs) {
    struct Case {
        std::uint32_t type;
        std::string data;
    };
    for (const Case& c : {Case{Registry::typeSz, std::string("3\0", 2)},
                          Case{Registry::typeBinary, std::string("\x05\0\0\0", 4)},
                          Case{Registry::typeSz, std::string("a long text value\0", 18)}}) {
        SCOPED_TRACE(c.data);
        LogRun t;
        t.registry.setValue(shared, "C:\\W\\lib.dll", c.type, c.data);
        t.registry.createKey(shared + "\\C:\\W\\lib.dll");
        t.read(lines({systemFile("C:\\W\\lib.dll")}));
        const auto after = t.registry.value(shared, "C:\\W\\lib.dll");
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(after->type, c.type);
        EXPECT_EQ(after->data, c.data);
        EXPECT_TRUE(t.registry.keyExists(shared + "\\C:\\W\\lib.dll"));
    }
}

// A count that could not be lowered keeps another reference to its file for
// ever: every other count is still lowered, and the one Error names it.
TEST(InstallLog, CountThatCannotBeLoweredIsNamedAndTheOthersStillGoDown) {
    const std::vector<std::string> names = {"C:\\W\\a.dll", "C:\\W\\b.dll"};
    for (const std::string operation : {"openKey", "readValue", "setDwordValue"}) {
        SCOPED_TRACE(operation);
        MemoryRegistry plain;
        plain.setDword(shared, names[0], 3);
        FaultyRegistry recorder(plain);
        lowerSharedCounts(recorder, names);
        const auto& calls = recorder.history();
        const auto first = std::find_if(calls.begin(), calls.end(), [&](const std::string& call) {
            return call.rfind(operation + " ", 0) == 0;
        });
        ASSERT_NE(first, calls.end());

        MemoryRegistry world;
        world.setDword(shared, names[0], 3);
        world.setDword(shared, names[1], 2);
        FaultyRegistry faulty(world);
        faulty.failAt(static_cast<std::size_t>(first - calls.begin()));
        std::string message;
        try {
            lowerSharedCounts(faulty, names);
        } catch (const Error& error) {
            message = error.what();
        }
        EXPECT_EQ(message, "The shared-use count of C:\\W\\a.dll (HKEY_LOCAL_MACHINE\\" + shared +
                               ") could not be lowered (status 1117).");
        EXPECT_EQ(world.dword(shared, names[0]), 3u);
        EXPECT_EQ(world.dword(shared, names[1]), 1u);
        EXPECT_EQ(world.openHandleCount(), 0u);
    }
}

TEST(InstallLog, MissingSharedDllsKeyIsSkipped) {
    LogRun t;
    t.read(lines({systemFile("C:\\W\\lib.dll"), shellLink("G")}));
    EXPECT_FALSE(t.registry.keyExists(shared));
    EXPECT_EQ(t.state.groupname, "G");
}

TEST(InstallLog, LineEnds) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<float> bar;
        std::string groupname;
    };
    const std::string link = shellLink("G");
    const std::vector<Case> cases = {
        {"CR LF", link + "\r\n" + "x\r\n", {0, 2, 4}, "G"},
        {"CR alone", link + "\r" + "x\r", {0, 2, 4}, "G"},
        {"no end on the last line", link + "\r\nx", {0, 2, 4}, "G"},
        {"LF alone", "x\n" + link + "\n", {0, 2, 4}, "G"},
        {"CR LF then LF makes an empty line", link + "\r\n\nx\r\n", {0, 2, 4, 6}, "G"},
        {"LF CR is two line ends", link + "\n\rx", {0, 2, 4, 6}, "G"},
        {"empty lines count", "\r\n\r\n\r\n", {0, 2, 4, 6}, ""},
        {"empty file", "", {0}, ""},
        {"CR CR makes an empty line", link + "\r\r", {0, 2, 4}, "G"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogRun t;
        t.read(c.text);
        EXPECT_EQ(t.progress.history(), c.bar);
        EXPECT_EQ(t.state.groupname, c.groupname);
    }
}

// A log read in the wrong encoding names no group and no shared file, and the
// run would then remove the registration while both stayed.
TEST(InstallLog, EveryEncodingTheLogComesInIsRead) {
    const std::string text = lines(
        {createDir("C:\\WINDOWS\\Start Menu\\Programs\\Bücher"), systemFile("C:\\W\\lib.dll")});
    const std::string lineFeeds = createDir("C:\\WINDOWS\\Start Menu\\Programs\\Bücher") + "\n" +
                                  systemFile("C:\\W\\lib.dll") + "\n";
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + text},
        {"UTF-16LE with a mark", "\xFF\xFE" + utf16(text)},
        {"UTF-16LE with a mark and LF alone", "\xFF\xFE" + utf16(lineFeeds)},
        {"UTF-8 without a mark", text},
        {"UTF-16LE without a mark", utf16(text)},
        {"UTF-16BE with a mark", "\xFE\xFF" + utf16(text, true)},
        {"UTF-16BE without a mark", utf16(text, true)},
        {"UTF-16BE without a mark and LF alone", utf16(lineFeeds, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogRun t;
        t.registry.setDword(shared, "C:\\W\\lib.dll", 3);
        t.read(c.bytes);
        EXPECT_EQ(t.state.groupname, "Bücher");
        EXPECT_EQ(t.registry.dword(shared, "C:\\W\\lib.dll"), 2u);
        EXPECT_EQ(t.progress.history(), (std::vector<float>{0, 2, 4}));
    }
}

// No log in the code page holds a NUL byte, and UTF-16 holds them where its
// ASCII characters put them. A log with NULs anywhere else cannot be read in
// any encoding, and read as nothing the run would end "done" with the group
// and the counts left: it is refused before anything changes.
TEST(InstallLog, LogWhoseEncodingCannotBeToldIsRefusedNamingIt) {
    const std::string text = lines(
        {createDir("C:\\WINDOWS\\Start Menu\\Programs\\Tools"), systemFile("C:\\W\\lib.dll")});
    std::string binary(512, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i % 7 == 0 ? 0 : (i * 37 + 11) % 251);
    std::string utf32;
    for (char c : text)
        utf32 += std::string(1, c) + std::string(3, '\0');
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"a NUL in text of the code page", text + std::string("x\0y\r\n", 5)},
        {"zeros where the end was never written", text + std::string(64, '\0')},
        {"UTF-32", utf32},
        {"UTF-16 cut short by one byte", utf16(text).substr(1)},
        {"UTF-16 with zeros after it", utf16(text) + std::string(8, '\0')},
        {"UTF-16 with as many ASCII characters in either order", utf16("ab") + utf16("cd", true)},
        {"binary data", binary},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogRun t;
        t.registry.setDword(shared, "C:\\W\\lib.dll", 3);
        try {
            t.read(c.bytes);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("C:\\App\\st6unst.log"), std::string::npos) << message;
            EXPECT_NE(message.find("NUL bytes"), std::string::npos) << message;
        }
        EXPECT_EQ(t.state.groupname, "");
        EXPECT_EQ(t.registry.dword(shared, "C:\\W\\lib.dll"), 3u);
    }
}

TEST(InstallLog, SixtyLinesFillTheBarAndItStaysFull) {
    LogRun t;
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "ACTION: PrivateFile: \"C:\\App\\f" + std::to_string(i) + "\"\r\n";
    t.read(text);
    std::vector<float> expected = {0};
    for (int i = 1; i <= 60; ++i)
        expected.push_back(i <= 50 ? 2.0f * static_cast<float>(i) : 100.0f);
    EXPECT_EQ(t.progress.history(), expected);
}

TEST(InstallLog, BarStartsAtZeroWhateverItShowed) {
    LogRun t;
    t.progress.setValue(40);
    t.read("x\r\n");
    EXPECT_EQ(t.progress.history(), (std::vector<float>{40, 0, 2}));
}

TEST(InstallLog, BarNeverPassesAnOddMaximum) {
    MemoryRegistry registry;
    MemoryFileSystem fs;
    UninstallState state;
    RecordingProgress progress(5);
    fs.addFile("C:\\App\\st6unst.log", "a\rb\rc\rd\r");
    lowerSharedCounts(registry, readlog(state, fs, "C:\\App", progress));
    EXPECT_EQ(progress.history(), (std::vector<float>{0, 2, 4, 5, 5}));
}

TEST(InstallLog, MissingLogThrowsNamingItAndChangesNothing) {
    LogRun t;
    t.registry.setDword(shared, "C:\\W\\lib.dll", 3);
    try {
        lowerSharedCounts(t.registry, readlog(t.state, t.fs, "C:\\App", t.progress));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("st6unst.log"), std::string::npos) << e.what();
    }
    EXPECT_EQ(t.registry.dword(shared, "C:\\W\\lib.dll"), 3u);
}

TEST(InstallLog, SampleApplication) {
    SampleWorld w;
    lowerSharedCounts(w.registry, readlog(w.state, w.fs, sample::installdir, w.progress));
    EXPECT_EQ(w.state.groupname, sample::group);
    EXPECT_EQ(w.state.menupath, sample::groupFolder);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedLib), 2u);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedControl), 0u);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::sharedUnused), 0u);
    EXPECT_EQ(w.registry.dword(sample::sharedDllsKey, sample::otherShared), 4u);
    EXPECT_EQ(w.progress.value(), 28);
}

} // namespace
} // namespace uninst::test
