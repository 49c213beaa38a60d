#pragma once

#include <cstddef>
#include <string_view>

// UTF-8 read leniently, as the run reads names: a byte that starts no whole
// sequence stands for itself, so any text can be read, and nothing is
// rejected here. (Whether a file is UTF-8 at all is text_file's strict
// question.)
namespace uninst {

inline bool isUtf8Continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The length of the sequence a lead byte announces: 2, 3 or 4, or 1 for
// ASCII and for a byte that announces none.
inline std::size_t utf8SequenceLength(char byte) {
    const auto lead = static_cast<unsigned char>(byte);
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

// The character at `at`, which moves past it. A lead byte without all of its
// continuation bytes is a character of its own value.
inline char32_t nextUtf8Character(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = utf8SequenceLength(text[at]);
    if (length == 1 || at + length > text.size()) {
        ++at;
        return lead;
    }
    constexpr unsigned char leadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
    char32_t value = lead & leadBits[length];
    for (std::size_t i = 1; i < length; ++i) {
        if (!isUtf8Continuation(text[at + i])) {
            ++at;
            return lead;
        }
        value = (value << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3Fu);
    }
    at += length;
    return value;
}

// The number of characters, each counted at its lead byte.
inline std::size_t utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text)
        count += !isUtf8Continuation(c);
    return count;
}

} // namespace uninst
