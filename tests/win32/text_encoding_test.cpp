#include "platform/text_encoding.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace uninst {
namespace {

using namespace std::string_literals;

TEST(TextEncoding, WideRoundTripKeepsEveryCharacterAndEmbeddedNuls) {
    const std::string samples[] = {
        ""s,
        "plain ascii"s,
        "line\r\nnext\0after nul\r"s,
        "Café 日本語 Ελληνικά"s,
        "emoji 😀 outside the basic plane"s,
    };
    for (const std::string& sample : samples) {
        const std::wstring wide = text::toWide(sample);
        EXPECT_EQ(sample, text::fromWide(wide)) << sample;
    }
    EXPECT_EQ(L"a\0b"s, text::toWide("a\0b"s));
    EXPECT_EQ(2u, text::toWide("😀").size()) << "a surrogate pair";
    EXPECT_EQ(L"Caf\u00e9", text::toWide("Café"));
}

// A file name may hold a surrogate without its partner. Turned into U+FFFD
// on the way in, the listed name would name another file or none.
TEST(TextEncoding, UnpairedSurrogatesSurviveTheRoundTrip) {
    const std::wstring samples[] = {
        L"a\xD800.txt"s,
        L"\xDC00"
        L"b"s,
        L"end\xDBFF"s,
        L"\xDC00\xD800"s,
        L"\xD83D\xDE00\xD83D"s,
        L"\xFFFD.txt"s,
    };
    for (const std::wstring& sample : samples) {
        const std::string narrow = text::fromWide(sample);
        EXPECT_EQ(sample, text::toWide(narrow)) << narrow;
        std::wstring appended = L"C:\\";
        text::appendWide(appended, narrow);
        EXPECT_EQ(L"C:\\" + sample, appended);
    }
    EXPECT_EQ("a\xED\xA0\x80"s, text::fromWide(L"a\xD800"s)) << "the three-byte form";
    EXPECT_NE(text::fromWide(L"\xD800"s), text::fromWide(L"\xFFFD"s));
    EXPECT_EQ("\xF0\x9F\x98\x80"s, text::fromWide(L"\xD83D\xDE00"s))
        << "a pair stays one character";
}

TEST(TextEncoding, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    EXPECT_EQ(L"a\xFFFD"
              L"b"s,
              text::toWide("a\xFF"
                           "b"s));
    EXPECT_EQ(L"\xFFFD\xFFFD"s, text::toWide("\xC0\xAF"s)) << "an overlong '/'";
    EXPECT_EQ(L"x\xFFFD\xFFFD"s, text::toWide("x\xE2\x82"s)) << "cut short: one per byte";
    EXPECT_EQ(L"\xFFFD\xFFFD\xFFFD\xFFFD"s, text::toWide("\xF4\x90\x80\x80"s)) << "past U+10FFFF";
}

TEST(TextEncoding, AppendingKeepsWhatIsAlreadyThere) {
    std::string narrow = "C:\\App\\";
    text::appendFromWide(narrow, L"Caf\u00e9.txt");
    EXPECT_EQ("C:\\App\\Café.txt", narrow);

    std::wstring wide = L"\\\\?\\";
    text::appendWide(wide, "C:\\日本");
    EXPECT_EQ(L"\\\\?\\C:\\\u65e5\u672c", wide);
}

// The system's ANSI code page decides what non-ASCII text becomes; the
// Western European one is what a default Wine prefix and most Windows
// installations have.
TEST(TextEncoding, AnsiCodePageRoundTrip) {
    EXPECT_EQ("ascii\0stays\r\n"s, text::toAnsi("ascii\0stays\r\n"s));
    EXPECT_EQ("ascii\0stays\r\n"s, text::fromAnsi("ascii\0stays\r\n"s));
    if (GetACP() != 1252)
        GTEST_SKIP() << "code page " << GetACP() << " is not 1252";

    EXPECT_EQ("Caf\xE9\0x"s, text::toAnsi("Café\0x"s));
    EXPECT_EQ("Café\0x"s, text::fromAnsi("Caf\xE9\0x"s));
    EXPECT_EQ("\x80", text::toAnsi("€")) << "the euro sign's place in 1252";
    EXPECT_EQ("?", text::toAnsi("日")) << "no place in 1252: the default character";
    EXPECT_EQ("e2e?pp.exe", text::toAnsi("e2e\u0101pp.exe"))
        << "the default character, not the look-alike \"a\" that names another application";
}

// An install log comes in the code page, or in UTF-8 or UTF-16 of either byte
// order, with a byte-order mark or without. The mark is no character of the
// first line.
TEST(TextEncoding, TextFileEncodingFollowsItsByteOrderMark) {
    EXPECT_EQ("G\xC3\xBC\r\n\0x\n"s, text::fromTextFile("\xEF\xBB\xBFG\xC3\xBC\r\n\0x\n"s));
    EXPECT_EQ("a\xEF\xBF\xBD"
              "b"s,
              text::fromTextFile("\xEF\xBB\xBF"
                                 "a\xFF"
                                 "b"s))
        << "a damaged sequence after the UTF-8 mark";
    EXPECT_EQ("G\xC3\xBC\r\n\0\xF0\x9F\x98\x80"s,
              text::fromTextFile("\xFF\xFEG\0\xFC\0\r\0\n\0\0\0\x3D\xD8\x00\xDE"s));
    EXPECT_EQ("ab"s, text::fromTextFile("\xFF\xFE"
                                        "a\0b\0\x63"s))
        << "an odd last byte of UTF-16";
    EXPECT_EQ(""s, text::fromTextFile("\xFF\xFE"s));
    EXPECT_EQ(""s, text::fromTextFile(""s));
    EXPECT_EQ("G\xC3\xBC\r\n\xF0\x9F\x98\x80"s,
              text::fromTextFile("\xFE\xFF\0G\0\xFC\0\r\0\n\xD8\x3D\xDE\x00"s))
        << "UTF-16BE after its mark";
    if (GetACP() != 1252)
        GTEST_SKIP() << "code page " << GetACP() << " is not 1252";
    EXPECT_EQ("B\xC3\xBC"
              "cher"s,
              text::fromTextFile("B\xFC"
                                 "cher"s))
        << "no mark: the code page";
    EXPECT_EQ("\xC3\xAF\xC2\xBB"s, text::fromTextFile("\xEF\xBB"s))
        << "half a mark is text in the code page";
}

// Without a mark: UTF-16 by where its NULs fall, UTF-8 when the bytes are
// valid UTF-8 beyond ASCII, the code page otherwise; NULs anywhere else leave
// the encoding unknown, and nothing is read.
TEST(TextEncoding, TextFileWithoutAMarkIsRecognisedByItsBytes) {
    EXPECT_EQ("Ab\xC3\xBC\r\n"s, text::fromTextFile("A\0b\0\xFC\0\r\0\n\0"s)) << "UTF-16LE";
    EXPECT_EQ("Ab\xC3\xBC\r\n"s, text::fromTextFile("\0A\0b\0\xFC\0\r\0\n"s)) << "UTF-16BE";
    EXPECT_EQ("a"s, text::fromTextFile("\0a"s)) << "one character of UTF-16BE";
    EXPECT_EQ("B\xC3\xBC"
              "cher \xE6\x97\xA5"s,
              text::fromTextFile("B\xC3\xBC"
                                 "cher \xE6\x97\xA5"s))
        << "valid UTF-8 arrives as it is";
    EXPECT_EQ(std::nullopt, text::fromTextFile("ab\0cd"s)) << "a NUL in the code page";
    EXPECT_EQ(std::nullopt, text::fromTextFile("A\0b\0c"s)) << "UTF-16 of an odd length";
    EXPECT_EQ(std::nullopt, text::fromTextFile("A\0\0\0b\0\0\0"s)) << "UTF-32";
    if (GetACP() != 1252)
        GTEST_SKIP() << "code page " << GetACP() << " is not 1252";
    EXPECT_EQ("B\xC3\x83\xC2\xBC"
              "cher \xC3\xBC"s,
              text::fromTextFile("B\xC3\xBC"
                                 "cher \xFC"s))
        << "not all of it UTF-8: the code page";
}

int closes = 0;
void countClose(int*) {
    ++closes;
}
void countHandleClose(HANDLE) {
    ++closes;
}

// Names are compared as the file system and the registry compare them: every
// unit folded by the one table, beyond A to Z too, and one unit for one, so
// that no expansion ("ß" as "SS") or locale rule ("i" and "İ") makes two
// names one.
TEST(TextEncoding, FoldedComparisonIsOrdinalWithoutCase) {
    EXPECT_TRUE(text::sameFolded(L"Program Files\\App", L"PROGRAM FILES\\app"));
    EXPECT_TRUE(text::sameFolded(L"caf\u00e9 \u03b1", L"CAF\u00c9 \u0391"));
    EXPECT_TRUE(text::sameFolded(L"", L""));
    EXPECT_FALSE(text::sameFolded(L"Stra\u00dfe", L"STRASSE"));
    EXPECT_FALSE(text::sameFolded(L"i", L"\u0130"));
    EXPECT_FALSE(text::sameFolded(L"app", L"app2")) << "a prefix is not the name";
    EXPECT_FALSE(text::sameFolded(L"app2", L"app"));
    EXPECT_FALSE(text::sameFolded(L"data.mdb.", L"data.mdb"));

    EXPECT_EQ(text::compareFolded(L"abc", L"ABC"), CSTR_EQUAL);
    EXPECT_EQ(text::compareFolded(L"a", L"B"), CSTR_LESS_THAN);
    EXPECT_EQ(text::compareFolded(L"b", L"A"), CSTR_GREATER_THAN);
    EXPECT_EQ(text::compareFolded(L"app", L"APP2"), CSTR_LESS_THAN);
}

TEST(UniqueHandle, ClosesExactlyOnceAcrossMovesAndResets) {
    int a = 0;
    int b = 0;
    closes = 0;
    {
        UniqueHandle<int*, &countClose, 0> first(&a);
        UniqueHandle<int*, &countClose, 0> second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(&a, second.get());
        second.reset(&b);
        EXPECT_EQ(1, closes) << "the replaced handle";
        UniqueHandle<int*, &countClose, 0> third;
        third = std::move(second);
        EXPECT_EQ(1, closes);
    }
    EXPECT_EQ(2, closes) << "only the one handle still held, once";

    closes = 0;
    {
        UniqueHandle<HANDLE, &countHandleClose, -1> none;
        EXPECT_FALSE(none) << "INVALID_HANDLE_VALUE is nothing to close";
        EXPECT_EQ(INVALID_HANDLE_VALUE, none.get());
        UniqueHandle<int*, &countClose, 0> released(&a);
        EXPECT_EQ(&a, released.release());
    }
    EXPECT_EQ(0, closes);
}

} // namespace
} // namespace uninst
