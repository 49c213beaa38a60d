#include "platform/win32_run_log.h"

#include "engine/error.h"
#include "platform/relative_open.h"
#include "platform/system_error_text.h"
#include "platform/text_encoding.h"

#include <cstdio>

namespace uninst {

namespace {

using namespace nt;

void writeLine(HANDLE output, std::string_view line) {
    std::string bytes(line);
    bytes.append("\r\n");
    // A failed write is not the run's failure: the log is an account of the
    // run, and stopping the run half-way over it would leave more behind.
    DWORD written = 0;
    WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string cannotOpen(const std::string& path, std::string_view why) {
    return "Cannot open the log file " + path + ": " + std::string(why) +
           " Nothing has been removed.";
}

const std::string_view linkRefusal =
    "it is a link to another file, a file with more than one name or a device, or a folder on "
    "its path is a link, and the run writes only to a file of its own in a folder reached "
    "through no link.";

} // namespace

FileRunLog::FileRunLog(const std::string& path) : asked_(path) {
    const std::wstring wide = text::toWide(path);
    std::wstring full(wide.size() + MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (wide.empty() || length == 0 || length >= full.size())
        throw Error("open the log file", asked_,
                    cannotOpen(asked_, "the system can make no path of it."));
    full.resize(length);
    // A short (8.3) step names the same folder; the long form is compared.
    std::wstring longForm(full.size() + MAX_PATH, L'\0');
    length = GetLongPathNameW(full.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
    if (length > 0 && length < longForm.size()) {
        longForm.resize(length);
        full = std::move(longForm);
    }
    // Devices ("\\.\COM1", which "COM1" becomes) and the long-path form are
    // no log files.
    if (full.substr(0, 4) == L"\\\\.\\" || full.substr(0, 4) == L"\\\\?\\")
        throw Error("open the log file", asked_, cannotOpen(asked_, linkRefusal));

    // The root: "C:\" or "\\server\share\".
    std::size_t rootEnd = 0;
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        rootEnd = 3;
    } else if (full.substr(0, 2) == L"\\\\") {
        const std::size_t server = full.find(L'\\', 2);
        const std::size_t share =
            server == std::wstring::npos ? server : full.find(L'\\', server + 1);
        rootEnd = share == std::wstring::npos ? 0 : share + 1;
    }
    const std::size_t lastSeparator = full.find_last_of(L'\\');
    if (rootEnd == 0 || lastSeparator == std::wstring::npos || lastSeparator + 1 < rootEnd ||
        lastSeparator + 1 == full.size())
        throw Error("open the log file", asked_,
                    cannotOpen(asked_, "it names no file in a folder."));
    name_ = full.substr(lastSeparator + 1);
    if (name_.find(L':') != std::wstring::npos)
        throw Error("open the log file", asked_, cannotOpen(asked_, "a file name holds no \":\"."));

    const std::wstring root = full.substr(0, rootEnd);
    folder_.reset(CreateFileW(
        root.c_str(), FILE_TRAVERSE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder_)
        throw Error("open the log file", asked_,
                    cannotOpen(asked_, systemErrorText(GetLastError())));
    std::size_t at = rootEnd;
    while (at < lastSeparator) {
        std::size_t end = full.find(L'\\', at);
        if (end == std::wstring::npos || end > lastSeparator)
            end = lastSeparator;
        FileHandle step;
        // Held without leave to delete: a folder of the path cannot be moved
        // away and replaced while the run holds it.
        const DWORD error =
            openRelative(folder_.get(), full.substr(at, end - at),
                         FILE_TRAVERSE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, openExisting, directoryOnly, step);
        if (error != ERROR_SUCCESS)
            throw Error(
                "open the log file", asked_,
                cannotOpen(asked_, systemErrorText(error == ERROR_FILE_NOT_FOUND
                                                       ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND)
                                                       : error)));
        if (isLinkHandle(step.get()))
            throw Error("open the log file", asked_, cannotOpen(asked_, linkRefusal));
        folder_ = std::move(step);
        at = end + 1;
    }
    // Wine 8 opens a host symbolic link as its target even when asked for
    // the link itself; the name the system gives the held folder, every link
    // resolved, then differs from the path walked.
    folderName_ = finalName(folder_.get());
    std::wstring walked = full.substr(0, lastSeparator);
    if (walked.size() < rootEnd)
        walked = root;
    while (walked.size() > 3 && walked.back() == L'\\')
        walked.pop_back();
    if (folderName_.empty() || !text::sameFolded(folderName_, walked))
        throw Error("open the log file", asked_, cannotOpen(asked_, linkRefusal));
    fullPath_ = text::fromWide(full);
}

void FileRunLog::open() {
    if (state_ != State::pending)
        return;
    ULONG_PTR information = 0;
    // Append-only access makes every write land at the end of the file, also
    // when another run appends to it at the same time.
    const DWORD error = openRelative(folder_.get(), name_, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, openOrCreate, fileOnly,
                                     file_, &information);
    if (error != ERROR_SUCCESS) {
        giveUp();
        throw Error("open the log file", asked_, cannotOpen(asked_, systemErrorText(error)));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    // Wine 8 opens a host symbolic link's target and shows it as an
    // ordinary file: only its name tells.
    const bool plain =
        GetFileType(file_.get()) == FILE_TYPE_DISK &&
        GetFileInformationByHandle(file_.get(), &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && info.nNumberOfLinks == 1 &&
        !folderName_.empty() &&
        text::sameFolded(finalName(file_.get()),
                         folderName_ + (folderName_.back() == L'\\' ? L"" : L"\\") + name_);
    if (!plain) {
        // What this open created behind a link goes again, found through the
        // same folder and known by its file index.
        if (information == created) {
            FileHandle again;
            BY_HANDLE_FILE_INFORMATION twin{};
            if (openRelative(folder_.get(), name_, DELETE | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, openExisting,
                             fileOnly, again) == ERROR_SUCCESS &&
                GetFileInformationByHandle(again.get(), &twin) &&
                twin.nFileIndexHigh == info.nFileIndexHigh &&
                twin.nFileIndexLow == info.nFileIndexLow &&
                twin.dwVolumeSerialNumber == info.dwVolumeSerialNumber) {
                FILE_DISPOSITION_INFO disposition{};
                disposition.DeleteFile = TRUE;
                SetFileInformationByHandle(again.get(), FileDispositionInfo, &disposition,
                                           sizeof disposition);
            }
        }
        file_.reset();
        giveUp();
        throw Error("open the log file", asked_, cannotOpen(asked_, linkRefusal));
    }
    state_ = State::open;
    for (const std::string& line : held_)
        writeLine(file_.get(), line);
    held_.clear();
}

void FileRunLog::refuse() {
    giveUp();
    folder_.reset();
}

void FileRunLog::giveUp() {
    state_ = State::refused;
    if (fallback_ != nullptr) {
        for (const std::string& line : held_)
            fallback_->write(line);
    }
    held_.clear();
}

void FileRunLog::write(std::string_view line) {
    if (state_ == State::open)
        writeLine(file_.get(), line);
    else if (state_ == State::pending)
        held_.emplace_back(line);
    else if (fallback_ != nullptr)
        fallback_->write(line);
}

HANDLE StandardOutputLog::handle() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    return output == INVALID_HANDLE_VALUE ? nullptr : output;
}

void StandardOutputLog::write(std::string_view line) {
    writeLine(output_, line);
}

std::string localTimeText() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

RunLock::RunLock(std::string_view appName) {
    // Names in the registry match without regard to case, so one spelling of
    // an application's name must meet every other. A mutex name may not hold
    // "\" beyond its namespace, and no executable name holds "/".
    std::wstring name = text::toWide(appName);
    if (!name.empty())
        CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    for (wchar_t& c : name) {
        if (c == L'\\')
            c = L'/';
    }
    name = L"Global\\uninstall.exe run " + name;
    if (name.size() >= MAX_PATH)
        name.resize(MAX_PATH - 1);
    mutex_.reset(CreateMutexW(nullptr, FALSE, name.c_str()));
    const DWORD error = GetLastError();
    // Denied: another account's run created it, which is a run in progress
    // as much as one of ours. Any other failure leaves the run unguarded
    // rather than refusing it.
    if (!mutex_)
        acquired_ = error != ERROR_ACCESS_DENIED;
    else
        acquired_ = error != ERROR_ALREADY_EXISTS;
}

} // namespace uninst
