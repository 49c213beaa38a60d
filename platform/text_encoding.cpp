#include "platform/text_encoding.h"

#include "engine/error.h"
#include "engine/text_file.h"

#include <windows.h>

#include <climits>
#include <string>

namespace uninst::text {

namespace {

// The conversion functions take int lengths; nothing the program handles comes
// close, but a silent truncation would corrupt text, so refuse instead.
int checkedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX))
        throw Error("convert", "a text of " + std::to_string(size) + " characters",
                    "Cannot convert a text of " + std::to_string(size) +
                        " characters: it is too long for the system's conversion.");
    return static_cast<int>(size);
}

void appendMultiToWide(std::wstring& out, std::string_view in, UINT codePage) {
    if (in.empty())
        return;
    const int inLength = checkedLength(in.size());
    const int needed = MultiByteToWideChar(codePage, 0, in.data(), inLength, nullptr, 0);
    if (needed <= 0)
        return;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(needed));
    MultiByteToWideChar(codePage, 0, in.data(), inLength, out.data() + start, needed);
}

// A character the code page has no place for becomes the default character,
// never the system's nearest look-alike: a name spelt with "a" and a macron
// must not turn into another application's name spelt with a plain "a".
void appendWideToMulti(std::string& out, std::wstring_view in, UINT codePage) {
    if (in.empty())
        return;
    const int inLength = checkedLength(in.size());
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    const int needed =
        WideCharToMultiByte(codePage, flags, in.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(needed));
    WideCharToMultiByte(codePage, flags, in.data(), inLength, out.data() + start, needed, nullptr,
                        nullptr);
}

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

// Text inside the program is WTF-8: UTF-8 that also carries an unpaired
// surrogate, in the three-byte form a surrogate code point would take. File
// names on Windows are any sequence of 16-bit units, and the system's own
// converters turn a lone surrogate into U+FFFD, after which the listed name
// names another file or none. Listing a large tree converts every name it
// meets, and nearly all of them are ASCII: those are copied directly.
void appendWide(std::wstring& out, std::string_view utf8) {
    if (isAscii(utf8)) {
        out.append(utf8.begin(), utf8.end());
        return;
    }
    out.reserve(out.size() + utf8.size());
    const auto byte = [&](std::size_t at) {
        return at < utf8.size() ? static_cast<unsigned char>(utf8[at]) : 0u;
    };
    const auto isContinuation = [](unsigned c) { return (c & 0xC0) == 0x80; };
    std::size_t i = 0;
    while (i < utf8.size()) {
        const unsigned lead = byte(i);
        if (lead < 0x80) {
            out += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        // Overlong forms and values past U+10FFFF are not text: each byte
        // of one becomes U+FFFD, as the system's converter does.
        const unsigned second = byte(i + 1);
        if (lead >= 0xC2 && lead <= 0xDF && isContinuation(second)) {
            out += static_cast<wchar_t>((lead & 0x1F) << 6 | (second & 0x3F));
            i += 2;
            continue;
        }
        const unsigned third = byte(i + 2);
        if (lead >= 0xE0 && lead <= 0xEF && isContinuation(second) && isContinuation(third) &&
            (lead != 0xE0 || second >= 0xA0)) {
            out +=
                static_cast<wchar_t>((lead & 0x0F) << 12 | (second & 0x3F) << 6 | (third & 0x3F));
            i += 3;
            continue;
        }
        const unsigned fourth = byte(i + 3);
        if (lead >= 0xF0 && lead <= 0xF4 && isContinuation(second) && isContinuation(third) &&
            isContinuation(fourth) && (lead != 0xF0 || second >= 0x90) &&
            (lead != 0xF4 || second < 0x90)) {
            const unsigned value = ((lead & 0x07) << 18 | (second & 0x3F) << 12 |
                                    (third & 0x3F) << 6 | (fourth & 0x3F)) -
                                   0x10000;
            out += static_cast<wchar_t>(0xD800 | value >> 10);
            out += static_cast<wchar_t>(0xDC00 | (value & 0x3FF));
            i += 4;
            continue;
        }
        out += L'\xFFFD';
        ++i;
    }
}

void appendFromWide(std::string& out, std::wstring_view wide) {
    bool ascii = true;
    for (wchar_t c : wide) {
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    }
    const std::size_t start = out.size();
    if (ascii) {
        out.resize(start + wide.size());
        for (std::size_t i = 0; i < wide.size(); ++i)
            out[start + i] = static_cast<char>(wide[i]);
        return;
    }
    // Wide text is UTF-16 in the machine's order, which on Windows is little
    // endian: one conversion serves it and the text files alike.
    static_assert(sizeof(wchar_t) == 2);
    out.reserve(start + wide.size() * 3);
    appendUtf16AsUtf8(
        out, std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size() * 2), false);
}

std::wstring toWide(std::string_view utf8) {
    std::wstring out;
    appendWide(out, utf8);
    return out;
}

std::string fromWide(std::wstring_view wide) {
    std::string out;
    appendFromWide(out, wide);
    return out;
}

// ASCII is the same in UTF-8 and in every ANSI code page Windows uses, and it
// is nearly all the text the registry carries, so skip the round trip.
std::string toAnsi(std::string_view utf8) {
    if (isAscii(utf8))
        return std::string(utf8);
    std::wstring wide = toWide(utf8);
    std::string out;
    appendWideToMulti(out, wide, CP_ACP);
    return out;
}

std::string fromAnsi(std::string_view ansi) {
    if (isAscii(ansi))
        return std::string(ansi);
    std::wstring wide;
    appendMultiToWide(wide, ansi, CP_ACP);
    return fromWide(wide);
}

std::optional<std::string> fromTextFile(std::string_view bytes) {
    const RecognisedText text = recogniseText(bytes);
    std::string out;
    switch (text.encoding) {
    case TextEncoding::utf8:
        if (!text.marked)
            return std::string(text.body);
        // Through UTF-16 and back, so that a damaged sequence arrives as
        // U+FFFD like the system shows it, never as a stray byte.
        {
            std::wstring wide;
            appendMultiToWide(wide, text.body, CP_UTF8);
            return fromWide(wide);
        }
    case TextEncoding::utf16le:
    case TextEncoding::utf16be:
        appendUtf16AsUtf8(out, text.body, text.encoding == TextEncoding::utf16be);
        return out;
    case TextEncoding::codePage:
        return fromAnsi(text.body);
    case TextEncoding::unknown:
        break;
    }
    return std::nullopt;
}

int compareFolded(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE);
}

bool sameFolded(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && compareFolded(a, b) == CSTR_EQUAL;
}

} // namespace uninst::text
