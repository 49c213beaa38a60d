#include "engine/text_file.h"

#include "tests/support/text_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace uninst::test {
namespace {

using namespace std::string_literals;

const char* nameOf(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::codePage:
        return "code page";
    case TextEncoding::utf8:
        return "UTF-8";
    case TextEncoding::utf16le:
        return "UTF-16LE";
    case TextEncoding::utf16be:
        return "UTF-16BE";
    case TextEncoding::unknown:
        return "unknown";
    }
    return "?";
}

TEST(TextFile, EncodingIsRecognisedFromTheBytesAlone) {
    struct Case {
        const char* what;
        std::string bytes;
        TextEncoding encoding;
        bool marked;
        std::string body;
    };
    const std::string log = "ACTION: CreateDir: \"C:\\B\xC3\xBC"
                            "cher\"\r\n";
    const std::vector<Case> cases = {
        {"empty", "", TextEncoding::codePage, false, ""},
        {"pure ASCII reads the same in every encoding", "ACTION\r\n", TextEncoding::codePage, false,
         "ACTION\r\n"},
        {"UTF-8 mark", "\xEF\xBB\xBF" + log, TextEncoding::utf8, true, log},
        {"UTF-16LE mark", "\xFF\xFE" + utf16(log), TextEncoding::utf16le, true, utf16(log)},
        {"UTF-16BE mark", "\xFE\xFF" + utf16(log, true), TextEncoding::utf16be, true,
         utf16(log, true)},
        {"a mark alone", "\xFE\xFF", TextEncoding::utf16be, true, ""},
        {"half a UTF-8 mark is text in the code page", "\xEF\xBB", TextEncoding::codePage, false,
         "\xEF\xBB"},
        {"UTF-8 without a mark", log, TextEncoding::utf8, false, log},
        {"a character outside the basic plane", "a\xF0\x9F\x98\x80", TextEncoding::utf8, false,
         "a\xF0\x9F\x98\x80"},
        {"code page letters are no UTF-8",
         "B\xFC"
         "cher",
         TextEncoding::codePage, false,
         "B\xFC"
         "cher"},
        {"a lead byte without its continuation",
         "\xC3"
         "A",
         TextEncoding::codePage, false,
         "\xC3"
         "A"},
        {"cut short at the end", "ab\xE2\x82", TextEncoding::codePage, false, "ab\xE2\x82"},
        {"an overlong form", "\xC0\xAF", TextEncoding::codePage, false, "\xC0\xAF"},
        {"an overlong three-byte form", "\xE0\x80\xAF", TextEncoding::codePage, false,
         "\xE0\x80\xAF"},
        {"an encoded surrogate", "\xED\xA0\x80", TextEncoding::codePage, false, "\xED\xA0\x80"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", TextEncoding::codePage, false, "\xF4\x90\x80\x80"},
        {"UTF-16LE without a mark", utf16(log), TextEncoding::utf16le, false, utf16(log)},
        {"UTF-16BE without a mark", utf16(log, true), TextEncoding::utf16be, false,
         utf16(log, true)},
        {"UTF-16LE of CJK names, still mostly ASCII", utf16("C:\\\xE4\xB8\x80\xE4\xB8\x80.dll"),
         TextEncoding::utf16le, false, utf16("C:\\\xE4\xB8\x80\xE4\xB8\x80.dll")},
        {"one character of UTF-16LE", "a\0"s, TextEncoding::utf16le, false, "a\0"s},
        {"one character of UTF-16BE", "\0a"s, TextEncoding::utf16be, false, "\0a"s},
        {"an odd length", utf16("abc") + "d", TextEncoding::unknown, false, utf16("abc") + "d"},
        {"a zero code unit", utf16("abc") + "\0\0"s, TextEncoding::unknown, false,
         utf16("abc") + "\0\0"s},
        {"exactly half ASCII in each order", utf16("ab") + utf16("cd", true), TextEncoding::unknown,
         false, utf16("ab") + utf16("cd", true)},
        {"NULs in text of the code page", "ab\0cd"s, TextEncoding::unknown, false, "ab\0cd"s},
        {"UTF-32", "a\0\0\0b\0\0\0"s, TextEncoding::unknown, false, "a\0\0\0b\0\0\0"s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RecognisedText text = recogniseText(c.bytes);
        EXPECT_STREQ(nameOf(text.encoding), nameOf(c.encoding));
        EXPECT_EQ(text.marked, c.marked);
        EXPECT_EQ(std::string(text.body), c.body);
    }
}

TEST(TextFile, Utf16BecomesUtf8InEitherOrder) {
    const std::string text = "G\xC3\xBC\r\n\xE6\x97\xA5\xF0\x9F\x98\x80";
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        std::string out = "kept ";
        appendUtf16AsUtf8(out, utf16(text, bigEndian), bigEndian);
        EXPECT_EQ(out, "kept " + text);
    }
    std::string lone;
    appendUtf16AsUtf8(lone,
                      "a\0\0\xD8"
                      "b\0\0\xDC\x3D\xD8"s,
                      false);
    EXPECT_EQ(lone, "a\xED\xA0\x80"
                    "b\xED\xB0\x80\xED\xA0\xBD"s)
        << "surrogates without their partners keep their own code points";
    std::string odd;
    appendUtf16AsUtf8(odd, "a\0b\0c"s, false);
    EXPECT_EQ(odd, "ab") << "an odd last byte is no character";
}

} // namespace
} // namespace uninst::test
