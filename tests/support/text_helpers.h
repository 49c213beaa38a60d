#pragma once

#include "engine/ascii_case.h"
#include "engine/path_safety.h"

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

} // namespace uninst::test
