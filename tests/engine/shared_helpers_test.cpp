#include "engine/ascii_case.h"
#include "engine/path_safety.h"
#include "engine/registry.h"
#include "engine/shared_folders.h"
#include "engine/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace uninst {
namespace {

// Folders compared step by step as the system reads their names: either
// separator, runs of them, and the trailing dots and blanks it drops; a name
// that only begins like another is beside it, not below it.
TEST(FolderSteps, SameOrBelowComparesWholeStepsAsTheSystemNamesThem) {
    EXPECT_EQ(folderSteps("C:\\\\App/Sub. \\"),
              (std::vector<std::string_view>{"C:", "App", "Sub"}));
    EXPECT_TRUE(folderSteps(" .\\..").empty());
    struct Case {
        const char* inner;
        const char* outer;
        bool below;
    };
    for (const Case& c : std::vector<Case>{
             {"C:\\App", "C:\\App", true},
             {"C:\\App\\Sub", "c:\\app", true},
             {"C:/App//Sub", "C:\\App\\", true},
             {"C:\\App.\\Sub", "C:\\App  ", true},
             {"C:\\App", "C:\\App\\Sub", false},
             {"C:\\AppX", "C:\\App", false},
             {"C:\\Ap", "C:\\App", false},
             {"C:\\App", "", false},
             {"C:\\App", "\\. \\", false},
             {"", "C:\\App", false},
         }) {
        SCOPED_TRACE(std::string(c.inner) + " in " + c.outer);
        EXPECT_EQ(isSameOrBelowAscii(c.inner, c.outer), c.below);
    }
}

TEST(DwordBytes, LeastSignificantByteFirstBothWays) {
    EXPECT_EQ(dwordBytes(0x01020304u), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(dwordFromBytes(std::string("\x04\x03\x02\x01", 4)), 0x01020304u);
    // A count of -1 is all bits set; a sign-extended byte would spoil it.
    EXPECT_EQ(dwordFromBytes(dwordBytes(0xFFFFFFFFu)), 0xFFFFFFFFu);
    EXPECT_EQ(dwordFromBytes(dwordBytes(0x80FF7F00u)), 0x80FF7F00u);
    // Missing bytes read as zero; bytes past the fourth are not the number's.
    EXPECT_EQ(dwordFromBytes(std::string("\x05", 1)), 5u);
    EXPECT_EQ(dwordFromBytes(std::string("\x01\x00\x00\x00\x07", 5)), 1u);
}

TEST(ParentPaths, OnlyParentBelowDriveSparesTheDrive) {
    EXPECT_EQ(withoutLastStep("C:\\App\\a.dll"), "C:\\App");
    EXPECT_EQ(withoutLastStep("C:\\a.dll"), "C:");
    EXPECT_EQ(withoutLastStep("a.dll"), "");
    EXPECT_EQ(parentBelowDrive("C:\\App\\a.dll"), "C:\\App");
    EXPECT_EQ(parentBelowDrive("C:\\a.dll"), "");
    EXPECT_EQ(parentBelowDrive("\\a.dll"), "");
    EXPECT_EQ(parentBelowDrive("\\\\server\\share\\a"), "\\\\server\\share");
}

TEST(DriveLetter, LetterOfEitherCaseThenColon) {
    EXPECT_TRUE(startsWithDrive("C:"));
    EXPECT_TRUE(startsWithDrive("z:\\x"));
    EXPECT_FALSE(startsWithDrive("1:"));
    EXPECT_FALSE(startsWithDrive("@:"));
    EXPECT_FALSE(startsWithDrive("[:"));
    EXPECT_FALSE(startsWithDrive("C"));
    EXPECT_FALSE(startsWithDrive("\xC3:"));
}

TEST(Utf8, DecodesWholeSequencesAndPassesStrayBytes) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::size_t at = 0;
    EXPECT_EQ(nextUtf8Character(text, at), U'a');
    EXPECT_EQ(nextUtf8Character(text, at), U'\u00E9');
    EXPECT_EQ(nextUtf8Character(text, at), U'\u20AC');
    EXPECT_EQ(nextUtf8Character(text, at), U'\U0001F600');
    EXPECT_EQ(at, text.size());
    EXPECT_EQ(utf8Length(text), 4u);

    // A lead cut short, or followed by no continuation, is a byte of its own.
    const std::string cut = "\xE2\x82";
    at = 0;
    EXPECT_EQ(nextUtf8Character(cut, at), char32_t{0xE2});
    EXPECT_EQ(at, 1u);
    const std::string broken = "\xC3x";
    at = 0;
    EXPECT_EQ(nextUtf8Character(broken, at), char32_t{0xC3});
    EXPECT_EQ(nextUtf8Character(broken, at), U'x');
}

TEST(AsciiCase, FoldsOnlyAsciiLetters) {
    EXPECT_EQ(asciiLower("ABC.Exe\xC3\x89"), "abc.exe\xC3\x89");
    EXPECT_EQ(compareAsciiCase("abc", "ABC"), 0);
    EXPECT_LT(compareAsciiCase("ab", "abc"), 0);
    // "_" sorts after the letters once they are read as capitals.
    EXPECT_LT(compareAsciiCase("a", "_"), 0);
    EXPECT_GT(compareAsciiCase("\xC3", "z"), 0);
    EXPECT_FALSE(isAsciiLetter('@'));
    EXPECT_TRUE(isAsciiLetter('q'));
}

} // namespace
} // namespace uninst
