#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Letter case where only ASCII letters can tell two names apart: the paths and
// key names the run builds itself, and the fixed names it looks for. Other
// bytes, UTF-8 included, stay as they are.
namespace uninst {

inline char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string asciiUpper(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = asciiUpper(c);
    return result;
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
