#include "engine/keep_patterns.h"

#include "engine/error.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/memory_shell.h"
#include "tests/support/recording_ports.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace uninst::test {
namespace {

const std::string appDir = "C:\\Program Files\\MyApp";

bool keeps(const std::string& pattern, const std::string& relative) {
    MemoryFileSystem names;
    const std::vector<KeepPattern> patterns{KeepPattern(pattern)};
    const KeepRules rules(patterns, appDir, names, noShell());
    return rules.keeping(appDir + "\\" + relative) != nullptr;
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

TEST(KeepPattern, LettersFoldAsTheFileSystemFoldsThem) {
    // Greek with tonos, Ukrainian, Latin Extended-B and Additional,
    // full-width: the system opens either spelling as the same file.
    expectKeeps("έγγραφα\\*", {"Έγγραφα\\letter.doc"});
    expectKeeps("ΣΗΜΕΊΩΣΗ.TXT", {"σημείωση.txt"});
    expectKeeps("Ґрунт.dat", {"ґрунт.dat"});
    expectKeeps("ǎ.txt", {"Ǎ.TXT"});
    expectKeeps("ẞ?ệ.txt", {"ẞxỆ.txt"});
    expectKeeps("ｄａｔａ.mdb", {"ＤＡＴＡ.MDB"});
    // Folding is one character for one: no linguistic casing.
    expectKeeps("straße.txt", {"STRAßE.txt"}, {"STRASSE.txt"});
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

TEST(KeepPattern, TheInstallFolderNamedInFullStandsForThePathBelowIt) {
    expectKeeps(appDir + "\\data.mdb", {"data.mdb"}, {"sub\\data.mdb"});
    expectKeeps("c:/program files/MYAPP/*", {"data.mdb", "sub\\x.txt"});
    MemoryFileSystem names;
    MemoryShell shell(names);
    shell.setVariable("ProgramFiles", "C:\\Program Files");
    const std::vector<KeepPattern> patterns{KeepPattern("%ProgramFiles%\\MyApp\\data.mdb"),
                                            KeepPattern("%ProgramFiles%\\MyApp\\Help\\*")};
    const KeepRules rules(patterns, appDir, names, shell);
    EXPECT_EQ(rules.keeping(appDir + "\\data.mdb"), &patterns[0]);
    EXPECT_EQ(rules.keeping(appDir + "\\help\\a.hlp"), &patterns[1]);
    EXPECT_EQ(rules.keeping(appDir + "\\other.mdb"), nullptr);
}

TEST(KeepPattern, RefusesAPatternThatCanNameNoFileBelowTheInstallFolder) {
    // Refused as soon as it is read.
    for (const char* text : {"", "\\", "/", "\\\\", ".\\data.mdb", "..\\MyApp\\data.mdb",
                             "data\\..\\x", "data.mdb ", "data.mdb.", "data \\x", "data\\",
                             "data\\\\x", "a<b", "data.mdb:stream", "C:data.mdb", "C:"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(KeepPattern{text}, Error);
    }
    // Refused once the install folder is known.
    MemoryFileSystem names;
    MemoryShell shell(names);
    shell.setVariable("ProgramFiles", "D:\\Programs");
    for (const char* text :
         {"D:\\Program Files\\MyApp\\data.mdb", "C:\\Program Files\\MyApp2\\data.mdb",
          "C:\\Program Files\\MyApp", "C:\\Program Files\\MyApp\\", "C:\\Program Files\\*",
          "C:\\Program Files\\MyApp\\.\\data.mdb", "C:\\Program Files\\MyApp\\data.mdb ",
          "\\\\server\\share\\MyApp\\data.mdb", "%ProgramFiles%\\MyApp\\data.mdb"}) {
        SCOPED_TRACE(text);
        const std::vector<KeepPattern> patterns{KeepPattern(text)};
        try {
            KeepRules rules(patterns, appDir, names, shell);
            ADD_FAILURE() << "not refused";
        } catch (const Error& error) {
            EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
        }
    }
}

TEST(KeepPattern, PathsOutsideTheInstallFolderAreNeverKept) {
    const std::string dir = "C:\\Program Files\\App";
    EXPECT_EQ(relativeToInstallFolder(dir, dir + "\\data\\a.mdb"), "data\\a.mdb");
    EXPECT_EQ(relativeToInstallFolder(dir, "C:\\Program Files\\Apple\\a.mdb"), "");
    EXPECT_EQ(relativeToInstallFolder(dir, dir), "");
    EXPECT_EQ(relativeToInstallFolder(dir, dir + "\\"), "");
    MemoryFileSystem names;
    const std::vector<KeepPattern> all{KeepPattern("*")};
    const KeepRules rules(all, dir, names, noShell());
    EXPECT_EQ(rules.keeping("C:\\Program Files\\Apple\\a.mdb"), nullptr);
}

TEST(KeepPattern, MarksTheRowsItNamesAndLeavesTheOtherMarks) {
    const std::string dir = "C:\\App";
    RecordingList list;
    for (const char* name : {"a.exe", "data\\one.mdb", "data\\sub\\two.txt", "readme.txt"})
        list.addRow(dir + "\\" + name);
    list.mark(dir + "\\readme.txt");
    MemoryFileSystem names;
    const std::vector<KeepPattern> keep{KeepPattern("data\\*"), KeepPattern("*.MDB"),
                                        KeepPattern("*.doc"), KeepPattern("App\\a.exe")};
    KeepRules rules(keep, dir, names, noShell());
    rules.markRows(list);
    EXPECT_FALSE(list.isMarked(0));
    EXPECT_TRUE(list.isMarked(1));
    EXPECT_TRUE(list.isMarked(2));
    EXPECT_TRUE(list.isMarked(3));
    // The first pattern that matches is the one the log names; one that
    // only matched what an earlier one took still matched.
    EXPECT_EQ(rules.keeping(dir + "\\data\\one.mdb")->text(), "data\\*");
    EXPECT_EQ(rules.unmatched(), (std::vector<std::string>{"*.doc", "App\\a.exe"}));
}

} // namespace
} // namespace uninst::test
