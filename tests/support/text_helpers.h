#pragma once

#include "engine/ascii_case.h"
#include "engine/path_safety.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Text helpers the tests share: names compared as the engine compares them,
// with only a-z upper-cased. Registry and file paths are taken apart at "\"
// with pathSteps(path, "\\").
namespace uninst::test {

// `text` with a-z upper-cased and every other byte as it was.
inline std::string upper(std::string_view text) {
    return asciiUpper(text);
}

inline bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// UTF-8 text as UTF-16 bytes in either byte order, without a mark: the way
// another tool may have saved an install log.
inline std::string utf16(std::string_view utf8, bool bigEndian = false) {
    std::string out;
    auto unit = [&](unsigned value) {
        const char high = static_cast<char>(value >> 8);
        const char low = static_cast<char>(value & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        unsigned value = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
            value = value << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        i += length;
        if (value < 0x10000) {
            unit(value);
        } else {
            unit(0xD800 | (value - 0x10000) >> 10);
            unit(0xDC00 | ((value - 0x10000) & 0x3FF));
        }
    }
    return out;
}

} // namespace uninst::test
