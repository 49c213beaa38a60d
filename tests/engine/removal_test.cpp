#include "engine/removal.h"

#include "engine/error.h"
#include "engine/inventory.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/recording_ports.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

using Paths = std::vector<std::string>;

// A tree under C:\App taken stock of by the inventory, as at start-up.
struct Tree {
    MemoryFileSystem fs;
    UninstallState state;
    RecordingList list;

    explicit Tree(std::initializer_list<std::string> files, Paths folders = {}) {
        fs.addFolder("C:\\App");
        for (const std::string& f : folders)
            fs.addFolder("C:\\App\\" + f);
        for (const std::string& f : files)
            fs.addFile("C:\\App\\" + f);
    }
    void inventory() { listfolder(state, fs, "C:\\App", list); }
    void keep(const std::string& file) { ASSERT_TRUE(list.mark("C:\\App\\" + file)) << file; }
    // As the run does it: the folders that held the deleted files are
    // asked first, then the walk settles the rest.
    void remove() {
        const Paths deleted = filesToDelete(state, list);
        deletefiles(state, fs, deleted, {});
        sweepfolders(state, fs, "C:\\App", deleted);
    }
    // What is left below C:\App, names relative to it, folders with "\".
    Paths left() const {
        Paths result;
        for (const std::string& entry : fs.snapshot("C:\\App"))
            result.push_back(entry.size() > 7 ? entry.substr(7) : "");
        return result;
    }
};

// A run with the rows named kept, and what it leaves below C:\App.
struct KeepCase {
    const char* what;
    Paths keep;
    Paths left;
};

// The message deletefiles stops with, or empty when it does not stop.
std::string deleteError(Tree& t) {
    try {
        deletefiles(t.state, t.fs, filesToDelete(t.state, t.list), {});
    } catch (const Error& e) {
        return e.what();
    }
    return {};
}

Paths sorted(Paths paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(DeleteFiles, UnmarkedFilesThenTheLog) {
    const std::vector<KeepCase> cases = {
        {"nothing marked", {}, {"", "Sub\\"}},
        {"everything marked",
         {"a.txt", "b.txt", "Sub\\c.txt"},
         {"", "Sub\\", "Sub\\c.txt", "a.txt", "b.txt"}},
        {"one marked", {"b.txt"}, {"", "Sub\\", "b.txt"}},
    };
    for (const KeepCase& c : cases) {
        SCOPED_TRACE(c.what);
        Tree t({"a.txt", "b.txt", "ST6UNST.LOG", "Sub\\c.txt"});
        t.inventory();
        for (const std::string& k : c.keep)
            t.keep(k);
        deletefiles(t.state, t.fs, filesToDelete(t.state, t.list), {});
        EXPECT_EQ(t.left(), sorted(c.left));
        EXPECT_EQ(t.list.rowCount(), 3u);
    }
}

TEST(DeleteFiles, EmptyListDeletesOnlyTheLog) {
    Tree t({"ST6UNST.LOG", "st6unst.000"});
    t.inventory();
    deletefiles(t.state, t.fs, filesToDelete(t.state, t.list), {});
    EXPECT_EQ(t.left(), (Paths{"", "st6unst.000"}));
}

TEST(DeleteFiles, InstallLogGoesEvenWhenLogpathNamesAnotherToolkitFile) {
    struct Case {
        const char* what;
        Paths files;
        std::string logpath;
        Paths left;
    };
    const std::vector<Case> cases = {
        {"another toolkit file met later",
         {"ST6UNST.LOG", "Sub\\ST6UNST.000"},
         "Sub\\ST6UNST.000",
         {"", "Sub\\"}},
        {"the log itself, in other letter case", {"St6Unst.Log"}, "St6Unst.Log", {""}},
        {"another toolkit file and no log",
         {"Sub\\st6unst.exe"},
         "Sub\\st6unst.exe",
         {"", "Sub\\"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree t({"a.txt"});
        for (const std::string& f : c.files)
            t.fs.addFile("C:\\App\\" + f);
        t.state.installdir = "C:\\App";
        t.inventory();
        ASSERT_EQ(t.state.logpath, "C:\\App\\" + c.logpath);
        deletefiles(t.state, t.fs, filesToDelete(t.state, t.list), {});
        EXPECT_EQ(t.left(), c.left);
    }
}

// A folder that tells letter case apart (the host side under Wine, or a
// Windows folder with case sensitivity turned on) may hold the install log
// twice. Both go, as listed: the twin left would be read by a later run,
// which would lower every count a second time.
TEST(DeleteFiles, InstallLogTwinsInAnotherLetterCaseBothGo) {
    UninstallState state;
    state.installdir = "C:\\App";
    state.toolkitFiles = {"C:\\App\\ST6UNST.LOG", "C:\\App\\st6unst.log",
                          "C:\\App\\Sub\\ST6UNST.000"};
    state.logpath = "C:\\App\\Sub\\ST6UNST.000";
    const RecordingList list;
    EXPECT_EQ(filesToDelete(state, list),
              (Paths{"C:\\App\\Sub\\ST6UNST.000", "C:\\App\\ST6UNST.LOG", "C:\\App\\st6unst.log"}));
    state.toolkitFiles.pop_back();
    state.logpath = "C:\\App\\st6unst.log";
    EXPECT_EQ(filesToDelete(state, list), (Paths{"C:\\App\\st6unst.log", "C:\\App\\ST6UNST.LOG"}));
}

TEST(DeleteFiles, FilesAlreadyGoneCountAsDeleted) {
    Tree t({"a.txt", "b.txt", "ST6UNST.LOG"});
    t.inventory();
    t.fs.deleteFile("C:\\App\\a.txt");
    deletefiles(t.state, t.fs, filesToDelete(t.state, t.list), {});
    EXPECT_EQ(t.left(), Paths{""});
    EXPECT_NO_THROW(deletefiles(t.state, t.fs, filesToDelete(t.state, t.list), {}));
}

TEST(DeleteFiles, FileThatRefusesStopsBeforeTheLogNamingIt) {
    for (bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only" : "in use");
        Tree t({"a.txt", "b.txt", "c.txt", "ST6UNST.LOG"});
        t.inventory();
        if (readOnly)
            t.fs.setReadOnly("C:\\App\\b.txt");
        else
            t.fs.setInUse("C:\\App\\b.txt");
        const std::string error = deleteError(t);
        EXPECT_NE(error.find("C:\\App\\b.txt"), std::string::npos) << error;
        EXPECT_EQ(t.left(), (Paths{"", "ST6UNST.LOG", "b.txt", "c.txt"}));
    }
}

TEST(DeleteFiles, NoLogFoundAtStartUpFailsBeforeAnyFile) {
    Tree t({"a.txt"});
    t.inventory();
    t.fs.addFile("C:\\App\\ST6UNST.LOG");
    const std::string error = deleteError(t);
    EXPECT_NE(error.find("install log"), std::string::npos) << error;
    EXPECT_EQ(t.left(), (Paths{"", "ST6UNST.LOG", "a.txt"}));
}

TEST(SweepFolders, FoldersLeftWithoutFiles) {
    // Inventory order: a.txt, A\a1.txt, A\Deep\d.txt, B\b.txt, B\Last\l.txt;
    // lastsubpath is C:\App\B\Last.
    const std::vector<KeepCase> cases = {
        {"nothing kept: install folder goes, taking the empty last sub-folder", {}, {}},
        {"file kept in the install folder: the empty last sub-folder goes with its parent",
         {"a.txt"},
         {"", "a.txt"}},
        {"kept file deep down keeps every folder above it, siblings go",
         {"A\\Deep\\d.txt"},
         {"", "A\\", "A\\Deep\\", "A\\Deep\\d.txt"}},
        {"kept file in the last sub-folder keeps it and its parents",
         {"B\\Last\\l.txt"},
         {"", "B\\", "B\\Last\\", "B\\Last\\l.txt"}},
        {"kept file beside the last sub-folder: the empty last sub-folder stays",
         {"B\\b.txt"},
         {"", "B\\", "B\\Last\\", "B\\b.txt"}},
    };
    for (const KeepCase& c : cases) {
        SCOPED_TRACE(c.what);
        Tree t(
            {"a.txt", "ST6UNST.LOG", "A\\a1.txt", "A\\Deep\\d.txt", "B\\b.txt", "B\\Last\\l.txt"},
            {"A\\Empty"});
        t.inventory();
        ASSERT_EQ(t.state.lastsubpath, "C:\\App\\B\\Last");
        for (const std::string& k : c.keep)
            t.keep(k);
        t.remove();
        EXPECT_EQ(t.left(), sorted(c.left));
    }
}

TEST(SweepFolders, LastsubpathComparisonIsExact) {
    for (const std::string lastsubpath : {"C:\\App\\Sub", "C:\\App\\SUB"}) {
        SCOPED_TRACE(lastsubpath);
        Tree t({"a.txt", "Sub\\s.txt", "ST6UNST.LOG"});
        t.inventory();
        t.keep("a.txt");
        t.state.lastsubpath = lastsubpath;
        t.remove();
        if (lastsubpath == "C:\\App\\Sub")
            EXPECT_EQ(t.left(), (Paths{"", "Sub\\", "a.txt"}));
        else
            EXPECT_EQ(t.left(), (Paths{"", "a.txt"}));
    }
}

TEST(SweepFolders, LogpathIsTheLastToolkitFileNotNecessarilyTheLog) {
    Tree t({"ST6UNST.LOG", "Sub\\st6unst.001", "Sub\\x.txt"});
    t.inventory();
    t.remove();
    EXPECT_EQ(t.left(), (Paths{"", "ST6UNST.LOG", "Sub\\"}));
    EXPECT_FALSE(t.fs.exists("C:\\App\\Sub\\st6unst.001"));
}

TEST(SweepFolders, LinkIsNeverEnteredOrDeletedAndKeepsItsParents) {
    Tree t({"a.txt", "ST6UNST.LOG", "Tools\\t.exe", "Tools\\Inner\\i.dat"}, {"Other"});
    t.fs.addFile("D:\\Shared\\precious.doc");
    t.fs.addFolder("D:\\Shared\\Empty");
    t.fs.addLink("C:\\App\\Tools\\Inner\\Docs", "D:\\Shared");
    t.inventory();
    EXPECT_EQ(t.list.rowCount(), 3u);
    t.remove();
    EXPECT_EQ(t.left(),
              (Paths{"", "Tools\\", "Tools\\Inner\\", "Tools\\Inner\\Docs -> D:\\Shared"}));
    EXPECT_TRUE(t.fs.fileExists("D:\\Shared\\precious.doc"));
    EXPECT_TRUE(t.fs.exists("D:\\Shared\\Empty"));
}

TEST(SweepFolders, InstallFolderThatIsGoneFails) {
    UninstallState state;
    MemoryFileSystem fs;
    EXPECT_THROW(sweepfolders(state, fs, "C:\\App"), Error);
}

TEST(SweepFolders, AFileOrLinkDeepBelowKeepsOnlyTheFoldersLeadingToIt) {
    {
        Tree t({}, {"A\\B", "C"});
        sweepfolders(t.state, t.fs, "C:\\App");
        EXPECT_FALSE(t.fs.exists("C:\\App"));
    }
    {
        Tree t({"A\\B\\kept.txt"}, {"C"});
        sweepfolders(t.state, t.fs, "C:\\App");
        EXPECT_EQ(t.left(), (Paths{"", "A\\", "A\\B\\", "A\\B\\kept.txt"}));
    }
    {
        Tree t({}, {"A"});
        t.fs.addFolder("D:\\Target");
        t.fs.addLink("C:\\App\\A\\L", "D:\\Target");
        sweepfolders(t.state, t.fs, "C:\\App");
        EXPECT_TRUE(t.fs.exists("C:\\App\\A"));
    }
}

TEST(SweepFolders, RefusingFolderStopsTheSweep) {
    Tree t({"ST6UNST.LOG", "Sub\\a.txt"});
    t.inventory();
    t.fs.addFolder("C:\\App\\Locked");
    t.fs.setReadOnly("C:\\App\\Locked");
    t.state.lastsubpath = "";
    deletefiles(t.state, t.fs, filesToDelete(t.state, t.list), {});
    EXPECT_THROW(sweepfolders(t.state, t.fs, "C:\\App"), Error);
    EXPECT_TRUE(t.fs.exists("C:\\App"));
}

TEST(SweepFolders, DeepTreeWithManyEmptyFolders) {
    MemoryFileSystem fs;
    UninstallState state;
    std::string folder = "C:\\App";
    for (int depth = 0; depth < 300; ++depth) {
        folder += "\\d";
        fs.addFolder(folder + "\\e");
    }
    fs.addFile(folder + "\\kept.txt");
    sweepfolders(state, fs, "C:\\App");
    EXPECT_TRUE(fs.fileExists(folder + "\\kept.txt"));
    EXPECT_FALSE(fs.exists("C:\\App\\d\\e"));
    EXPECT_FALSE(fs.exists(folder + "\\e"));
}

TEST(SweepFolders, EmptyFoldersWithoutSubFoldersAreNotListed) {
    Tree t({"A\\B\\kept.txt"}, {"A\\Empty1", "A\\Empty2", "A\\B\\Empty3", "C", "Last"});
    t.state.lastsubpath = "C:\\App\\Last";
    RecordingFileSystem recording(t.fs);
    sweepfolders(t.state, recording, "C:\\App");
    Paths listed;
    for (const std::string& call : recording.history()) {
        if (call.rfind("list folder ", 0) == 0)
            listed.push_back(call.substr(12));
    }
    EXPECT_EQ(t.left(), (Paths{"", "A\\", "A\\B\\", "A\\B\\kept.txt", "Last\\"}));
    // Only folders that hold something, and the one the inventory entered
    // last, which is kept even when empty, need a look inside.
    EXPECT_EQ(listed, (Paths{"C:\\App", "C:\\App\\A", "C:\\App\\A\\B", "C:\\App\\Last"}));
}

// The folders the deleted files left empty go level by level without being
// listed; a folder that holds a kept file, a file saved since or the
// last-entered folder refuses, and the walk settles it as before.
TEST(SweepFolders, FoldersTheDeletionEmptiedGoWithoutAListing) {
    Tree t({"ST6UNST.LOG", "A\\B\\x.txt", "A\\B\\C\\y.txt", "A\\keep.txt", "D\\z.txt",
            "E\\F\\w.txt", "Last\\v.txt"},
           {"Empty"});
    t.inventory();
    t.keep("A\\keep.txt");
    t.state.lastsubpath = "C:\\App\\Last";
    const Paths deleted = filesToDelete(t.state, t.list);
    deletefiles(t.state, t.fs, deleted, {});
    t.fs.addFile("C:\\App\\D\\saved since.txt");

    RecordingFileSystem recording(t.fs);
    sweepfolders(t.state, recording, "C:\\App", deleted);
    Paths listed;
    for (const std::string& call : recording.history()) {
        if (call.rfind("list folder ", 0) == 0)
            listed.push_back(call.substr(12));
    }
    EXPECT_EQ(t.left(), (Paths{"", "A\\", "A\\keep.txt", "D\\", "D\\saved since.txt", "Last\\"}));
    EXPECT_EQ(listed, (Paths{"C:\\App", "C:\\App\\A", "C:\\App\\D", "C:\\App\\Last"}));
}

TEST(SweepFolders, InstallFolderTheDeletionEmptiedGoesWithoutAWalk) {
    Tree t({"ST6UNST.LOG", "A\\x.txt", "A\\B\\y.txt"});
    t.inventory();
    t.state.lastsubpath = "";
    const Paths deleted = filesToDelete(t.state, t.list);
    deletefiles(t.state, t.fs, deleted, {});
    RecordingFileSystem recording(t.fs);
    sweepfolders(t.state, recording, "C:\\App", deleted);
    EXPECT_FALSE(t.fs.exists("C:\\App"));
    for (const std::string& call : recording.history())
        EXPECT_NE(call.rfind("list folder ", 0), 0u) << call;
}

} // namespace
} // namespace uninst::test
