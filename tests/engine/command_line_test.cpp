#include "engine/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace uninst::test {
namespace {

std::string errorOf(const std::string& text) {
    return parseCommandLine(text).error;
}

// The options of a command line that must parse without an error.
Options optionsOf(const std::string& text) {
    ParsedCommandLine parsed = parseCommandLine(text);
    EXPECT_EQ(parsed.error, "") << text;
    return std::move(parsed.options);
}

TEST(CommandLine, WithoutOptionsTheWholeTextIsTheName) {
    for (const std::string text :
         {"myapp.exe", "my app.exe", "\"my app.exe\"", "myapp.exe /quiet", "myapp.exe  ", ""}) {
        SCOPED_TRACE(text);
        const Options options = optionsOf(text);
        EXPECT_EQ(options.appName, text);
        EXPECT_FALSE(options.unattended());
        EXPECT_TRUE(options.keep.empty());
    }
}

TEST(CommandLine, OptionsMatchWithoutRegardToCaseAndTheNameFollowsThemAsTyped) {
    const Options options = optionsOf("/QUIET\t/Keep:*.mdb  /log:u.log e2e spaced app.exe ");
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.windowless());
    ASSERT_EQ(options.keep.size(), 1u);
    EXPECT_EQ(options.keep[0].text(), "*.mdb");
    EXPECT_EQ(options.logFile, "u.log");
    EXPECT_EQ(options.appName, "e2e spaced app.exe ");
}

TEST(CommandLine, QuotedValuesKeepTheirBlanks) {
    const Options options =
        optionsOf("/passive /log:\"C:\\My Logs\\u.log\" /keep:\"my data\\*\" myapp.exe");
    EXPECT_TRUE(options.passive);
    EXPECT_FALSE(options.windowless());
    EXPECT_EQ(options.logFile, "C:\\My Logs\\u.log");
    ASSERT_EQ(options.keep.size(), 1u);
    EXPECT_TRUE(options.keep[0].matches("my data\\x.db"));
    EXPECT_EQ(options.appName, "myapp.exe");
}

TEST(CommandLine, KeepMayRepeatAndLogMayNot) {
    const Options options = optionsOf("/keep:*.mdb /KEEP:help\\* /keep:data\\* /preview myapp.exe");
    EXPECT_TRUE(options.preview);
    ASSERT_EQ(options.keep.size(), 3u);
    EXPECT_EQ(options.keep[1].text(), "help\\*");
    EXPECT_EQ(options.keep[2].text(), "data\\*");
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
        const Options options = optionsOf(text);
        EXPECT_TRUE(options.help);
    }
}

} // namespace
} // namespace uninst::test
