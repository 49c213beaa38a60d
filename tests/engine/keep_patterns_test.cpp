#include "engine/keep_patterns.h"

#include "engine/error.h"
#include "tests/support/recording_ports.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

bool keeps(const std::string& pattern, const std::string& relative) {
    return KeepPattern(pattern).matches(relative);
}

// Checks one pattern against the relative paths it keeps and those it does not.
void expectKeeps(const std::string& pattern, std::initializer_list<std::string> kept,
                 std::initializer_list<std::string> notKept = {}) {
    for (const std::string& path : kept)
        EXPECT_TRUE(keeps(pattern, path)) << pattern << " should keep " << path;
    for (const std::string& path : notKept)
        EXPECT_FALSE(keeps(pattern, path)) << pattern << " should not keep " << path;
}

TEST(KeepPattern, MatchesTheWholeRelativePathWithoutRegardToCase) {
    // The whole path, not its end: a file of that name deeper down is
    // another file.
    expectKeeps("data.mdb", {"DATA.MDB"}, {"old\\data.mdb", "data.mdb.bak"});
    expectKeeps("CAFÉ.TXT", {"café.txt"});
    expectKeeps("café.txt", {}, {"cafe.txt"});
    expectKeeps("ΑΡΧΕΙΟ.TXT", {"αρχειο.txt"});
    expectKeeps("ДАННЫЕ\\*", {"данные\\a.db"});
}

TEST(KeepPattern, StarCrossesSeparatorsAndQuestionMarkDoesNot) {
    expectKeeps("*.mdb", {"a.mdb", "db\\2024\\b.MDB"});
    expectKeeps("data\\*", {"data\\a.mdb", "data\\sub\\deep\\b.txt"},
                {"database.mdb", "old\\data\\a.mdb"});
    expectKeeps("*\\data\\*", {"old\\data\\a.mdb"});
    // "é" is one character of two bytes.
    expectKeeps("a?c.txt", {"abc.txt", "aéc.txt"}, {"a\\c.txt", "ac.txt"});
    expectKeeps("*", {"anything\\at\\all"});
    expectKeeps("*a*a*a*a*a*b", {std::string(200, 'a') + "b"}, {std::string(200, 'a')});
}

TEST(KeepPattern, ForwardSlashesAndALeadingSeparatorNameTheSameFiles) {
    expectKeeps("data/*", {"data\\a.mdb"});
    expectKeeps("\\data\\*", {"data\\a.mdb"});
    expectKeeps("/help/*.hlp", {"help\\x.hlp"});
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
