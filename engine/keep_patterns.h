#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/shell.h"

#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// A file the user wants kept, named by a wildcard over its path relative to
// the install folder: "*" is any run of characters, "\" included, so that
// "data\*" keeps a whole sub-tree; "?" is one character other than "\".
// Letters match as the file system matches them, and "/" stands for "\". A
// pattern may also name the install folder in full, with its drive or share
// or through a leading %VARIABLE%: it then stands for the path below it.
class KeepPattern {
public:
    // Throws Error for a pattern that can name no file below any install
    // folder: an empty one, a "." or ".." step, an empty step or a trailing
    // separator, a step ending in a blank or a dot (the system drops those,
    // so no file has such a name), a character no name holds (< > | " : or a
    // control character), or a drive without its root ("C:data.mdb").
    explicit KeepPattern(std::string_view text);

    // The pattern as given, for the log.
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// `path` relative to `installdir` ("C:\App\data\a.mdb" -> "data\a.mdb"), or
// empty when it does not lie below it.
std::string_view relativeToInstallFolder(std::string_view installdir, std::string_view path);

// A run's keep patterns read against its install folder. Names are folded by
// the file system (`names`): each pattern once, each path once whatever the
// number of patterns.
class KeepRules {
public:
    // Keeps nothing.
    KeepRules() = default;

    // Throws Error, naming the pattern and the folder, for a pattern that
    // names a full path other than one below `installdir`. `shell` expands a
    // leading %VARIABLE% (the null shell leaves the pattern as written).
    KeepRules(const std::vector<KeepPattern>& patterns, const std::string& installdir,
              FileSystem& names, Shell& shell);

    // The first pattern that keeps `path` (a full path), or null.
    const KeepPattern* keeping(std::string_view path) const;

    // Marks every row a pattern keeps; the other rows keep their marks.
    void markRows(FileList& list);

    // The patterns that kept no row in markRows, as given.
    std::vector<std::string> unmatched() const;

private:
    struct Rule {
        const KeepPattern* pattern = nullptr;
        std::u32string folded;
        bool matched = false;
    };
    // The index of the first rule that keeps `path`, or rules_.size().
    std::size_t firstKeeping(std::string_view path) const;

    std::vector<Rule> rules_;
    std::string installdir_;
    FileSystem* names_ = nullptr;
};

} // namespace uninst
