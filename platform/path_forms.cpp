#include "platform/path_forms.h"

#include "engine/path_safety.h"
#include "platform/text_encoding.h"

namespace uninst::win32 {

bool isDriveAbsolute(std::string_view path) {
    return startsWithDrive(path) && (path.size() == 2 || path[2] == '\\' || path[2] == '/');
}

bool isShareForm(std::string_view path) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    return path.size() > 2 && separator(path[0]) && separator(path[1]) &&
           !((path[2] == '?' || path[2] == '.') && (path.size() == 3 || separator(path[3])));
}

void appendApiPath(std::wstring& out, const std::string& path) {
    if (isDriveAbsolute(path)) {
        out += longPrefix;
        text::appendWide(out, path);
        if (path.size() == 2)
            out += L'\\';
        return;
    }
    if (isShareForm(path)) {
        out += longPrefix;
        out += L"UNC";
        text::appendWide(out, std::string_view(path).substr(1));
        return;
    }
    text::appendWide(out, path);
}

std::wstring apiPath(const std::string& path) {
    std::wstring out;
    appendApiPath(out, path);
    return out;
}

std::string userPath(std::wstring_view apiForm) {
    constexpr std::wstring_view sharePrefix = L"\\\\?\\UNC\\";
    if (apiForm.substr(0, sharePrefix.size()) == sharePrefix) {
        std::string path = "\\";
        text::appendFromWide(path, apiForm.substr(sharePrefix.size() - 1));
        return path;
    }
    if (apiForm.substr(0, longPrefix.size()) == longPrefix)
        apiForm.remove_prefix(longPrefix.size());
    return text::fromWide(apiForm);
}

bool isDriveRoot(std::wstring_view apiForm) {
    if (apiForm.substr(0, longPrefix.size()) == longPrefix)
        apiForm.remove_prefix(longPrefix.size());
    while (!apiForm.empty() && apiForm.back() == L'\\')
        apiForm.remove_suffix(1);
    return apiForm.size() == 2 && apiForm[1] == L':';
}

bool isDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool holdsSeparator(std::wstring_view name) {
    return name.find_first_of(L"\\/") != std::wstring_view::npos;
}

} // namespace uninst::win32
