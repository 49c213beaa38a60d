#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// A failing system call turned into the program's one error type, once, at
// the platform boundary: the message names the operation, the path and the
// system's own text for the error code.
namespace uninst {

// The system's description of an error code in the user's language, with one
// closing "." ("Access is denied."); "system error 5." when it has none.
std::string systemErrorText(DWORD code);

// The path as a message shows it: an empty one is named as such.
std::string shownPath(const std::string& path);

// "Cannot delete file C:\App\a.dll: Access is denied."
std::string failureText(std::string_view operation, const std::string& path, DWORD code);

// Throw Error with failureText, or with the program's own reason.
[[noreturn]] void fail(std::string_view operation, const std::string& path, DWORD code);
[[noreturn]] void refuse(std::string_view operation, const std::string& path, std::string_view why);

inline bool isNotFound(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

} // namespace uninst
