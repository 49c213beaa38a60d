#include "engine/keep_patterns.h"

#include "engine/error.h"
#include "engine/path_safety.h"
#include "engine/utf8.h"

#include <cstddef>

namespace uninst {

namespace {

std::u32string characters(std::string_view text) {
    std::u32string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();)
        result.push_back(nextUtf8Character(text, at));
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

std::string withBackslashes(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c == '/')
            c = '\\';
    }
    return result;
}

bool isShare(std::string_view text) {
    return text.substr(0, 2) == "\\\\";
}

// What keeps `relative` (separators already "\", no leading one) from naming
// a file below a folder; empty when nothing does.
std::string stepFault(std::string_view relative) {
    if (relative.empty())
        return "names no file";
    std::size_t start = 0;
    while (true) {
        const std::size_t end = relative.find('\\', start);
        const std::string_view step =
            relative.substr(start, end == std::string_view::npos ? relative.npos : end - start);
        if (step.empty())
            return end == std::string_view::npos
                       ? "ends with a separator, which names a folder, not a file (data\\* keeps "
                         "everything below data)"
                       : "has an empty step between two separators";
        if (step == "." || step == "..")
            return "has a \".\" or \"..\" step";
        if (step.back() == ' ' || step.back() == '.')
            return "has a name ending in a blank or a dot, which the system drops, so no file "
                   "has it";
        for (const char c : step) {
            if (static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>' || c == '|' ||
                c == '"' || c == ':')
                return "holds a character that no file name holds";
        }
        if (end == std::string_view::npos)
            return {};
        start = end + 1;
    }
}

std::string refusal(const std::string& pattern, std::string_view why) {
    return "The keep pattern \"" + pattern + "\" " + std::string(why) +
           ": give the path below the install folder, such as *.mdb or data\\*. Nothing has "
           "been removed.";
}

// The steps of a full path, split at "\".
std::vector<std::string_view> stepsOf(std::string_view path) {
    std::vector<std::string_view> steps;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        steps.push_back(path.substr(start, end == path.npos ? path.npos : end - start));
        if (end == path.npos)
            return steps;
        start = end + 1;
    }
}

} // namespace

KeepPattern::KeepPattern(std::string_view text) : text_(text) {
    const std::string path = withBackslashes(text);
    // A full path, or one through a variable, is judged against the install
    // folder once it is known.
    if (!path.empty() && path.front() == '%')
        return;
    if (isShare(path)) {
        if (path.find_first_not_of('\\') == std::string::npos)
            throw Error("keep", text_, refusal(text_, "names no file"));
        return;
    }
    if (startsWithDrive(path)) {
        if (path.size() < 3 || path[2] != '\\')
            throw Error("keep", text_, refusal(text_, "names a drive without its root folder"));
        return;
    }
    // A leading separator names the install folder itself, which every
    // relative path starts from.
    const std::size_t first = path.find_first_not_of('\\');
    const std::string fault =
        stepFault(first == std::string::npos ? std::string_view{} : path.substr(first));
    if (!fault.empty())
        throw Error("keep", text_, refusal(text_, fault));
}

std::string_view relativeToInstallFolder(std::string_view installdir, std::string_view path) {
    // The rows are the inventory's, which builds every path from the install
    // folder's own text; no case-insensitive comparison is needed.
    if (installdir.empty() || path.size() <= installdir.size() + 1 ||
        path.substr(0, installdir.size()) != installdir || path[installdir.size()] != '\\')
        return {};
    return path.substr(installdir.size() + 1);
}

KeepRules::KeepRules(const std::vector<KeepPattern>& patterns, const std::string& installdir,
                     FileSystem& names, Shell& shell)
    : installdir_(installdir), names_(&names) {
    std::vector<std::string_view> folderSteps;
    std::vector<std::string> foldedFolder;
    for (const KeepPattern& pattern : patterns) {
        std::string path = withBackslashes(pattern.text());
        if (!path.empty() && path.front() == '%')
            path = withBackslashes(shell.expandEnvironment(path));
        std::string relative;
        if (isShare(path) || startsWithDrive(path)) {
            if (foldedFolder.empty()) {
                folderSteps = stepsOf(installdir_);
                for (std::string_view step : folderSteps)
                    foldedFolder.push_back(names.foldCase(std::string(step)));
            }
            const std::vector<std::string_view> steps = stepsOf(path);
            bool below = steps.size() > folderSteps.size();
            for (std::size_t i = 0; below && i < folderSteps.size(); ++i)
                below = names.foldCase(std::string(steps[i])) == foldedFolder[i];
            if (!below)
                throw Error("keep", pattern.text(),
                            "The keep pattern \"" + pattern.text() +
                                "\" names no file below the install folder " + installdir_ +
                                ": give the path below it, such as *.mdb or data\\*, or the "
                                "install folder in full. Nothing has been removed.");
            // Measured on the pattern's own steps: another spelling of the
            // folder may take another number of bytes.
            std::size_t offset = 0;
            for (std::size_t i = 0; i < folderSteps.size(); ++i)
                offset += steps[i].size() + 1;
            relative = path.substr(offset);
        } else {
            const std::size_t first = path.find_first_not_of('\\');
            if (first != std::string::npos)
                relative = path.substr(first);
        }
        const std::string fault = stepFault(relative);
        if (!fault.empty())
            throw Error("keep", pattern.text(), refusal(pattern.text(), fault));
        rules_.push_back({&pattern, characters(names.foldCase(relative)), false});
    }
}

std::size_t KeepRules::firstKeeping(std::string_view path) const {
    if (rules_.empty())
        return 0;
    const std::string_view relative = relativeToInstallFolder(installdir_, path);
    if (relative.empty())
        return rules_.size();
    const std::u32string text = characters(names_->foldCase(std::string(relative)));
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (wildcardMatch(rules_[i].folded, text))
            return i;
    }
    return rules_.size();
}

const KeepPattern* KeepRules::keeping(std::string_view path) const {
    const std::size_t rule = firstKeeping(path);
    return rule < rules_.size() ? rules_[rule].pattern : nullptr;
}

void KeepRules::markRows(FileList& list) {
    if (rules_.empty())
        return;
    const std::size_t n = list.rowCount();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string row = list.rowText(i);
        const std::string_view relative = relativeToInstallFolder(installdir_, row);
        if (relative.empty())
            continue;
        const std::u32string text = characters(names_->foldCase(std::string(relative)));
        // Every pattern is tried, not just up to the first that keeps the
        // row, so that a pattern is never reported as matching nothing when
        // an earlier one took its files.
        bool kept = false;
        for (Rule& rule : rules_) {
            if (wildcardMatch(rule.folded, text)) {
                rule.matched = true;
                kept = true;
            }
        }
        if (kept)
            list.setMarked(i, true);
    }
}

std::vector<std::string> KeepRules::unmatched() const {
    std::vector<std::string> texts;
    for (const Rule& rule : rules_) {
        if (!rule.matched)
            texts.push_back(rule.pattern->text());
    }
    return texts;
}

} // namespace uninst
