#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace uninst::memory {

// The in-memory registry and file system compare and order names as NTFS and
// the registry do: both sides upper-cased and compared as UTF-16 code units.
// The upper-casing covers ASCII, Latin-1, Latin Extended-A and -B, Latin
// Extended Additional, Greek, Cyrillic and the full-width forms, which is
// what names in tests use; other characters compare exactly.

inline char32_t upcase(char32_t c) {
    if (c >= U'a' && c <= U'z')
        return c - 0x20;
    if (c < 0x80)
        return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return c & ~char32_t{1};
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E) || (c >= 0x1CD && c <= 0x1DC))
        return (c % 2 == 0) ? c - 1 : c;
    // Runs of pairs with the capital on the even code point.
    if ((c >= 0x1DE && c <= 0x1EF) || (c >= 0x1F8 && c <= 0x21F) || (c >= 0x222 && c <= 0x233) ||
        (c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F) ||
        (c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF))
        return c & ~char32_t{1};
    if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB))
        return c - 0x20;
    if (c == 0x3C2)
        return 0x3A3;
    if (c == 0x3AC)
        return 0x386;
    if (c >= 0x3AD && c <= 0x3AF)
        return c - 0x25;
    if (c == 0x3CC)
        return 0x38C;
    if (c == 0x3CD || c == 0x3CE)
        return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F)
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    if (c >= 0xFF41 && c <= 0xFF5A)
        return c - 0x20;
    return c;
}

// Writes the comparison key of a UTF-8 name to `key`, reusing its storage so
// that lookups need not allocate. A byte that is not part of valid UTF-8
// becomes a lone low surrogate of its own, so that distinct byte strings never
// share a key.
inline void foldInto(std::string_view utf8, std::u16string& key) {
    key.clear();
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            key.push_back(static_cast<char16_t>(b >= 'a' && b <= 'z' ? b - 0x20 : b));
            ++i;
            continue;
        }
        char32_t c = 0;
        std::size_t len = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            c = b & 0x1F;
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            c = b & 0x0F;
            len = 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            c = b & 0x07;
            len = 4;
        }
        bool valid = len != 0 && i + len <= utf8.size();
        for (std::size_t k = 1; valid && k < len; ++k) {
            const auto cont = static_cast<unsigned char>(utf8[i + k]);
            if ((cont & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (cont & 0x3F);
        }
        if (valid && ((len == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
                      (len == 4 && (c < 0x10000 || c > 0x10FFFF))))
            valid = false;
        if (!valid) {
            key.push_back(static_cast<char16_t>(0xDC00 + b));
            ++i;
            continue;
        }
        c = upcase(c);
        if (c >= 0x10000) {
            c -= 0x10000;
            key.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            key.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            key.push_back(static_cast<char16_t>(c));
        }
        i += len;
    }
}

inline std::u16string foldName(std::string_view utf8) {
    std::u16string key;
    foldInto(utf8, key);
    return key;
}

// The folded text itself, as UTF-8: a byte that was not part of valid UTF-8
// comes back as it was.
inline std::string foldText(std::string_view utf8) {
    const std::u16string key = foldName(utf8);
    std::string out;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char32_t c = key[i];
        if (c >= 0xDC00 && c <= 0xDCFF && (i == 0 || key[i - 1] < 0xD800 || key[i - 1] > 0xDBFF)) {
            out.push_back(static_cast<char>(c - 0xDC00));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < key.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (key[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace uninst::memory
