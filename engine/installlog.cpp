#include "engine/installlog.h"

#include "engine/error.h"
#include "engine/start_menu_groups.h"
#include "engine/system_paths.h"
#include "engine/utf8.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace uninst {

namespace {

constexpr std::string_view logName = "\\st6unst.log";

constexpr std::string_view createDir = "ACTION: CreateDir: ";
constexpr std::string_view bootstrap = "NOTE: Now spawning the main Setup program 'Setup1.exe'....";
constexpr std::string_view shellLink = "ACTION: ShellLink: ";
constexpr std::string_view systemFile = "ACTION: SystemFile: ";
constexpr std::string_view dllSelfRegister = "ACTION: DllSelfRegister:";

// The log's paths sit between double quotes after the prefix and one blank,
// which all prefixes but one already end with. A payload starts past both,
// without checking what stands there.
constexpr std::size_t payloadAfter(std::string_view prefix) {
    const std::size_t blank = prefix.back() == ' ' ? 0 : 1;
    const std::size_t quote = 1;
    return prefix.size() + blank + quote;
}
constexpr std::size_t createDirPayload = payloadAfter(createDir);
constexpr std::size_t shellLinkPayload = payloadAfter(shellLink);
constexpr std::size_t systemFilePayload = payloadAfter(systemFile);
constexpr std::size_t dllSelfRegisterPayload = payloadAfter(dllSelfRegister);

// Where the drive's WINDOWS folder name sits in "X:\WINDOWS...".
constexpr std::size_t windowsAt = 3;
constexpr std::string_view windowsName = "WINDOWS";

bool startsWith(std::string_view line, std::string_view prefix) {
    return line.size() >= prefix.size() &&
           std::memcmp(line.data(), prefix.data(), prefix.size()) == 0;
}

std::string_view from(std::string_view line, std::size_t position) {
    return position < line.size() ? line.substr(position) : std::string_view{};
}

// Drops the last character, which is normally the closing quote. Text is
// UTF-8, so a multi-byte character goes as a whole. Empty text has no
// character to drop: the caller treats the line as damaged.
std::optional<std::string_view> dropLast(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && isUtf8Continuation(text[start]))
        --start;
    const std::size_t length = utf8SequenceLength(text[start]);
    // A stray continuation byte is dropped on its own.
    if (start + length != text.size())
        start = text.size() - 1;
    return text.substr(0, start);
}

class LogReader {
public:
    LogReader(UninstallState& state, std::vector<std::string>& shared)
        : state_(state), shared_(shared) {}

    void line(std::string_view l) {
        // Most lines are of kinds nobody reacts to; one byte sorts them out.
        if (l.empty())
            return;
        if (l[0] == 'A') {
            if (startsWith(l, createDir))
                directoryCreated(l);
            else if (startsWith(l, shellLink))
                shortcutCreated(l);
            else if (startsWith(l, systemFile))
                sharedFile(from(l, systemFilePayload));
            else if (startsWith(l, dllSelfRegister))
                sharedFile(from(l, dllSelfRegisterPayload));
        } else if (l[0] == 'N' && startsWith(l, bootstrap)) {
            if (state_.menupath.empty())
                groupfound_ = false;
        }
    }

private:
    void directoryCreated(std::string_view l) {
        const std::string_view path = from(l, createDirPayload);
        const auto folder = dropLast(path);
        if (folder)
            state_.createdfolders.emplace_back(*folder);
        if (from(path, windowsAt).substr(0, windowsName.size()) != windowsName) {
            state_.menupath.assign(path);
            return;
        }
        // A setup creates the vendor's folder, then the group inside it: the
        // group is the whole of the folder below the start-menu root. Any
        // other folder of the system's is no group at all.
        const auto steps = folder ? classicStartMenuSteps(*folder) : std::nullopt;
        if (!steps)
            return;
        state_.groupname.assign(*steps);
        state_.menupath.assign(*folder);
        groupfound_ = true;
    }

    void shortcutCreated(std::string_view l) {
        const std::string_view fields = from(l, shellLinkPayload);
        if (fields.empty())
            return;
        const std::size_t comma = fields.find(',');
        const auto group = dropLast(fields.substr(0, comma));
        if (!group)
            return;
        // The caption, between the next two quotes, names the shortcut's
        // file in the group: the application's own wherever it leads.
        if (comma != std::string_view::npos) {
            const std::string_view rest = fields.substr(comma + 1);
            const std::size_t close = rest.empty() || rest[0] != '"' ? 0 : rest.find('"', 1);
            if (close > 1 && close != std::string_view::npos)
                state_.shortcuts.push_back(
                    {std::string(*group), std::string(rest.substr(1, close - 1))});
        }
        if (groupfound_)
            return;
        state_.groupname.assign(*group);
        state_.menupath.assign(startMenuRoot);
        state_.menupath.append(*group);
    }

    void sharedFile(std::string_view payload) {
        const auto path = dropLast(payload);
        if (!path)
            return;
        // Registry names end at a NUL: the system acts on the text before
        // it, and with nothing before it the deletion request below would
        // name the SharedDLLs key itself.
        const std::string_view name = path->substr(0, path->find('\0'));
        if (!name.empty())
            shared_.emplace_back(name);
    }

    UninstallState& state_;
    std::vector<std::string>& shared_;
    bool groupfound_ = false;
};

// A status after which the count may still stand as the setup left it: not
// a count that is not there, nor one too large to be a count.
bool countMayStand(Registry::Status status) {
    return !status.isSuccess() && !status.isNotFound() && !status.isMoreData();
}

std::string countText(const std::string& sharedpath, Registry::Status status) {
    return "The shared-use count of " + sharedpath + " (HKEY_LOCAL_MACHINE\\" +
           std::string(sharedDllsKeyPath) + ") could not be lowered (status " +
           std::to_string(status.code()) + ").";
}

// Lowers one count; says why when the count may not have been lowered.
std::string lowerCount(Registry& registry, const std::string& sharedpath) {
    Registry::Key opened = 0;
    const Registry::Status open =
        registry.openKey(Registry::localMachine, sharedDllsKeyPath, opened);
    if (!open.isSuccess())
        return open.isNotFound() ? std::string() : countText(sharedpath, open);
    ScopedKey key(registry, opened);
    std::uint32_t type = Registry::typeDword;
    std::string data(4, '\0');
    const Registry::Status status =
        codepage::queryValue(registry, key.get(), sharedpath, type, data);
    if (countMayStand(status))
        return countText(sharedpath, status);
    // A value that is there but is no 4-byte count was not written by a
    // setup program; guessing a number from it would corrupt it.
    if (status.isMoreData() || (status.isSuccess() && type != Registry::typeDword))
        return {};
    const auto count = static_cast<std::int32_t>(dwordFromBytes(data));
    // A used-up count is not written back. The request names a key, not
    // the value, so the value stays for whatever else still counts on
    // the file; that no such key is there is the usual answer.
    if (count < 1) {
        registry.deleteKey(key.get(), sharedpath);
        return {};
    }
    const Registry::Status set =
        registry.setDwordValue(key.get(), sharedpath, static_cast<std::uint32_t>(count - 1));
    return set.isSuccess() ? std::string() : countText(sharedpath, set);
}

} // namespace

// A setup counts a file once, however many lines name it (a shared control
// is copied, then registered); lowering it once per line would take another
// application's reference, and at zero the next uninstaller may delete a file
// that application still needs. Repeats of one spelling are set aside first,
// cheaply; the spellings left are sorted by the registry's own rule, so that
// names it takes for the same sit side by side. The first line naming a file
// is the one that counts.
void lowerSharedCounts(Registry& registry, const std::vector<std::string>& names) {
    std::unordered_set<std::string_view> spellings;
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (spellings.insert(names[i]).second)
            order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return registry.compareNames(names[a], names[b]) < 0;
    });
    std::vector<bool> lowered(names.size(), false);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i == 0 || registry.compareNames(names[order[i - 1]], names[order[i]]) != 0)
            lowered[order[i]] = true;
    }
    // Every count is tried; then one Error names each that may still stand.
    std::string failures;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!lowered[i])
            continue;
        if (const std::string failure = lowerCount(registry, names[i]); !failure.empty())
            failures.append(failures.empty() ? "" : "\n").append(failure);
    }
    if (!failures.empty())
        throw Error("lower the count", "", failures);
}

std::vector<std::string> readlog(UninstallState& state, FileSystem& fs,
                                 const std::string& installdir, Progress& progress) {
    progress.setValue(0);
    const std::string text = fs.readTextFile(installLogPath(installdir));

    std::vector<std::string> shared;
    LogReader reader(state, shared);
    const char* const begin = text.data();
    const std::size_t size = text.size();
    // The next CR and LF at or after `from`, or `size`; each is looked for
    // again only once the reading has passed it, so a log with one kind of
    // line end alone costs one search for the other kind in all.
    auto next = [&](char c, std::size_t from) {
        const void* found = std::memchr(begin + from, c, size - from);
        return found == nullptr ? size
                                : static_cast<std::size_t>(static_cast<const char*>(found) - begin);
    };
    std::size_t position = 0;
    std::size_t cr = next('\r', 0);
    std::size_t lf = next('\n', 0);
    while (position < size) {
        // A line ends at CR LF, or at a CR or an LF alone: logs copied
        // through other systems lose one or the other.
        if (cr < position)
            cr = next('\r', position);
        if (lf < position)
            lf = next('\n', position);
        const std::size_t end = cr < lf ? cr : lf;
        reader.line(std::string_view(begin + position, end - position));
        position = end + 1;
        if (end < size && begin[end] == '\r' && position < size && begin[position] == '\n')
            ++position;

        // The bar's range is fixed at 0 to 100, so stepping by 2 lands on
        // the maximum exactly; clamping keeps any other range in bounds too.
        const float value = progress.value();
        const float max = progress.max();
        progress.setValue(value >= max ? max : (value + 2 > max ? max : value + 2));
    }
    return shared;
}

std::string installLogPath(const std::string& installdir) {
    std::string path;
    path.reserve(installdir.size() + logName.size());
    path.append(installdir).append(logName);
    return path;
}

} // namespace uninst
