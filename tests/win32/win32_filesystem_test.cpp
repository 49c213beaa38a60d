// What the Win32 file-system layer must get right beyond the shared contract:
// the path forms it accepts, links as a host system makes them, folders
// larger than one directory read, and the wording of its errors.

#include "engine/error.h"
#include "platform/held_file_budget.h"
#include "platform/text_encoding.h"
#include "platform/win32_filesystem.h"
#include "tests/contract/world.h"
#include "tests/support/win32_handles.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace uninst {
namespace {

class Win32FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        world_ = test::makeContractWorld();
        root_ = world_->folderRoot();
    }

    std::string at(const std::string& relative) { return root_ + "\\" + relative; }

    std::unique_ptr<test::ContractWorld> world_;
    std::string root_;
    Win32FileSystem fs_;
};

TEST_F(Win32FileSystemTest, DriveOnItsOwnIsTheDrivesRoot) {
    const FolderListing listing = fs_.listFolder("C:");
    const auto found =
        std::find_if(listing.subFolders.begin(), listing.subFolders.end(),
                     [&](const FolderListing::SubFolder& folder) { return folder.path == root_; });
    EXPECT_NE(listing.subFolders.end(), found) << root_ << " not listed under C:";
    for (const auto& folder : listing.subFolders)
        EXPECT_EQ(0u, folder.path.rfind("C:\\", 0)) << folder.path;
    EXPECT_TRUE(fs_.folderExists("C:"));
}

// The long-path form is used as it stands: a path that would need the
// system's clean-up names nothing, and only fullPath does the clean-up.
TEST_F(Win32FileSystemTest, PathsNeedingCleanUpNameNothingButResolveWithFullPath) {
    world_->createFile(at("App\\a.dll"), "a");
    world_->createFolder(at("Other"));

    EXPECT_THROW(fs_.listFolder(at("Other\\..\\App\\.")), Error);
    EXPECT_EQ(at("App"), fs_.fullPath(at("Other\\..\\App\\.")));
    for (const std::string& unclean : {at("App/a.dll"), at("App\\\\a.dll"), at("App\\.\\a.dll")}) {
        try {
            EXPECT_EQ(Removal::notFound, fs_.deleteFile(unclean)) << unclean;
        } catch (const Error&) {
        }
        EXPECT_TRUE(world_->fileExists(at("App\\a.dll"))) << unclean;
    }
    EXPECT_EQ(Removal::removed, fs_.deleteFile(fs_.fullPath(at("App/a.dll"))));
    EXPECT_FALSE(world_->fileExists(at("App\\a.dll")));
}

TEST_F(Win32FileSystemTest, LinksAreNeverDeletedNorTheirTargetsTouched) {
    world_->createFile(at("Data\\keep.txt"), "user data");
    world_->createFolder(at("EmptyTarget"));
    world_->createFile(at("App\\app.exe"), "x");
    world_->createFolderLink(at("App\\ToData"), at("Data"));
    world_->createFolderLink(at("App\\ToEmpty"), at("EmptyTarget"));

    // Deleting a directory link as a file, or removing one as an empty
    // folder, acts on its target on some systems.
    EXPECT_EQ(Removal::notFound, fs_.deleteFile(at("App\\ToData")));
    EXPECT_EQ(Removal::notFound, fs_.deleteFolder(at("App\\ToEmpty")));
    EXPECT_EQ(Removal::removed, fs_.deleteFolder(at("App")));

    EXPECT_TRUE(world_->fileExists(at("Data\\keep.txt")));
    EXPECT_TRUE(world_->folderExists(at("EmptyTarget"))) << "an empty target was removed";
    EXPECT_TRUE(world_->folderExists(at("App\\ToData")));
    EXPECT_TRUE(world_->folderExists(at("App\\ToEmpty")));
    EXPECT_FALSE(world_->fileExists(at("App\\app.exe")));
}

// Wine 8 shows a symbolic link to a file as an ordinary file and deletes its
// target when asked to delete it. The handle it is opened with names the
// target, so the link is found out and left alone, here and inside a tree.
TEST_F(Win32FileSystemTest, FileLinkIsLeftAloneAndItsTargetKept) {
    world_->createFile(at("Outside\\victim.txt"), "someone else's");
    world_->createFile(at("App\\own.txt"), "x");
    if (!world_->createFileLink(at("App\\linked.txt"), at("Outside\\victim.txt")))
        GTEST_SKIP() << "this system cannot make a file link for the test";

    EXPECT_EQ(Removal::notFound, fs_.deleteFile(at("App\\linked.txt")));
    EXPECT_TRUE(world_->fileExists(at("Outside\\victim.txt")));
    EXPECT_EQ(Removal::removed, fs_.deleteFolder(at("App")));
    EXPECT_TRUE(world_->fileExists(at("Outside\\victim.txt")));
    EXPECT_FALSE(world_->fileExists(at("App\\own.txt")));
    EXPECT_TRUE(world_->folderExists(at("App"))) << "the folder holding the link was removed";
}

// Above a root, a link is the system's arrangement (a folder moved to another
// disk and linked back): what lies below the root is still the
// application's. A root that is itself a link is not.
TEST_F(Win32FileSystemTest, LinksAboveARootAreFollowedButARootThatIsALinkIsNot) {
    world_->createFile(at("Real\\App\\a.txt"), "x");
    world_->createFile(at("Real\\App\\Sub\\b.txt"), "x");
    world_->createFolderLink(at("Moved"), at("Real"));

    fs_.setRemovalRoots({at("Moved\\App")});
    EXPECT_EQ(Removal::removed, fs_.deleteFile(at("Moved\\App\\a.txt")));
    EXPECT_EQ(Removal::removed, fs_.deleteFolder(at("Moved\\App\\Sub")));
    EXPECT_FALSE(world_->fileExists(at("Real\\App\\a.txt")));
    EXPECT_FALSE(world_->folderExists(at("Real\\App\\Sub")));

    world_->createFile(at("Real\\App\\c.txt"), "x");
    world_->createFolderLink(at("LinkedApp"), at("Real\\App"));
    fs_.setRemovalRoots({at("LinkedApp")});
    EXPECT_EQ(Removal::notFound, fs_.deleteFile(at("LinkedApp\\c.txt")));
    EXPECT_EQ(Removal::notFound, fs_.deleteFolder(at("LinkedApp")));
    EXPECT_TRUE(world_->fileExists(at("Real\\App\\c.txt")));
}

// One level per step: a removal that recursed once per level would need a
// stack frame for each. Kept to 200 levels because Wine names each handle by
// walking its host path up to the drive, which costs the square of the depth.
TEST_F(Win32FileSystemTest, DeepTreeIsRemovedWhole) {
    std::string deep = at("Deep");
    for (int level = 0; level < 200; ++level)
        deep += "\\d";
    world_->createFile(deep + "\\bottom.txt", "x");
    world_->createFile(at("Deep\\top.txt"), "x");

    EXPECT_EQ(Removal::removed, fs_.deleteFolder(at("Deep")));
    EXPECT_FALSE(world_->folderExists(at("Deep")));
}

TEST_F(Win32FileSystemTest, FolderIsNeverDeletedAsAFile) {
    world_->createFile(at("Folder\\inside.txt"), "x");
    EXPECT_THROW(fs_.deleteFile(at("Folder")), Error);
    EXPECT_TRUE(world_->fileExists(at("Folder\\inside.txt")));
}

TEST_F(Win32FileSystemTest, ErrorsNameTheOperationThePathAndTheSystemsReason) {
    const std::string file = at("locked.dll");
    world_->createFile(file, "x");
    world_->makeReadOnly(file);

    try {
        fs_.deleteFile(file);
        FAIL() << "deleting a read-only file did not throw";
    } catch (const Error& error) {
        const std::string message = error.what();
        const std::string start = "Cannot delete file " + file + ": ";
        EXPECT_EQ(start, message.substr(0, start.size())) << message;
        EXPECT_GT(message.size(), start.size() + 1) << "no reason given: " << message;
        EXPECT_EQ('.', message.back()) << message;
        EXPECT_EQ(std::string::npos, message.find_first_of("\r\n")) << message;
    }
}

// An install log is a few kilobytes; a file past 256 MB is refused before a
// byte of it is read, rather than exhausting a 32-bit process.
TEST_F(Win32FileSystemTest, TextFileOverTheLimitIsRefusedUnread) {
    const std::string file = at("huge.log");
    world_->createFile(file, "x");
    {
        const std::wstring wide = L"\\\\?\\" + std::wstring(file.begin(), file.end());
        HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, handle) << GetLastError();
        LARGE_INTEGER size{};
        size.QuadPart = 256LL * 1024 * 1024 + 1;
        const bool grown =
            SetFilePointerEx(handle, size, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
        CloseHandle(handle);
        ASSERT_TRUE(grown);
    }
    try {
        fs_.readTextFile(file);
        FAIL() << "a file over 256 MB was read";
    } catch (const Error& error) {
        EXPECT_EQ("Cannot open file " + file + ": It is too large to be an install log.",
                  std::string(error.what()));
    }
}

// More entries than one directory read returns, so that every batch of a
// large fetch is taken.
TEST_F(Win32FileSystemTest, LargeFolderIsListedCompletely) {
    constexpr int count = 3000;
    for (int i = 0; i < count; ++i)
        world_->createFile(at("Many\\file" + std::to_string(i) + ".dat"), "");

    const auto started = std::chrono::steady_clock::now();
    const FolderListing listing = fs_.listFolder(at("Many"));
    const auto elapsed = std::chrono::steady_clock::now() - started;

    ASSERT_EQ(static_cast<std::size_t>(count), listing.files.size());
    std::vector<std::string> files = listing.files;
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files.end(), std::adjacent_find(files.begin(), files.end())) << "a file twice";
    RecordProperty(
        "listing_ms",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
}

} // namespace
} // namespace uninst

namespace uninst {
namespace {

std::wstring wide(const std::string& path) {
    return text::toWide(path);
}

TEST_F(Win32FileSystemTest, CheckDeleteTellsInUseFromRefusedAndChangesNothing) {
    world_->createFile(at("App\\free.txt"), "a");
    world_->createFile(at("App\\held.txt"), "b");
    world_->createFile(at("App\\shared.txt"), "c");
    world_->createFile(at("App\\locked.txt"), "d");
    world_->makeReadOnly(at("App\\locked.txt"));
    // Held without sharing, and held sharing all but deletion: both stop a
    // deletion, so both are in use.
    const test::FileHandle held(CreateFileW(wide(at("App\\held.txt")).c_str(), GENERIC_READ, 0,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    const test::FileHandle shared(CreateFileW(wide(at("App\\shared.txt")).c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held && shared);

    EXPECT_EQ(fs_.checkDelete(at("App\\free.txt")).answer, Deletable::yes);
    EXPECT_EQ(fs_.checkDelete(at("App\\gone.txt")).answer, Deletable::missing);
    const DeleteCheck inUse = fs_.checkDelete(at("App\\held.txt"));
    EXPECT_EQ(inUse.answer, Deletable::inUse);
    EXPECT_NE(inUse.reason.find(at("App\\held.txt")), std::string::npos) << inUse.reason;
    EXPECT_EQ(fs_.checkDelete(at("App\\shared.txt")).answer, Deletable::inUse);
    EXPECT_EQ(fs_.checkDelete(at("App\\locked.txt")).answer, Deletable::refused);
    EXPECT_EQ(fs_.checkDelete(at("App")).answer, Deletable::refused);
    for (const char* name : {"free.txt", "held.txt", "shared.txt", "locked.txt"})
        EXPECT_TRUE(world_->fileExists(at(std::string("App\\") + name))) << name;
}

// A file mapped by a process (an image: a loaded DLL, a running program; or
// a view of its data) opens for deletion, and only the deletion is refused:
// Windows checks the file's sections when the file is marked, Wine 8 any
// mapping of it. The check asks for the mark and takes it back, held or
// not, so it answers in use, and a checked file that can go stays in place
// when the file system goes away without deleting it.
TEST_F(Win32FileSystemTest, MappedFileIsInUseAndTheCheckMarksNothingForGood) {
    wchar_t self[MAX_PATH * 2] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH * 2), 0u);
    world_->createFile(at("App\\data.bin"), std::string(4096, 'd'));
    world_->createFile(at("App\\free.txt"), "a");
    ASSERT_TRUE(CopyFileW(self, wide(at("App\\plugin.dll")).c_str(), FALSE));
    const HMODULE image =
        LoadLibraryExW(wide(at("App\\plugin.dll")).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(image, nullptr);
    const test::FileHandle data(CreateFileW(wide(at("App\\data.bin")).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(data);
    const test::KernelHandle section(
        CreateFileMappingW(data.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    ASSERT_TRUE(section);
    const void* view = MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);

    for (const std::size_t limit : {win32::fallbackHeldFiles, std::size_t{0}}) {
        SCOPED_TRACE(limit == 0 ? "not held" : "held");
        {
            Win32FileSystem fs(limit);
            const std::vector<DeleteCheck> checks =
                fs.checkDeletes({at("App\\plugin.dll"), at("App\\data.bin"), at("App\\free.txt")});
            EXPECT_EQ(checks[0].answer, Deletable::inUse) << checks[0].reason;
            EXPECT_NE(checks[0].reason.find(at("App\\plugin.dll")), std::string::npos);
            EXPECT_EQ(checks[1].answer, Deletable::inUse) << checks[1].reason;
            EXPECT_EQ(checks[2].answer, Deletable::yes) << checks[2].reason;
        }
        for (const char* name : {"plugin.dll", "data.bin", "free.txt"})
            EXPECT_TRUE(world_->fileExists(at(std::string("App\\") + name))) << name;
    }

    // A run that changes nothing never marks: the loaded image still reads
    // as in use, through the writing its open asks for, and so does the
    // mapped file, whose holder shares no writing. A view left without its
    // file's handle is seen only by the mark.
    world_->createFile(at("App\\view.bin"), "view");
    const void* lone = nullptr;
    {
        const test::FileHandle file(
            CreateFileW(wide(at("App\\view.bin")).c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        const test::KernelHandle mapping(
            CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        ASSERT_TRUE(mapping);
        lone = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
        ASSERT_NE(lone, nullptr);
    }
    EXPECT_EQ(fs_.checkDelete(at("App\\view.bin")).answer, Deletable::inUse);
    {
        Win32FileSystem fs(Win32FileSystem::ChangesNothing{});
        const std::vector<DeleteCheck> checks =
            fs.checkDeletes({at("App\\plugin.dll"), at("App\\data.bin"), at("App\\free.txt")});
        EXPECT_EQ(checks[0].answer, Deletable::inUse) << checks[0].reason;
        EXPECT_EQ(checks[1].answer, Deletable::inUse) << checks[1].reason;
        EXPECT_EQ(checks[2].answer, Deletable::yes) << checks[2].reason;
        world_->createFile(at("App\\kept.txt"), "x");
        world_->makeReadOnly(at("App\\kept.txt"));
        EXPECT_EQ(fs.checkDelete(at("App\\kept.txt")).answer, Deletable::refused);
        EXPECT_EQ(fs.checkDelete(at("App\\view.bin")).answer, Deletable::yes);
    }
    UnmapViewOfFile(lone);
    EXPECT_TRUE(world_->fileExists(at("App\\view.bin")));

    UnmapViewOfFile(view);
    FreeLibrary(image);
    EXPECT_EQ(fs_.checkDelete(at("App\\plugin.dll")).answer, Deletable::yes);
}

TEST_F(Win32FileSystemTest, ACheckedFileIsHeldUntilDeletedAndStaysReadable) {
    world_->createFile(at("App\\st6unst.log"), "log text");
    ASSERT_EQ(fs_.checkDelete(at("App\\st6unst.log")).answer, Deletable::yes);
    // Held for the deletion: nobody can take it meanwhile, yet the run can
    // still read its install log.
    const test::FileHandle other(CreateFileW(wide(at("App\\st6unst.log")).c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(other);
    EXPECT_EQ(fs_.readTextFile(at("App\\st6unst.log")), "log text");
    EXPECT_EQ(fs_.deleteFile(at("App\\st6unst.log")), Removal::removed);
    EXPECT_FALSE(world_->fileExists(at("App\\st6unst.log")));
}

// Another program that has a file open, even with leave to delete it, makes
// the deletion of that one file fail: marked, the file would outlive the
// deletion until that program closes it, and an install log that outlives
// its deletion is read again by a later run, which lowers the shared counts
// a second time.
TEST_F(Win32FileSystemTest, AFileSomeoneElseStillHasOpenIsNotLeftPendingDeletion) {
    world_->createFile(at("App\\st6unst.log"), "log text");
    world_->createFile(at("App\\st6unst.000"), "log text");
    const auto readLeavingDeletion = [&](const std::string& path) {
        return test::FileHandle(CreateFileW(wide(path).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    };
    {
        const test::FileHandle reader = readLeavingDeletion(at("App\\st6unst.log"));
        ASSERT_TRUE(reader);
        EXPECT_THROW(fs_.deleteFile(at("App\\st6unst.log")), Error);
    }
    EXPECT_TRUE(world_->fileExists(at("App\\st6unst.log")));

    // Held since its check, it still lets such a reader in meanwhile.
    ASSERT_EQ(fs_.checkDelete(at("App\\st6unst.000")).answer, Deletable::yes);
    {
        const test::FileHandle reader = readLeavingDeletion(at("App\\st6unst.000"));
        ASSERT_TRUE(reader);
        EXPECT_THROW(fs_.deleteFile(at("App\\st6unst.000")), Error);
    }
    EXPECT_TRUE(world_->fileExists(at("App\\st6unst.000")));
    EXPECT_EQ(fs_.deleteFile(at("App\\st6unst.000")), Removal::removed);
    EXPECT_FALSE(world_->fileExists(at("App\\st6unst.000")));
}

// Under Wine a host link to a file opens as its target, so one to another
// program's file in use is refused as that file is. It is still a link: not
// an application file in use, and never handed to the restart, which would
// delete the file behind it.
TEST_F(Win32FileSystemTest, LinkToAFileInUseIsNoFileInUseNorLeftToTheRestart) {
    world_->createFile(at("Outside\\victim.txt"), "someone else's");
    world_->createFile(at("App\\own.txt"), "x");
    if (!world_->createFileLink(at("App\\linked.txt"), at("Outside\\victim.txt")))
        GTEST_SKIP() << "this system cannot make a file link for the test";
    const test::FileHandle inUse(CreateFileW(wide(at("Outside\\victim.txt")).c_str(), GENERIC_READ,
                                             0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(inUse);
    fs_.setRemovalRoots({at("App")});

    EXPECT_EQ(fs_.checkDelete(at("App\\linked.txt")).answer, Deletable::missing);
    Win32FileSystem unnamed(0);
    unnamed.setRemovalRoots({at("App")});
    const std::vector<DeleteCheck> checks =
        unnamed.checkDeletes({at("App\\own.txt"), at("App\\linked.txt")});
    EXPECT_EQ(checks[1].answer, Deletable::missing) << "checked past the held limit";
    EXPECT_EQ(fs_.deleteFile(at("App\\linked.txt")), Removal::notFound);
    EXPECT_THROW(fs_.deleteAtRestart(at("App\\linked.txt")), Error);
    EXPECT_TRUE(world_->fileExists(at("Outside\\victim.txt")));
}

// Past the held limit a checked file's name is not compared; a link there
// to someone else's read-only file is still no file that refuses, which
// would stop every run over what it never deletes.
TEST_F(Win32FileSystemTest, LinkToAReadOnlyFileIsNoFileThatRefuses) {
    world_->createFile(at("Outside\\locked.txt"), "someone else's");
    world_->makeReadOnly(at("Outside\\locked.txt"));
    world_->createFile(at("App\\own.txt"), "x");
    world_->makeReadOnly(at("App\\own.txt"));
    if (!world_->createFileLink(at("App\\linked.txt"), at("Outside\\locked.txt")))
        GTEST_SKIP() << "this system cannot make a file link for the test";
    Win32FileSystem unheld(0);
    unheld.setRemovalRoots({at("App")});
    const std::vector<DeleteCheck> checks =
        unheld.checkDeletes({at("App\\own.txt"), at("App\\linked.txt")});
    EXPECT_EQ(checks[0].answer, Deletable::refused);
    EXPECT_EQ(checks[1].answer, Deletable::missing);
}

// A large install must not run the process, or Wine's shared server, out of
// handles: past the limit checked files are closed again, and still deleted.
TEST_F(Win32FileSystemTest, FilesCheckedPastTheHeldLimitAreStillDeleted) {
    Win32FileSystem fs(2);
    for (int i = 0; i < 5; ++i)
        world_->createFile(at("App\\f" + std::to_string(i) + ".txt"), "x");
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(fs.checkDelete(at("App\\f" + std::to_string(i) + ".txt")).answer, Deletable::yes);
    // The first two are held; the last ones may be opened by others again.
    const test::FileHandle late(CreateFileW(wide(at("App\\f4.txt")).c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(late);
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i)
        files.push_back(at("App\\f" + std::to_string(i) + ".txt"));
    const FileRemovals removed = fs.deleteFiles(files);
    EXPECT_FALSE(removed.failure) << *removed.failure;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(removed.removals[i], Removal::removed) << i;
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(world_->fileExists(at("App\\f" + std::to_string(i) + ".txt"))) << i;
}

// A large install is checked and deleted several files at a time. Each file
// still gets its own answer in order, the same checks hold, and a failure
// stops the deletions and names its file.
TEST_F(Win32FileSystemTest, ManyFilesAreCheckedAndDeletedTogetherWithTheSameChecks) {
    Win32FileSystem fs(150);
    std::vector<std::string> files;
    for (int i = 0; i < 300; ++i) {
        files.push_back(at("App\\f" + std::to_string(i) + ".dll"));
        world_->createFile(files.back(), "x");
    }
    world_->createFile(at("Outside\\victim.txt"), "someone else's");
    const bool fileLink = world_->createFileLink(at("App\\linked.txt"), at("Outside\\victim.txt"));
    if (fileLink)
        files.push_back(at("App\\linked.txt"));
    files.push_back(at("App\\gone.dll"));
    files.push_back(files[7]);
    world_->makeReadOnly(files[200]);
    const test::FileHandle held(
        CreateFileW(wide(files[100]).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    const std::vector<DeleteCheck> checks = fs.checkDeletes(files);
    ASSERT_EQ(checks.size(), files.size());
    for (std::size_t i = 0; i < 300; ++i) {
        const Deletable expected = i == 100   ? Deletable::inUse
                                   : i == 200 ? Deletable::refused
                                              : Deletable::yes;
        EXPECT_EQ(checks[i].answer, expected) << i;
    }
    EXPECT_NE(checks[100].reason.find(files[100]), std::string::npos) << checks[100].reason;
    EXPECT_EQ(checks[files.size() - 2].answer, Deletable::missing);
    EXPECT_EQ(checks.back().answer, Deletable::yes) << "a path given twice reads as in use";
    // Past the held limit a file is only asked about and closed, so a link
    // there may answer yes: its deletion finds it out.
    if (fileLink) {
        EXPECT_TRUE(checks[300].answer == Deletable::missing ||
                    checks[300].answer == Deletable::yes);
    }

    std::vector<std::string> deletable;
    for (std::size_t i = 0; i < files.size() - 1; ++i) {
        if (i != 100 && i != 200)
            deletable.push_back(files[i]);
    }
    const FileRemovals removed = fs.deleteFiles(deletable);
    EXPECT_FALSE(removed.failure) << *removed.failure;
    for (std::size_t i = 0; i < deletable.size(); ++i) {
        const bool leftAlone =
            deletable[i] == at("App\\gone.dll") || deletable[i] == at("App\\linked.txt");
        EXPECT_EQ(removed.removals[i], leftAlone ? Removal::notFound : Removal::removed)
            << deletable[i];
        if (!leftAlone) {
            EXPECT_FALSE(world_->fileExists(deletable[i])) << deletable[i];
        }
    }
    EXPECT_TRUE(world_->fileExists(at("Outside\\victim.txt")));

    for (int i = 0; i < 100; ++i)
        world_->createFile(files[i], "x");
    std::vector<std::string> again(files.begin(), files.begin() + 101);
    const FileRemovals stopped = fs.deleteFiles(again);
    ASSERT_TRUE(stopped.failure);
    EXPECT_NE(stopped.failure->find(files[100]), std::string::npos) << *stopped.failure;
    EXPECT_FALSE(stopped.removals[100]);
    EXPECT_TRUE(world_->fileExists(files[100]));
    for (std::size_t i = 0; i < again.size(); ++i) {
        if (stopped.removals[i]) {
            EXPECT_FALSE(world_->fileExists(again[i])) << again[i];
        }
    }
}

// The budget is read from the host's process table: a limit as Linux prints
// it, soft column first; anything else leaves the fallback in charge.
TEST(HeldFileBudget, TheLimitIsTheSoftColumnAndAQuarterIsLeftToOthers) {
    constexpr std::string_view limits =
        "Limit                     Soft Limit           Hard Limit           Units     \n"
        "Max processes             96363                96363                processes \n"
        "Max open files            20000                524288               files     \n";
    EXPECT_EQ(win32::openFileLimit(limits), 20000u);
    EXPECT_EQ(win32::openFileLimit("Max open files            unlimited            unlimited\n"),
              std::nullopt);
    EXPECT_EQ(win32::openFileLimit("Max processes 100 100\n"), std::nullopt);

    for (const auto& [limit, open] : {std::pair<std::size_t, std::size_t>{20000, 223},
                                      {20000, 19000},
                                      {1200, 60},
                                      {1024, 0},
                                      {1048576, 300}}) {
        const std::size_t held = win32::heldFilesWithin(limit, open);
        SCOPED_TRACE(std::to_string(limit) + " with " + std::to_string(open) + " open");
        // Never more than leaves a quarter of the limit, and 1,024 at least, free.
        if (held > 0) {
            EXPECT_LE(held + open + std::max<std::size_t>(limit / 4, 1024), limit);
        }
        EXPECT_LE(held, win32::mostHeldFiles);
    }
    EXPECT_EQ(win32::heldFilesWithin(20000, 223), 14777u);
    EXPECT_EQ(win32::heldFilesWithin(1024, 0), 0u);
}

// Under Wine the server this run shares is found and its spare descriptors
// counted, in either prefix; on Windows a handle is no descriptor.
TEST(HeldFileBudget, UnderWineItIsTheServersSpareDescriptors) {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        EXPECT_EQ(win32::heldFileBudget(), win32::fallbackHeldFiles);
        return;
    }
    const test::FileHandle file(CreateFileW(L"\\\\?\\unix\\proc\\self\\limits", GENERIC_READ,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    std::string text(16384, '\0');
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr));
    text.resize(read);
    const std::optional<std::size_t> limit = win32::openFileLimit(text);
    ASSERT_TRUE(limit);
    const std::size_t budget = win32::heldFileBudget();
    EXPECT_LE(budget, *limit - std::max<std::size_t>(*limit / 4, 1024));
    if (*limit >= 8192) {
        EXPECT_GT(budget, win32::fallbackHeldFiles);
    }
}

} // namespace
} // namespace uninst
