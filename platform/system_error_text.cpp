#include "platform/system_error_text.h"

#include "engine/error.h"
#include "platform/handles.h"
#include "platform/text_encoding.h"

namespace uninst {

std::string systemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const LocalMemory owner(buffer);
    std::wstring_view message(buffer != nullptr ? buffer : L"", length);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.remove_suffix(1);
    if (message.empty())
        return "system error " + std::to_string(code) + ".";
    return text::fromWide(message) + ".";
}

std::string shownPath(const std::string& path) {
    return path.empty() ? "(empty path)" : path;
}

std::string failureText(std::string_view operation, const std::string& path, DWORD code) {
    return "Cannot " + std::string(operation) + " " + shownPath(path) + ": " +
           systemErrorText(code);
}

void fail(std::string_view operation, const std::string& path, DWORD code) {
    throw Error(std::string(operation), path, failureText(operation, path, code));
}

void refuse(std::string_view operation, const std::string& path, std::string_view why) {
    throw Error(std::string(operation), path,
                "Cannot " + std::string(operation) + " " + shownPath(path) + ": " +
                    std::string(why));
}

} // namespace uninst
