#include "engine/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace uninst::test {
namespace {

std::string errorOf(const std::string& text) {
    return parseCommandLine(text).error;
}

TEST(CommandLine, WithoutOptionsTheWholeTextIsTheName) {
    for (const std::string text :
         {"myapp.exe", "my app.exe", "\"my app.exe\"", "myapp.exe /quiet", "myapp.exe  ", ""}) {
        SCOPED_TRACE(text);
        const ParsedCommandLine parsed = parseCommandLine(text);
        EXPECT_EQ(parsed.error, "");
        EXPECT_EQ(parsed.options.appName, text);
        EXPECT_FALSE(parsed.options.unattended());
        EXPECT_TRUE(parsed.options.keep.empty());
    }
}

TEST(CommandLine, OptionsMatchWithoutRegardToCaseAndTheNameFollowsThemAsTyped) {
    const ParsedCommandLine parsed =
        parseCommandLine("/QUIET\t/Keep:*.mdb  /log:u.log e2e spaced app.exe ");
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.options.quiet);
    EXPECT_TRUE(parsed.options.windowless());
    ASSERT_EQ(parsed.options.keep.size(), 1u);
    EXPECT_EQ(parsed.options.keep[0].text(), "*.mdb");
    EXPECT_EQ(parsed.options.logFile, "u.log");
    EXPECT_EQ(parsed.options.appName, "e2e spaced app.exe ");
}

TEST(CommandLine, QuotedValuesKeepTheirBlanks) {
    const ParsedCommandLine parsed =
        parseCommandLine("/passive /log:\"C:\\My Logs\\u.log\" /keep:\"my data\\*\" myapp.exe");
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.options.passive);
    EXPECT_FALSE(parsed.options.windowless());
    EXPECT_EQ(parsed.options.logFile, "C:\\My Logs\\u.log");
    ASSERT_EQ(parsed.options.keep.size(), 1u);
    EXPECT_TRUE(parsed.options.keep[0].matches("my data\\x.db"));
    EXPECT_EQ(parsed.options.appName, "myapp.exe");
}

TEST(CommandLine, KeepMayRepeatAndLogMayNot) {
    const ParsedCommandLine parsed =
        parseCommandLine("/keep:*.mdb /KEEP:help\\* /keep:data\\* /preview myapp.exe");
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.options.preview);
    ASSERT_EQ(parsed.options.keep.size(), 3u);
    EXPECT_EQ(parsed.options.keep[1].text(), "help\\*");
    EXPECT_EQ(parsed.options.keep[2].text(), "data\\*");
    EXPECT_NE(errorOf("/log:a.log /log:b.log myapp.exe"), "");
}

TEST(CommandLine, RefusesWhatItDoesNotUnderstand) {
    struct Case {
        std::string text;
        std::string says;
    };
    for (const Case& c : std::vector<Case>{
             {"/silent myapp.exe", "Unknown option /silent"},
             {"/ myapp.exe", "Unknown option /"},
             {"/keep myapp.exe", "needs a value"},
             {"/keep: myapp.exe", "needs a value"},
             {"/log:\"\" myapp.exe", "needs a value"},
             {"/keep:\\ myapp.exe", "names no file"},
             {"/quiet:yes myapp.exe", "takes no value"},
             {"/log:\"C:\\My Logs\\u.log myapp.exe", "no closing quote"},
             {"/log:\"u.log\"x myapp.exe", "followed by a blank"},
             {"/quiet /passive myapp.exe", "exclude each other"},
             {"/preview /passive myapp.exe", "cannot be /passive"},
             {"/quiet", "No application name"},
             {"/preview   ", "No application name"},
         }) {
        SCOPED_TRACE(c.text);
        const std::string error = errorOf(c.text);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(CommandLine, AFaultStillLetsLaterOptionsSayNobodyIsWatching) {
    const ParsedCommandLine parsed = parseCommandLine("/bogus /QUIET myapp.exe");
    EXPECT_NE(parsed.error, "");
    EXPECT_TRUE(parsed.options.quiet);
}

TEST(CommandLine, HelpNeedsNoName) {
    for (const std::string text : {"/?", "/help", "/HELP /quiet"}) {
        SCOPED_TRACE(text);
        const ParsedCommandLine parsed = parseCommandLine(text);
        EXPECT_EQ(parsed.error, "");
        EXPECT_TRUE(parsed.options.help);
    }
}

} // namespace
} // namespace uninst::test
