#include "engine/installdir.h"
#include "tests/support/memory_registry.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <ostream>
#include <string>

namespace uninst {
namespace {

const std::string appPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";

struct Case {
    const char* what;
    std::optional<std::string> stored; // raw default value of App Paths\MyApp.exe
    std::string afile;
    std::string expected;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.what;
}

std::string sz(const std::string& text) {
    return text + '\0';
}

std::string repeated(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

class ApathTest : public ::testing::TestWithParam<Case> {};

TEST_P(ApathTest, ResolvesTheInstallFolder) {
    const Case& c = GetParam();
    MemoryRegistry registry;
    registry.createKey(appPaths + "\\MyApp.exe");
    if (c.stored)
        registry.setValue(appPaths + "\\MyApp.exe", "", Registry::typeSz, *c.stored);

    UninstallState state;
    apath(state, registry, noShell(), c.afile);

    EXPECT_EQ(c.expected, state.installdir);
    EXPECT_EQ(0u, registry.openHandleCount()) << "the App Paths key was left open";
}

INSTANTIATE_TEST_SUITE_P(
    Values, ApathTest,
    ::testing::Values(
        Case{"plain", sz("C:\\App\\a.exe"), "MyApp.exe", "C:\\App"},
        Case{"deeper", sz("C:\\Program Files\\MyApp\\myapp.exe"), "MyApp.exe",
             "C:\\Program Files\\MyApp"},
        Case{"name typed in another case", sz("C:\\App\\a.exe"), "MYAPP.EXE", "C:\\App"},
        Case{"name with a trailing space is another name", sz("C:\\App\\a.exe"), "MyApp.exe ", ""},
        Case{"no separator", sz("a.exe"), "MyApp.exe", ""},
        Case{"trailing separator", sz("C:\\App\\"), "MyApp.exe", "C:\\App"},
        Case{"leading spaces go, inner ones stay", sz("   C:\\My App\\my app.exe"), "MyApp.exe",
             "C:\\My App"},
        Case{"drive root", sz("C:\\a.exe"), "MyApp.exe", "C:"},
        Case{"a NUL inside ends the path", sz(std::string("C:\\\0\\Program Files\\a.exe", 24)),
             "MyApp.exe", "C:"},
        Case{"doubled separator before the file name", sz("C:\\App\\\\a.exe"), "MyApp.exe",
             "C:\\App"},
        Case{"forward slash before the file name", sz("C:\\Program Files\\MyApp/myapp.exe"),
             "MyApp.exe", "C:\\Program Files\\MyApp"},
        Case{"forward slashes only", sz("C:/App/a.exe"), "MyApp.exe", "C:/App"},
        Case{"mixed separators doubled before the file name", sz("C:\\App\\/a.exe"), "MyApp.exe",
             "C:\\App"},
        Case{"forward slash after the drive", sz("C:/a.exe"), "MyApp.exe", "C:"},
        Case{"stored without terminator", "C:\\App\\a.exe", "MyApp.exe", "C:\\App"},
        Case{"unset default value", std::nullopt, "MyApp.exe", ""},
        Case{"not registered", sz("C:\\App\\a.exe"), "Other.exe", ""},
        Case{"longest that fits", sz("C:\\" + std::string(245, 'd') + "\\a.exe"), "MyApp.exe",
             "C:\\" + std::string(245, 'd')},
        Case{"one too long for the buffer", sz("C:\\" + std::string(246, 'd') + "\\a.exe"),
             "MyApp.exe", ""},
        // The buffer holds 255 characters of the code page, whatever their
        // length in UTF-8.
        Case{"longest accented that fits", sz("C:\\" + repeated("é", 245) + "\\a.exe"), "MyApp.exe",
             "C:\\" + repeated("é", 245)},
        Case{"accented one too long for the buffer", sz("C:\\" + repeated("é", 246) + "\\a.exe"),
             "MyApp.exe", ""},
        Case{"quoted", sz("\"C:\\App\\a.exe\""), "MyApp.exe", "C:\\App"},
        Case{"quoted with spaces around", sz("  \"C:\\My App\\a.exe\""), "MyApp.exe", "C:\\My App"},
        Case{"quoted trailing separator", sz("\"C:\\App\\\""), "MyApp.exe", "C:\\App"},
        Case{"quoted without terminator", "\"C:\\App\\a.exe\"", "MyApp.exe", "C:\\App"},
        Case{"opening quote only", sz("\"C:\\App\\a.exe"), "MyApp.exe", "\"C:\\App"},
        Case{"closing quote only", sz("C:\\App\\a.exe\""), "MyApp.exe", "C:\\App"},
        Case{"a lone quote", sz("\""), "MyApp.exe", ""},
        Case{"empty quotes", sz("\"\""), "MyApp.exe", ""}),
    [](const ::testing::TestParamInfo<Case>& tested) {
        std::string name;
        for (char ch : std::string(tested.param.what))
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(Apath, WithoutTheAppPathsKeyLeavesTheFolderEmpty) {
    MemoryRegistry registry;
    registry.createKey("Software\\Microsoft\\Windows\\CurrentVersion");

    UninstallState state;
    apath(state, registry, noShell(), "MyApp.exe");

    EXPECT_EQ("", state.installdir);
    EXPECT_EQ(0u, registry.openHandleCount());
}

// The stored value is read once by the name as given and once more for its
// type; a name the first read cannot follow (a leading "\\") names no folder,
// whatever the second read's path reaches.
TEST(Apath, AnExpandableValueTheReadCannotReachNamesNoFolder) {
    MemoryRegistry registry;
    registry.setValue(appPaths + "\\\\:a", "", Registry::typeExpandSz, sz("C:\\App\\a.exe"));

    UninstallState state;
    apath(state, registry, noShell(), "\\:a");

    EXPECT_EQ("", state.installdir);
    EXPECT_EQ(0u, registry.openHandleCount());
}

// An expandable value names the folder its plain read names when nothing in
// it expands: a blank after the closing quote keeps the quotes in both, and
// such a path names no folder in full.
TEST(Apath, AnExpandableValueWithNothingToExpandNamesWhatThePlainValueNames) {
    for (const std::string& stored :
         {std::string("\"C:\\App\\a.exe\" "), std::string("\"C:\\App\\a.exe\""),
          std::string("  C:\\App\\a.exe  "),
          // Filling the read's 255 bytes leaves no room for the terminator.
          "\"C:\\" + std::string(243, 'a') + "\\a.exe\" "}) {
        std::string folders[2];
        for (int expandable = 0; expandable < 2; ++expandable) {
            MemoryRegistry registry;
            registry.setValue(appPaths + "\\a.exe", "",
                              expandable ? Registry::typeExpandSz : Registry::typeSz,
                              stored.size() < 255 ? sz(stored) : stored);
            UninstallState state;
            apath(state, registry, noShell(), "a.exe");
            folders[expandable] = state.installdir;
        }
        EXPECT_EQ(folders[1], folders[0]) << stored;
    }
}

} // namespace
} // namespace uninst
