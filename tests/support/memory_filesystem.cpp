#include "tests/support/memory_filesystem.h"

#include "engine/error.h"
#include "engine/text_file.h"
#include "tests/support/memory_names.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace uninst {

namespace {

const char* const pathNotFound = "The system cannot find the path specified.";
const char* const fileNotFound = "The system cannot find the file specified.";
const char* const accessDenied = "Access is denied.";
const char* const sharingViolation =
    "The process cannot access the file because it is being used by another process.";
const char* const notADirectory = "The directory name is invalid.";

std::string shown(const std::string& path) {
    return path.empty() ? "(empty path)" : path;
}

[[noreturn]] void fail(const std::string& operation, const std::string& path, const char* why) {
    throw Error(operation, path, "Cannot " + operation + " " + shown(path) + ": " + why);
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// "C:\A\.\B\..\c" -> drive "C:" and names {A, c}; nullopt without a drive.
struct ParsedPath {
    std::string drive;
    std::vector<std::string_view> names;
};

std::optional<ParsedPath> parse(std::string_view path) {
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
        return std::nullopt;
    if (path.size() > 2 && !isSeparator(path[2]))
        return std::nullopt;
    ParsedPath parsed;
    parsed.drive = {static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))), ':'};
    std::size_t start = 2;
    while (start < path.size()) {
        std::size_t end = start;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        std::string_view name = path.substr(start, end - start);
        if (name == "..") {
            if (!parsed.names.empty())
                parsed.names.pop_back();
        } else if (!name.empty() && name != ".") {
            parsed.names.push_back(name);
        }
        start = end + 1;
    }
    return parsed;
}

// The system's clean-up of a path made full, from `mark` on (the part before
// it, a drive's or a share's root, stays as it is): "/" becomes "\\",
// separators run together, "." steps go, ".." steps take the step before
// (never past the root), a step followed by a separator loses one trailing
// dot, and the path loses its trailing dots and blanks.
std::string collapse(std::string path, std::size_t mark) {
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    mark = std::min(mark, path.size());
    const std::size_t from = std::max<std::size_t>(1, mark);
    std::string out = path.substr(0, std::min(from, path.size()));
    for (std::size_t i = out.size(); i < path.size(); ++i) {
        if (path[i] != '\\' || out.back() != '\\')
            out.push_back(path[i]);
    }
    // Back to the start of the step before `p`, never past the root.
    const auto stepBack = [&](std::size_t p) {
        if (p > mark) {
            --p;
            while (p > mark && out[p - 1] != '\\')
                --p;
        }
        return p;
    };
    std::size_t p = mark;
    while (p < out.size()) {
        if (out[p] == '.') {
            const char next = p + 1 < out.size() ? out[p + 1] : '\0';
            if (next == '\\') {
                out.erase(p, 2);
                continue;
            }
            if (next == '\0') {
                out.erase(p > mark ? p - 1 : p);
                break;
            }
            if (next == '.') {
                const char after = p + 2 < out.size() ? out[p + 2] : '\0';
                if (after == '\\') {
                    const std::size_t end = p + 3;
                    p = stepBack(p);
                    out.erase(p, end - p);
                    continue;
                }
                if (after == '\0') {
                    p = stepBack(p);
                    if (p > mark)
                        --p;
                    out.erase(p);
                    break;
                }
            }
        }
        while (p < out.size() && out[p] != '\\')
            ++p;
        if (p < out.size()) {
            if (p > mark && out[p - 1] == '.')
                out.erase(p - 1, 1);
            else
                ++p;
        }
    }
    p = out.size();
    while (p > mark && (out[p - 1] == ' ' || out[p - 1] == '.'))
        --p;
    out.erase(p);
    return out;
}

// Where a share's root ends in "\\\\server\\share\\rest": after the
// separators that follow the share's name.
std::size_t shareRootEnd(std::string_view path) {
    std::size_t p = 2;
    while (p < path.size() && !isSeparator(path[p]))
        ++p;
    while (p < path.size() && isSeparator(path[p]))
        ++p;
    while (p < path.size() && !isSeparator(path[p]))
        ++p;
    while (p < path.size() && isSeparator(path[p]))
        ++p;
    return p;
}

char driveLetter(std::string_view path) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
}

// The prefix for listed paths: the caller's spelling without trailing
// separators, so that "C:\" and "C:" both list as "C:\name".
std::string listingPrefix(const std::string& path) {
    std::string prefix = path;
    while (prefix.size() > 2 && isSeparator(prefix.back()))
        prefix.pop_back();
    return prefix;
}

} // namespace

struct MemoryFileSystem::Node {
    enum class Kind { file, folder, link };
    Kind kind = Kind::folder;
    std::string name;
    std::string content;
    std::string target;
    bool readOnly = false;
    bool inUse = false;
    // Mapped by another process: it opens for deletion, and the deletion
    // itself is refused.
    bool mapped = false;
    std::map<std::u16string, std::unique_ptr<Node>> children;

    Node* child(std::string_view childName) const {
        auto it = children.find(memory::foldName(childName));
        return it == children.end() ? nullptr : it->second.get();
    }
};

MemoryFileSystem::MemoryFileSystem() : machine_(std::make_unique<Node>()) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        auto drive = std::make_unique<Node>();
        drive->name = {letter, ':'};
        machine_->children.emplace(memory::foldName(drive->name), std::move(drive));
    }
}

MemoryFileSystem::~MemoryFileSystem() = default;

MemoryFileSystem::Node* MemoryFileSystem::find(const std::string& path,
                                               std::string* canonical) const {
    auto parsed = parse(path);
    if (!parsed)
        return nullptr;
    Node* node = machine_->child(parsed->drive);
    if (canonical != nullptr)
        *canonical = node->name;
    for (std::string_view name : parsed->names) {
        if (node->kind != Node::Kind::folder)
            return nullptr;
        node = node->child(name);
        if (node == nullptr)
            return nullptr;
        if (canonical != nullptr)
            *canonical += "\\" + node->name;
    }
    return node;
}

MemoryFileSystem::Node& MemoryFileSystem::parentForFixture(const std::string& path,
                                                           std::string& name) {
    auto parsed = parse(path);
    if (!parsed || parsed->names.empty())
        throw std::invalid_argument("not a path below a drive root: " + path);
    Node* node = machine_->child(parsed->drive);
    for (std::size_t i = 0; i + 1 < parsed->names.size(); ++i) {
        const std::string_view part = parsed->names[i];
        auto key = memory::foldName(part);
        auto it = node->children.find(key);
        if (it == node->children.end()) {
            auto folder = std::make_unique<Node>();
            folder->name = std::string(part);
            it = node->children.emplace(std::move(key), std::move(folder)).first;
        }
        node = it->second.get();
        if (node->kind != Node::Kind::folder)
            throw std::invalid_argument("path runs through a file or link: " + path);
    }
    name = std::string(parsed->names.back());
    return *node;
}

MemoryFileSystem::Node& MemoryFileSystem::existingForFixture(const std::string& path) const {
    Node* node = find(path);
    if (node == nullptr)
        throw std::invalid_argument("no such file or folder: " + path);
    return *node;
}

template <typename Kind>
MemoryFileSystem::Node& MemoryFileSystem::entryForFixture(const std::string& path, Kind kind,
                                                          const char* others) {
    std::string name;
    Node& parent = parentForFixture(path, name);
    auto& slot = parent.children[memory::foldName(name)];
    if (!slot) {
        slot = std::make_unique<Node>();
        slot->kind = kind;
        slot->name = name;
    } else if (slot->kind != kind) {
        throw std::invalid_argument(std::string(others) + " is already there: " + path);
    }
    return *slot;
}

void MemoryFileSystem::addFolder(const std::string& path) {
    if (auto parsed = parse(path); parsed && parsed->names.empty())
        return;
    entryForFixture(path, Node::Kind::folder, "a file or link");
}

void MemoryFileSystem::addFile(const std::string& path, const std::string& content) {
    entryForFixture(path, Node::Kind::file, "a folder or link").content = content;
}

void MemoryFileSystem::addLink(const std::string& path, const std::string& target) {
    entryForFixture(path, Node::Kind::link, "a file or folder").target = target;
}

void MemoryFileSystem::setReadOnly(const std::string& path, bool readOnly) {
    existingForFixture(path).readOnly = readOnly;
}

void MemoryFileSystem::setInUse(const std::string& path, bool inUse) {
    existingForFixture(path).inUse = inUse;
}

void MemoryFileSystem::setMapped(const std::string& path, bool mapped) {
    existingForFixture(path).mapped = mapped;
}

bool MemoryFileSystem::fileExists(const std::string& path) const {
    const Node* node = find(path);
    return node != nullptr && node->kind == Node::Kind::file;
}

bool MemoryFileSystem::exists(const std::string& path) const {
    return find(path) != nullptr;
}

std::vector<std::string> MemoryFileSystem::snapshot(const std::string& path) const {
    std::vector<std::string> entries;
    std::string canonical;
    const Node* start = find(path, &canonical);
    if (start == nullptr)
        return entries;
    std::function<void(const Node&, const std::string&)> visit = [&](const Node& node,
                                                                     const std::string& at) {
        switch (node.kind) {
        case Node::Kind::file:
            entries.push_back(at);
            break;
        case Node::Kind::link:
            entries.push_back(at + " -> " + node.target);
            break;
        case Node::Kind::folder:
            entries.push_back(at + "\\");
            for (const auto& entry : node.children)
                visit(*entry.second, at + "\\" + entry.second->name);
            break;
        }
    };
    visit(*start, canonical);
    std::sort(entries.begin(), entries.end());
    return entries;
}

FolderListing MemoryFileSystem::listFolder(const std::string& path) {
    const Node* node = find(path);
    if (node == nullptr)
        fail("open folder", path, pathNotFound);
    if (node->kind == Node::Kind::file)
        fail("open folder", path, notADirectory);
    if (node->kind == Node::Kind::link)
        fail("open folder", path, "It is a link to another folder, which is never entered.");
    FolderListing listing;
    const std::string prefix = listingPrefix(path) + "\\";
    for (const auto& entry : node->children) {
        const Node& item = *entry.second;
        if (item.kind == Node::Kind::file) {
            listing.files.push_back(prefix + item.name);
            listing.fileBytes.push_back(item.content.size());
        } else
            listing.subFolders.push_back({prefix + item.name, item.kind == Node::Kind::link});
    }
    return listing;
}

void MemoryFileSystem::setCurrentFolder(const std::string& path) {
    current_ = fullPath(path);
    driveFolders_[driveLetter(current_)] = current_;
}

void MemoryFileSystem::setDriveFolder(const std::string& path) {
    const std::string full = fullPath(path);
    driveFolders_[driveLetter(full)] = full;
}

std::string MemoryFileSystem::foldCase(const std::string& text) {
    return memory::foldText(text);
}

std::string MemoryFileSystem::fullPath(const std::string& path) {
    if (path.empty())
        fail("resolve path", path,
             "The filename, directory name, or volume label syntax is "
             "incorrect.");
    const bool hasDrive =
        path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        // "\\?\\" and "\\.\\" are the device namespace; the rest is a share.
        if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && isSeparator(path[3]))
            return collapse(path, 4);
        return collapse(path, shareRootEnd(path));
    }
    if (hasDrive && path.size() >= 3 && isSeparator(path[2]))
        return collapse(path, 3);
    if (hasDrive) {
        const char letter = driveLetter(path);
        std::string base;
        if (letter == driveLetter(current_)) {
            base = current_;
        } else if (auto it = driveFolders_.find(letter); it != driveFolders_.end()) {
            base = it->second;
        } else {
            base = {letter, ':'};
        }
        return collapse(base + "\\" + path.substr(2), 3);
    }
    if (isSeparator(path[0]))
        return collapse(current_.substr(0, 2) + path, 3);
    return collapse(current_ + "\\" + path, 3);
}

bool MemoryFileSystem::folderExists(const std::string& path) {
    const Node* node = find(path);
    return node != nullptr && node->kind != Node::Kind::file;
}

bool MemoryFileSystem::isMissing(const std::string& path) {
    return find(path) == nullptr;
}

void MemoryFileSystem::setRemovalRoots(const std::vector<std::string>&) {}

Removal MemoryFileSystem::deleteFile(const std::string& path) {
    if (path.empty())
        fail("delete file", path, pathNotFound);
    auto parsed = parse(path);
    Node* node = find(path);
    if (node == nullptr)
        return Removal::notFound;
    if (node->kind != Node::Kind::file || node->readOnly || node->mapped)
        fail("delete file", path, accessDenied);
    if (node->inUse)
        fail("delete file", path, sharingViolation);
    Node* parent = find(path + "\\..");
    parent->children.erase(memory::foldName(parsed->names.back()));
    return Removal::removed;
}

bool MemoryFileSystem::removeTree(Node& folder, const std::string& folderPath) {
    for (auto it = folder.children.begin(); it != folder.children.end();) {
        Node& item = *it->second;
        if (item.kind != Node::Kind::file) {
            ++it;
            continue;
        }
        const std::string itemPath = folderPath + "\\" + item.name;
        if (item.readOnly || item.mapped)
            fail("delete file", itemPath, accessDenied);
        if (item.inUse)
            fail("delete file", itemPath, sharingViolation);
        it = folder.children.erase(it);
    }
    bool kept = false;
    for (auto it = folder.children.begin(); it != folder.children.end();) {
        Node& item = *it->second;
        if (item.kind == Node::Kind::folder && removeTree(item, folderPath + "\\" + item.name)) {
            it = folder.children.erase(it);
        } else {
            kept = true;
            ++it;
        }
    }
    if (kept)
        return false;
    if (folder.readOnly)
        fail("delete folder", folderPath, accessDenied);
    if (folder.inUse)
        fail("delete folder", folderPath, sharingViolation);
    return true;
}

Removal MemoryFileSystem::deleteFolder(const std::string& path) {
    if (path.empty())
        fail("delete folder", path, pathNotFound);
    auto parsed = parse(path);
    Node* node = find(path);
    if (node == nullptr || node->kind == Node::Kind::link)
        return Removal::notFound;
    if (node->kind == Node::Kind::file)
        fail("delete folder", path, notADirectory);
    if (parsed->names.empty())
        fail("delete folder", path, accessDenied);
    if (removeTree(*node, listingPrefix(path))) {
        Node* parent = find(path + "\\..");
        parent->children.erase(memory::foldName(parsed->names.back()));
    }
    return Removal::removed;
}

bool MemoryFileSystem::removeEmptyFolder(const std::string& path) {
    if (path.empty())
        return false;
    const auto parsed = parse(path);
    Node* node = find(path);
    if (!parsed || parsed->names.empty() || node == nullptr || node->kind != Node::Kind::folder ||
        !node->children.empty() || node->readOnly || node->inUse)
        return false;
    find(path + "\\..")->children.erase(memory::foldName(parsed->names.back()));
    return true;
}

DeleteCheck MemoryFileSystem::checkDelete(const std::string& path) {
    const Node* node = path.empty() ? nullptr : find(path);
    if (node == nullptr)
        return {Deletable::missing, {}};
    if (node->kind != Node::Kind::file || node->readOnly)
        return {Deletable::refused, "Cannot delete file " + path + ": " + accessDenied};
    if (node->inUse)
        return {Deletable::inUse, "Cannot delete file " + path + ": " + sharingViolation};
    if (node->mapped)
        return {Deletable::inUse, "Cannot delete file " + path + ": " + accessDenied};
    return {};
}

std::vector<bool> MemoryFileSystem::deletableUnlessInUse(const std::vector<std::string>& paths) {
    std::vector<bool> vouched;
    for (const std::string& path : paths) {
        const Node* node = path.empty() ? nullptr : find(path);
        vouched.push_back(node != nullptr && node->kind == Node::Kind::file && !node->readOnly);
    }
    return vouched;
}

void MemoryFileSystem::deleteAtRestart(const std::string& path) {
    if (find(path) == nullptr)
        fail("schedule the deletion of", path, fileNotFound);
    atRestart_.push_back(path);
}

void MemoryFileSystem::restart() {
    std::function<void(Node&)> release = [&](Node& node) {
        node.inUse = false;
        node.mapped = false;
        for (auto& [name, child] : node.children)
            release(*child);
    };
    release(*machine_);
    for (const std::string& path : std::exchange(atRestart_, {})) {
        Node* node = find(path);
        if (node == nullptr)
            continue;
        try {
            if (node->kind == Node::Kind::file)
                deleteFile(path);
            else
                removeEmptyFolder(path);
        } catch (const Error&) {
            // A read-only file stays, as the system leaves it.
        }
    }
}

MemoryFileSystem::Node*
MemoryFileSystem::newItemParent(const char* operation, const std::string& path, std::string& name) {
    auto parsed = parse(path);
    if (!parsed || parsed->names.empty())
        fail(operation, path, accessDenied);
    Node* parent = find(path + "\\..");
    if (parent == nullptr || parent->kind != Node::Kind::folder)
        fail(operation, path, pathNotFound);
    name = std::string(parsed->names.back());
    return parent;
}

Creation MemoryFileSystem::createFolder(const std::string& path) {
    std::string name;
    Node* parent = newItemParent("create folder", path, name);
    if (const Node* there = parent->child(name)) {
        if (there->kind != Node::Kind::folder)
            fail("create folder", path, "Cannot create a file when that file already exists.");
        return Creation::exists;
    }
    auto folder = std::make_unique<Node>();
    folder->name = name;
    parent->children.emplace(memory::foldName(name), std::move(folder));
    return Creation::created;
}

Creation MemoryFileSystem::copyNewFile(const std::string& from, const std::string& to) {
    const Node* source = find(from);
    if (source == nullptr || source->kind != Node::Kind::file)
        fail("read file", from, source == nullptr ? fileNotFound : accessDenied);
    std::string name;
    Node* parent = newItemParent("create file", to, name);
    if (parent->child(name) != nullptr)
        return Creation::exists;
    auto file = std::make_unique<Node>();
    file->kind = Node::Kind::file;
    file->name = name;
    file->content = source->content;
    file->readOnly = source->readOnly;
    parent->children.emplace(memory::foldName(name), std::move(file));
    return Creation::created;
}

std::string MemoryFileSystem::readTextFile(const std::string& path) {
    const Node* node = find(path);
    if (node == nullptr)
        fail("open file", path, path.empty() ? pathNotFound : fileNotFound);
    if (node->kind != Node::Kind::file)
        fail("open file", path, accessDenied);
    const RecognisedText text = recogniseText(node->content);
    std::string out;
    switch (text.encoding) {
    case TextEncoding::utf8:
    case TextEncoding::codePage:
        return std::string(text.body);
    case TextEncoding::utf16le:
    case TextEncoding::utf16be:
        appendUtf16AsUtf8(out, text.body, text.encoding == TextEncoding::utf16be);
        return out;
    case TextEncoding::unknown:
        break;
    }
    fail("open file", path, std::string(unknownEncodingReason).c_str());
}

} // namespace uninst
