#pragma once

#include <string>
#include <string_view>
#include <vector>

// Text helpers the tests share: names compared as the engine compares them,
// with only a-z upper-cased, and registry and file paths taken apart at "\".
namespace uninst::test {

// `text` with a-z upper-cased and every other byte as it was.
inline std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

inline bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The steps of `path` between "\" separators, in order, empty ones included:
// "a\\\\b\\" gives "a", "", "b", "".
inline std::vector<std::string_view> pathSteps(std::string_view path) {
    std::vector<std::string_view> steps;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        steps.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return steps;
}

} // namespace uninst::test
