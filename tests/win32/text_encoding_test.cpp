#include "platform/text_encoding.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <gtest/gtest.h>

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

int closes = 0;
void countClose(int*) {
    ++closes;
}
void countHandleClose(HANDLE) {
    ++closes;
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
