#include "engine/start_menu_groups.h"

#include "engine/error.h"
#include "engine/exit_codes.h"
#include "engine/installdir.h"
#include "engine/run.h"
#include "engine/session.h"
#include "engine/unattended.h"
#include "tests/faults/faulty_ports.h"
#include "tests/support/memory_shell.h"
#include "tests/support/recording_ports.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

using Paths = std::vector<std::string>;

const std::string common = MemoryShell::commonPrograms;
const std::string user = MemoryShell::userPrograms;

// The sample world with a desktop shell. The sample log names the group
// MyApp; writeLog replaces it.
struct ShellWorld : SampleWorld {
    MemoryShell shell{fs};

    void run() {
        uninst::startUp(state, registry, fs, shell, sample::exe, list);
        uninst::uninstall(state, registry, fs, shell, list, progress);
    }
    void writeLog(std::initializer_list<std::string> lines) {
        fs.addFile(sample::log, sample::lines(lines));
    }
};

TEST(ProgramsGroups, GroupInBothProgramsFoldersGoesAfterTheFixedOne) {
    ShellWorld w;
    w.shell.addShortcut(common + "\\MyApp\\MyApp.lnk", sample::exeFile);
    w.shell.addShortcut(user + "\\MyApp\\Read Me.lnk", sample::readme);
    w.shell.addShortcut(user + "\\MyApp\\Help\\Help.pif", sample::helpFile);
    w.run();
    EXPECT_FALSE(w.fs.exists(sample::groupFolder));
    EXPECT_FALSE(w.fs.exists(common + "\\MyApp"));
    EXPECT_FALSE(w.fs.exists(user + "\\MyApp"));
    EXPECT_TRUE(w.fs.exists(common));
    EXPECT_TRUE(w.fs.exists(user));
    EXPECT_TRUE(w.fs.exists(sample::otherGroupFolder + "\\Other.lnk"));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

TEST(ProgramsGroups, WithoutAShellOnlyTheFixedRootIsTouched) {
    ShellWorld w;
    w.shell.addShortcut(common + "\\MyApp\\MyApp.lnk", sample::exeFile);
    w.startUp();
    w.uninstall();
    EXPECT_FALSE(w.fs.exists(sample::groupFolder));
    EXPECT_TRUE(w.fs.fileExists(common + "\\MyApp\\MyApp.lnk"));
}

TEST(ProgramsGroups, SharedGroupLosesOnlyThisApplicationsShortcuts) {
    ShellWorld w;
    const std::string group = common + "\\MyApp";
    w.shell.addShortcut(group + "\\MyApp.LNK", "c:/program files/myapp/MYAPP.EXE");
    w.shell.addShortcut(group + "\\Folder.lnk", sample::installdir);
    w.shell.addShortcut(group + "\\Other.lnk", sample::otherInstalldir + "\\other.exe");
    w.shell.addShortcut(group + "\\Neighbour.lnk", sample::installdir + " 2\\b.exe");
    w.shell.addShortcut(group + "\\Climbs.lnk", sample::installdir + "\\..\\Other\\other.exe");
    w.fs.addFile(group + "\\Damaged.lnk");
    w.fs.addFile(group + "\\notes.txt", sample::exeFile);
    w.fs.addFile(group + "\\Web.url",
                 "[InternetShortcut]\r\nURL=file:///C:/Program%20Files/MyApp/readme.txt\r\n");
    w.fs.addFile(group + "\\Site.url", "[InternetShortcut]\r\nURL=http://example.com/\r\n");
    w.shell.addShortcut(group + "\\Tools\\Tool.lnk", sample::exeFile);
    w.fs.addFolder(group + "\\Empty Before");
    w.shell.addShortcut("C:\\Elsewhere\\Linked.lnk", sample::exeFile);
    w.fs.addLink(group + "\\Linked", "C:\\Elsewhere");
    w.run();
    EXPECT_EQ(w.fs.snapshot(group),
              (Paths{group + "\\", group + "\\Climbs.lnk", group + "\\Damaged.lnk",
                     group + "\\Empty Before\\", group + "\\Linked -> C:\\Elsewhere",
                     group + "\\Neighbour.lnk", group + "\\Other.lnk", group + "\\Site.url",
                     group + "\\notes.txt"}));
    EXPECT_TRUE(w.fs.fileExists("C:\\Elsewhere\\Linked.lnk"));
}

TEST(ProgramsGroups, SystemFoldersLoseThisApplicationsShortcutsAndStay) {
    for (const std::string group : {"Startup", "accessories", "Windows System"}) {
        SCOPED_TRACE(group);
        ShellWorld w;
        w.writeLog({"ACTION: ShellLink: \"" + group + "\",\"MyApp\",\"myapp.exe\""});
        const std::string folder = user + "\\" + group;
        w.shell.addShortcut(folder + "\\MyApp.lnk", sample::exeFile);
        w.shell.addShortcut(folder + "\\Other.lnk", "C:\\Windows\\other.exe");
        w.shell.addShortcut(common + "\\" + group + "\\MyApp.lnk", sample::exeFile);
        w.run();
        EXPECT_EQ(w.fs.snapshot(folder), (Paths{folder + "\\", folder + "\\Other.lnk"}));
        EXPECT_EQ(w.fs.snapshot(common + "\\" + group), Paths{common + "\\" + group + "\\"});
    }
}

TEST(ProgramsGroups, SystemFolderTheShellNamesStaysUnderItsLocalName) {
    ShellWorld w;
    const std::string autostart = user + "\\Autostart";
    w.shell.setSystemFolders({autostart + "\\"});
    w.writeLog({"ACTION: ShellLink: \"Autostart\",\"MyApp\",\"myapp.exe\""});
    w.shell.addShortcut(autostart + "\\MyApp.lnk", sample::exeFile);
    w.run();
    EXPECT_EQ(w.fs.snapshot(autostart), Paths{autostart + "\\"});
}

TEST(ProgramsGroups, DirectoryCreatedInsideAProgramsFolderNamesTheGroup) {
    ShellWorld w;
    const std::string group = user + "\\My Tools";
    w.writeLog({
        "ACTION: CreateDir: \"" + sample::installdir + "\"",
        "ACTION: CreateDir: \"" + group + "\"",
        "ACTION: CreateDir: \"" + group + "\\Extras\"",
        // Neither is inside a Programs folder, though the text begins so.
        "ACTION: CreateDir: \"" + user + "\\..\\Other\"",
        "ACTION: CreateDir: \"" + user + "\"",
    });
    w.shell.addShortcut(group + "\\Extras\\MyApp.lnk", sample::exeFile);
    w.fs.addFolder(user + "\\Other");
    w.fs.addFolder(user + "\\..\\Other");
    w.run();
    EXPECT_FALSE(w.fs.exists(group));
    EXPECT_TRUE(w.fs.exists(user + "\\Other"));
    EXPECT_TRUE(w.fs.exists(user));
    EXPECT_EQ(w.state.createdfolders.size(), 5u);
}

TEST(ProgramsGroups, GroupBehindALinkIsNotEntered) {
    ShellWorld w;
    w.shell.addShortcut("C:\\Elsewhere\\MyApp\\MyApp.lnk", sample::exeFile);
    w.fs.addLink(common + "\\MyApp", "C:\\Elsewhere\\MyApp");
    w.shell.addShortcut("C:\\Deeper\\MyApp.lnk", sample::exeFile);
    w.fs.addLink(user + "\\Suite", "C:\\Deeper");
    w.writeLog({"ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\MyApp\"",
                "ACTION: CreateDir: \"" + user + "\\Suite\\MyApp\"",
                "ACTION: CreateDir: \"" + common + "\\MyApp\""});
    w.run();
    EXPECT_TRUE(w.fs.fileExists("C:\\Elsewhere\\MyApp\\MyApp.lnk"));
    EXPECT_TRUE(w.fs.fileExists("C:\\Deeper\\MyApp.lnk"));
    EXPECT_TRUE(w.fs.exists(common + "\\MyApp"));
}

TEST(ProgramsGroups, ReadOnlyShortcutIsReportedAndTheRestStillGoes) {
    ShellWorld w;
    const std::string shortcut = common + "\\MyApp\\MyApp.lnk";
    w.shell.addShortcut(shortcut, sample::exeFile);
    w.shell.addShortcut(common + "\\MyApp\\Read Me.lnk", sample::readme);
    w.shell.addShortcut(user + "\\MyApp\\MyApp.lnk", sample::exeFile);
    w.fs.setReadOnly(shortcut);
    try {
        w.run();
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(shortcut), std::string::npos) << e.what();
    }
    EXPECT_EQ(w.fs.snapshot(common + "\\MyApp"), (Paths{common + "\\MyApp\\", shortcut}));
    EXPECT_FALSE(w.fs.exists(user + "\\MyApp"));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

// Each file-system call of a whole run with a shell fails once in turn.
TEST(ProgramsGroups, NoSingleFailureTouchesAnythingElseOrKeepsTheRegistration) {
    const std::vector<std::string> ours = {
        common + "\\MyApp\\MyApp.lnk", common + "\\MyApp\\Tools\\Tool.lnk",
        user + "\\MyApp\\Read Me.lnk", user + "\\Startup\\MyApp.lnk"};
    const auto build = [&](ShellWorld& w) {
        w.writeLog({"ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\MyApp\"",
                    "ACTION: CreateDir: \"" + user + "\\Startup\""});
        for (const std::string& shortcut : ours)
            w.shell.addShortcut(shortcut, sample::exeFile);
        w.shell.addShortcut(common + "\\MyApp\\Other.lnk", sample::otherInstalldir);
        w.shell.addShortcut(user + "\\Startup\\Other.lnk", sample::otherInstalldir);
    };
    // What the run may change: the install tree, the fixed group, and our
    // shortcuts with the folders that held only them.
    const auto mayChange = [&](const std::string& line) {
        for (const std::string& prefix : {sample::installdir + "\\", sample::groupFolder + "\\",
                                          user + "\\MyApp\\", common + "\\MyApp\\Tools\\"}) {
            if (line.rfind(prefix, 0) == 0)
                return true;
        }
        return std::find(ours.begin(), ours.end(), line) != ours.end();
    };
    const auto minus = [](Paths a, const Paths& b) {
        a.erase(std::remove_if(a.begin(), a.end(),
                               [&](const std::string& line) {
                                   return std::find(b.begin(), b.end(), line) != b.end();
                               }),
                a.end());
        return a;
    };

    std::size_t calls = 0;
    {
        ShellWorld w;
        build(w);
        FaultyFileSystem faulty(w.fs);
        uninst::startUp(w.state, w.registry, faulty, w.shell, sample::exe, w.list);
        uninst::uninstall(w.state, w.registry, faulty, w.shell, w.list, w.progress);
        calls = faulty.calls();
        for (const std::string& shortcut : ours)
            EXPECT_FALSE(w.fs.exists(shortcut)) << shortcut;
    }
    for (std::size_t call = 0; call < calls; ++call) {
        ShellWorld w;
        build(w);
        const Paths before = w.fs.snapshot("C:");
        FaultyFileSystem faulty(w.fs);
        faulty.failAt(call);
        try {
            uninst::startUp(w.state, w.registry, faulty, w.shell, sample::exe, w.list);
            uninst::uninstall(w.state, w.registry, faulty, w.shell, w.list, w.progress);
        } catch (const Error&) {
        }
        SCOPED_TRACE(faulty.injected());
        for (const std::string& line : minus(before, w.fs.snapshot("C:")))
            EXPECT_TRUE(mayChange(line)) << line;
        EXPECT_EQ(minus(w.fs.snapshot("C:"), before), Paths{});
        const bool inProgramsFolders = faulty.injected().find(common) != std::string::npos ||
                                       faulty.injected().find(user) != std::string::npos;
        if (inProgramsFolders) {
            EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
        }
    }
}

TEST(ProgramsGroups, RunWithoutAWindowPlansThenRemovesTheGroup) {
    struct Lines : RunLog {
        void write(std::string_view line) override { text.append(line).append("\n"); }
        std::string text;
    };
    ShellWorld w;
    const std::string shortcut = common + "\\MyApp\\MyApp.lnk";
    w.shell.addShortcut(shortcut, sample::exeFile);
    Options options;
    options.appName = sample::exe;
    options.preview = true;
    Lines plan;
    ASSERT_EQ(Session(options, w.registry, w.fs, w.shell, &plan).runWithoutWindow(), exitRemoved);
    EXPECT_TRUE(w.fs.fileExists(shortcut));
    EXPECT_NE(plan.text.find(shortcut), std::string::npos) << plan.text;

    options.preview = false;
    options.quiet = true;
    ASSERT_EQ(Session(options, w.registry, w.fs, w.shell, nullptr).runWithoutWindow(), exitRemoved);
    EXPECT_FALSE(w.fs.exists(common + "\\MyApp"));
}

const std::string classic = "C:\\WINDOWS\\Start Menu\\Programs";

std::string shellLink(const std::string& group, const std::string& caption) {
    return "ACTION: ShellLink: \"" + group + "\",\"" + caption + "\",\"" + sample::exeFile +
           "\",\"\"";
}
std::string createDir(const std::string& folder) {
    return "ACTION: CreateDir: \"" + folder + "\"";
}

// The window's run and the same run on a system without a shell, which can
// tell this application's shortcuts only by the names the log gives them.
template <typename Check> void withAndWithoutAShell(Check check) {
    for (const bool withShell : {true, false}) {
        SCOPED_TRACE(withShell ? "with a shell" : "without a shell");
        ShellWorld w;
        check(w, [&] {
            if (withShell) {
                w.run();
            } else {
                w.startUp();
                w.uninstall();
            }
        });
    }
}

TEST(StartMenuGroups, GroupOfTwoStepsLeavesAnotherVendorsGroupOfTheLastStepsName) {
    withAndWithoutAShell([](ShellWorld& w, auto run) {
        w.writeLog({createDir(sample::installdir), createDir(classic + "\\Acme"),
                    createDir(classic + "\\Acme\\Tools"), shellLink("Acme\\Tools", "Tool"),
                    // A folder of the system's, later on, names no group.
                    createDir("C:\\WINDOWS\\SYSTEM\\Foo")});
        w.fs.addFile(classic + "\\Acme\\Tools\\Tool.lnk", "C:\\Elsewhere\\tool.exe");
        w.shell.addShortcut(classic + "\\Tools\\Other.lnk", sample::otherInstalldir);
        w.fs.addFile(classic + "\\Tools\\notes.txt", "mine");
        w.shell.addShortcut(classic + "\\Foo\\Foo.lnk", sample::otherInstalldir);
        w.shell.addShortcut(common + "\\Acme\\Tools\\Tool.lnk", sample::exeFile);
        const Paths tools = w.fs.snapshot(classic + "\\Tools");
        run();
        EXPECT_FALSE(w.fs.exists(classic + "\\Acme"));
        EXPECT_EQ(w.fs.snapshot(classic + "\\Tools"), tools);
        EXPECT_TRUE(w.fs.fileExists(classic + "\\Foo\\Foo.lnk"));
        EXPECT_TRUE(w.fs.fileExists(sample::otherGroupFolder + "\\Other.lnk"));
        EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
    });
}

TEST(StartMenuGroups, VendorFolderStaysWhileItHoldsAnotherProductsGroup) {
    withAndWithoutAShell([](ShellWorld& w, auto run) {
        w.writeLog({createDir(classic + "\\Acme"), createDir(classic + "\\Acme\\Tools"),
                    shellLink("Acme\\Tools", "Tool")});
        w.fs.addFile(classic + "\\Acme\\Tools\\Tool.lnk", "C:\\Elsewhere\\tool.exe");
        w.shell.addShortcut(classic + "\\Acme\\Viewer\\Viewer.lnk", "C:\\Acme\\viewer.exe");
        w.fs.addFolder(classic + "\\Acme\\Empty Before");
        run();
        EXPECT_EQ(w.fs.snapshot(classic + "\\Acme"),
                  (Paths{classic + "\\Acme\\", classic + "\\Acme\\Empty Before\\",
                         classic + "\\Acme\\Viewer\\", classic + "\\Acme\\Viewer\\Viewer.lnk"}));
    });
}

TEST(StartMenuGroups, FolderAShortcutLineNamesLosesOnlyThisApplicationsShortcuts) {
    for (const std::string group : {"Startup", "Accessories", "Other App"}) {
        SCOPED_TRACE(group);
        withAndWithoutAShell([&](ShellWorld& w, auto run) {
            const std::string folder = classic + "\\" + group;
            w.writeLog({shellLink(group, "MyApp")});
            w.fs.addFile(folder + "\\MyApp.lnk", "C:\\Elsewhere\\myapp.exe");
            w.shell.addShortcut(folder + "\\Other.lnk", sample::otherInstalldir + "\\other.exe");
            w.fs.addFile(folder + "\\notes.txt", "mine");
            run();
            EXPECT_EQ(w.fs.snapshot(folder),
                      (Paths{folder + "\\", folder + "\\Other.lnk", folder + "\\notes.txt"}));
            EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
        });
    }
}

TEST(StartMenuGroups, NamedFolderLeftEmptyGoesUnlessTheSystemOwnsIt) {
    for (const std::string group : {"Startup", "Accessories", "Other App"}) {
        SCOPED_TRACE(group);
        ShellWorld w;
        const std::string folder = classic + "\\" + group;
        w.writeLog({shellLink(group, "MyApp")});
        w.fs.addFile(folder + "\\MyApp.lnk", "C:\\Elsewhere\\myapp.exe");
        w.run();
        EXPECT_EQ(w.fs.exists(folder), group != "Other App");
        EXPECT_FALSE(w.fs.exists(folder + "\\MyApp.lnk"));
        EXPECT_TRUE(w.fs.exists(classic));
    }
}

// Older systems: the shell's own Programs folder is the fixed root, and its
// Startup, under whatever name, is the system's.
TEST(StartMenuGroups, ShellFoldersThatAreTheFixedRootKeepTheSystemsStartup) {
    for (const bool another : {true, false}) {
        SCOPED_TRACE(another ? "beside another program's shortcut" : "alone");
        ShellWorld w;
        w.shell.setProgramsFolders({classic + "\\"});
        w.shell.setSystemFolders({classic + "\\Autostart"});
        w.writeLog({shellLink("Autostart", "MyApp")});
        w.shell.addShortcut(classic + "\\Autostart\\MyApp.lnk", sample::exeFile);
        if (another)
            w.shell.addShortcut(classic + "\\Autostart\\Other.lnk", sample::otherInstalldir);
        w.run();
        Paths expected{classic + "\\Autostart\\"};
        if (another)
            expected.push_back(classic + "\\Autostart\\Other.lnk");
        EXPECT_EQ(w.fs.snapshot(classic + "\\Autostart"), expected);
    }
}

TEST(StartMenuGroups, GroupOfOnlyThisApplicationsShortcutsGoesWhole) {
    ShellWorld w;
    w.writeLog({createDir(sample::groupFolder), shellLink("MyApp", "MyApp")});
    w.fs.addFile(sample::groupFolder + "\\MyApp.lnk", "C:\\Elsewhere\\myapp.exe");
    w.shell.addShortcut(sample::groupFolder + "\\Read Me.lnk", sample::readme);
    w.shell.addShortcut(sample::groupFolder + "\\Help\\Help.pif", sample::helpFile);
    w.fs.addFile(sample::groupFolder + "\\Help\\Site.url",
                 "[InternetShortcut]\r\nURL=file:///C:/Program%20Files/MyApp/readme.txt\r\n");
    const Paths others = w.fs.snapshot(sample::otherGroupFolder);
    w.run();
    EXPECT_FALSE(w.fs.exists(sample::groupFolder));
    EXPECT_EQ(w.fs.snapshot(sample::otherGroupFolder), others);
    EXPECT_TRUE(w.fs.exists(classic));
}

// A shortcut that leads into another registered application's folder inside
// the install folder is that application's: it stays wherever it is, and so
// does the group that holds it.
TEST(StartMenuGroups, ShortcutIntoAnotherApplicationsFolderInsideStays) {
    ShellWorld w;
    const std::string tools = sample::installdir + "\\Tools";
    w.fs.addFile(tools + "\\tool2.exe");
    w.registry.setString(sample::appPathsKey + "\\tool2.exe", "", tools + "\\tool2.exe");
    w.writeLog({shellLink("Startup", "MyApp"), shellLink("MyApp", "MyApp")});
    const std::string startup = user + "\\Startup";
    w.shell.addShortcut(startup + "\\MyApp.lnk", sample::exeFile);
    w.shell.addShortcut(startup + "\\Tool2.lnk", tools + "\\tool2.exe");
    w.shell.addShortcut(startup + "\\Tools.lnk", "c:\\program files\\myapp\\TOOLS");
    const std::string group = common + "\\MyApp";
    w.shell.addShortcut(group + "\\MyApp.lnk", sample::exeFile);
    w.shell.addShortcut(group + "\\Tool2 Help.lnk", tools + "\\Help\\tool2.hlp");
    w.run();
    EXPECT_EQ(w.fs.snapshot(startup),
              (Paths{startup + "\\", startup + "\\Tool2.lnk", startup + "\\Tools.lnk"}));
    EXPECT_EQ(w.fs.snapshot(group), (Paths{group + "\\", group + "\\Tool2 Help.lnk"}));
    EXPECT_TRUE(w.fs.fileExists(tools + "\\tool2.exe"));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

// A log naming thousands of folders, none of them there: each folder on the
// way is listed once, not once per folder named below it.
TEST(StartMenuGroups, ManyNamedFoldersCostOneListingPerFolderOnTheWay) {
    ShellWorld w;
    std::string log = sample::logText();
    for (int i = 0; i < 1000; ++i)
        log += createDir(classic + "\\Acme\\Tool " + std::to_string(i)) + "\r\n" +
               shellLink("Vendor " + std::to_string(i) + "\\Tools", "Tool") + "\r\n";
    w.fs.addFile(sample::log, log);
    w.fs.addFolder(classic + "\\Acme");
    RecordingFileSystem fs(w.fs);
    uninst::startUp(w.state, w.registry, fs, w.shell, sample::exe, w.list);
    const std::size_t before = fs.calls();
    uninst::uninstall(w.state, w.registry, fs, w.shell, w.list, w.progress);
    std::size_t listings = 0;
    for (std::size_t i = before; i < fs.calls(); ++i)
        listings += fs.history()[i].rfind("list folder C:\\WINDOWS\\Start Menu", 0) == 0 ? 1 : 0;
    // The root, Acme and the group MyApp.
    EXPECT_EQ(listings, 3u);
    EXPECT_FALSE(w.fs.exists(sample::groupFolder));
    EXPECT_TRUE(w.fs.exists(classic + "\\Acme"));
}

TEST(ExpandableAppPath, ExpandedValueNamesTheInstallFolder) {
    struct Case {
        const char* what;
        std::uint32_t type;
        std::string value;
        std::string installdir;
    };
    const std::vector<Case> cases = {
        {"expandable", Registry::typeExpandSz, "%ProgramFiles%\\MyApp\\myapp.exe",
         sample::installdir},
        {"expandable, quoted, name in other case", Registry::typeExpandSz,
         "\"%programfiles%\\MyApp\\myapp.exe\"", sample::installdir},
        {"variable holding the whole folder", Registry::typeExpandSz, "%APPDIR%\\myapp.exe",
         sample::installdir},
        {"variable holding the whole path", Registry::typeExpandSz, "%APPEXE%", sample::installdir},
        {"undefined variable stays", Registry::typeExpandSz, "%NOSUCH%\\MyApp\\myapp.exe",
         "%NOSUCH%\\MyApp"},
        {"plain text is never expanded", Registry::typeSz, "%ProgramFiles%\\MyApp\\myapp.exe",
         "%ProgramFiles%\\MyApp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryRegistry registry;
        MemoryFileSystem fs;
        MemoryShell shell(fs);
        shell.setVariable("ProgramFiles", "C:\\Program Files");
        shell.setVariable("APPDIR", sample::installdir + "\\");
        shell.setVariable("APPEXE", sample::exeFile);
        registry.setValue(sample::appPathsEntry, "", c.type, c.value + '\0');
        UninstallState state;
        apath(state, registry, shell, sample::exe);
        EXPECT_EQ(state.installdir, c.installdir);
        EXPECT_EQ(registry.openHandleCount(), 0u);
    }
}

TEST(ExpandableAppPath, ExpandedFolderIsRefusedLikeAnyOther) {
    ShellWorld w;
    w.shell.setVariable("SystemDrive", "C:");
    w.registry.setValue(sample::appPathsEntry, "", Registry::typeExpandSz,
                        std::string("%SystemDrive%\\myapp.exe") + '\0');
    EXPECT_THROW(w.run(), Error);
    EXPECT_EQ(w.list.rowCount(), 0u);
}

TEST(ShortcutTargets, InternetShortcutLeadsToItsFileUrl) {
    const auto target = [](const std::string& text) { return internetShortcutTarget(text); };
    EXPECT_EQ(target("[InternetShortcut]\r\nURL=file:///C:/Program%20Files/A/a.exe\r\n"),
              "C:\\Program Files\\A\\a.exe");
    EXPECT_EQ(target("[internetshortcut]\nurl=FILE://C:\\A\\a.exe"), "C:\\A\\a.exe");
    EXPECT_EQ(target("[InternetShortcut]\r\nURL=file:///c|/A/a.exe\r\n"), "c:\\A\\a.exe");
    EXPECT_EQ(target("[InternetShortcut]\r\nURL=file://server/share/a.exe\r\n"),
              "\\\\server\\share\\a.exe");
    EXPECT_EQ(target("[InternetShortcut]\r\nURL=http://example.com/C:/A\r\n"), std::nullopt);
    EXPECT_EQ(target("[Other]\r\nURL=file:///C:/A/a.exe\r\n"), std::nullopt);
    EXPECT_EQ(target("[InternetShortcut]\r\nIconFile=C:\\A\\a.ico\r\n"), std::nullopt);
    EXPECT_EQ(target(""), std::nullopt);
}

TEST(ShortcutTargets, LeadsIntoTheFolderOrBelowItOnly) {
    const std::string dir = "C:\\Program Files\\MyApp";
    EXPECT_TRUE(leadsInto(dir, dir));
    EXPECT_TRUE(leadsInto("c:/PROGRAM FILES/myapp/a.exe", dir));
    EXPECT_TRUE(leadsInto(dir + "\\", dir + "\\"));
    EXPECT_FALSE(leadsInto(dir + "2\\a.exe", dir));
    EXPECT_FALSE(leadsInto("C:\\Program Files", dir));
    EXPECT_FALSE(leadsInto(dir + "\\..\\Other\\a.exe", dir));
    EXPECT_FALSE(leadsInto(dir + "\\a.exe", ""));
}

} // namespace
} // namespace uninst::test
