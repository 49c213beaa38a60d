#include "engine/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
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
         {"myapp.exe", "my app.exe", "\"my app.exe\"", "myapp.exe/quiet", "myapp.exe  ", ""}) {
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
    // Blanks after the last argument belong to none.
    EXPECT_EQ(options.appName, "e2e spaced app.exe");
}

TEST(CommandLine, QuotedValuesKeepTheirBlanks) {
    const Options options =
        optionsOf("/passive /log:\"C:\\My Logs\\u.log\" /keep:\"my data\\*\" myapp.exe");
    EXPECT_TRUE(options.passive);
    EXPECT_FALSE(options.windowless());
    EXPECT_EQ(options.logFile, "C:\\My Logs\\u.log");
    ASSERT_EQ(options.keep.size(), 1u);
    EXPECT_EQ(options.keep[0].text(), "my data\\*");
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
             {"/log:\"C:\\My Logs\\\" myapp.exe", "no closing quote"},
             {"/quiet \"my app.exe", "no closing quote"},
             {"/quiet \"my\" app.exe", "quoted in part"},
             {"myapp.exe /quiet", "follows the application name"},
             {"/quiet myapp.exe /keep:*.mdb", "follows the application name"},
             {"/quiet my app.exe \"/log:u.log\"", "follows the application name"},
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

// The values CommandLineToArgvW gives for the arguments after the program's
// name (tests/win32 holds the same cases against the system's own call).
std::vector<std::string> valuesOf(const std::string& text) {
    std::vector<std::string> values;
    for (const Argument& argument : splitArguments(text).arguments)
        values.push_back(argument.value);
    return values;
}

TEST(CommandLine, ArgumentsSplitAsTheSystemSplitsThem) {
    using Values = std::vector<std::string>;
    // Blanks, leading and trailing ones included, only separate.
    EXPECT_EQ(valuesOf(" \ta  b\t "), (Values{"a", "b"}));
    // Quotes anywhere in an argument; the quoted part keeps its blanks.
    EXPECT_EQ(valuesOf("\"/log:C:\\a b\\u.log\" /log:\"C:\\a b\\u.log\" a\"b c\"d"),
              (Values{"/log:C:\\a b\\u.log", "/log:C:\\a b\\u.log", "ab cd"}));
    // Backslashes stand for themselves unless a quote follows them.
    EXPECT_EQ(valuesOf("C:\\a\\ \\\\server\\x"), (Values{"C:\\a\\", "\\\\server\\x"}));
    // 2n backslashes before a quote: n of them, and the quote opens or closes.
    EXPECT_EQ(valuesOf("\"a\\\\\" b"), (Values{"a\\", "b"}));
    EXPECT_EQ(valuesOf("a\\\\\\\\\"b c\""), (Values{"a\\\\b c"}));
    // 2n+1 backslashes before a quote: n of them and a quote character.
    EXPECT_EQ(valuesOf("a\\\"b c"), (Values{"a\"b", "c"}));
    EXPECT_EQ(valuesOf("a\\\\\\\"b"), (Values{"a\\\"b"}));
    // A quoted value ending in one backslash escapes its own closing quote.
    EXPECT_EQ(valuesOf("\"C:\\My Logs\\\" x"), (Values{"C:\\My Logs\" x"}));
    // Inside quotes, "" is one quote and ends the quoted part; a third quote
    // opens the next.
    EXPECT_EQ(valuesOf("\"a\"\"b c\""), (Values{"a\"b", "c"}));
    EXPECT_EQ(valuesOf("\"a\"\"\"b c\""), (Values{"a\"b c"}));
    EXPECT_EQ(valuesOf("\"\" x \"\"\"\""), (Values{"", "x", "\""}));
    EXPECT_TRUE(splitArguments("a \"b").unclosedQuote);
    EXPECT_FALSE(splitArguments("a \"b\"").unclosedQuote);
    const SplitArguments spans = splitArguments("  ab \"c d\"  ");
    ASSERT_EQ(spans.arguments.size(), 2u);
    EXPECT_EQ(spans.arguments[1].begin, 5u);
    EXPECT_EQ(spans.arguments[1].end, 10u);
    EXPECT_FALSE(spans.arguments[0].quoted);
    EXPECT_TRUE(spans.arguments[1].quoted);
}

// How tools quote each argument of a list into one line (the rule of the
// .NET and C runtimes' process start): quotes around an argument with a blank
// or a quote, backslashes before a quote and before the closing quote doubled,
// a quote escaped.
std::string quotedForTheLine(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, '\\');
    out.push_back('"');
    return out;
}

TEST(CommandLine, AnyArgumentListQuotedByTheCommonRuleSplitsBackIntoItself) {
    const std::string alphabet = "ab \t\"\\/:*";
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::string> arguments(1 + next() % 4);
        std::string line;
        for (std::string& argument : arguments) {
            const std::size_t length = next() % 7;
            for (std::size_t i = 0; i < length; ++i)
                argument.push_back(alphabet[next() % alphabet.size()]);
            line += (line.empty() ? "" : " ") + quotedForTheLine(argument);
        }
        SCOPED_TRACE(line);
        EXPECT_EQ(valuesOf(line), arguments);
        EXPECT_FALSE(splitArguments(line).unclosedQuote);
    }
}

TEST(CommandLine, AnOptionQuotedWholeOrInPartIsTheSameOption) {
    for (const std::string text :
         {"/quiet \"/log:C:\\a b\\u.log\" \"/keep:My Data\\*\" myapp.exe",
          "/quiet /log:\"C:\\a b\\u.log\" /keep:\"My Data\\*\" \"myapp.exe\"",
          "\"/quiet\" /log:C:\\\\\"a b\"\\u.log /keep:My\" \"Data\\* myapp.exe  "}) {
        SCOPED_TRACE(text);
        const Options options = optionsOf(text);
        EXPECT_TRUE(options.quiet);
        EXPECT_EQ(options.logFile, "C:\\a b\\u.log");
        ASSERT_EQ(options.keep.size(), 1u);
        EXPECT_EQ(options.keep[0].text(), "My Data\\*");
        EXPECT_EQ(options.appName, "myapp.exe");
    }
    // A quoted name may hold blanks; several unquoted words are the name.
    EXPECT_EQ(optionsOf("/quiet \"my app.exe\"").appName, "my app.exe");
    EXPECT_EQ(optionsOf("/quiet my  app.exe ").appName, "my  app.exe");
    EXPECT_EQ(optionsOf("/log:\"u.log\"x myapp.exe").logFile, "u.logx");
}

TEST(CommandLine, QuietPassiveOrPreviewAnywhereMeansNobodyIsWatching) {
    struct Case {
        std::string text;
        bool windowless;
    };
    for (const Case& c : std::vector<Case>{
             {"myapp.exe /quiet", true},
             {"myapp.exe \"/PREVIEW\" /?", true},
             {"myapp.exe /passive", false},
             {"/quiet:yes myapp.exe", true},
             {"/keep:.\\a myapp.exe /passive", false},
             {"/bogus \"/log:x myapp.exe /quiet", true},
         }) {
        SCOPED_TRACE(c.text);
        const ParsedCommandLine parsed = parseCommandLine(c.text);
        EXPECT_NE(parsed.error, "");
        EXPECT_TRUE(parsed.options.unattended());
        EXPECT_EQ(parsed.options.windowless(), c.windowless);
    }
    // Inside one argument, or as a name's part, it is no option.
    EXPECT_FALSE(parseCommandLine("myapp.exe/quiet").options.unattended());
}

TEST(CommandLine, HelpNeedsNoName) {
    for (const std::string text : {"/?", "/help", "/HELP /quiet"}) {
        SCOPED_TRACE(text);
        const Options options = optionsOf(text);
        EXPECT_TRUE(options.help);
    }
}

TEST(CommandLine, ListTakesANameOrNoneAndRefusesWhatItCannotDo) {
    struct Case {
        std::string text;
        std::string name;
        std::optional<std::string> log;
    };
    for (const Case& c : std::vector<Case>{
             {"/list", "", std::nullopt},
             {"/LIST myapp.exe", "myapp.exe", std::nullopt},
             {"/quiet /list \"my app.exe\"", "my app.exe", std::nullopt},
             {"/list \"/log:C:\\My Logs\\list.csv\"", "", "C:\\My Logs\\list.csv"},
         }) {
        SCOPED_TRACE(c.text);
        const ParsedCommandLine parsed = parseCommandLine(c.text);
        EXPECT_EQ(parsed.error, "");
        EXPECT_TRUE(parsed.options.list);
        EXPECT_TRUE(parsed.options.windowless());
        EXPECT_EQ(parsed.options.appName, c.name);
        EXPECT_EQ(parsed.options.logFile, c.log);
    }
    for (const std::string text :
         {"/list /passive", "/list /preview myapp.exe", "/list /keep:*.mdb myapp.exe", "/list:all",
          "myapp.exe /list", "/list myapp.exe /quiet", "/list /backup:D:\\Backups myapp.exe",
          "/backup:D:\\Backups /LIST"}) {
        SCOPED_TRACE(text);
        const ParsedCommandLine parsed = parseCommandLine(text);
        EXPECT_NE(parsed.error, "");
        // Even refused, it keeps every window and message box away.
        EXPECT_TRUE(parsed.options.windowless());
    }
}

} // namespace
} // namespace uninst::test
