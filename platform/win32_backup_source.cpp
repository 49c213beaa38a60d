#include "platform/win32_backup_source.h"

#include "engine/error.h"
#include "platform/handles.h"
#include "platform/parallel_work.h"
#include "platform/path_forms.h"
#include "platform/relative_open.h"
#include "platform/system_error_text.h"
#include "platform/text_encoding.h"
#include "platform/win32_backup_store.h"

#include <windows.h>

namespace uninst {

namespace {

// A manifest of thirty thousand files is a few megabytes; a file far larger
// is no manifest and would exhaust a 32-bit process.
constexpr std::uint64_t largestText = 256ULL * 1024 * 1024;

bool isPlainFile(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

} // namespace

Win32BackupSource::Win32BackupSource(const std::string& folder) {
    const auto refuse = [&](const std::string& why) {
        throw Error("use the backup folder", folder,
                    "Cannot restore from " + folder + ": " + why + " Nothing has been changed.");
    };
    const std::wstring wide = text::toWide(folder);
    std::wstring full(wide.size() + MAX_PATH, L'\0');
    const DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (wide.empty() || length == 0 || length >= full.size())
        refuse("the system can make no path of it.");
    full.resize(length);
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    fullPath_ = text::fromWide(full);
    const DWORD attributes = GetFileAttributesW(win32::apiPath(fullPath_).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        refuse(systemErrorText(GetLastError()));
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        refuse("it is no folder.");
    // The folder as the system names it, so that a copy reached through a
    // link below it is told by its name (see fileSize).
    const FileHandle held(CreateFileW(win32::apiPath(fullPath_).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!held)
        refuse(systemErrorText(GetLastError()));
    if (const std::wstring named = finalName(held.get()); !named.empty())
        fullPath_ = text::fromWide(named);
}

// The name a backup made here gives.
std::string Win32BackupSource::machineName() {
    return thisMachineName();
}

std::optional<std::string> Win32BackupSource::readFile(const std::string& relative) {
    const std::string path = fullPath_ + "\\" + relative;
    FileHandle file(CreateFileW(win32::apiPath(path).c_str(), GENERIC_READ | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (isNotFound(code))
            return std::nullopt;
        fail("read the backup file", path, code);
    }
    const std::optional<HeldItemFacts> facts = heldItemFacts(file.get());
    if (!facts)
        fail("read the backup file", path, GetLastError());
    if (!isPlainFile(facts->attributes))
        return std::nullopt;
    const std::uint64_t size = facts->size;
    if (size > largestText)
        refuse("read the backup file", path, "it is far larger than any file a backup writes.");
    std::string bytes(static_cast<std::size_t>(size), '\0');
    DWORD got = 0;
    if (size > 0 && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(size), &got, nullptr) ||
                     got != size))
        fail("read the backup file", path, GetLastError());
    return bytes;
}

std::optional<std::uint64_t> Win32BackupSource::fileSize(const std::string& relative) {
    // Whoever can write the backup can make a folder among the copies a link
    // to files only the restoring user may read; such a copy is none.
    // Opened as the copy is read when it is put back (NewItems::copyNewFile):
    // one another program holds is found before anything changes, not
    // half-way through the restore.
    const std::string path = fullPath_ + "\\" + relative;
    const FileHandle file(CreateFileW(
        win32::apiPath(path).c_str(), GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (!isNotFound(code))
            fail("read the backup file", path, code);
        return std::nullopt;
    }
    // A backup writes each copy anew, so with one name: a second one is
    // another's file given a name among the copies, which no link shows.
    const std::optional<HeldItemFacts> facts = heldItemFacts(file.get());
    if (!facts || !isPlainFile(facts->attributes) || facts->links != 1)
        return std::nullopt;
    if (!isNamed(file.get(), text::toWide(path)))
        return std::nullopt;
    return facts->size;
}

std::vector<BackupSource::SizeAnswer>
Win32BackupSource::fileSizes(const std::vector<std::string>& relatives) {
    std::vector<SizeAnswer> answers(relatives.size());
    // Every file below the first one that answers nothing or throws has been
    // asked once the calls under way end: the caller's order holds.
    forEachInParallel(relatives.size(), [&](std::size_t i) {
        try {
            answers[i].size = fileSize(relatives[i]);
        } catch (...) {
            answers[i].error = std::current_exception();
        }
        return answers[i].size.has_value();
    });
    return answers;
}

} // namespace uninst
