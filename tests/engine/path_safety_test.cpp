// The judgements that keep the run inside the install folder and the
// start-menu group, each on the forms that would slip past a weaker one.
#include "engine/path_safety.h"
#include "engine/system_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace uninst {
namespace {

using Cases = std::vector<std::pair<std::string, bool>>;

TEST(PathSafety, FullyQualifiedNamesItsDriveOrShare) {
    const Cases cases = {
        {"C:\\App", true},
        {"c:/App", true},
        {"\\\\server\\share\\App", true},
        {"//server/share", true},
        {"C:", false},
        {"C:.", false},
        {"C:App", false},
        {"\\App", false},
        {"/App", false},
        {"App", false},
        {"\\??\\C:\\App", false},
        {"", false},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(expected, isFullyQualified(path)) << path;
}

TEST(PathSafety, ResolvedFolderMustLieBelowADriveOrShareRoot) {
    const Cases cases = {
        {"C:\\App", true},
        {"C:\\Program Files\\MyApp", true},
        {"\\\\server\\share\\App", true},
        {"C:\\", false},
        {"C:", false},
        {"\\\\server\\share", false},
        {"\\\\?\\C:\\App", false},
        {"\\\\.\\C:\\App", false},
        {"C:\\App\\..", false},
        {"C:\\App\\ ", false},
        {"C:\\App/Sub", false},
        {std::string("C:\\App\0x", 8), false},
        {"App", false},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(expected, isFolderBelowARoot(path)) << path;
}

TEST(PathSafety, DotStepsIncludeStepsOfDotsAndBlanks) {
    const Cases cases = {
        {"C:\\App\\.", true},   {"C:\\App\\..\\x", true}, {"C:\\App\\ \\x", true},
        {"C:\\App\\. .", true}, {"C:/App/.../x", true},   {"C:\\App.\\x", false},
        {"C:\\ App", false},    {"C:\\App", false},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(expected, hasDotStep(path)) << path;
}

TEST(PathSafety, GroupMustLieStrictlyInsideTheStartMenuRoot) {
    const std::string root = startMenuRoot;
    const Cases cases = {
        {root + "Tools", true},
        {root + "Tools\\Sub", true},
        {"c:\\windows\\start menu\\programs\\Tools", true},
        {root, false},
        {root.substr(0, root.size() - 1), false},
        {root + "\\Tools", false},
        {root + "Tools\\..\\..", false},
        {root + ". .", false},
        {root + "Tools/Sub", false},
        {"C:\\WINDOWS\\Start Menu\\ProgramsX\\Tools", false},
        {"C:\\Users\\Tools", false},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(expected, isStrictlyInside(path, root)) << path;
}

} // namespace
} // namespace uninst
