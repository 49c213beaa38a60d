#include "platform/win32_run_log.h"

#include "engine/error.h"
#include "platform/text_encoding.h"

#include <cstdio>

namespace uninst {

namespace {

std::string reason(DWORD code) {
    wchar_t buffer[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, 512, nullptr);
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                          buffer[length - 1] == L' ' || buffer[length - 1] == L'.'))
        --length;
    if (length == 0)
        return "system error " + std::to_string(code) + ".";
    return text::fromWide(std::wstring_view(buffer, length)) + ".";
}

void writeLine(HANDLE output, std::string_view line) {
    std::string bytes(line);
    bytes.append("\r\n");
    // A failed write is not the run's failure: the log is an account of the
    // run, and stopping the run half-way over it would leave more behind.
    DWORD written = 0;
    WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool sameFolded(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring_view withoutLongPrefix(std::wstring_view path) {
    constexpr std::wstring_view prefix = L"\\\\?\\";
    return path.substr(0, prefix.size()) == prefix ? path.substr(prefix.size()) : path;
}

// The log is appended to whatever the path opens. Anyone who can write to
// the log's folder could have put a link there (Wine 8 opens a host
// symbolic link's target and shows it as an ordinary file) or a second name
// of another file, and the run would write into a file that is not its own.
// The handle must hold one disk file whose only name is the path asked for.
bool isPlainFileAt(HANDLE file, const std::wstring& asked) {
    if (GetFileType(file) != FILE_TYPE_DISK)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1)
        return false;

    std::wstring full(asked.size() + MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(asked.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size())
        return false;
    full.resize(length);
    // A short (8.3) step in the path asked for is the same file.
    std::wstring longForm(full.size() + MAX_PATH, L'\0');
    length = GetLongPathNameW(full.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
    if (length > 0 && length < longForm.size()) {
        longForm.resize(length);
        full = std::move(longForm);
    }

    std::wstring final(full.size() + MAX_PATH, L'\0');
    length = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= final.size())
        return false;
    final.resize(length);
    std::wstring_view named = withoutLongPrefix(final);
    std::wstring share;
    if (named.substr(0, 4) == L"UNC\\") {
        share.assign(L"\\\\").append(named.substr(4));
        named = share;
    }
    return sameFolded(named, withoutLongPrefix(full));
}

} // namespace

FileRunLog::FileRunLog(const std::string& path) {
    const std::wstring wide = text::toWide(path);
    // Append-only access makes every write land at the end of the file, also
    // when another run appends to it at the same time.
    file_.reset(CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file_)
        throw Error("Cannot open the log file " + path + ": " + reason(GetLastError()) +
                    " Nothing has been removed.");
    if (!isPlainFileAt(file_.get(), wide)) {
        file_.reset();
        throw Error("Cannot open the log file " + path +
                    ": it is a link to another file, a file with more than one name or a "
                    "device, and the run writes only to a file of its own. Nothing has been "
                    "removed.");
    }
}

void FileRunLog::write(std::string_view line) {
    writeLine(file_.get(), line);
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
