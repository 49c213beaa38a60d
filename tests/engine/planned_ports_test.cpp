// The preview's decorators against the in-memory ports: what the preview has
// planned away reads as gone through every reading call, and nothing real
// changes.

#include "engine/error.h"
#include "engine/planned_ports.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/memory_registry.h"
#include "tests/support/pass_through_ports.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

using namespace std::string_literals;

bool throwsError(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error&) {
        return true;
    }
    return false;
}

struct Preview {
    MemoryFileSystem real;
    PlannedFileSystem planned{real};
    std::vector<std::string> before;

    Preview() {
        real.addFile("C:\\App\\app.exe", "exe");
        real.addFile("C:\\App\\ST6UNST.LOG", "log");
        real.addFile("C:\\App\\Data\\data.mdb", "data");
        real.addFile("C:\\App\\Data\\Deep\\notes.txt", "notes");
        real.addFolder("C:\\App\\Empty");
        before = real.snapshot("C:");
    }
};

// A batch answers each folder as listFolder, asked for one path after the
// other, answers it: the preview keeps the first listing of a folder for
// every spelling of its path, and a spelling that could not be read fails
// alone. Here the system refuses one spelling of a folder that another
// spelling lists (a host folder whose name differs only in case).
TEST(PlannedFileSystem, ABatchOfListingsAnswersAsEachListingInTurn) {
    class OneSpellingRefused final : public OneAtATimeReader {
    public:
        using OneAtATimeReader::OneAtATimeReader;
        FolderListing listFolder(const std::string& path) override {
            if (path == "C:\\App\\data")
                throw Error::cannot("open folder", path, "Access is denied.");
            return inner().listFolder(path);
        }
    };
    // What each path's listing came to: its number of files, or the error.
    const auto answers = [](PlannedFileSystem& planned, const std::vector<std::string>& paths,
                            bool batch) {
        std::vector<ListedFolder> listed;
        if (batch) {
            listed = planned.listFolders(paths);
        } else {
            for (const std::string& path : paths) {
                listed.emplace_back();
                try {
                    listed.back().listing = planned.listFolder(path);
                } catch (...) {
                    listed.back().failure = std::current_exception();
                }
            }
        }
        std::vector<std::string> said;
        for (const ListedFolder& folder : listed) {
            try {
                if (folder.failure)
                    std::rethrow_exception(folder.failure);
                said.push_back(std::to_string(folder.listing.files.size()) + " files");
            } catch (const Error& error) {
                said.push_back(error.what());
            }
        }
        return said;
    };
    for (const std::vector<std::string>& paths :
         {std::vector<std::string>{"C:\\App\\Data", "C:\\App\\data"},
          std::vector<std::string>{"C:\\App\\data", "C:\\App\\Data", "C:\\App\\data"}}) {
        Preview one;
        OneSpellingRefused refusing(one.real);
        PlannedFileSystem inTurn(refusing);
        const std::vector<std::string> expected = answers(inTurn, paths, false);
        Preview other;
        OneSpellingRefused refusingToo(other.real);
        PlannedFileSystem batched(refusingToo);
        EXPECT_EQ(answers(batched, paths, true), expected) << paths.front();
    }
}

// A file the preview deleted reads as missing: checked, deleted again, read.
// The real file stays, and the real file system would still answer for it.
TEST(PlannedFileSystem, FileItDeletedReadsAsMissingThroughEveryCall) {
    Preview p;
    const std::string log = "C:\\App\\ST6UNST.LOG";
    ASSERT_EQ(p.planned.checkDelete(log).answer, Deletable::yes);
    ASSERT_EQ(p.planned.deleteFile(log), Removal::removed);

    EXPECT_EQ(p.planned.checkDelete(log).answer, Deletable::missing);
    EXPECT_EQ(p.planned.checkDeletes({log}).front().answer, Deletable::missing);
    EXPECT_EQ(p.planned.deleteFile(log), Removal::notFound);
    EXPECT_TRUE(throwsError([&] { p.planned.readTextFile(log); }));
    EXPECT_TRUE(throwsError([&] { p.planned.deleteAtRestart(log); }));
    const FolderListing listing = p.planned.listFolder("C:\\App");
    EXPECT_EQ(listing.files, std::vector<std::string>{"C:\\App\\app.exe"});
    EXPECT_EQ(p.planned.filesStillThere("C:\\App", {log, "C:\\App\\app.exe"}),
              std::vector<std::string>{"C:\\App\\app.exe"});

    EXPECT_EQ(p.real.checkDelete(log).answer, Deletable::yes);
    EXPECT_EQ(p.real.readTextFile(log), "log");
    EXPECT_EQ(p.real.snapshot("C:"), p.before);
}

// A folder the preview removed is gone with everything below it, to every
// question asked of it or of what it held.
TEST(PlannedFileSystem, FolderItRemovedIsGoneWithEverythingBelowIt) {
    Preview p;
    const std::string data = "C:\\App\\Data";
    const std::string mdb = data + "\\data.mdb";
    const std::string deep = data + "\\Deep";
    ASSERT_EQ(p.planned.deleteFolder(data), Removal::removed);

    EXPECT_FALSE(p.planned.folderExists(data));
    EXPECT_FALSE(p.planned.folderExists(deep));
    EXPECT_TRUE(throwsError([&] { p.planned.listFolder(data); }));
    EXPECT_TRUE(throwsError([&] { p.planned.listFolder(deep); }));
    EXPECT_EQ(p.planned.checkDelete(mdb).answer, Deletable::missing);
    EXPECT_EQ(p.planned.checkDelete(deep + "\\notes.txt").answer, Deletable::missing);
    EXPECT_EQ(p.planned.deleteFile(mdb), Removal::notFound);
    EXPECT_EQ(p.planned.deleteFolder(data), Removal::notFound);
    EXPECT_EQ(p.planned.deleteFolder(deep), Removal::notFound);
    EXPECT_FALSE(p.planned.removeEmptyFolder(deep));
    EXPECT_TRUE(throwsError([&] { p.planned.readTextFile(mdb); }));
    EXPECT_TRUE(p.planned.filesStillThere("C:\\App", {mdb}).empty());

    // Letter case does not bring it back.
    EXPECT_FALSE(p.planned.folderExists("C:\\APP\\DATA"));
    EXPECT_EQ(p.planned.checkDelete("c:\\app\\data\\DATA.MDB").answer, Deletable::missing);

    // What it did not remove still answers as the real one does.
    EXPECT_TRUE(p.planned.folderExists("C:\\App"));
    EXPECT_EQ(p.planned.checkDelete("C:\\App\\app.exe").answer, Deletable::yes);
    EXPECT_TRUE(p.real.folderExists(data));
    EXPECT_EQ(p.real.snapshot("C:"), p.before);
}

// An empty folder the preview removed, and the install folder once the
// preview emptied it, read as gone; a folder that still holds something stays.
TEST(PlannedFileSystem, EmptyFolderItRemovedIsGoneAndAFullOneStays) {
    Preview p;
    EXPECT_FALSE(p.planned.removeEmptyFolder("C:\\App"));
    ASSERT_TRUE(p.planned.removeEmptyFolder("C:\\App\\Empty"));
    EXPECT_FALSE(p.planned.folderExists("C:\\App\\Empty"));
    EXPECT_FALSE(p.planned.removeEmptyFolder("C:\\App\\Empty"));
    EXPECT_TRUE(throwsError([&] { p.planned.listFolder("C:\\App\\Empty"); }));

    ASSERT_EQ(p.planned.deleteFiles({"C:\\App\\app.exe", "C:\\App\\ST6UNST.LOG"}).removals,
              (std::vector<std::optional<Removal>>{Removal::removed, Removal::removed}));
    ASSERT_EQ(p.planned.deleteFolder("C:\\App\\Data"), Removal::removed);
    ASSERT_TRUE(p.planned.removeEmptyFolder("C:\\App"));
    EXPECT_FALSE(p.planned.folderExists("C:\\App"));
    EXPECT_EQ(p.planned.checkDelete("C:\\App\\app.exe").answer, Deletable::missing);
    EXPECT_EQ(p.real.snapshot("C:"), p.before);
}

// Keys read together, as the scans read them, answer as the plan has them
// once the preview has removed an entry or lowered a count; before that, as
// the real registry does. The real keys and counts stay.
TEST(PlannedRegistry, KeysReadTogetherAnswerAsPlanned) {
    MemoryRegistry real;
    const std::string list = "SOFTWARE\\Lists";
    real.setString(list + "\\App", "AppToUninstall", "app.exe");
    real.setString(list + "\\Other", "AppToUninstall", "other.exe");
    real.setDword(list + "\\Counts", "C:\\Shared\\x.dll", 3);
    PlannedRegistry planned(real);
    const std::vector<std::string> paths{list + "\\App", list + "\\Other", list + "\\Counts"};

    const auto before = planned.readValueOfEach(Registry::localMachine, paths, "AppToUninstall");
    ASSERT_EQ(before.size(), 3u);
    EXPECT_TRUE(before[0].opened && before[0].status.isSuccess());
    EXPECT_EQ(before[0].value.data, "app.exe"s + '\0');

    Registry::Key counts = 0;
    ASSERT_TRUE(planned.openKey(Registry::localMachine, list + "\\Counts", counts).isSuccess());
    ASSERT_TRUE(planned.setDwordValue(counts, "C:\\Shared\\x.dll", 2).isSuccess());
    planned.closeKey(counts);
    ASSERT_TRUE(planned.deleteTree(Registry::localMachine, list + "\\App").isSuccess());

    const auto after = planned.readValueOfEach(Registry::localMachine, paths, "AppToUninstall");
    ASSERT_EQ(after.size(), 3u);
    EXPECT_FALSE(after[0].opened) << "the entry planned away still opens";
    EXPECT_TRUE(after[0].status.isNotFound()) << "expected no key, got " << after[0].status;
    EXPECT_EQ(after[1].value.data, "other.exe"s + '\0');
    const auto count =
        planned.readValueOfEach(Registry::localMachine, {list + "\\Counts"}, "C:\\Shared\\x.dll");
    ASSERT_EQ(count.size(), 1u);
    EXPECT_EQ(dwordFromBytes(count[0].value.data), 2u) << "the count as planned";

    EXPECT_TRUE(real.keyExists(list + "\\App"));
    EXPECT_EQ(real.dword(list + "\\Counts", "C:\\Shared\\x.dll"), 3u);
}

} // namespace
} // namespace uninst::test
