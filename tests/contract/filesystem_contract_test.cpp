// What the engine relies on from the file-system layer. The same tests run
// against the in-memory file system and, under Wine, against the real one.

#include "engine/error.h"
#include "tests/contract/world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

// Whether `action` threw Error, and its message.
struct Thrown {
    bool threw = false;
    std::string message;
};

Thrown capture(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return {true, error.what()};
    }
    return {};
}

std::vector<std::string> sorted(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    return items;
}

// "free7.txt": a name with a number in it, built by appending (the
// cross-compiler's optimiser warns, wrongly, of overlapping copies when a
// number's text is put after a literal).
std::string numbered(const char* stem, int number, const char* extension) {
    std::string name(stem);
    name += std::to_string(number);
    name += extension;
    return name;
}

std::vector<std::string> folderPaths(const FolderListing& listing) {
    std::vector<std::string> paths;
    for (const auto& folder : listing.subFolders)
        paths.push_back(folder.path);
    return paths;
}

class FileSystemContract : public ::testing::Test {
protected:
    void SetUp() override {
        world_ = makeContractWorld();
        root_ = world_->folderRoot();
    }

    FileSystem& fs() { return world_->fs(); }
    std::string at(const std::string& relative) { return root_ + "\\" + relative; }

    std::unique_ptr<ContractWorld> world_;
    std::string root_;
};

// What a run asks at its end: which listed files are still at their path.
// Exactly as listed, below the folder given, never through a link: what a
// link leads to is not the application's, whether or not it exists.
TEST_F(FileSystemContract, FilesStillThereAreThoseStandingAtTheirPathAndNoLink) {
    world_->createFile(at("App\\kept.mdb"), "kept");
    world_->createFile(at("App\\Sub\\left.txt"), "left");
    world_->createFile(at("Elsewhere\\other.txt"), "someone else's");
    world_->createFolderLink(at("App\\Linked"), at("Elsewhere"));
    const bool fileLink = world_->createFileLink(at("App\\link.txt"), at("Elsewhere\\other.txt"));
    const std::vector<std::string> left = fs().filesStillThere(
        at("App"),
        {at("App\\kept.mdb"), at("App\\KEPT.MDB"), at("App\\gone.txt"), at("App\\Sub\\left.txt"),
         at("App\\Linked\\other.txt"), at("App\\link.txt"), at("App\\Missing\\b.txt")});
    EXPECT_EQ(left, (std::vector<std::string>{at("App\\kept.mdb"), at("App\\Sub\\left.txt")}))
        << (fileLink ? "with a file link" : "without a file link");
    EXPECT_TRUE(fs().filesStillThere(at("Gone"), {at("Gone\\a.txt")}).empty());
}

// The batch forms answer as their one-file forms do, in the order given,
// however many questions or deletions the layer runs at once. The batches
// are large enough for the Win32 layer to run them on several threads.
constexpr int batchSize = 100;

TEST_F(FileSystemContract, BatchCheckAnswersEachFileInTheOrderGivenAndChangesNothing) {
    const std::string locked = at("App\\locked.dll");
    world_->createFile(locked, "x");
    world_->makeReadOnly(locked);
    world_->createFolder(at("App\\Sub"));
    std::vector<std::string> paths;
    std::vector<Deletable> expected;
    for (int i = 0; i < batchSize; ++i) {
        paths.push_back(at(numbered("App\\free", i, ".txt")));
        world_->createFile(paths.back(), "x");
        expected.push_back(Deletable::yes);
        if (i == 7) {
            paths.push_back(locked);
            expected.push_back(Deletable::refused);
        } else if (i == 19) {
            paths.push_back(at("App\\missing.txt"));
            expected.push_back(Deletable::missing);
        } else if (i == 31) {
            paths.push_back(at("App\\Sub"));
            expected.push_back(Deletable::refused);
        }
    }

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first asked" : "asked again");
        const std::vector<DeleteCheck> checks = fs().checkDeletes(paths);
        ASSERT_EQ(checks.size(), paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            EXPECT_EQ(checks[i].answer, expected[i]) << paths[i];
            if (expected[i] == Deletable::refused) {
                EXPECT_NE(checks[i].reason.find(paths[i]), std::string::npos) << checks[i].reason;
            }
        }
    }
    EXPECT_TRUE(fs().checkDeletes({}).empty());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(fs().checkDelete(paths[i]).answer, expected[i]) << paths[i];
        if (expected[i] == Deletable::yes) {
            EXPECT_TRUE(world_->fileExists(paths[i])) << "changed by a check: " << paths[i];
        }
    }
    EXPECT_TRUE(world_->fileExists(locked));
    EXPECT_TRUE(world_->folderExists(at("App\\Sub")));
}

TEST_F(FileSystemContract, BatchDeletionRemovesEachFileAndAnswersInTheOrderGiven) {
    world_->createFile(at("Elsewhere\\other.txt"), "someone else's");
    world_->createFolderLink(at("App\\Linked"), at("Elsewhere"));
    fs().setRemovalRoots({at("App")});
    std::vector<std::string> paths;
    for (int i = 0; i < batchSize; ++i) {
        paths.push_back(at(numbered("App\\Data\\file", i, ".dat")));
        world_->createFile(paths.back(), "x");
    }
    // Half of them asked about first, as the pre-flight asks before the run
    // deletes: a layer may keep what it learnt for the deletion.
    const std::vector<std::string> checked(paths.begin(), paths.begin() + batchSize / 2);
    for (const DeleteCheck& check : fs().checkDeletes(checked))
        EXPECT_EQ(check.answer, Deletable::yes);
    paths.insert(paths.begin() + 10, at("App\\missing.txt"));
    paths.insert(paths.begin() + 30, at("App\\Linked\\other.txt"));

    const FileRemovals removed = fs().deleteFiles(paths);

    EXPECT_FALSE(removed.failure) << *removed.failure;
    ASSERT_EQ(removed.removals.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const bool there = i != 10 && i != 30;
        EXPECT_EQ(removed.removals[i], there ? Removal::removed : Removal::notFound) << paths[i];
        EXPECT_FALSE(world_->fileExists(paths[i]) && there) << "still there: " << paths[i];
    }
    EXPECT_TRUE(world_->fileExists(at("Elsewhere\\other.txt")));
    EXPECT_TRUE(fs().deleteFiles({}).removals.empty());
}

// After a failure no further deletion starts: each file answered for is gone,
// each not reached still stands, and the failure names the file that failed.
TEST_F(FileSystemContract, BatchDeletionStopsAtAFailureNamingThatFile) {
    const std::string locked = at("App\\locked.dll");
    std::vector<std::string> paths;
    for (int i = 0; i < batchSize; ++i) {
        if (i == 10) {
            world_->createFile(locked, "x");
            world_->makeReadOnly(locked);
            paths.push_back(locked);
        }
        paths.push_back(at(numbered("App\\file", i, ".dat")));
        world_->createFile(paths.back(), "x");
    }

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first batch" : "the same batch again");
        const FileRemovals removed = fs().deleteFiles(paths);
        ASSERT_TRUE(removed.failure);
        EXPECT_NE(removed.failure->find(locked), std::string::npos) << *removed.failure;
        ASSERT_EQ(removed.removals.size(), paths.size());
        EXPECT_FALSE(removed.removals[10]);
        EXPECT_TRUE(world_->fileExists(locked));
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (removed.removals[i]) {
                EXPECT_FALSE(world_->fileExists(paths[i]))
                    << "answered for, still there: " << paths[i];
            } else {
                EXPECT_TRUE(world_->fileExists(paths[i]) || round == 1)
                    << "not reached, yet gone: " << paths[i];
            }
        }
        // The deletions under way when the failure came may finish, but no
        // other starts: far down the batch, files stand unreached.
        const auto unreached =
            std::count_if(removed.removals.begin() + 11, removed.removals.end(),
                          [](const std::optional<Removal>& removal) { return !removal; });
        EXPECT_GT(unreached, 0);
    }
}

// Two spellings fold alike exactly when they open the same file: the keep
// patterns rely on it to compare as the system does.
TEST_F(FileSystemContract, NamesFoldAlikeExactlyWhenTheyNameTheSameFile) {
    const std::pair<std::string, std::string> spellings[] = {
        {"Έγγραφα", "έγγραφα"},     {"ΣΗΜΕΊΩΣΗ.TXT", "σημείωση.txt"},
        {"Ґрунт.dat", "ґрунт.dat"}, {"Ǎ.txt", "ǎ.TXT"},
        {"Ệ.txt", "ệ.txt"},         {"ＤＡＴＡ", "ｄａｔａ"},
    };
    for (const auto& [created, other] : spellings) {
        SCOPED_TRACE(created);
        world_->createFile(at(created), "x");
        EXPECT_TRUE(world_->fileExists(at(other)));
        EXPECT_EQ(fs().foldCase(at(created)), fs().foldCase(at(other)));
    }
    // Other letters, and one letter for two, are other names.
    EXPECT_NE(fs().foldCase("cafe"), fs().foldCase("café"));
    EXPECT_NE(fs().foldCase("STRASSE"), fs().foldCase("straße"));
    EXPECT_EQ(fs().foldCase("a\\b/c.TXT"), fs().foldCase("A\\B/C.txt"));
}

TEST_F(FileSystemContract, ListingReportsEachItemOnceWithFullPathsFilesApartFromFolders) {
    world_->createFile(at("b.txt"), "b");
    world_->createFile(at("A.dll"), "a");
    world_->createFile(at("c.INI"), "c");
    world_->createFolder(at("sub1"));
    world_->createFolder(at("Sub2"));
    world_->createFile(at("sub1\\inner.txt"), "not listed here");

    const FolderListing listing = fs().listFolder(root_);

    EXPECT_EQ(sorted({at("A.dll"), at("b.txt"), at("c.INI")}), sorted(listing.files));
    EXPECT_EQ(sorted({at("sub1"), at("Sub2")}), sorted(folderPaths(listing)));
    for (const auto& folder : listing.subFolders)
        EXPECT_FALSE(folder.isLink) << folder.path << " reported as a link";
}

TEST_F(FileSystemContract, ListingGivesEachFilesSizeInTheFilesOrder) {
    world_->createFile(at("empty.txt"), "");
    world_->createFile(at("five.dat"), "12345");
    world_->createFile(at("large.bin"), std::string(70000, 'x'));
    world_->createFolder(at("sub"));
    world_->createFile(at("sub\\inner.txt"), "not counted here");

    const FolderListing listing = fs().listFolder(root_);

    ASSERT_EQ(listing.fileBytes.size(), listing.files.size());
    std::vector<std::string> sizes;
    for (std::size_t i = 0; i < listing.files.size(); ++i)
        sizes.push_back(listing.files[i] + " " + std::to_string(listing.fileBytes[i]));
    EXPECT_EQ(sorted({at("empty.txt") + " 0", at("five.dat") + " 5", at("large.bin") + " 70000"}),
              sorted(sizes));
}

// The inventory trusts a yes here to pass over asking the file itself, so
// each yes must be one the check would give.
TEST_F(FileSystemContract, OnlyPlainWritableFilesAreVouchedForAndTheCheckAgrees) {
    world_->createFile(at("plain.txt"), "p");
    world_->createFile(at("sub\\deep.txt"), "d");
    world_->createFile(at("kept.txt"), "k");
    world_->makeReadOnly(at("kept.txt"));
    world_->createFolder(at("folder"));

    const std::vector<std::string> paths = {at("plain.txt"), at("sub\\deep.txt"), at("kept.txt"),
                                            at("folder"),    at("missing.txt"),   ""};
    const std::vector<bool> expected{true, true, false, false, false, false};
    EXPECT_EQ(fs().deletableUnlessInUse(paths), expected);
    // Asked again once the folders have been listed, as the inventory asks:
    // a listing may have answered the folders' part already.
    fs().listFolder(root_);
    fs().listFolders({at("sub"), at("folder")});
    EXPECT_EQ(fs().deletableUnlessInUse(paths), expected);
    for (const std::string& path : {at("plain.txt"), at("sub\\deep.txt")})
        EXPECT_EQ(fs().checkDelete(path).answer, Deletable::yes) << path;
}

TEST_F(FileSystemContract, ListingComesInCaseInsensitiveSortedOrder) {
    for (const char* name : {"delta.txt", "Bravo.txt", "ECHO.txt", "alpha.txt", "Charlie.txt"})
        world_->createFile(at(name), "");
    for (const char* name : {"Zulu", "kilo", "Mike"})
        world_->createFolder(at(name));

    const FolderListing listing = fs().listFolder(root_);

    EXPECT_EQ((std::vector<std::string>{at("alpha.txt"), at("Bravo.txt"), at("Charlie.txt"),
                                        at("delta.txt"), at("ECHO.txt")}),
              listing.files);
    EXPECT_EQ((std::vector<std::string>{at("kilo"), at("Mike"), at("Zulu")}), folderPaths(listing));
}

TEST_F(FileSystemContract, ListingAnUnusableFolderThrowsNamingIt) {
    world_->createFile(at("plain.txt"), "x");
    for (const std::string& path : {at("Missing"), at("plain.txt")}) {
        const Thrown thrown = capture([&] { fs().listFolder(path); });
        EXPECT_TRUE(thrown.threw) << "listing " << path;
        EXPECT_NE(std::string::npos, thrown.message.find(path))
            << "expected the message to name " << path << ", got: " << thrown.message;
    }

    const Thrown empty = capture([&] { fs().listFolder(""); });
    EXPECT_TRUE(empty.threw) << "listing the empty path";
    EXPECT_NE(std::string::npos, empty.message.find("(empty path)"))
        << "expected the message to say (empty path), got: " << empty.message;
}

// A batch gives each folder what listing it alone gives, in the order asked,
// with many enough folders that a system listing several at once does; a
// folder that cannot be listed keeps what listing it alone throws, and the
// folders beside it are listed all the same.
TEST_F(FileSystemContract, ABatchOfListingsAnswersEachFolderAsItsOwnListingDoes) {
    std::vector<std::string> paths;
    for (int i = 0; i < 90; ++i) {
        const std::string folder = at(numbered("Folder", i, ""));
        world_->createFolder(folder);
        for (int j = 0; j < i % 4; ++j)
            world_->createFile(folder + "\\" + numbered("file", j, ".txt"), "x");
        if (i % 3 == 0)
            world_->createFolder(folder + "\\Sub");
        paths.push_back(folder);
    }
    world_->createFile(at("plain.txt"), "x");
    world_->createFolder(at("Target"));
    world_->createFolderLink(at("Linked"), at("Target"));
    for (const std::string& unusable :
         {at("Missing"), at("plain.txt"), at("Linked"), std::string()})
        paths.insert(paths.begin() + static_cast<std::ptrdiff_t>(paths.size() / 2), unusable);
    paths.push_back(paths.front());

    const std::vector<ListedFolder> listed = fs().listFolders(paths);

    ASSERT_EQ(listed.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::optional<FolderListing> alone;
        const Thrown thrown = capture([&] { alone = fs().listFolder(paths[i]); });
        const Thrown kept = capture([&] {
            if (listed[i].failure)
                std::rethrow_exception(listed[i].failure);
        });
        EXPECT_EQ(kept.threw, thrown.threw) << paths[i];
        EXPECT_EQ(kept.message, thrown.message) << paths[i];
        if (alone && !listed[i].failure) {
            EXPECT_EQ(listed[i].listing.files, alone->files) << paths[i];
            EXPECT_EQ(folderPaths(listed[i].listing), folderPaths(*alone)) << paths[i];
            EXPECT_EQ(listed[i].listing.fileBytes, alone->fileBytes) << paths[i];
        }
    }
}

// What is missing is told apart from what is there, folder or file, in any
// letter case; a folder on the way that is missing makes the path missing.
TEST_F(FileSystemContract, OnlyWhatIsNotThereIsMissing) {
    world_->createFolder(at("There"));
    world_->createFile(at("There\\file.txt"), "x");
    for (const std::string& path : {at("There"), at("THERE"), at("There\\file.txt")})
        EXPECT_FALSE(fs().isMissing(path)) << path;
    for (const std::string& path : {at("Gone"), at("Gone\\Deeper"), at("There\\gone.txt")})
        EXPECT_TRUE(fs().isMissing(path)) << path;
}

TEST_F(FileSystemContract, NamesMatchWithoutRegardToCase) {
    world_->createFolder(at("MixedCase"));
    world_->createFile(at("MixedCase\\Setup.LOG"), "x");

    EXPECT_TRUE(fs().folderExists(at("mixedcase")));
    EXPECT_TRUE(fs().folderExists(at("MIXEDCASE")));
    EXPECT_FALSE(fs().folderExists(at("Other")));

    EXPECT_EQ(Removal::removed, fs().deleteFile(at("MIXEDCASE\\setup.log")));
    EXPECT_FALSE(world_->fileExists(at("MixedCase\\Setup.LOG")));
}

TEST_F(FileSystemContract, DeletingAFileThatIsNotThereSaysSo) {
    EXPECT_EQ(Removal::notFound, fs().deleteFile(at("never.txt")));
    EXPECT_EQ(Removal::notFound, fs().deleteFile(at("NoFolder\\never.txt")));
    EXPECT_EQ(Removal::notFound, fs().deleteFolder(at("NoFolder")));

    EXPECT_TRUE(capture([&] { fs().deleteFile(""); }).threw) << "deleting the empty path";
    EXPECT_TRUE(capture([&] { fs().deleteFolder(""); }).threw) << "deleting the empty path";
}

TEST_F(FileSystemContract, ReadOnlyFileRefusesDeletionNamingItsPath) {
    const std::string file = at("locked.dll");
    world_->createFile(file, "x");
    world_->makeReadOnly(file);

    const Thrown thrown = capture([&] { fs().deleteFile(file); });
    EXPECT_TRUE(thrown.threw) << "deleting a read-only file did not throw";
    EXPECT_NE(std::string::npos, thrown.message.find(file))
        << "expected the message to name " << file << ", got: " << thrown.message;
    EXPECT_TRUE(world_->fileExists(file));
}

TEST_F(FileSystemContract, DeleteFolderRemovesTheWholeTree) {
    world_->createFile(at("App\\a.exe"), "a");
    world_->createFile(at("App\\Data\\b.dat"), "b");
    world_->createFile(at("App\\Data\\Deep\\c.dat"), "c");
    world_->createFolder(at("App\\Empty"));
    world_->createFile(at("Beside.txt"), "stays");

    EXPECT_EQ(Removal::removed, fs().deleteFolder(at("App")));

    EXPECT_FALSE(world_->folderExists(at("App")));
    EXPECT_FALSE(world_->fileExists(at("App\\Data\\Deep\\c.dat")));
    EXPECT_TRUE(world_->fileExists(at("Beside.txt")));
}

TEST_F(FileSystemContract, DeleteFolderStopsAtAReadOnlyFileAndKeepsIt) {
    const std::string locked = at("App\\Data\\locked.dat");
    world_->createFile(at("App\\a.exe"), "a");
    world_->createFile(locked, "x");
    world_->makeReadOnly(locked);

    const Thrown thrown = capture([&] { fs().deleteFolder(at("App")); });
    EXPECT_TRUE(thrown.threw) << "removing a folder holding a read-only file did not throw";
    EXPECT_NE(std::string::npos, thrown.message.find(at("App")))
        << "expected the message to name the folder or the file, got: " << thrown.message;
    EXPECT_TRUE(world_->fileExists(locked));
}

TEST_F(FileSystemContract, UnicodeNamesAreListedAndDeleted) {
    const std::vector<std::string> names{"Café.txt", "日本語.txt", "Ελληνικά.txt", "emoji 😀.txt"};
    for (const auto& name : names)
        world_->createFile(at("Intl\\" + name), name);
    world_->createFolder(at("Intl\\Ελληνικά"));

    const FolderListing listing = fs().listFolder(at("Intl"));
    std::vector<std::string> expected;
    for (const auto& name : names)
        expected.push_back(at("Intl\\" + name));
    EXPECT_EQ(sorted(expected), sorted(listing.files));
    EXPECT_EQ(std::vector<std::string>{at("Intl\\Ελληνικά")}, folderPaths(listing));

    EXPECT_EQ(Removal::removed, fs().deleteFile(at("Intl\\CAFÉ.TXT"))) << "upper-cased É";
    for (const auto& path : listing.files) {
        if (path != at("Intl\\Café.txt")) {
            EXPECT_EQ(Removal::removed, fs().deleteFile(path)) << path;
        }
        EXPECT_FALSE(world_->fileExists(path)) << path;
    }
    EXPECT_EQ(Removal::removed, fs().deleteFolder(at("Intl")));
    EXPECT_FALSE(world_->folderExists(at("Intl")));
}

TEST_F(FileSystemContract, PathsLongerThan260CharactersWork) {
    std::string deep = at("Long");
    for (int level = 0; level < 6; ++level)
        deep += "\\" + std::string(45, static_cast<char>('a' + level));
    ASSERT_GT(deep.size(), 260u);
    world_->createFolder(deep);
    world_->createFile(deep + "\\file.txt", "deep");

    EXPECT_TRUE(fs().folderExists(deep));
    const FolderListing listing = fs().listFolder(deep);
    EXPECT_EQ(std::vector<std::string>{deep + "\\file.txt"}, listing.files);
    EXPECT_EQ("deep", fs().readTextFile(deep + "\\file.txt"));

    EXPECT_EQ(Removal::removed, fs().deleteFolder(at("Long")));
    EXPECT_FALSE(world_->folderExists(at("Long")));
}

TEST_F(FileSystemContract, FolderLinkIsReportedNeverEnteredAndNeverDeleted) {
    world_->createFile(at("Target\\keep.txt"), "user data");
    world_->createFile(at("Target\\Sub\\keep2.txt"), "user data");
    world_->createFile(at("App\\app.exe"), "x");
    world_->createFile(at("App\\Inner\\inner.dll"), "x");
    world_->createFolderLink(at("App\\Inner\\Linked"), at("Target"));

    const FolderListing inner = fs().listFolder(at("App\\Inner"));
    ASSERT_EQ(1u, inner.subFolders.size());
    EXPECT_EQ(at("App\\Inner\\Linked"), inner.subFolders[0].path);
    EXPECT_TRUE(inner.subFolders[0].isLink) << "expected isLink for the link";

    // Listing the link itself either refuses or shows nothing of the target.
    FolderListing throughLink;
    capture([&] { throughLink = fs().listFolder(at("App\\Inner\\Linked")); });
    EXPECT_TRUE(throughLink.files.empty() && throughLink.subFolders.empty())
        << "listing the link showed the target's contents";

    Thrown thrown = capture([&] { fs().deleteFolder(at("App")); });
    EXPECT_FALSE(thrown.threw) << "removing a tree that holds a link threw: " << thrown.message;
    EXPECT_FALSE(world_->fileExists(at("App\\app.exe")));
    EXPECT_FALSE(world_->fileExists(at("App\\Inner\\inner.dll")));
    EXPECT_TRUE(world_->folderExists(at("App\\Inner\\Linked"))) << "the link was removed";
    EXPECT_TRUE(world_->folderExists(at("App\\Inner")));
    EXPECT_TRUE(world_->folderExists(at("App")));
    EXPECT_TRUE(world_->fileExists(at("Target\\keep.txt")));
    EXPECT_TRUE(world_->fileExists(at("Target\\Sub\\keep2.txt")));

    thrown = capture([&] { fs().deleteFolder(at("App\\Inner\\Linked")); });
    EXPECT_FALSE(thrown.threw) << "removing the link itself threw: " << thrown.message;
    EXPECT_TRUE(world_->folderExists(at("App\\Inner\\Linked"))) << "the link was removed";
    EXPECT_TRUE(world_->fileExists(at("Target\\keep.txt")));
    EXPECT_TRUE(world_->fileExists(at("Target\\Sub\\keep2.txt")));
}

// A path whose middle step is a folder link, whenever that step became one:
// a group named "Link\MyApp", or a listed folder swapped after the listing.
TEST_F(FileSystemContract, NothingIsDeletedThroughAFolderLinkAtAnyStep) {
    world_->createFile(at("Outside\\MyApp\\victim.txt"), "someone else's");
    world_->createFolder(at("Outside\\MyApp\\Empty"));
    world_->createFolder(at("Menu"));
    world_->createFolderLink(at("Menu\\Link"), at("Outside"));
    fs().setRemovalRoots({at("Menu")});

    EXPECT_EQ(Removal::notFound, fs().deleteFolder(at("Menu\\Link\\MyApp")));
    EXPECT_EQ(Removal::notFound, fs().deleteFile(at("Menu\\Link\\MyApp\\victim.txt")));
    EXPECT_FALSE(fs().removeEmptyFolder(at("Menu\\Link\\MyApp\\Empty")));
    EXPECT_TRUE(world_->fileExists(at("Outside\\MyApp\\victim.txt")));
    EXPECT_TRUE(world_->folderExists(at("Outside\\MyApp\\Empty")));

    // Below no root, every step from the drive's root counts.
    fs().setRemovalRoots({});
    EXPECT_EQ(Removal::notFound, fs().deleteFolder(at("Menu\\Link\\MyApp")));
    EXPECT_TRUE(world_->fileExists(at("Outside\\MyApp\\victim.txt")));
}

TEST_F(FileSystemContract, RemoveEmptyFolderTakesNothingButAnEmptyFolder) {
    world_->createFolder(at("Empty"));
    world_->createFile(at("Full\\a.txt"), "x");
    world_->createFolder(at("Parent\\Child"));
    world_->createFile(at("file.txt"), "x");
    world_->createFolder(at("Target"));
    world_->createFolderLink(at("Link"), at("Target"));

    EXPECT_TRUE(fs().removeEmptyFolder(at("EMPTY")));
    EXPECT_FALSE(world_->folderExists(at("Empty")));
    EXPECT_FALSE(fs().removeEmptyFolder(at("Empty"))) << "a missing folder";
    EXPECT_FALSE(fs().removeEmptyFolder(at("Full")));
    EXPECT_TRUE(world_->fileExists(at("Full\\a.txt")));
    EXPECT_FALSE(fs().removeEmptyFolder(at("Parent")));
    EXPECT_TRUE(world_->folderExists(at("Parent\\Child")));
    EXPECT_FALSE(fs().removeEmptyFolder(at("file.txt")));
    EXPECT_TRUE(world_->fileExists(at("file.txt")));
    // The link and its target are both empty folders to look at; neither goes.
    EXPECT_FALSE(fs().removeEmptyFolder(at("Link")));
    EXPECT_TRUE(world_->folderExists(at("Link")));
    EXPECT_TRUE(world_->folderExists(at("Target")));
    EXPECT_FALSE(fs().removeEmptyFolder(""));
    EXPECT_FALSE(fs().removeEmptyFolder("C:"));
    EXPECT_FALSE(fs().removeEmptyFolder("C:\\"));
}

TEST_F(FileSystemContract, TextFileArrivesByteForByte) {
    const char raw[] = "ACTION: CreateDir: \"C:\\App\"\r\nline\nfeed\rcr\r\n\r\n";
    const std::string content(raw, sizeof raw - 1);
    world_->createFile(at("st6unst.log"), content);

    EXPECT_EQ(content, fs().readTextFile(at("ST6UNST.LOG")));

    const Thrown thrown = capture([&] { fs().readTextFile(at("absent.log")); });
    EXPECT_TRUE(thrown.threw) << "reading a missing file did not throw";
    EXPECT_NE(std::string::npos, thrown.message.find(at("absent.log")))
        << "expected the message to name the file, got: " << thrown.message;
}

// A log copied or saved by another tool comes in UTF-8 or UTF-16 of either
// byte order, marked or not; one with NULs that is none of them cannot be
// read, and is refused naming it rather than read as nothing.
TEST_F(FileSystemContract, TextFileIsReadInTheEncodingItIsFoundIn) {
    const std::string text = "ACTION: CreateDir: \"C:\\B\xC3\xBC"
                             "cher \xE6\x97\xA5\"\r\n";
    static constexpr char asciiPrefix[] = "ACTION: ";
    auto utf16 = [&](bool bigEndian) {
        std::string out;
        std::vector<unsigned> units(std::begin(asciiPrefix), std::end(asciiPrefix) - 1);
        units.insert(units.end(), {0x42u, 0xFCu, 0x65E5u, 0xD83Du, 0xDE00u, 0x0Au});
        for (const unsigned unit : units) {
            const char high = static_cast<char>(unit >> 8);
            const char low = static_cast<char>(unit & 0xFF);
            out += bigEndian ? high : low;
            out += bigEndian ? low : high;
        }
        return out;
    };
    const std::string wideText =
        std::string(asciiPrefix) + "B\xC3\xBC\xE6\x97\xA5\xF0\x9F\x98\x80\n";
    const struct {
        const char* what;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"UTF-8 without a mark", text, text},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + text, text},
        {"UTF-16LE without a mark", utf16(false), wideText},
        {"UTF-16LE with a mark", "\xFF\xFE" + utf16(false), wideText},
        {"UTF-16BE without a mark", utf16(true), wideText},
        {"UTF-16BE with a mark", "\xFE\xFF" + utf16(true), wideText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        world_->createFileOfBytes(at("st6unst.log"), c.bytes);
        EXPECT_EQ(c.text, fs().readTextFile(at("st6unst.log")));
    }

    world_->createFileOfBytes(at("binary.log"), std::string("ACTION\0\0\0: x\r\n", 14));
    const Thrown thrown = capture([&] { fs().readTextFile(at("binary.log")); });
    EXPECT_TRUE(thrown.threw) << "text of no known encoding was read";
    EXPECT_NE(std::string::npos, thrown.message.find(at("binary.log"))) << thrown.message;
    EXPECT_NE(std::string::npos, thrown.message.find("NUL bytes")) << thrown.message;
}

// Only fullPath cleans a path up, as the system would; every other operation
// takes a path as it stands, so a listed name joined to a resolved folder
// names that item and no other.
TEST_F(FileSystemContract, FullPathCleansUpAsTheSystemDoes) {
    struct Case {
        std::string given;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"C:\\App ", "C:\\App"},
        {"C:\\App.", "C:\\App"},
        {"C:\\App. .", "C:\\App"},
        {"C:\\Program Files/MyApp", "C:\\Program Files\\MyApp"},
        {"C:\\\\App\\\\\\x", "C:\\App\\x"},
        {"C:\\A.\\b", "C:\\A\\b"},
        {"C:\\A..\\b", "C:\\A.\\b"},
        {"C:\\A \\b", "C:\\A \\b"},
        {"C:\\a\\..\\..\\..\\b", "C:\\b"},
        {"C:\\App\\.", "C:\\App"},
        {"C:/", "C:\\"},
        {"\\\\server\\share\\App ", "\\\\server\\share\\App"},
        {"//server/share/x", "\\\\server\\share\\x"},
        {"\\\\server\\share\\..\\x", "\\\\server\\share\\x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, fs().fullPath(c.given)) << c.given;
}

TEST_F(FileSystemContract, PathsAreTakenAsTheyStand) {
    world_->createFile(at("App\\data.mdb"), "kept");
    world_->createFile(at("App\\data.mdb."), "twin");
    const FolderListing listing = fs().listFolder(at("App"));
    EXPECT_EQ(sorted({at("App\\data.mdb"), at("App\\data.mdb.")}), sorted(listing.files));
    // Wine 8 names an open "data.mdb." by "data.mdb", so the check that a
    // handle holds the listed item leaves the twin alone there: never the
    // file without the dot, whichever way.
    const Removal removal = fs().deleteFile(at("App\\data.mdb."));
    EXPECT_TRUE(world_->fileExists(at("App\\data.mdb")));
    EXPECT_EQ(removal == Removal::notFound, world_->fileExists(at("App\\data.mdb.")));
}

} // namespace
} // namespace uninst::test

namespace uninst::test {
namespace {

// What a restore makes: new items only, in an existing folder below a root,
// a copy with its contents; whatever stands at the path stays as it is.
TEST_F(FileSystemContract, CreationsMakeOnlyNewItemsAndLeaveWhatStands) {
    world_->createFolder(at("App"));
    world_->createFileOfBytes(at("Backup\\data.bin"), std::string("two\r\nlines"));
    world_->createFile(at("App\\there.txt"), "already");
    fs().setRemovalRoots({at("App")});

    EXPECT_EQ(Creation::created, fs().createFolder(at("App\\Sub")));
    EXPECT_TRUE(world_->folderExists(at("App\\Sub")));
    EXPECT_EQ(Creation::exists, fs().createFolder(at("App\\Sub")));
    EXPECT_TRUE(capture([&] { fs().createFolder(at("App\\there.txt")); }).threw)
        << "a folder made over a file";
    EXPECT_TRUE(capture([&] { fs().createFolder(at("App\\Missing\\Sub")); }).threw)
        << "a folder made without its parent";

    EXPECT_EQ(Creation::created,
              fs().copyNewFile(at("Backup\\data.bin"), at("App\\Sub\\data.bin")));
    EXPECT_EQ(std::string("two\r\nlines"), fs().readTextFile(at("App\\Sub\\data.bin")));
    EXPECT_EQ(Creation::exists, fs().copyNewFile(at("Backup\\data.bin"), at("App\\there.txt")));
    EXPECT_EQ("already", fs().readTextFile(at("App\\there.txt")));
    EXPECT_EQ(Creation::exists, fs().copyNewFile(at("Backup\\data.bin"), at("App\\Sub")));
    EXPECT_TRUE(
        capture([&] { fs().copyNewFile(at("Backup\\missing.bin"), at("App\\new.bin")); }).threw);
    EXPECT_FALSE(world_->fileExists(at("App\\new.bin")));
}

TEST_F(FileSystemContract, NothingIsMadeThroughAFolderLink) {
    world_->createFolder(at("Outside"));
    world_->createFolder(at("App"));
    world_->createFileOfBytes(at("Backup\\a.txt"), "a");
    world_->createFolderLink(at("App\\Link"), at("Outside"));
    fs().setRemovalRoots({at("App")});

    EXPECT_TRUE(capture([&] { fs().createFolder(at("App\\Link\\Sub")); }).threw);
    EXPECT_TRUE(
        capture([&] { fs().copyNewFile(at("Backup\\a.txt"), at("App\\Link\\a.txt")); }).threw);
    EXPECT_TRUE(capture([&] { fs().createFolder(at("App\\Link")); }).threw)
        << "a link taken for a folder that exists";
    EXPECT_FALSE(world_->folderExists(at("Outside\\Sub")));
    EXPECT_FALSE(world_->fileExists(at("Outside\\a.txt")));
}

} // namespace
} // namespace uninst::test
