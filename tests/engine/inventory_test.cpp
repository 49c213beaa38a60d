#include "engine/inventory.h"

#include "engine/error.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/pass_through_ports.h"
#include "tests/support/recording_ports.h"
#include "tests/support/sample_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

using Rows = std::vector<std::string>;

struct Inventory {
    MemoryFileSystem fs;
    UninstallState state;
    RecordingList list;

    void addFiles(std::initializer_list<const char*> paths) {
        for (const char* path : paths)
            fs.addFile(path);
    }
    void run(const std::string& path = "C:\\App") { listfolder(state, fs, path, list); }
};

TEST(Inventory, ListsDepthFirstOwnFilesBeforeEachSubTree) {
    Inventory t;
    t.addFiles({"C:\\App\\b.txt", "C:\\App\\a.txt", "C:\\App\\One\\x.dat",
                "C:\\App\\One\\Deep\\y.dat", "C:\\App\\One\\z.dat", "C:\\App\\Two\\w.dat"});
    t.run();
    EXPECT_EQ(t.list.rows(),
              (Rows{"C:\\App\\a.txt", "C:\\App\\b.txt", "C:\\App\\One\\x.dat",
                    "C:\\App\\One\\z.dat", "C:\\App\\One\\Deep\\y.dat", "C:\\App\\Two\\w.dat"}));
    EXPECT_EQ(t.state.lastsubpath, "C:\\App\\Two");
    EXPECT_EQ(t.state.logpath, "");
}

TEST(Inventory, LeavesOutEveryToolkitFileWhateverItsCase) {
    struct Case {
        std::string name;
        bool listed;
    };
    const std::vector<Case> cases = {
        {"ST6UNST.LOG", false}, {"st6unst.exe", false}, {"St6UnSt001.tmp", false},
        {"ST6UNST", false},     {"ST6UNS.LOG", true},   {"myST6UNST.LOG", true},
        {"ST6UNS", true},       {"ST6UNŠT.LOG", true},
    };
    for (const Case& c : cases) {
        Inventory t;
        t.fs.addFile("C:\\App\\" + c.name);
        t.run();
        SCOPED_TRACE(c.name);
        EXPECT_EQ(t.list.rowCount(), c.listed ? 1u : 0u);
        EXPECT_EQ(t.state.logpath, c.listed ? "" : "C:\\App\\" + c.name);
    }
}

TEST(Inventory, LogpathIsTheLastToolkitFileMetInTheWalk) {
    Inventory t;
    t.addFiles({"C:\\App\\ST6UNST.LOG", "C:\\App\\st6unst.000", "C:\\App\\Sub\\ST6UNST.EXE",
                "C:\\App\\Sub\\tool.exe"});
    t.run();
    EXPECT_EQ(t.state.logpath, "C:\\App\\Sub\\ST6UNST.EXE");
    EXPECT_EQ(t.list.rows(), Rows{"C:\\App\\Sub\\tool.exe"});
}

TEST(Inventory, LastsubpathFollowsTheLastSubFolderDownToTheBottom) {
    Inventory t;
    t.fs.addFolder("C:\\App\\A\\Inner");
    t.fs.addFolder("C:\\App\\B\\X");
    t.fs.addFolder("C:\\App\\B\\Y\\Bottom");
    t.fs.addFile("C:\\App\\B\\Y\\f.txt");
    t.run();
    EXPECT_EQ(t.state.lastsubpath, "C:\\App\\B\\Y\\Bottom");
}

TEST(Inventory, FolderWithoutSubFoldersLeavesLastsubpathEmpty) {
    Inventory t;
    t.fs.addFile("C:\\App\\a.txt");
    t.run();
    EXPECT_EQ(t.state.lastsubpath, "");
}

TEST(Inventory, EmptyOrToolkitOnlyFolderGivesAnEmptyList) {
    Inventory empty;
    empty.fs.addFolder("C:\\App");
    empty.run();
    EXPECT_EQ(empty.list.rowCount(), 0u);

    Inventory toolkit;
    toolkit.fs.addFile("C:\\App\\ST6UNST.LOG");
    toolkit.run();
    EXPECT_EQ(toolkit.list.rowCount(), 0u);
    EXPECT_EQ(toolkit.state.logpath, "C:\\App\\ST6UNST.LOG");
}

TEST(Inventory, LinkIsNeitherEnteredNorListedNorLastsubpath) {
    Inventory t;
    t.addFiles({"C:\\Users\\me\\Documents\\letter.doc", "C:\\Users\\me\\Documents\\ST6UNST.LOG",
                "C:\\App\\a.txt"});
    t.fs.addFolder("C:\\App\\Real");
    t.fs.addLink("C:\\App\\Zlink", "C:\\Users\\me\\Documents");
    t.run();
    EXPECT_EQ(t.list.rows(), Rows{"C:\\App\\a.txt"});
    EXPECT_EQ(t.state.lastsubpath, "C:\\App\\Real");
    EXPECT_EQ(t.state.logpath, "");
}

// Another registered application's folder is left out as a link is, its
// toolkit log with it: that log is the other application's to read.
TEST(Inventory, OtherApplicationsFolderIsNeitherEnteredNorListedNorLastsubpath) {
    Inventory t;
    t.addFiles({"C:\\App\\a.txt", "C:\\App\\ST6UNST.LOG", "C:\\App\\Real\\r.txt",
                "C:\\App\\Tool2\\tool2.exe", "C:\\App\\Tool2\\ST6UNST.LOG"});
    t.state.otherApplications = {"C:\\APP\\tool2"};
    t.run();
    EXPECT_EQ(t.list.rows(), (Rows{"C:\\App\\a.txt", "C:\\App\\Real\\r.txt"}));
    EXPECT_EQ(t.state.lastsubpath, "C:\\App\\Real");
    EXPECT_EQ(t.state.logpath, "C:\\App\\ST6UNST.LOG");
    EXPECT_EQ(t.state.toolkitFiles, Rows{"C:\\App\\ST6UNST.LOG"});
}

TEST(Inventory, MissingOrEmptyFolderThrows) {
    Inventory t;
    EXPECT_THROW(t.run("C:\\Nowhere"), Error);
    EXPECT_THROW(t.run(""), Error);
}

// The folders are listed ahead of the walk, several together, but a folder
// that cannot be listed stops the walk where a walk one folder at a time
// meets it: after the rows of every folder before it, and with its own
// failure, not that of a shallower folder met later.
TEST(Inventory, AnUnreadableFolderStopsTheWalkWhereItsTurnComes) {
    class Unreadable final : public PassThroughFileSystem {
    public:
        using PassThroughFileSystem::PassThroughFileSystem;
        FolderListing listFolder(const std::string& path) override {
            if (path == "C:\\App\\A\\Deep" || path == "C:\\App\\B")
                throw Error::cannot("open folder", path, "Access is denied.");
            return inner().listFolder(path);
        }
        std::vector<ListedFolder> listFolders(const std::vector<std::string>& paths) override {
            return FileSystemReader::listFolders(paths);
        }
    };
    Inventory t;
    t.addFiles({"C:\\App\\a.txt", "C:\\App\\A\\x.txt", "C:\\App\\A\\Deep\\y.txt",
                "C:\\App\\A\\Deep\\Deeper\\z.txt", "C:\\App\\B\\w.txt"});
    Unreadable fs(t.fs);
    try {
        listfolder(t.state, fs, "C:\\App", t.list);
        ADD_FAILURE() << "the walk went past a folder it could not list";
    } catch (const Error& error) {
        EXPECT_NE(std::string(error.what()).find("C:\\App\\A\\Deep"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(t.list.rows(), (Rows{"C:\\App\\a.txt", "C:\\App\\A\\x.txt"}));
    EXPECT_EQ(t.state.lastsubpath, "C:\\App\\A\\Deep");
}

// However wide the tree, the walk lists only a few hundred folders ahead of
// the rows it hands out: a tree of 300,000 files would otherwise be held
// twice over, once listed and once shown, and the window would show nothing
// until the last folder was read.
TEST(Inventory, ListingStaysAFewHundredFoldersAheadOfTheRows) {
    class Counting final : public PassThroughFileSystem {
    public:
        using PassThroughFileSystem::PassThroughFileSystem;
        std::vector<ListedFolder> listFolders(const std::vector<std::string>& paths) override {
            listed += paths.size();
            return PassThroughFileSystem::listFolders(paths);
        }
        std::size_t listed = 0;
    };
    class Watching final : public RecordingList {
    public:
        explicit Watching(const Counting& fs) : fs_(fs) {}
        void addRow(const std::string& path) override {
            // One file in every folder: the rows count the folders handed out.
            farthest = std::max(farthest, fs_.listed - rowCount());
            RecordingList::addRow(path);
        }
        std::size_t farthest = 0;

    private:
        const Counting& fs_;
    };
    Inventory t;
    t.fs.addFile("C:\\App\\top.txt");
    for (int wide = 0; wide < 40; ++wide) {
        const std::string folder = "C:\\App\\W" + std::to_string(100 + wide);
        t.fs.addFile(folder + "\\w.txt");
        for (int deep = 0; deep < 40; ++deep)
            t.fs.addFile(folder + "\\D" + std::to_string(100 + deep) + "\\d.txt");
    }
    Counting fs(t.fs);
    Watching rows(fs);
    listfolder(t.state, fs, "C:\\App", rows);
    ASSERT_EQ(rows.rowCount(), 1u + 40 + 40 * 40);
    EXPECT_EQ(fs.listed, rows.rowCount());
    EXPECT_LE(rows.farthest, 300u);
}

TEST(Inventory, SampleApplication) {
    SampleWorld w;
    listfolder(w.state, w.fs, sample::installdir, w.list);
    EXPECT_EQ(w.list.rows(), (Rows{sample::dataFile, sample::exeFile, sample::readme,
                                   sample::helpFile, sample::logo, sample::sampleData}));
    EXPECT_EQ(w.state.logpath, sample::log);
    EXPECT_EQ(w.state.lastsubpath, sample::samplesFolder);
}

TEST(Inventory, ThirtyThousandFiles) {
    Inventory t;
    for (int folder = 0; folder < 30; ++folder) {
        const std::string path = "C:\\App\\f" + std::to_string(100 + folder);
        for (int i = 0; i < 1000; ++i)
            t.fs.addFile(path + "\\file" + std::to_string(1000 + i) + ".dat");
    }
    t.run();
    ASSERT_EQ(t.list.rowCount(), 30000u);
    EXPECT_EQ(t.list.rowText(0), "C:\\App\\f100\\file1000.dat");
    EXPECT_EQ(t.list.rowText(29999), "C:\\App\\f129\\file1999.dat");
}

TEST(Inventory, DeepChainKeepsDepthFirstOrder) {
    Inventory t;
    std::string folder = "C:\\App";
    Rows expected;
    for (int depth = 0; depth < 200; ++depth) {
        folder += "\\d";
        t.fs.addFile(folder + "\\f");
        t.fs.addFile(folder + "\\z\\g");
        expected.push_back(folder + "\\f");
    }
    for (int depth = 0; depth < 200; ++depth) {
        expected.push_back(folder + "\\z\\g");
        folder.resize(folder.size() - 2);
    }
    t.run();
    EXPECT_EQ(t.list.rows(), expected);
    EXPECT_EQ(t.state.lastsubpath, "C:\\App\\d\\z");
}

} // namespace
} // namespace uninst::test
