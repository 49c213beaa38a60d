#include "tools/driver/driver.h"

#include <commctrl.h>

namespace uninst::driver {

namespace {

constexpr DWORD pollMs = 20;

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    const int length = GetClassNameW(window, name, 64);
    return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::wstring textOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

bool equalsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool processEnded(const Target& target) {
    return target.process != nullptr && WaitForSingleObject(target.process, 0) == WAIT_OBJECT_0;
}

bool belongsTo(HWND window, const Target& target) {
    if (target.processId == 0)
        return true;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner == target.processId;
}

struct TopLevelSearch {
    const Target* target;
    bool dialog;
    HWND found = nullptr;
};

BOOL CALLBACK visitTopLevel(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<TopLevelSearch*>(param);
    if (!IsWindowVisible(window) || !belongsTo(window, *search.target))
        return TRUE;
    const bool isDialog = classOf(window) == L"#32770";
    if (isDialog != search.dialog)
        return TRUE;
    // Without a process to go by, the caption tells the program's windows
    // from everyone else's.
    if ((!search.dialog || search.target->processId == 0) && textOf(window) != formCaption)
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND findTopLevel(const Target& target, bool dialog) {
    TopLevelSearch search{&target, dialog};
    EnumWindows(&visitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForTopLevel(const Target& target, bool dialog, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (true) {
        if (HWND found = findTopLevel(target, dialog))
            return found;
        if (processEnded(target) || GetTickCount64() >= deadline)
            return nullptr;
        Sleep(pollMs);
    }
}

struct ChildSearch {
    std::wstring_view cls;
    std::wstring_view text;
    bool anyText;
    HWND found = nullptr;
};

BOOL CALLBACK visitChild(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<ChildSearch*>(param);
    if (!equalsIgnoringCase(classOf(window), search.cls))
        return TRUE;
    if (!search.anyText && textOf(window) != search.text)
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND findChild(HWND parent, std::wstring_view cls, const wchar_t* text) {
    ChildSearch search{cls, text != nullptr ? text : L"", text == nullptr};
    EnumChildWindows(parent, &visitChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring rowTextAt(HWND list, int index) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == LB_ERR ? 0 : static_cast<std::size_t>(copied));
    return text;
}

} // namespace

HWND waitForForm(const Target& target, DWORD timeoutMs) {
    return waitForTopLevel(target, false, timeoutMs);
}

bool waitForFormGone(const Target& target, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (findTopLevel(target, false) != nullptr) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(pollMs);
    }
    return true;
}

HWND fileList(HWND form) {
    return findChild(form, L"ListBox", nullptr);
}

HWND uninstallButton(HWND form) {
    return findChild(form, L"Button", L"&Uninstall");
}

HWND progressBar(HWND form) {
    return findChild(form, PROGRESS_CLASSW, nullptr);
}

int rowCount(HWND list) {
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? -1 : static_cast<int>(count);
}

std::vector<Row> rows(HWND list) {
    std::vector<Row> result;
    const int count = rowCount(list);
    for (int i = 0; i < count; ++i)
        result.push_back({rowTextAt(list, i), SendMessageW(list, LB_GETSEL, i, 0) > 0});
    return result;
}

bool setMark(HWND list, int index, bool marked) {
    // -1 would mark or clear every row at once.
    if (index < 0)
        return false;
    return SendMessageW(list, LB_SETSEL, marked ? TRUE : FALSE, index) != LB_ERR;
}

int findRow(HWND list, std::wstring_view text) {
    const int count = rowCount(list);
    int byName = -1;
    for (int i = 0; i < count; ++i) {
        const std::wstring row = rowTextAt(list, i);
        if (row == text)
            return i;
        const std::size_t slash = row.find_last_of(L'\\');
        const std::wstring_view name =
            std::wstring_view(row).substr(slash == std::wstring::npos ? 0 : slash + 1);
        if (byName < 0 && equalsIgnoringCase(name, text))
            byName = i;
    }
    return byName;
}

bool click(HWND button) {
    return PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

int progressPosition(HWND bar) {
    return static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
}

HWND waitForMessageBox(const Target& target, DWORD timeoutMs) {
    return waitForTopLevel(target, true, timeoutMs);
}

std::wstring messageText(HWND box) {
    // The message is the static control with the id 0xFFFF; should a system
    // number it otherwise, it is still the box's longest static text.
    HWND text = GetDlgItem(box, 0xFFFF);
    if (text != nullptr && equalsIgnoringCase(classOf(text), L"Static"))
        return textOf(text);
    std::wstring longest;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (!equalsIgnoringCase(classOf(child), L"Static"))
            continue;
        std::wstring candidate = textOf(child);
        if (candidate.size() > longest.size())
            longest = std::move(candidate);
    }
    return longest;
}

bool answer(HWND box, int id) {
    return PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(box, id))) != FALSE;
}

bool dismiss(HWND box) {
    return PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK))) != FALSE;
}

} // namespace uninst::driver
