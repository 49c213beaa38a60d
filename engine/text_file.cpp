#include "engine/text_file.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace uninst {

namespace {

constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view utf16leMark = "\xFF\xFE";
constexpr std::string_view utf16beMark = "\xFE\xFF";

unsigned byteAt(std::string_view text, std::size_t at) {
    return static_cast<unsigned char>(text[at]);
}

bool isContinuation(std::string_view text, std::size_t at) {
    return at < text.size() && (byteAt(text, at) & 0xC0) == 0x80;
}

struct Scan {
    bool nul = false;
    bool valid = true;
    bool multiByte = false;
};

// Whether `text` holds a NUL and whether it is UTF-8 (no overlong form, no
// surrogate, nothing past U+10FFFF) with at least one multi-byte sequence, in
// one pass. Text in the code page with letters beyond ASCII almost never
// reads as such: a letter there is one byte of 0x80 or more, and UTF-8 wants
// each such lead followed by the right number of continuation bytes.
Scan scan(std::string_view text) {
    constexpr std::uint64_t highBits = 0x8080808080808080u;
    constexpr std::uint64_t lowBits = 0x0101010101010101u;
    Scan found;
    std::size_t i = 0;
    while (i < text.size()) {
        // Logs are nearly all ASCII: eight bytes at a time where they are,
        // none of them a NUL.
        if (std::uint64_t eight = 0; i + sizeof eight <= text.size()) {
            std::memcpy(&eight, text.data() + i, sizeof eight);
            if ((eight & highBits) == 0 && ((eight - lowBits) & ~eight & highBits) == 0) {
                i += sizeof eight;
                continue;
            }
        }
        const unsigned lead = byteAt(text, i);
        if (lead == 0) {
            found.nul = true;
            return found;
        }
        if (lead < 0x80 || !found.valid) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F;
        }
        bool whole = length != 0 && i + 1 < text.size() && byteAt(text, i + 1) >= low &&
                     byteAt(text, i + 1) <= high;
        for (std::size_t k = 2; whole && k < length; ++k)
            whole = isContinuation(text, i + k);
        if (!whole) {
            found.valid = false;
            ++i;
            continue;
        }
        found.multiByte = true;
        i += length;
    }
    return found;
}

// UTF-16 of text that is mostly ASCII has a NUL in every other byte, and a
// zero code unit nowhere; the NULs of binary data, of zeros written over a
// lost tail or of UTF-32 fall on both sides or pair up.
TextEncoding utf16Order(std::string_view text) {
    if (text.size() % 2 != 0)
        return TextEncoding::unknown;
    std::size_t littleAscii = 0;
    std::size_t bigAscii = 0;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const unsigned first = byteAt(text, i);
        const unsigned second = byteAt(text, i + 1);
        if (first == 0 && second == 0)
            return TextEncoding::unknown;
        if (second == 0 && first < 0x80)
            ++littleAscii;
        else if (first == 0 && second < 0x80)
            ++bigAscii;
    }
    const std::size_t units = text.size() / 2;
    if (2 * littleAscii > units)
        return TextEncoding::utf16le;
    if (2 * bigAscii > units)
        return TextEncoding::utf16be;
    return TextEncoding::unknown;
}

void appendCodePoint(std::string& out, unsigned value) {
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | value >> 6);
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | value >> 12);
        out += static_cast<char>(0x80 | (value >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | value >> 18);
        out += static_cast<char>(0x80 | (value >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (value >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

} // namespace

RecognisedText recogniseText(std::string_view bytes) {
    for (const auto& [mark, encoding] :
         {std::pair{utf8Mark, TextEncoding::utf8}, std::pair{utf16leMark, TextEncoding::utf16le},
          std::pair{utf16beMark, TextEncoding::utf16be}}) {
        if (bytes.substr(0, mark.size()) == mark)
            return {encoding, true, bytes.substr(mark.size())};
    }
    const Scan found = scan(bytes);
    if (found.nul)
        return {utf16Order(bytes), false, bytes};
    const bool utf8 = found.valid && found.multiByte;
    return {utf8 ? TextEncoding::utf8 : TextEncoding::codePage, false, bytes};
}

void appendUtf16AsUtf8(std::string& out, std::string_view bytes, bool bigEndian) {
    const std::size_t units = bytes.size() / 2;
    const auto unit = [&](std::size_t i) {
        const unsigned first = byteAt(bytes, 2 * i);
        const unsigned second = byteAt(bytes, 2 * i + 1);
        return bigEndian ? first << 8 | second : second << 8 | first;
    };
    out.reserve(out.size() + units);
    for (std::size_t i = 0; i < units; ++i) {
        unsigned value = unit(i);
        if (value >= 0xD800 && value <= 0xDBFF && i + 1 < units) {
            const unsigned next = unit(i + 1);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                value = 0x10000 + ((value - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        appendCodePoint(out, value);
    }
}

} // namespace uninst
