// The install folder and the group are judged as the system will read them,
// every path the run hands the file system is built from those resolved
// folders, and nothing the user was never shown is deleted.
#include "engine/error.h"
#include "engine/run.h"
#include "engine/session.h"
#include "engine/system_paths.h"
#include "engine/unattended.h"
#include "tests/faults/faulty_ports.h"
#include "tests/support/error_text.h"
#include "tests/support/memory_shell.h"
#include "tests/support/pass_through_ports.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

using Paths = std::vector<std::string>;

const std::string programs = "C:\\WINDOWS\\Start Menu\\Programs";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The path of a recorded file-system call ("remove empty folder C:\\App").
std::string pathOf(const std::string& call) {
    for (const char* operation :
         {"list folder ", "check folder ", "delete file ", "delete folder ", "remove empty folder ",
          "read file ", "resolve path ", "check delete ", "delete at restart "}) {
        if (startsWith(call, operation))
            return call.substr(std::string(operation).size());
    }
    ADD_FAILURE() << "unknown call " << call;
    return {};
}

// A setup-toolkit log in `folder` and a victim's files beside it: whatever a
// registration that is read against a current folder lands on.
void plantLog(SampleWorld& w, const std::string& folder) {
    w.fs.addFile(folder + "\\ST6UNST.LOG", "x\r\n");
    w.fs.addFile(folder + "\\victim.doc", "someone's");
}

TEST(InstallFolder, RegistrationReadAgainstACurrentFolderIsRefused) {
    struct Case {
        const char* registered;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"C:.\\app.exe", "does not name its drive and folder in full"},
        {"C:..\\x.exe", "does not name its drive and folder in full"},
        {"C:App\\x.exe", "does not name its drive and folder in full"},
        {"\\App\\x.exe", "does not name its drive and folder in full"},
        {"App\\x.exe", "does not name its drive and folder in full"},
        {"\\??\\C:\\x.exe", "does not name its drive and folder in full"},
        {"/Victim/x.exe", "does not name its drive and folder in full"},
        // Refused as before, with today's words.
        {"C:\\App\\..\\x.exe", "will not follow"},
        {"C:\\App\\ \\x.exe", "will not follow"},
        {"C:/x.exe", "whole drive C:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.registered);
        SampleWorld w;
        // Started from another drive: C:'s current folder is its root.
        w.fs.setCurrentFolder("D:\\Victim");
        plantLog(w, "C:");
        plantLog(w, "C:\\App");
        plantLog(w, "D:\\Victim");
        plantLog(w, "D:\\Victim\\App");
        w.registry.setString(sample::appPathsEntry, "", c.registered);
        const Paths before = w.fs.snapshot("C:");
        const std::string message = errorOf([&] { w.startUp(); });
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_NE(message.find(sample::exe), std::string::npos) << message;
        EXPECT_EQ(w.list.rowCount(), 0u);
        EXPECT_EQ(w.fs.snapshot("C:"), before);
    }
}

TEST(InstallFolder, ResolvedBeforeItIsJudgedAndListed) {
    struct Case {
        const char* registered;
        std::string resolved; // empty: refused
    };
    const std::vector<Case> cases = {
        {"C:\\Program Files\\MyApp/myapp.exe", sample::installdir},
        {"C:/Program Files/MyApp/myapp.exe", sample::installdir},
        {"C:\\Program Files\\\\MyApp\\myapp.exe", sample::installdir},
        {"C:\\Program Files\\MyApp \\myapp.exe", sample::installdir},
        {"C:\\Program Files\\MyApp.\\myapp.exe", sample::installdir},
        {"C:\\Program Files\\MyApp. .\\myapp.exe", sample::installdir},
        {"\"C:\\Program Files\\MyApp/myapp.exe\"", sample::installdir},
        // A drive root in any spelling.
        {"C://x.exe", ""},
        {"C:\\\\\\x.exe", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.registered);
        SampleWorld w;
        w.fs.addFile("C:\\stray.txt");
        w.registry.setString(sample::appPathsEntry, "", c.registered);
        if (c.resolved.empty()) {
            EXPECT_NE(errorOf([&] { w.startUp(); }), "(no error)");
            EXPECT_EQ(w.list.rowCount(), 0u);
            continue;
        }
        w.startUp();
        EXPECT_EQ(w.state.installdir, c.resolved);
        EXPECT_EQ(w.state.logpath, sample::log);
        EXPECT_EQ(w.list.rowCount(), 6u);
        for (const std::string& row : w.list.rows())
            EXPECT_TRUE(startsWith(row, c.resolved + "\\")) << row;
    }
}

TEST(InstallFolder, FolderThatIsItselfALinkIsRefused) {
    SampleWorld w(false);
    w.fs.addFile("C:\\Users\\me\\ST6UNST.LOG", "x\r\n");
    w.fs.addFile("C:\\Users\\me\\letter.doc", "mine");
    w.fs.addLink("C:\\Program Files\\Linked", "C:\\Users\\me");
    w.registry.setString(sample::appPathsEntry, "", "C:\\Program Files\\Linked\\myapp.exe");
    const std::string message = errorOf([&] { w.startUp(); });
    EXPECT_NE(message.find("It is a link to another folder"), std::string::npos) << message;
    EXPECT_EQ(w.list.rowCount(), 0u);
    EXPECT_TRUE(w.fs.fileExists("C:\\Users\\me\\letter.doc"));
}

// An empty argument names no sub-key: the read is of the App Paths key's
// own default value, which is normally unset.
TEST(InstallFolder, EmptyArgumentReadsTheAppPathsKeysOwnDefaultValue) {
    SampleWorld w;
    EXPECT_NE(errorOf([&] { w.startUp(""); }).find("No application name was given"),
              std::string::npos);
    w.restart();
    w.registry.setString(sample::appPathsKey, "", sample::exeFile);
    w.startUp("");
    EXPECT_EQ(w.state.installdir, sample::installdir);
    EXPECT_EQ(w.list.rowCount(), 6u);
}

// With a registered value that needs tidying, every path still reaches the
// file system as the resolved folder and the listed name, nothing to clean
// up: the unmarked twin "data.mdb." goes, the kept "data.mdb" stays.
TEST(InstallFolder, ListedNamesAreDeletedExactlyAsListed) {
    for (const char* registered :
         {"C:\\Program Files\\\\MyApp\\myapp.exe", "C:/Program Files/MyApp/myapp.exe"}) {
        SCOPED_TRACE(registered);
        SampleWorld w;
        w.registry.setString(sample::appPathsEntry, "", registered);
        w.fs.addFile(sample::dataFile + ".", "twin");
        FaultyFileSystem fs(w.fs);
        uninst::startUp(w.state, w.registry, fs, noShell(), sample::exe, w.list);
        ASSERT_TRUE(w.list.mark(sample::dataFile));
        uninst::uninstall(w.state, w.registry, fs, noShell(), w.list, w.progress);

        EXPECT_TRUE(w.fs.fileExists(sample::dataFile));
        EXPECT_FALSE(w.fs.exists(sample::dataFile + "."));
        for (const std::string& call : fs.history()) {
            if (startsWith(call, "resolve path "))
                continue;
            const std::string path = pathOf(call);
            // The group is reached from the root down, so the root is read.
            const bool readsTheRoot = path == programs && (startsWith(call, "list folder ") ||
                                                           startsWith(call, "check folder "));
            EXPECT_TRUE(startsWith(path, sample::installdir) || startsWith(path, programs + "\\") ||
                        readsTheRoot)
                << call;
            EXPECT_EQ(path.find('/'), std::string::npos) << call;
            EXPECT_EQ(path.find("\\\\"), std::string::npos) << call;
        }
    }
}

// "Tools " is the folder Tools to the system, and so is "Tools.".
TEST(StartMenuGroup, TrailingDotsAndBlanksNameTheFolderTheSystemUses) {
    for (const char* group : {"Tools ", "Tools.", "Tools . ", "Tools\\Sub "}) {
        SCOPED_TRACE(group);
        SampleWorld w;
        w.fs.addFile(sample::log,
                     sample::lines({"ACTION: ShellLink: \"" + std::string(group) + "\",\"x\""}));
        const bool sub = std::string(group).find("Sub") != std::string::npos;
        w.fs.addFile(programs + (sub ? "\\Tools\\Sub\\x.lnk" : "\\Tools\\x.lnk"));
        w.fs.addFile(programs + "\\Other\\b.lnk");
        w.startUp();
        w.uninstall();
        EXPECT_EQ(w.fs.exists(programs + "\\Tools"), sub);
        EXPECT_FALSE(w.fs.exists(programs + "\\Tools\\Sub"));
        EXPECT_TRUE(w.fs.fileExists(programs + "\\Other\\b.lnk"));
        EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
    }
}

// Nothing was listed: the toolkit files the listing met and the folders left
// empty go; what was saved there after start-up stays, and is recorded.
TEST(Command4Click, EmptyListRemovesOnlyWhatTheListingSaw) {
    SampleWorld w(false);
    addToolWithToolkitFiles(w);
    w.fs.addFile("C:\\Tool\\Setup\\ST6UNST.EXE");
    w.fs.addFolder("C:\\Tool\\Empty");
    w.startUp();
    ASSERT_EQ(w.list.rowCount(), 0u);
    w.fs.addFile("C:\\Tool\\notes.txt", "mine");
    w.fs.addFile("C:\\Tool\\Letters\\letter.doc", "mine");
    w.fs.addFolder("C:\\Tool\\Letters\\Drafts");
    w.uninstall();
    EXPECT_EQ(w.fs.snapshot("C:\\Tool"),
              (Paths{"C:\\Tool\\", "C:\\Tool\\Letters\\", "C:\\Tool\\Letters\\letter.doc",
                     "C:\\Tool\\notes.txt"}));
    EXPECT_EQ(w.state.keptUnlisted,
              (Paths{"C:\\Tool\\notes.txt", "C:\\Tool\\Letters\\letter.doc"}));
    EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
}

// The removal of what the listing saw belongs to an empty list alone: with
// one file listed and kept, the toolkit's other files, the kept file and its
// folder stay as a run with more rows leaves them.
TEST(Command4Click, OneKeptRowKeepsItsFileAndTheToolkitsOtherFiles) {
    SampleWorld w(false);
    addToolWithToolkitFiles(w);
    w.fs.addFile("C:\\Tool\\data.mdb", "records");
    w.startUp();
    ASSERT_EQ(w.list.rows(), Paths{"C:\\Tool\\data.mdb"});
    ASSERT_TRUE(w.list.mark("C:\\Tool\\data.mdb"));
    w.uninstall();
    EXPECT_EQ(w.fs.snapshot("C:\\Tool"),
              (Paths{"C:\\Tool\\", "C:\\Tool\\data.mdb", "C:\\Tool\\st6unst.000"}));
    EXPECT_TRUE(w.state.keptUnlisted.empty());
}

// The folders the system and every application share, as the shell of a
// system of today names them.
std::vector<SharedFolder> sharedFolders() {
    return {{"C:\\WINDOWS", "the Windows folder"},
            {"C:\\Program Files", "the system's Program Files folder"},
            {"C:\\Program Files\\Common Files", "the system's Common Files folder"},
            {"C:\\ProgramData", "the system's ProgramData folder"},
            {"C:\\ProgramData\\Microsoft\\Windows\\Start Menu",
             "the shell's all-users Start Menu folder"},
            {"C:\\Users", "the users' folder"},
            {"C:\\Users\\J\xC3\xB6rg", "a user's profile folder"},
            {"C:\\Users\\J\xC3\xB6rg\\Documents\\", "the shell's Documents folder"}};
}

struct ShellWorld {
    SampleWorld w;
    MemoryShell shell{w.fs};

    ShellWorld() {
        shell.setSharedFolders(sharedFolders());
        shell.setVariable("ProgramFiles", "C:\\Program Files");
        shell.setVariable("ACME", "C:\\Acme");
    }
    void startUp(FileSystem& fs) {
        uninst::startUp(w.state, w.registry, fs, shell, sample::exe, w.list);
    }
    void startUp() { startUp(w.fs); }
    void uninstall() { uninst::uninstall(w.state, w.registry, w.fs, shell, w.list, w.progress); }
};

void registerAs(MemoryRegistry& registry, const std::string& entry, std::uint32_t type,
                const std::string& path) {
    registry.setValue(entry, "", type, path + '\0');
}

TEST(SharedFolder, InstallFolderThatIsOrHoldsOneIsRefusedBeforeAnythingIsListed) {
    struct Case {
        const char* registered;
        std::uint32_t type;
        const char* folder;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"C:\\Program Files\\myapp.exe", Registry::typeSz, "C:\\Program Files",
         "is the system's Program Files folder, shared by"},
        {"%ProgramFiles%\\myapp.exe", Registry::typeExpandSz, "C:\\Program Files",
         "is the system's Program Files folder"},
        {"c:\\PROGRAM FILES\\Common Files.\\myapp.exe", Registry::typeSz,
         "c:\\PROGRAM FILES\\Common Files", "is the system's Common Files folder"},
        {"C:\\WINDOWS\\myapp.exe", Registry::typeSz, "C:\\WINDOWS", "is the Windows folder"},
        {"C:\\Users\\myapp.exe", Registry::typeSz, "C:\\Users", "is the users' folder"},
        // Letter case as the system folds it, beyond ASCII.
        {"C:\\USERS\\J\xC3\x96RG\\myapp.exe", Registry::typeSz, "C:\\USERS\\J\xC3\x96RG",
         "is a user's profile folder"},
        {"C:\\Users\\J\xC3\xB6rg\\Documents\\myapp.exe", Registry::typeSz,
         "C:\\Users\\J\xC3\xB6rg\\Documents", "is the shell's Documents folder"},
        // Another name of the same folder, which the shell resolves.
        {"C:\\PROGRA~1\\myapp.exe", Registry::typeSz, "C:\\PROGRA~1",
         "which is C:\\Program Files, is the system's Program Files folder"},
        {"C:\\ProgramData\\Microsoft\\myapp.exe", Registry::typeSz, "C:\\ProgramData\\Microsoft",
         "holds C:\\ProgramData\\Microsoft\\Windows\\Start Menu, the shell's all-users Start "
         "Menu folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.registered);
        ShellWorld t;
        t.shell.setFinalFolder("C:\\PROGRA~1", "C:\\Program Files");
        plantLog(t.w, c.folder);
        t.w.fs.addFile(std::string(c.folder) + "\\Another App\\customer.db", "records");
        registerAs(t.w.registry, sample::appPathsEntry, c.type, c.registered);
        const Paths before = t.w.fs.snapshot("C:");
        FaultyFileSystem fs(t.w.fs);
        const std::string message = errorOf([&] { t.startUp(fs); });
        EXPECT_NE(message.find(std::string(c.folder) + ", " + c.says), std::string::npos)
            << message;
        EXPECT_NE(message.find("will not list or remove it"), std::string::npos) << message;
        EXPECT_EQ(t.w.list.rowCount(), 0u);
        for (const std::string& call : fs.history())
            EXPECT_FALSE(startsWith(call, "list folder ")) << call;
        EXPECT_EQ(t.w.fs.snapshot("C:"), before);
        EXPECT_TRUE(t.w.registry.keyExists(sample::appPathsEntry));
    }
}

// Where a short name stands for several folders (Wine's hash-made ones), the
// folder it opens may be another application's while its long form is the
// shared one, or the other way round: it is refused by either name.
TEST(SharedFolder, AShortNameOfSeveralFoldersIsJudgedByEach) {
    for (const bool sharedOpens : {false, true}) {
        SCOPED_TRACE(sharedOpens ? "opens the shared folder" : "spells out as the shared folder");
        ShellWorld t;
        const std::string shortName = "C:\\PROG~FBU";
        const std::string shared = "C:\\Program Files";
        const std::string other = "C:\\Program Filo74";
        t.shell.setFinalFolder(shortName, sharedOpens ? shared : other);
        t.shell.addFolderName(shortName, sharedOpens ? other : shared);
        plantLog(t.w, shortName);
        registerAs(t.w.registry, sample::appPathsEntry, Registry::typeSz,
                   shortName + "\\myapp.exe");
        const Paths before = t.w.fs.snapshot("C:");
        const std::string message = errorOf([&] { t.startUp(); });
        EXPECT_NE(message.find(shortName + ", which is " + shared +
                               ", is the system's Program Files folder"),
                  std::string::npos)
            << message;
        EXPECT_EQ(t.w.list.rowCount(), 0u);
        EXPECT_EQ(t.w.fs.snapshot("C:"), before);
    }
}

// Inside a shared folder, or beside one with a name that only begins like
// it, is where applications live.
// A folder that is one shared folder and holds others is refused as what it
// is, whichever the system names first.
TEST(SharedFolder, OneThatIsSharedIsRefusedAsItselfBeforeAsTheHolderOfOthers) {
    const SharedFolder common{"C:\\Program Files\\Common Files",
                              "the system's Common Files folder"};
    const SharedFolder acme{"C:\\Program Files\\Acme\\Shared", "Acme's shared folder"};
    const SharedFolder programFiles{"C:\\Program Files", "the system's Program Files folder"};
    const auto refusalAmong = [](const std::vector<SharedFolder>& shared) {
        ShellWorld t;
        t.shell.setSharedFolders(shared);
        plantLog(t.w, "C:\\Program Files");
        registerAs(t.w.registry, sample::appPathsEntry, Registry::typeSz,
                   "C:\\Program Files\\myapp.exe");
        return errorOf([&] { t.startUp(); });
    };
    const std::string itself = refusalAmong({common, acme, programFiles});
    EXPECT_NE(itself.find("C:\\Program Files, is the system's Program Files folder"),
              std::string::npos)
        << itself;
    // Holding two, it is refused as the holder of the first the system names.
    const std::string held = refusalAmong({common, acme});
    EXPECT_NE(held.find("holds C:\\Program Files\\Common Files, the system's Common Files folder"),
              std::string::npos)
        << held;
}

TEST(SharedFolder, FolderInsideOrBesideOneIsListed) {
    for (const std::string& folder :
         {sample::installdir, std::string("C:\\Program Files Extra"),
          std::string("C:\\Users\\J\xC3\xB6rg\\Documents\\MyApp"), std::string("C:\\WINDOWSX")}) {
        SCOPED_TRACE(folder);
        ShellWorld t;
        t.w.fs.addFile(folder + "\\ST6UNST.LOG", "x\r\n");
        t.w.fs.addFile(folder + "\\myapp.exe");
        t.w.registry.setString(sample::appPathsEntry, "", folder + "\\myapp.exe");
        t.startUp();
        EXPECT_EQ(t.w.state.installdir, folder);
        EXPECT_GT(t.w.list.rowCount(), 0u);
    }
}

const std::string suite = "C:\\Acme";
const std::string tool2Entry = sample::appPathsKey + "\\tool2.exe";
const std::string tool3Entry = sample::appPathsKey + "\\tool3.exe";

// A suite in C:\Acme with two more products registered inside it: Tool2 with
// its files and an empty folder, Tool3 an empty folder alone.
void installSuite(MemoryRegistry& registry, MemoryFileSystem& fs, bool withRows = true) {
    fs.addFile(suite + "\\ST6UNST.LOG", "x\r\n");
    if (withRows) {
        fs.addFile(suite + "\\suite.exe");
        fs.addFile(suite + "\\Help\\suite.hlp");
    }
    fs.addFile(suite + "\\Tool2\\tool2.exe");
    fs.addFile(suite + "\\Tool2\\Data\\customer.db", "records");
    fs.addFolder(suite + "\\Tool2\\Cache");
    fs.addFolder(suite + "\\Tool3");
    registry.setString(sample::appPathsEntry, "", suite + "\\suite.exe");
    registry.setString(tool3Entry, "", "\"C:\\Acme\\Tool3\\tool3.exe\"");
}

// The last folder the listing entered stays when empty, as it always has;
// here nothing else takes it along.
const Paths suiteLeft = {"C:\\Acme\\",
                         "C:\\Acme\\Help\\",
                         "C:\\Acme\\Tool2\\",
                         "C:\\Acme\\Tool2\\Cache\\",
                         "C:\\Acme\\Tool2\\Data\\",
                         "C:\\Acme\\Tool2\\Data\\customer.db",
                         "C:\\Acme\\Tool2\\tool2.exe",
                         "C:\\Acme\\Tool3\\"};

TEST(OtherApplication, FolderInsideTheInstallFolderIsLeftOutOfTheListAndOfEveryRemoval) {
    struct Case {
        const char* registered;
        std::uint32_t type;
    };
    for (const Case& c : std::vector<Case>{{"C:\\Acme\\Tool2\\tool2.exe", Registry::typeSz},
                                           {"c:/acme//TOOL2 /tool2.exe", Registry::typeSz},
                                           {"%ACME%\\Tool2\\tool2.exe", Registry::typeExpandSz}}) {
        for (const bool withRows : {true, false}) {
            SCOPED_TRACE(std::string(c.registered) + (withRows ? ", rows" : ", no row"));
            ShellWorld t;
            installSuite(t.w.registry, t.w.fs, withRows);
            registerAs(t.w.registry, tool2Entry, c.type, c.registered);
            t.startUp();
            EXPECT_EQ(t.w.list.rows(),
                      withRows ? (Paths{suite + "\\suite.exe", suite + "\\Help\\suite.hlp"})
                               : Paths{});
            Paths others = t.w.state.otherApplications;
            std::sort(others.begin(), others.end());
            EXPECT_EQ(others, (Paths{suite + "\\Tool2", suite + "\\Tool3"}));
            t.uninstall();
            Paths left = suiteLeft;
            if (!withRows)
                left.erase(left.begin() + 1);
            EXPECT_EQ(t.w.fs.snapshot(suite), left);
            EXPECT_TRUE(t.w.state.keptUnlisted.empty());
            EXPECT_TRUE(t.w.registry.keyExists(tool2Entry));
            EXPECT_TRUE(t.w.registry.keyExists(tool3Entry));
            EXPECT_FALSE(t.w.registry.keyExists(sample::appPathsEntry));
        }
    }
}

// Without a shell, too: the App Paths list is the registry's.
TEST(OtherApplication, LeftOutWithoutAShellAndNamedInTheRunLog) {
    class Lines : public RunLog {
    public:
        void write(std::string_view line) override { lines.emplace_back(line); }
        std::vector<std::string> lines;
    };
    SampleWorld w;
    installSuite(w.registry, w.fs);
    w.registry.setString(tool2Entry, "", suite + "\\Tool2\\tool2.exe");
    Options options;
    options.quiet = true;
    options.appName = sample::exe;
    Lines log;
    EXPECT_EQ(Session(options, w.registry, w.fs, noShell(), &log).runWithoutWindow(), 0)
        << ::testing::PrintToString(log.lines);
    EXPECT_EQ(w.fs.snapshot(suite), suiteLeft);
    for (const char* tool : {"Tool2", "Tool3"}) {
        const std::string line = "Left out: " + suite + "\\" + tool +
                                 ", the folder of another registered application, stays as it is.";
        EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), line), log.lines.end())
            << ::testing::PrintToString(log.lines);
    }
}

// A registered folder is the one the system makes of it, a step back
// resolved; one that is missing leaves nothing out.
TEST(OtherApplication, FolderIsTheOneTheSystemResolves) {
    SampleWorld w;
    w.registry.setString(tool2Entry, "", sample::installdir + "\\Missing\\tool2.exe");
    w.registry.setString(tool3Entry, "", sample::installdir + "\\Help\\..\\Samples\\t.exe");
    w.startUp();
    EXPECT_EQ(w.state.otherApplications, Paths{sample::samplesFolder});
    EXPECT_EQ(w.list.rowCount(), 5u);
    w.uninstall();
    EXPECT_EQ(w.fs.snapshot(sample::installdir),
              (Paths{sample::installdir + "\\", sample::samplesFolder + "\\", sample::sampleData}));
}

// An entry that refuses to be opened as the system's own keys do, or whose
// name the code page cannot hold, is passed over; one that fails otherwise
// cannot be told apart from another application's, and nothing is listed.
TEST(OtherApplication, EntryThatCannotBeReadIsPassedOverOnlyWhenNobodyMayOpenIt) {
    class Refusing : public PassThroughRegistry {
    public:
        Refusing(Registry& inner, Status status) : PassThroughRegistry(inner), status_(status) {}
        Status openKey(Key root, const std::string& path, Key& out) override {
            if (path == tool2Entry)
                return status_;
            return PassThroughRegistry::openKey(root, path, out);
        }

    private:
        Status status_;
    };
    struct Case {
        long status;
        bool refused;
    };
    for (const Case& c : std::vector<Case>{{5, false}, {1113, false}, {2, false}, {1117, true}}) {
        SCOPED_TRACE(c.status);
        SampleWorld w;
        w.registry.setString(tool2Entry, "", sample::samplesFolder + "\\t.exe");
        Refusing registry(w.registry, Registry::Status(c.status));
        const std::string message = errorOf(
            [&] { uninst::startUp(w.state, registry, w.fs, noShell(), sample::exe, w.list); });
        if (c.refused) {
            EXPECT_NE(message.find("Cannot read the registration of tool2.exe (1117), so the "
                                   "uninstaller cannot tell another application's folder"),
                      std::string::npos)
                << message;
            EXPECT_EQ(w.list.rowCount(), 0u);
        } else {
            EXPECT_EQ(message, "(no error)");
            EXPECT_EQ(w.list.rowCount(), 6u);
        }
    }
}

// The list is read whole before its entries: an entry that cannot be read
// is still named before a list that failed to read on past it, and an entry
// refused at its read (not at its open) stops the pass as before.
TEST(OtherApplication, FailuresAreNamedInTheListsOrder) {
    class Failing : public PassThroughRegistry {
    public:
        Failing(Registry& inner, Status open, Status read, Status list)
            : PassThroughRegistry(inner), open_(open), read_(read), list_(list) {}
        Status openKey(Key root, const std::string& path, Key& out) override {
            const Status status = PassThroughRegistry::openKey(root, path, out);
            if (path == tool2Entry && status.isSuccess())
                tool2_ = out;
            if (path == tool2Entry && !open_.isSuccess()) {
                PassThroughRegistry::closeKey(out);
                return open_;
            }
            return status;
        }
        Status readValue(Key key, const std::string& name, Value& out) override {
            if (key == tool2_ && !read_.isSuccess())
                return read_;
            return PassThroughRegistry::readValue(key, name, out);
        }
        Status enumKey(Key key, std::uint32_t index, std::string& name) override {
            const Status status = PassThroughRegistry::enumKey(key, index, name);
            if (status.isNoMoreItems() && !list_.isSuccess())
                return list_;
            return status;
        }

    private:
        Status open_, read_, list_;
        Key tool2_ = 0;
    };
    const Registry::Status ok = Registry::Status::success();
    const Registry::Status broken(1117);
    struct Case {
        Registry::Status open, read, list;
        const char* named;
    };
    for (const Case& c : std::vector<Case>{
             {broken, ok, broken, "the registration of tool2.exe (1117)"},
             {ok, Registry::Status::accessDenied(), ok, "the registration of tool2.exe (5)"},
             {Registry::Status::accessDenied(), ok, broken,
              "the list of registered applications (App Paths) (1117)"},
             {ok, Registry::Status::notFound(), ok, nullptr},
         }) {
        SCOPED_TRACE(c.named == nullptr ? "passed over" : c.named);
        SampleWorld w;
        w.registry.setString(tool2Entry, "", sample::samplesFolder + "\\t.exe");
        Failing registry(w.registry, c.open, c.read, c.list);
        const std::string message = errorOf(
            [&] { uninst::startUp(w.state, registry, w.fs, noShell(), sample::exe, w.list); });
        if (c.named == nullptr) {
            EXPECT_EQ(message, "(no error)");
            continue;
        }
        EXPECT_NE(message.find("Cannot read " + std::string(c.named)), std::string::npos)
            << message;
        EXPECT_EQ(w.list.rowCount(), 0u);
    }
}

// A start-up handed a pass made once places the other applications as one
// that reads App Paths itself; only one for a listing alone goes without the
// registered folders the start-menu steps guard.
TEST(OtherApplication, PassMadeOnceServesARunWholeAndAListingWithoutTheGuardedFolders) {
    SampleWorld w;
    installSuite(w.registry, w.fs);
    w.registry.setString(tool2Entry, "", suite + "\\Tool2\\tool2.exe");
    w.registry.setString(sample::appPathsKey + "\\far.exe", "", "C:\\Far\\far.exe");
    uninst::startUp(w.state, w.registry, w.fs, noShell(), sample::exe, w.list);
    const RegisteredApplications pass = readRegisteredApplications(w.registry, w.fs, nullptr);
    for (const StartUpFor purpose : {StartUpFor::run, StartUpFor::listingOnly}) {
        UninstallState state;
        RowList rows;
        uninst::startUp(state, w.registry, w.fs, noShell(), sample::exe, rows, nullptr, &pass,
                        purpose);
        EXPECT_EQ(state.otherApplications, w.state.otherApplications);
        EXPECT_EQ(rows.rowCount(), w.list.rowCount());
        if (purpose == StartUpFor::run)
            EXPECT_EQ(state.registeredFolders, w.state.registeredFolders);
        else
            EXPECT_TRUE(state.registeredFolders.empty());
    }
    EXPECT_EQ(w.state.otherApplications.size(), 2u);
    const std::vector<std::string>& folders = w.state.registeredFolders;
    EXPECT_NE(std::find(folders.begin(), folders.end(), "C:\\Far"), folders.end())
        << "a folder outside the install folder is guarded too";
}

// No start-menu step removes another registered application's folder, or a
// group holding one, with its files or empty; the run may say it left the
// group, and this application's own things still go.
TEST(OtherApplication, StartMenuGroupHoldingOneKeepsIt) {
    for (const bool empty : {false, true}) {
        SCOPED_TRACE(empty ? "empty" : "with a file");
        SampleWorld w;
        if (empty)
            w.fs.addFolder(sample::groupFolder + "\\Bin");
        else
            w.fs.addFile(sample::groupFolder + "\\Bin\\tool.exe", "tool");
        w.registry.setString(tool2Entry, "", sample::groupFolder + "\\Bin\\tool.exe");
        w.startUp();
        const std::string message = errorOf([&] { w.uninstall(); });
        EXPECT_TRUE(message == "(no error)" ||
                    message.find("was left in place: it holds " + sample::groupFolder + "\\Bin") !=
                        std::string::npos)
            << message;
        EXPECT_TRUE(w.fs.folderExists(sample::groupFolder + "\\Bin"));
        EXPECT_EQ(w.fs.fileExists(sample::groupFolder + "\\Bin\\tool.exe"), !empty);
        EXPECT_FALSE(w.fs.exists(sample::installdir));
        EXPECT_FALSE(w.registry.keyExists(sample::appPathsEntry));
        EXPECT_TRUE(w.registry.keyExists(tool2Entry));
    }
}

// In a Programs folder only emptied folders go; one that is another
// application's registered folder stays even when empty.
TEST(OtherApplication, EmptyRegisteredFolderInAProgramsFolderStays) {
    ShellWorld t;
    const std::string group = MemoryShell::userPrograms + "\\MyApp";
    t.shell.addShortcut(group + "\\My App.lnk", sample::exeFile);
    t.w.fs.addFolder(group + "\\Tool");
    t.w.registry.setString(tool2Entry, "", group + "\\Tool\\tool.exe");
    t.startUp();
    t.uninstall();
    EXPECT_FALSE(t.w.fs.exists(group + "\\My App.lnk"));
    EXPECT_TRUE(t.w.fs.exists(group + "\\Tool"));
}

} // namespace
} // namespace uninst::test
