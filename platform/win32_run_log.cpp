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

} // namespace

FileRunLog::FileRunLog(const std::string& path) {
    const std::wstring wide = text::toWide(path);
    // Append-only access makes every write land at the end of the file, also
    // when another run appends to it at the same time.
    file_.reset(CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_)
        throw Error("Cannot open the log file " + path + ": " + reason(GetLastError()) +
                    " Nothing has been removed.");
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
