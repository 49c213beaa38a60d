#pragma once

#include "engine/ports.h"

#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// A file the user wants kept, named by a wildcard over its path relative to
// the install folder: "*" is any run of characters, "\" included, so that
// "data\*" keeps a whole sub-tree; "?" is one character other than "\".
// Letters match without regard to case, and "/" stands for "\".
class KeepPattern;

const KeepPattern* keepingPattern(const std::vector<KeepPattern>& patterns,
                                  std::string_view installdir, std::string_view path);

class KeepPattern {
public:
    // Throws Error for an empty pattern, which would keep nothing and is
    // always a mistake on a command line.
    explicit KeepPattern(std::string_view text);

    // The pattern as given, for the log.
    const std::string& text() const { return text_; }

    // `relativePath` uses "\" as separator and has no leading one.
    bool matches(std::string_view relativePath) const;

private:
    friend const KeepPattern* keepingPattern(const std::vector<KeepPattern>& patterns,
                                             std::string_view installdir, std::string_view path);

    std::string text_;
    std::u32string folded_;
};

// `path` relative to `installdir` ("C:\App\data\a.mdb" -> "data\a.mdb"), or
// empty when it does not lie below it.
std::string_view relativeToInstallFolder(std::string_view installdir, std::string_view path);

// The first pattern that keeps `path`, or null.
const KeepPattern* keepingPattern(const std::vector<KeepPattern>& patterns,
                                  std::string_view installdir, std::string_view path);

// Marks every row a pattern keeps; the other rows keep their marks.
void markKeptRows(FileList& list, std::string_view installdir,
                  const std::vector<KeepPattern>& patterns);

} // namespace uninst
