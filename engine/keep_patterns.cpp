#include "engine/keep_patterns.h"

#include "engine/error.h"

#include <cstddef>

namespace uninst {

namespace {

// One character of UTF-8 text; a byte that starts no valid sequence stands
// for itself, so that any text can be matched.
char32_t nextCharacter(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    char32_t value = lead;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    }
    if (length == 1 || at + length > text.size()) {
        ++at;
        return lead;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return lead;
        }
        value = (value << 6) | (next & 0x3F);
    }
    at += length;
    return value;
}

// Upper case as file names compare on Windows, for the scripts install
// folders are named in: Latin, Greek and Cyrillic. Other characters compare
// as they are.
char32_t fold(char32_t c) {
    if (c == U'/')
        return U'\\';
    if (c >= U'a' && c <= U'z')
        return c - 0x20;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    // Latin Extended-A pairs capital and small letters side by side, the
    // capital on the even code point except in two runs.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return c & ~char32_t{1};
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) == 0 ? c - 1 : c;
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
        return c - 0x20;
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x430 && c <= 0x44F)
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    return c;
}

std::u32string folded(std::string_view text) {
    std::u32string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();)
        result.push_back(fold(nextCharacter(text, at)));
    return result;
}

// The classic wildcard walk: on a mismatch, go back to the last "*" and let
// it take one more character. Linear in practice, never exponential.
bool wildcardMatch(std::u32string_view pattern, std::u32string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::u32string_view::npos;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() &&
                   (pattern[p] == text[t] || (pattern[p] == U'?' && text[t] != U'\\'))) {
            ++p;
            ++t;
        } else if (star != std::u32string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*')
        ++p;
    return p == pattern.size();
}

} // namespace

KeepPattern::KeepPattern(std::string_view text) : text_(text), folded_(folded(text)) {
    // A leading separator names the install folder itself, which every
    // relative path starts from.
    const std::size_t first = folded_.find_first_not_of(U'\\');
    folded_.erase(0, first == std::u32string::npos ? folded_.size() : first);
    if (folded_.empty())
        throw Error("The keep pattern \"" + text_ +
                    "\" names no file: give a file name or a wildcard such as *.mdb or data\\*.");
}

bool KeepPattern::matches(std::string_view relativePath) const {
    if (relativePath.empty())
        return false;
    return wildcardMatch(folded_, folded(relativePath));
}

std::string_view relativeToInstallFolder(std::string_view installdir, std::string_view path) {
    // The rows are the inventory's, which builds every path from the install
    // folder's own text; no case-insensitive comparison is needed.
    if (installdir.empty() || path.size() <= installdir.size() + 1 ||
        path.substr(0, installdir.size()) != installdir || path[installdir.size()] != '\\')
        return {};
    return path.substr(installdir.size() + 1);
}

const KeepPattern* keepingPattern(const std::vector<KeepPattern>& patterns,
                                  std::string_view installdir, std::string_view path) {
    if (patterns.empty())
        return nullptr;
    const std::string_view relative = relativeToInstallFolder(installdir, path);
    if (relative.empty())
        return nullptr;
    const std::u32string text = folded(relative);
    for (const KeepPattern& pattern : patterns) {
        if (wildcardMatch(pattern.folded_, text))
            return &pattern;
    }
    return nullptr;
}

void markKeptRows(FileList& list, std::string_view installdir,
                  const std::vector<KeepPattern>& patterns) {
    if (patterns.empty())
        return;
    const std::size_t n = list.rowCount();
    for (std::size_t i = 0; i < n; ++i) {
        if (keepingPattern(patterns, installdir, list.rowText(i)) != nullptr)
            list.setMarked(i, true);
    }
}

} // namespace uninst
