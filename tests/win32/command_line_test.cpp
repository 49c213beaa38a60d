// What the engine reproduces of the system must match the system itself:
// how it splits a command line into arguments, how it folds letters in file
// names, and where the run's log may be created.

#include "engine/command_line.h"
#include "engine/error.h"
#include "platform/text_encoding.h"
#include "platform/win32_filesystem.h"
#include "platform/win32_run_log.h"
#include "tests/contract/world.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <windows.h>

#include <string>
#include <vector>

namespace uninst {
namespace {

std::vector<std::string> systemSplit(const std::string& text) {
    const std::wstring line = L"uninstall.exe " + text::toWide(text);
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::string> values;
    for (int i = 1; arguments != nullptr && i < count; ++i)
        values.push_back(text::fromWide(arguments[i]));
    LocalFree(arguments);
    return values;
}

TEST(SystemRules, ArgumentsSplitAsCommandLineToArgvWSplitsThem) {
    for (const std::string text : {
             "/quiet /keep:*.mdb myapp.exe",
             " \ta  b\t ",
             "\"/log:C:\\a b\\u.log\" /log:\"C:\\a b\\u.log\" a\"b c\"d",
             "C:\\a\\ \\\\server\\x",
             "\"a\\\\\" b",
             "a\\\\\\\\\"b c\"",
             "a\\\"b c",
             "a\\\\\\\"b",
             "\"C:\\My Logs\\\" x",
             "\"a\"\"b c\"",
             "\"a\"\"\"b c\"",
             "\"\" x \"\"\"\"",
             "a\"\"b \"\"\"\"\"\" c",
             "/log:\"u.log\"x \"my app.exe\"",
             "/keep:My\" \"Data\\* /log:C:\\\\\"a b\"\\u.log",
             "a \"b",
         }) {
        SCOPED_TRACE(text);
        std::vector<std::string> ours;
        for (const Argument& argument : splitArguments(text).arguments)
            ours.push_back(argument.value);
        EXPECT_EQ(ours, systemSplit(text));
    }
}

TEST(SystemRules, LettersFoldAsTheFileSystemComparesNames) {
    Win32FileSystem fs;
    const std::pair<std::string, std::string> same[] = {
        {"έγγραφα\\letter.doc", "Έγγραφα\\LETTER.DOC"},
        {"σημείωση.txt", "ΣΗΜΕΊΩΣΗ.TXT"},
        {"ґрунт.dat", "Ґрунт.dat"},
        {"ǎ.txt", "Ǎ.txt"},
        {"ệ.txt", "Ệ.txt"},
        {"ｄａｔａ.mdb", "ＤＡＴＡ.mdb"},
        {"café", "CAFÉ"},
    };
    for (const auto& [small, capital] : same) {
        SCOPED_TRACE(small);
        const std::wstring a = text::toWide(small);
        const std::wstring b = text::toWide(capital);
        ASSERT_EQ(CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                       static_cast<int>(b.size()), TRUE),
                  CSTR_EQUAL);
        EXPECT_EQ(fs.foldCase(small), fs.foldCase(capital));
    }
    // One character for one: no linguistic casing.
    EXPECT_EQ(text::toWide(fs.foldCase("straße")).size(), 6u);
    EXPECT_NE(fs.foldCase("cafe"), fs.foldCase("café"));
}

std::string readAll(const std::string& path) {
    HANDLE file =
        CreateFileW(text::toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "(cannot be read)";
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    CloseHandle(file);
    return content;
}

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        world_ = test::makeContractWorld();
        root_ = world_->folderRoot();
    }
    std::string at(const std::string& relative) { return root_ + "\\" + relative; }

    std::unique_ptr<test::ContractWorld> world_;
    std::string root_;
};

TEST_F(LogFile, CreatedOnlyWhenOpenedAndThenGivenTheLinesHeldSoFar) {
    world_->createFolder(at("Logs"));
    FileRunLog log(at("Logs\\run.log"));
    log.write("first");
    EXPECT_FALSE(world_->fileExists(at("Logs\\run.log")));
    EXPECT_TRUE(log.pending());
    log.open();
    log.write("second");
    EXPECT_EQ(readAll(at("Logs\\run.log")), "first\r\nsecond\r\n");

    FileRunLog refused(at("Logs\\other.log"));
    refused.write("never");
    refused.refuse();
    refused.open();
    EXPECT_FALSE(world_->fileExists(at("Logs\\other.log")));
}

// A standard user can make the folder a deployment names for its logs, or
// one above it, a link to another folder: nothing may be created there.
TEST_F(LogFile, AFolderOnThePathThatIsALinkIsRefusedAndNothingCreatedBehindIt) {
    world_->createFolder(at("Elsewhere\\Deeper"));
    world_->createFolder(at("Real"));
    world_->createFolderLink(at("Logs"), at("Elsewhere"));
    world_->createFolderLink(at("Real\\Linked"), at("Elsewhere"));
    for (const std::string& path :
         {at("Logs\\u.log"), at("Logs\\Deeper\\u.log"), at("Real\\Linked\\u.log")}) {
        SCOPED_TRACE(path);
        try {
            FileRunLog log(path);
            log.open();
            ADD_FAILURE() << "not refused";
        } catch (const Error& error) {
            EXPECT_NE(std::string(error.what()).find("link"), std::string::npos) << error.what();
        }
    }
    EXPECT_FALSE(world_->fileExists(at("Elsewhere\\u.log")));
    EXPECT_FALSE(world_->fileExists(at("Elsewhere\\Deeper\\u.log")));
}

TEST_F(LogFile, ALinkOrASecondNameOfAnotherFileIsRefusedAndLeftAsItWas) {
    world_->createFile(at("Outside\\precious.txt"), "user data");
    world_->createFolder(at("Logs"));
    if (!world_->createFileLink(at("Logs\\linked.log"), at("Outside\\precious.txt")))
        GTEST_SKIP() << "this system cannot make a file link for the test";
    FileRunLog log(at("Logs\\linked.log"));
    log.write("line");
    EXPECT_THROW(log.open(), Error);
    EXPECT_EQ(readAll(at("Outside\\precious.txt")), "user data");

    EXPECT_THROW(FileRunLog(at("Logs\\u.log:stream")), Error);
    EXPECT_THROW(FileRunLog(at("Missing\\u.log")), Error);
}

} // namespace
} // namespace uninst
