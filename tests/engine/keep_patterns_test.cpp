#include "engine/keep_patterns.h"

#include "engine/error.h"
#include "tests/support/recording_ports.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace uninst::test {
namespace {

bool keeps(const std::string& pattern, const std::string& relative) {
    return KeepPattern(pattern).matches(relative);
}

TEST(KeepPattern, MatchesTheWholeRelativePathWithoutRegardToCase) {
    EXPECT_TRUE(keeps("data.mdb", "DATA.MDB"));
    EXPECT_TRUE(keeps("CAFÉ.TXT", "café.txt"));
    EXPECT_TRUE(keeps("ΑΡΧΕΙΟ.TXT", "αρχειο.txt"));
    EXPECT_TRUE(keeps("ДАННЫЕ\\*", "данные\\a.db"));
    // The whole path, not its end: a file of that name deeper down is
    // another file.
    EXPECT_FALSE(keeps("data.mdb", "old\\data.mdb"));
    EXPECT_FALSE(keeps("data.mdb", "data.mdb.bak"));
    EXPECT_FALSE(keeps("café.txt", "cafe.txt"));
}

TEST(KeepPattern, StarCrossesSeparatorsAndQuestionMarkDoesNot) {
    EXPECT_TRUE(keeps("*.mdb", "a.mdb"));
    EXPECT_TRUE(keeps("*.mdb", "db\\2024\\b.MDB"));
    EXPECT_TRUE(keeps("data\\*", "data\\a.mdb"));
    EXPECT_TRUE(keeps("data\\*", "data\\sub\\deep\\b.txt"));
    EXPECT_FALSE(keeps("data\\*", "database.mdb"));
    EXPECT_FALSE(keeps("data\\*", "old\\data\\a.mdb"));
    EXPECT_TRUE(keeps("*\\data\\*", "old\\data\\a.mdb"));
    EXPECT_TRUE(keeps("a?c.txt", "abc.txt"));
    EXPECT_TRUE(keeps("a?c.txt", "aéc.txt")); // one character, two bytes
    EXPECT_FALSE(keeps("a?c.txt", "a\\c.txt"));
    EXPECT_FALSE(keeps("a?c.txt", "ac.txt"));
    EXPECT_TRUE(keeps("*", "anything\\at\\all"));
    EXPECT_TRUE(keeps("*a*a*a*a*a*b", std::string(200, 'a') + "b"));
    EXPECT_FALSE(keeps("*a*a*a*a*a*b", std::string(200, 'a')));
}

TEST(KeepPattern, ForwardSlashesAndALeadingSeparatorNameTheSameFiles) {
    EXPECT_TRUE(keeps("data/*", "data\\a.mdb"));
    EXPECT_TRUE(keeps("\\data\\*", "data\\a.mdb"));
    EXPECT_TRUE(keeps("/help/*.hlp", "help\\x.hlp"));
}

TEST(KeepPattern, RefusesAPatternThatNamesNothing) {
    for (const char* empty : {"", "\\", "/", "\\\\"}) {
        SCOPED_TRACE(empty);
        EXPECT_THROW(KeepPattern{empty}, Error);
    }
}

TEST(KeepPattern, PathsOutsideTheInstallFolderAreNeverKept) {
    const std::string dir = "C:\\Program Files\\App";
    EXPECT_EQ(relativeToInstallFolder(dir, dir + "\\data\\a.mdb"), "data\\a.mdb");
    EXPECT_EQ(relativeToInstallFolder(dir, "C:\\Program Files\\Apple\\a.mdb"), "");
    EXPECT_EQ(relativeToInstallFolder(dir, dir), "");
    EXPECT_EQ(relativeToInstallFolder(dir, dir + "\\"), "");
    const std::vector<KeepPattern> all{KeepPattern("*")};
    EXPECT_EQ(keepingPattern(all, dir, "C:\\Program Files\\Apple\\a.mdb"), nullptr);
}

TEST(KeepPattern, MarksTheRowsItNamesAndLeavesTheOtherMarks) {
    const std::string dir = "C:\\App";
    RecordingList list;
    for (const char* name : {"a.exe", "data\\one.mdb", "data\\sub\\two.txt", "readme.txt"})
        list.addRow(dir + "\\" + name);
    list.mark(dir + "\\readme.txt");
    const std::vector<KeepPattern> keep{KeepPattern("data\\*"), KeepPattern("*.MDB")};
    markKeptRows(list, dir, keep);
    EXPECT_FALSE(list.isMarked(0));
    EXPECT_TRUE(list.isMarked(1));
    EXPECT_TRUE(list.isMarked(2));
    EXPECT_TRUE(list.isMarked(3));
    // The first pattern that matches is the one the log names.
    EXPECT_EQ(keepingPattern(keep, dir, dir + "\\data\\one.mdb")->text(), "data\\*");
}

} // namespace
} // namespace uninst::test
