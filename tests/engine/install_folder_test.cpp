// The install folder and the group are judged as the system will read them,
// every path the run hands the file system is built from those resolved
// folders, and nothing the user was never shown is deleted.
#include "engine/error.h"
#include "engine/run.h"
#include "engine/system_paths.h"
#include "tests/faults/faulty_ports.h"
#include "tests/support/error_text.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

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
        formLoad(w.state, w.registry, fs, sample::exe, w.list);
        ASSERT_TRUE(w.list.mark(sample::dataFile));
        command4Click(w.state, w.registry, fs, w.list, w.progress);

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

} // namespace
} // namespace uninst::test
