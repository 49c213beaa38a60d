#include "engine/error.h"
#include "platform/system_error_text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace uninst {
namespace {

// Every message the file system and the run log throw ends in this text, so
// a line break or a doubled full stop from the system would show in each.
TEST(SystemErrorText, IsTheSystemsTextInOneLineEndingInOneFullStop) {
    for (const DWORD code : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_FILE_NOT_FOUND},
                             DWORD{ERROR_SHARING_VIOLATION}}) {
        const std::string text = systemErrorText(code);
        ASSERT_GE(text.size(), 2u) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos)
            << "expected one line, got " << text;
        EXPECT_EQ(text.back(), '.') << text;
        EXPECT_NE(text[text.size() - 2], '.') << text;
        EXPECT_NE(text[text.size() - 2], ' ') << text;
        EXPECT_EQ(text.rfind("system error", 0), std::string::npos)
            << "expected the system's own text for " << code << ", got " << text;
    }
    // A code the system has no text for is still named.
    EXPECT_EQ(systemErrorText(0x2000ABCDu), "system error " + std::to_string(0x2000ABCDu) + ".");
}

TEST(SystemErrorText, FailureNamesTheOperationThePathAndTheReason) {
    EXPECT_EQ(failureText("delete file", "C:\\App\\a.dll", ERROR_ACCESS_DENIED),
              "Cannot delete file C:\\App\\a.dll: " + systemErrorText(ERROR_ACCESS_DENIED));
    try {
        fail("open folder", "", ERROR_PATH_NOT_FOUND);
        ADD_FAILURE() << "expected Error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open folder (empty path): " + systemErrorText(ERROR_PATH_NOT_FOUND));
    }
    try {
        refuse("open file", "C:\\big.log", "It is too large to be an install log.");
        ADD_FAILURE() << "expected Error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open file C:\\big.log: It is too large to be an install log.");
    }
}

} // namespace
} // namespace uninst
