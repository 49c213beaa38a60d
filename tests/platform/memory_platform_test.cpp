// What the in-memory registry and file system do beyond the shared contract:
// the parts a Win32 world cannot set up (files in use, handle counts) and the
// choices documented in their headers.

#include "engine/error.h"
#include "tests/support/error_text.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/memory_registry.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace uninst {
namespace {

using test::errorOf;
using Names = std::vector<std::string>;

TEST(MemoryRegistry, HandlesAreCountedAndGoStaleWhenTheirKeyGoes) {
    MemoryRegistry reg;
    reg.createKey("Software\\A\\B");
    Registry::Key a = 0;
    Registry::Key b = 0;
    ASSERT_EQ(Registry::Status::success(), reg.openKey(Registry::localMachine, "Software\\A", a));
    ASSERT_EQ(Registry::Status::success(), reg.openKey(a, "b", b))
        << "open relative to an open key";
    EXPECT_EQ(2u, reg.openHandleCount());

    ASSERT_EQ(Registry::Status::success(), reg.deleteKey(b, ""))
        << "an empty sub-key names the key itself";
    EXPECT_FALSE(reg.keyExists("Software\\A\\B"));
    Registry::Value value;
    EXPECT_EQ(MemoryRegistry::keyDeleted, reg.readValue(b, "x", value));
    EXPECT_EQ(MemoryRegistry::keyDeleted, reg.setDwordValue(b, "x", 1));

    EXPECT_EQ(Registry::Status::success(), reg.closeKey(b));
    EXPECT_EQ(Registry::Status::invalidHandle(), reg.closeKey(b)) << "closing twice";
    EXPECT_EQ(Registry::Status::invalidHandle(), reg.setDwordValue(b, "x", 1));
    EXPECT_EQ(1u, reg.openHandleCount());
    EXPECT_EQ(Registry::Status::success(), reg.closeKey(a));
    EXPECT_EQ(0u, reg.openHandleCount());

    Registry::Key out = 77;
    EXPECT_TRUE(reg.openKey(Registry::localMachine, "Software\\Z", out).isNotFound());
    EXPECT_EQ(77u, out) << "a failed open hands out no handle";
    EXPECT_FALSE(reg.openKey(Registry::localMachine, "\\Software", out).isSuccess());
    EXPECT_EQ(Registry::Status::accessDenied(), reg.deleteKey(Registry::localMachine, "Software"));
}

TEST(MemoryRegistry, NonAsciiNamesMatchAndSortWithoutCase) {
    MemoryRegistry reg;
    for (const char* name : {"émile", "Zeta", "Ångström", "alpha", "ωμέγα", "ΑΛΦΑ"})
        reg.createKey("Software\\Intl\\" + std::string(name));

    EXPECT_TRUE(reg.keyExists("SOFTWARE\\INTL\\ÉMILE"));
    EXPECT_TRUE(reg.keyExists("software\\intl\\ΩΜΈΓΑ"));
    EXPECT_FALSE(reg.keyExists("software\\intl\\άλφα")) << "accents still count";
    EXPECT_EQ((Names{"alpha", "Zeta", "Ångström", "émile", "ΑΛΦΑ", "ωμέγα"}),
              reg.subKeyNames("Software\\Intl"));
}

TEST(MemoryRegistry, FixtureReadersReportWhatIsStored) {
    MemoryRegistry reg;
    reg.setDword("Software\\SharedDLLs", "C:\\WINDOWS\\SYSTEM\\a.dll", 3);
    reg.setString("Software\\SharedDLLs", "Text", "abc");
    reg.setValue("Software\\SharedDLLs", "Short", Registry::typeDword, "ab");

    EXPECT_EQ(3u, reg.dword("software\\shareddlls", "c:\\windows\\system\\A.DLL"));
    EXPECT_EQ(std::string("abc\0", 4), reg.value("Software\\SharedDLLs", "text")->data);
    EXPECT_FALSE(reg.dword("Software\\SharedDLLs", "Text")) << "not a REG_DWORD";
    EXPECT_FALSE(reg.dword("Software\\SharedDLLs", "Short")) << "not 4 bytes";
    EXPECT_FALSE(reg.value("Software\\Missing", "x"));
    EXPECT_TRUE(reg.subKeyNames("Software\\Missing").empty());
}

TEST(MemoryRegistry, ManySiblingsOpenByAnySpellingAndEnumerateSorted) {
    MemoryRegistry reg;
    for (int i = 4999; i >= 0; --i)
        reg.createKey("Software\\Uninstall\\{entry-" + std::to_string(i) + "}");
    for (int i = 0; i < 5000; ++i) {
        Registry::Key key = 0;
        ASSERT_EQ(Registry::Status::success(),
                  reg.openKey(Registry::localMachine,
                              "SOFTWARE\\UNINSTALL\\{ENTRY-" + std::to_string(i) + "}", key));
        reg.closeKey(key);
    }
    EXPECT_EQ(0u, reg.openHandleCount());
    const Names names = reg.subKeyNames("Software\\Uninstall");
    ASSERT_EQ(5000u, names.size());
    // "}" sorts after the digits, as in the registry.
    EXPECT_EQ("{entry-0}", names.front());
    EXPECT_EQ("{entry-1000}", names[1]);
    EXPECT_EQ("{entry-9}", names.back());
}

TEST(MemoryFileSystem, FileInUseRefusesDeletionNamingIt) {
    MemoryFileSystem fs;
    fs.addFile("C:\\App\\busy.exe");
    fs.setInUse("C:\\App\\busy.exe");

    EXPECT_EQ("Cannot delete file C:\\App\\busy.exe: The process cannot access the file because "
              "it is being used by another process.",
              errorOf([&] { fs.deleteFile("C:\\App\\busy.exe"); }));
    EXPECT_EQ("Cannot delete file C:\\app\\busy.exe: The process cannot access the file because "
              "it is being used by another process.",
              errorOf([&] { fs.deleteFolder("C:\\app"); }))
        << "inside a folder the path is the caller's folder and the stored name";
    EXPECT_TRUE(fs.fileExists("C:\\App\\busy.exe"));
}

TEST(MemoryFileSystem, DeleteFolderStopsAtTheFirstRefusalInListingOrder) {
    MemoryFileSystem fs;
    fs.addFile("C:\\App\\a.txt");
    fs.addFile("C:\\App\\b.txt");
    fs.addFile("C:\\App\\c.txt");
    fs.addFile("C:\\App\\Sub\\d.txt");
    fs.setReadOnly("C:\\App\\b.txt");

    EXPECT_EQ("Cannot delete file C:\\App\\b.txt: Access is denied.",
              errorOf([&] { fs.deleteFolder("C:\\App"); }));
    EXPECT_EQ((Names{"C:\\App\\", "C:\\App\\Sub\\", "C:\\App\\Sub\\d.txt", "C:\\App\\b.txt",
                     "C:\\App\\c.txt"}),
              fs.snapshot("C:\\App"));

    fs.setReadOnly("C:\\App\\b.txt", false);
    fs.setReadOnly("C:\\App\\Sub");
    EXPECT_EQ("Cannot delete folder C:\\App\\Sub: Access is denied.",
              errorOf([&] { fs.deleteFolder("C:\\App"); }))
        << "a read-only folder refuses removal once emptied";
    EXPECT_EQ((Names{"C:\\App\\", "C:\\App\\Sub\\"}), fs.snapshot("C:\\App"));
}

TEST(MemoryFileSystem, LinksAreNeitherFollowedNorRemoved) {
    MemoryFileSystem fs;
    fs.addFile("C:\\Users\\me\\doc.txt", "mine");
    fs.addLink("C:\\App\\Docs", "C:\\Users\\me");

    EXPECT_EQ("Cannot open folder C:\\App\\Docs: It is a link to another folder, which is never "
              "entered.",
              errorOf([&] { fs.listFolder("C:\\App\\Docs"); }));
    EXPECT_EQ(Removal::notFound, fs.deleteFolder("C:\\App\\Docs"));
    EXPECT_EQ(Removal::notFound, fs.deleteFile("C:\\App\\Docs\\doc.txt"))
        << "a path through a link leads nowhere";
    EXPECT_FALSE(fs.exists("C:\\App\\Docs\\doc.txt"));
    EXPECT_EQ(Removal::removed, fs.deleteFolder("C:\\App"));
    EXPECT_EQ((Names{"C:\\App\\", "C:\\App\\Docs -> C:\\Users\\me"}), fs.snapshot("C:\\App"));
    EXPECT_TRUE(fs.fileExists("C:\\Users\\me\\doc.txt"));
}

TEST(MemoryFileSystem, PathsAreReadAsWindowsReadsThem) {
    MemoryFileSystem fs;
    fs.addFile("C:\\App\\a.txt", "a");

    const FolderListing root = fs.listFolder("c:");
    ASSERT_EQ(1u, root.subFolders.size());
    EXPECT_EQ("c:\\App", root.subFolders[0].path) << "the caller's prefix, the stored name";
    EXPECT_EQ(root.subFolders[0].path, fs.listFolder("c:\\").subFolders[0].path);
    EXPECT_EQ(Names{"C:\\App\\a.txt"}, fs.listFolder("C:\\App\\").files);
    EXPECT_EQ("a", fs.readTextFile("C:/App/Sub/../a.txt"));
    EXPECT_EQ("a", fs.readTextFile("C:\\App\\.\\a.txt"));
    EXPECT_TRUE(fs.folderExists("D:")) << "every drive root exists";
    EXPECT_FALSE(fs.folderExists("App")) << "relative paths name nothing";
    EXPECT_FALSE(fs.folderExists(""));

    EXPECT_EQ("Cannot open folder (empty path): The system cannot find the path specified.",
              errorOf([&] { fs.listFolder(""); }));
    EXPECT_EQ("Cannot open folder C:\\App\\a.txt: The directory name is invalid.",
              errorOf([&] { fs.listFolder("C:\\App\\a.txt"); }));
    EXPECT_EQ("Cannot delete file C:\\App: Access is denied.",
              errorOf([&] { fs.deleteFile("C:\\App"); }));
    EXPECT_EQ("Cannot delete folder C:\\App\\a.txt: The directory name is invalid.",
              errorOf([&] { fs.deleteFolder("C:\\App\\a.txt"); }));
    EXPECT_EQ("Cannot delete folder C:\\: Access is denied.",
              errorOf([&] { fs.deleteFolder("C:\\"); }));
    EXPECT_EQ("Cannot open file C:\\App\\b.txt: The system cannot find the file specified.",
              errorOf([&] { fs.readTextFile("C:\\App\\b.txt"); }));
}

TEST(MemoryFileSystem, FullPathReadsPartialPathsAgainstTheCurrentFolders) {
    MemoryFileSystem fs;
    EXPECT_EQ("C:\\", fs.fullPath("C:."));
    EXPECT_EQ("C:\\App", fs.fullPath("App"));
    EXPECT_EQ("C:\\App", fs.fullPath("\\App"));

    fs.setDriveFolder("C:\\WINDOWS");
    fs.setCurrentFolder("D:\\Work\\Here");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"C:.", "C:\\WINDOWS"},
        {"C:..\\x", "C:\\x"},
        {"C:App", "C:\\WINDOWS\\App"},
        {"D:.", "D:\\Work\\Here"},
        {"d:..\\x", "D:\\Work\\x"},
        {"E:x", "E:\\x"},
        {"\\App", "D:\\App"},
        {"/App", "D:\\App"},
        {"App\\x.exe", "D:\\Work\\Here\\App\\x.exe"},
        {"..\\..\\..\\x", "D:\\x"},
        {"\\??\\C:\\x", "D:\\??\\C:\\x"},
        {"\\\\?\\C:\\App ", "\\\\?\\C:\\App"},
        {"\\\\.\\C:\\App\\..\\x", "\\\\.\\C:\\x"},
        {"\\\\server", "\\\\server"},
    };
    for (const auto& [given, expected] : cases)
        EXPECT_EQ(expected, fs.fullPath(given)) << given;
    EXPECT_THROW(fs.fullPath(""), Error);
}

TEST(MemoryFileSystem, FixtureRefusesImpossibleWorlds) {
    MemoryFileSystem fs;
    fs.addFile("C:\\App\\a.txt");
    fs.addLink("C:\\App\\L", "C:\\Elsewhere");
    EXPECT_THROW(fs.addFile("C:\\App\\a.txt\\b.txt"), std::invalid_argument);
    EXPECT_THROW(fs.addFile("C:\\App\\L\\b.txt"), std::invalid_argument);
    EXPECT_THROW(fs.addFolder("C:\\App\\A.TXT"), std::invalid_argument);
    EXPECT_THROW(fs.setReadOnly("C:\\App\\missing"), std::invalid_argument);
    fs.addFile("C:\\APP\\A.TXT", "new content");
    EXPECT_EQ(Names{"C:\\App\\a.txt"}, fs.listFolder("C:\\App").files)
        << "rewriting a file keeps its stored name";
    EXPECT_EQ("new content", fs.readTextFile("C:\\App\\a.txt"));
}

TEST(MemoryFileSystem, LargeTreesListAndGoQuickly) {
    MemoryFileSystem fs;
    for (int folder = 0; folder < 100; ++folder)
        for (int file = 0; file < 300; ++file)
            fs.addFile("C:\\Big\\F" + std::to_string(folder) + "\\file" + std::to_string(file) +
                       ".dat");
    std::size_t files = 0;
    for (const auto& sub : fs.listFolder("C:\\Big").subFolders)
        files += fs.listFolder(sub.path).files.size();
    EXPECT_EQ(30000u, files);
    EXPECT_EQ(Removal::removed, fs.deleteFolder("C:\\Big"));
    EXPECT_FALSE(fs.exists("C:\\Big"));
}

} // namespace
} // namespace uninst
