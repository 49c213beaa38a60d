#pragma once

#include <string>
#include <string_view>

namespace uninst {

// How a text file's bytes are to be read. Setups wrote their logs in the code
// page; logs copied and edited since come in UTF-8 or UTF-16 of either byte
// order, with or without a byte-order mark. Reading one in the wrong encoding
// finds none of its lines, and a run would then remove the registration while
// the group and the shared counts the log names stayed.
enum class TextEncoding {
    codePage,
    utf8,
    utf16le,
    utf16be,
    // NUL bytes where neither the code page nor UTF-16 of ASCII-range text
    // has them: binary data, a tail of zeros, UTF-32, a truncated UTF-16 file.
    unknown,
};

struct RecognisedText {
    TextEncoding encoding = TextEncoding::codePage;
    // Recognised by its byte-order mark, which `body` no longer holds.
    bool marked = false;
    std::string_view body;
};

// A byte-order mark decides. Without one, text holding no NUL byte is UTF-8
// when it is valid UTF-8 with at least one multi-byte sequence, and in the
// code page otherwise (pure ASCII reads the same either way). Text holding
// NUL bytes is UTF-16 only when its length is even, no code unit is zero and
// more than half of its code units are ASCII characters in one byte order:
// an install log is mostly ASCII, and text of any other kind puts its NULs
// elsewhere.
RecognisedText recogniseText(std::string_view bytes);

// Appends UTF-16 code units, two bytes each in the given order, as UTF-8. A
// surrogate without its partner takes the three-byte form of its code point,
// as the wide conversions at the platform boundary give it, so that a file
// name holding one names that file. An odd last byte is no character and is
// dropped.
void appendUtf16AsUtf8(std::string& out, std::string_view bytes, bool bigEndian);

// Why a reader refuses text whose encoding is unknown.
inline constexpr std::string_view unknownEncodingReason =
    "It holds NUL bytes, which no text in the code page holds, yet it is not UTF-16 either, so "
    "what it says cannot be read.";

} // namespace uninst
