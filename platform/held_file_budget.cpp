#include "platform/held_file_budget.h"

#include "platform/handles.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace uninst::win32 {

namespace {

bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A small text file of the host's /proc, read whole.
std::optional<std::string> readHostFile(const wchar_t* path) {
    const FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return std::nullopt;
    std::string text(16384, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr))
        return std::nullopt;
    text.resize(read);
    return text;
}

// "pid (comm) state ...": the name of the process the text describes.
bool describesTheServer(std::string_view stat) {
    const std::size_t open = stat.find('(');
    return open != std::string_view::npos && stat.substr(open + 1).starts_with("wineserver");
}

std::optional<std::size_t> openDescriptors(const wchar_t* pattern) {
    WIN32_FIND_DATAW data;
    const FindHandle find(FindFirstFileW(pattern, &data));
    if (!find)
        return std::nullopt;
    std::size_t count = 0;
    do {
        if (data.cFileName[0] != L'.')
            ++count;
    } while (FindNextFileW(find.get(), &data));
    return count;
}

} // namespace

std::optional<std::size_t> openFileLimit(std::string_view limitsText) {
    constexpr std::string_view row = "Max open files";
    std::size_t at = 0;
    while (at < limitsText.size()) {
        std::size_t end = limitsText.find('\n', at);
        if (end == std::string_view::npos)
            end = limitsText.size();
        std::string_view line = limitsText.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(row))
            continue;
        line.remove_prefix(row.size());
        const std::size_t digits = line.find_first_not_of(' ');
        if (digits == std::string_view::npos)
            return std::nullopt;
        line.remove_prefix(digits);
        std::size_t limit = 0;
        const auto [past, error] = std::from_chars(line.data(), line.data() + line.size(), limit);
        if (error != std::errc{} || past == line.data())
            return std::nullopt;
        return limit;
    }
    return std::nullopt;
}

std::size_t heldFilesWithin(std::size_t limit, std::size_t open) {
    const std::size_t reserve = std::max<std::size_t>(limit / 4, 1024);
    if (limit <= open + reserve)
        return 0;
    return std::min(limit - open - reserve, mostHeldFiles);
}

std::size_t heldFileBudget() {
    if (!underWine())
        return fallbackHeldFiles;
    const std::optional<std::string> stat = readHostFile(L"\\\\?\\unix\\proc\\self\\stat");
    if (!stat || !describesTheServer(*stat))
        return fallbackHeldFiles;
    const std::optional<std::string> limits = readHostFile(L"\\\\?\\unix\\proc\\self\\limits");
    const std::optional<std::size_t> limit = limits ? openFileLimit(*limits) : std::nullopt;
    const std::optional<std::size_t> open = openDescriptors(L"\\\\?\\unix\\proc\\self\\fd\\*");
    if (!limit || !open)
        return fallbackHeldFiles;
    return heldFilesWithin(*limit, *open);
}

} // namespace uninst::win32
