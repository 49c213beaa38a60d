#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Letter case where only ASCII letters can tell two names apart: the paths and
// key names the run builds itself, and the fixed names it looks for. Other
// bytes, UTF-8 included, stay as they are.
namespace uninst {

inline bool isAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

inline char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string asciiUpper(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = asciiUpper(c);
    return result;
}

inline std::string asciiLower(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = asciiLower(c);
    return result;
}

// An ordinal comparison with a-z read as A-Z: below zero, zero or above zero
// as `a` sorts before, with or after `b`, bytes compared unsigned.
inline int compareAsciiCase(std::string_view a, std::string_view b) {
    const auto fold = [](char c) { return static_cast<unsigned char>(asciiUpper(c)); };
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        if (fold(a[i]) != fold(b[i]))
            return fold(a[i]) < fold(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

inline bool sameAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i]))
            return false;
    }
    return true;
}

} // namespace uninst
