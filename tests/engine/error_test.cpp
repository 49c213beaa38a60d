#include "engine/error.h"
#include "engine/keep_patterns.h"

#include <gtest/gtest.h>

namespace uninst {
namespace {

TEST(Error, CannotNamesOperationSubjectAndDetail) {
    const Error error = Error::cannot("delete file", "C:\\App\\a.dll", "Access is denied.");
    EXPECT_STREQ(error.what(), "Cannot delete file C:\\App\\a.dll: Access is denied.");
    EXPECT_EQ(error.operation(), "delete file");
    EXPECT_EQ(error.subject(), "C:\\App\\a.dll");
}

TEST(Error, RefusedKeepPatternCarriesThePattern) {
    try {
        KeepPattern pattern("C:");
        FAIL() << "a drive without its root folder was taken";
    } catch (const Error& error) {
        EXPECT_EQ(error.operation(), "keep");
        EXPECT_EQ(error.subject(), "C:");
        EXPECT_NE(std::string(error.what()).find("\"C:\""), std::string::npos) << error.what();
    }
}

} // namespace
} // namespace uninst
