#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// Operates the uninstaller's window from another process, with nothing but
// the standard messages of its controls, the way a user's assistive tool or
// a test would. Texts are UTF-16: list boxes hand their rows across
// processes only through the W messages.
namespace uninst::driver {

inline constexpr const wchar_t* formCaption = L"Uinstall Form";

// Which process to look in: a known process id (and, when given, its handle,
// so that waits end as soon as the process has gone), or any process.
struct Target {
    DWORD processId = 0;
    HANDLE process = nullptr;
};

// The visible main window, waiting up to `timeoutMs`. Null when it did not
// appear in time or the process ended first. Message boxes carry the same
// caption and are never taken for the window.
HWND waitForForm(const Target& target, DWORD timeoutMs);

// Waits until the main window of the target is gone; false on timeout.
bool waitForFormGone(const Target& target, DWORD timeoutMs);

// The window's controls, found by their kind and caption.
HWND fileList(HWND form);
HWND uninstallButton(HWND form);
HWND progressBar(HWND form);

struct Row {
    std::wstring text;
    bool marked = false;
};

int rowCount(HWND list);
std::vector<Row> rows(HWND list);
bool setMark(HWND list, int index, bool marked);
// The index of the row whose text is `text`, or, failing that, of the first
// row whose file name (the text after the last "\") is `text`, ignoring
// letter case. -1 when no row matches.
int findRow(HWND list, std::wstring_view text);

// Posted, not sent: the handler runs until the program ends, and a sent
// click would hold the caller that long.
bool click(HWND button);

int progressPosition(HWND bar);

// A message box of the target (any message box captioned like the window
// when no process is given), waiting up to `timeoutMs`.
HWND waitForMessageBox(const Target& target, DWORD timeoutMs);
std::wstring messageText(HWND box);
bool dismiss(HWND box);
// Presses the message box's button `id` (IDRETRY, IDCANCEL...).
bool answer(HWND box, int id);

} // namespace uninst::driver
