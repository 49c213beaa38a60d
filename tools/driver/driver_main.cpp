// driver.exe: the window driver as a command, for scripts and the demo.
#include "tools/driver/driver.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <string_view>

namespace {

using namespace uninst::driver;

constexpr const wchar_t* usage =
    L"usage: driver.exe [--pid N] [--timeout MS] COMMAND [ROW...]\n"
    L"Operates the \"Uinstall Form\" window of another process.\n"
    L"  wait-window   wait until the window is shown\n"
    L"  wait-gone     wait until the window has closed\n"
    L"  rect          print the window's screen rectangle: WIDTHxHEIGHT+LEFT+TOP\n"
    L"  count         print the number of rows\n"
    L"  rows          print every row: index, mark ([x] kept), text\n"
    L"  mark ROW...   mark rows to keep (ROW: index, full row text or file name)\n"
    L"  unmark ROW... clear marks\n"
    L"  click         press \"&Uninstall\" (does not wait for the run)\n"
    L"  progress      print the progress bar's position\n"
    L"  message       wait for the error report and print its text\n"
    L"  dismiss       close the error report\n"
    L"Exit status: 0 done, 1 window, row or report not found, 2 usage.\n";

// UTF-8 into a pipe or file, UTF-16 onto a console: either way the user
// sees the names as they are.
void write(HANDLE out, std::wstring_view text) {
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void say(std::wstring_view text) {
    write(GetStdHandle(STD_OUTPUT_HANDLE), text);
}
int fail(std::wstring_view text) {
    write(GetStdHandle(STD_ERROR_HANDLE), std::wstring(L"driver: ") + std::wstring(text) + L"\n");
    return 1;
}

bool parseNumber(const wchar_t* text, unsigned long& out) {
    if (text == nullptr || *text == L'\0')
        return false;
    wchar_t* end = nullptr;
    out = std::wcstoul(text, &end, 10);
    return *end == L'\0';
}

int rowIndex(HWND list, const wchar_t* row) {
    unsigned long index = 0;
    if (parseNumber(row, index))
        return index < static_cast<unsigned long>(rowCount(list)) ? static_cast<int>(index) : -1;
    return findRow(list, row);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Target target;
    DWORD timeoutMs = 10000;
    int at = 1;
    for (; at + 1 < argc && argv[at][0] == L'-'; at += 2) {
        unsigned long number = 0;
        if (!parseNumber(argv[at + 1], number))
            break;
        if (std::wstring_view(argv[at]) == L"--pid")
            target.processId = number;
        else if (std::wstring_view(argv[at]) == L"--timeout")
            timeoutMs = number;
        else
            break;
    }
    if (at >= argc) {
        say(usage);
        return 2;
    }
    const std::wstring_view command = argv[at];

    if (command == L"message" || command == L"dismiss") {
        HWND box = waitForMessageBox(target, timeoutMs);
        if (box == nullptr)
            return fail(L"no error report is shown");
        if (command == L"message")
            say(messageText(box) + L"\n");
        else if (!dismiss(box))
            return fail(L"cannot close the error report");
        return 0;
    }
    if (command == L"wait-gone")
        return waitForFormGone(target, timeoutMs) ? 0 : fail(L"the window is still open");

    HWND form = waitForForm(target, timeoutMs);
    if (form == nullptr)
        return fail(L"no \"Uinstall Form\" window is shown");
    if (command == L"wait-window")
        return 0;
    if (command == L"rect") {
        RECT rect{};
        if (!GetWindowRect(form, &rect))
            return fail(L"cannot read the window's position");
        say(std::to_wstring(rect.right - rect.left) + L"x" +
            std::to_wstring(rect.bottom - rect.top) + L"+" + std::to_wstring(rect.left) + L"+" +
            std::to_wstring(rect.top) + L"\n");
        return 0;
    }
    if (command == L"click") {
        HWND button = uninstallButton(form);
        return button != nullptr && click(button) ? 0 : fail(L"cannot press \"&Uninstall\"");
    }
    if (command == L"progress") {
        HWND bar = progressBar(form);
        if (bar == nullptr)
            return fail(L"the window has no progress bar");
        say(std::to_wstring(progressPosition(bar)) + L"\n");
        return 0;
    }

    HWND list = fileList(form);
    if (list == nullptr)
        return fail(L"the window has no file list");
    if (command == L"count") {
        say(std::to_wstring(rowCount(list)) + L"\n");
        return 0;
    }
    if (command == L"rows") {
        std::wstring out;
        int index = 0;
        for (const Row& row : rows(list))
            out += std::to_wstring(index++) + (row.marked ? L"\t[x]\t" : L"\t[ ]\t") + row.text +
                   L"\n";
        say(out);
        return 0;
    }
    if (command == L"mark" || command == L"unmark") {
        if (at + 1 >= argc) {
            say(usage);
            return 2;
        }
        for (int i = at + 1; i < argc; ++i) {
            const int index = rowIndex(list, argv[i]);
            if (index < 0 || !setMark(list, index, command == L"mark"))
                return fail(std::wstring(L"no row ") + argv[i]);
        }
        return 0;
    }
    say(usage);
    return 2;
}
