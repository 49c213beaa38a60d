#include "ui/window.h"

#include "engine/error.h"
#include "platform/text_encoding.h"
#include "engine/run.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <string_view>

namespace uninst {

namespace {

constexpr const wchar_t* windowClass = L"uninstallfrm";

// Positions and sizes as the form was designed, in twips (1440 to the inch),
// relative to the client area.
struct Placement {
    int left;
    int top;
    int width;
    int height;
};
constexpr int clientWidth = 8310;
constexpr int clientHeight = 6435;
constexpr Placement listfilesAt{2520, 1560, 5025, 1635};
constexpr Placement Command4At{4680, 3960, 1215, 495};
constexpr Placement Frame1At{2280, 1200, 5535, 2175};
constexpr Placement ProgressBar1At{2400, 5160, 5655, 495};
constexpr Placement Frame2At{2040, 4920, 6255, 855};

enum ControlId : int {
    idListfiles = 100,
    idCommand4 = 101,
    idFrame1 = 102,
    idProgressBar1 = 103,
    idFrame2 = 104,
};

constexpr DWORD frameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD frameExStyle = WS_EX_CONTROLPARENT;

int toPixels(int twips, UINT dpi) {
    return MulDiv(twips, static_cast<int>(dpi), 1440);
}

// Per-monitor DPI functions exist from Windows 10 on; older systems (and
// older Wine) lack them, so they are looked up instead of imported.
template <typename Function> Function user32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

// The screen's DC, which is released rather than deleted.
class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_ != nullptr)
            ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

UINT systemDpi() {
    ScreenDc screen;
    const int dpi = screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

UINT dpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = user32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0)
            return dpi;
    }
    return systemDpi();
}

RECT windowRectFor(int width, int height, UINT dpi) {
    RECT rect{0, 0, width, height};
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = user32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    if (adjustForDpi == nullptr || !adjustForDpi(&rect, frameStyle, FALSE, frameExStyle, dpi))
        AdjustWindowRectEx(&rect, frameStyle, FALSE, frameExStyle);
    return rect;
}

// The message-box font at the window's DPI: what the user has chosen for
// dialog text, which DEFAULT_GUI_FONT is not.
HFONT createGuiFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
    static const auto forDpi = user32Function<ForDpiFn>("SystemParametersInfoForDpi");
    bool scaled = false;
    if (forDpi != nullptr &&
        forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi) != FALSE) {
        scaled = true;
    } else if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) ==
               FALSE) {
        return nullptr;
    }
    if (!scaled)
        metrics.lfMessageFont.lfHeight =
            MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), systemDpi());
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

std::string rowError(std::string_view what, std::size_t index) {
    return std::string(what) + " row " + std::to_string(index) +
           " of the file list: the list has no such row.";
}

} // namespace

uninstallfrm::uninstallfrm(UninstallState& state, Registry& registry, FileSystem& fs)
    : state_(state), registry_(registry), fs_(fs) {}

uninstallfrm::~uninstallfrm() {
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
}

bool uninstallfrm::create(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = &uninstallfrm::windowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = windowClass;
    // Shared icons belong to the system and are never destroyed by us.
    cls.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXICON),
                                              GetSystemMetrics(SM_CYICON), LR_SHARED));
    cls.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (RegisterClassExW(&cls) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        showErrorReport(nullptr, "Cannot register the uninstaller's window class: the system "
                                 "refused it. Nothing has been removed.");
        exitStatus_ = exitFailed;
        return false;
    }

    // The size is set in onCreate, once the window's DPI is known.
    if (CreateWindowExW(frameExStyle, windowClass, formCaption, frameStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                        this) == nullptr) {
        // A failure inside onCreate has been reported already.
        if (exitStatus_ != exitFailed)
            showErrorReport(nullptr, "Cannot create the uninstaller's window: the system "
                                     "refused it. Nothing has been removed.");
        exitStatus_ = exitFailed;
        return false;
    }
    return true;
}

bool uninstallfrm::Form_Load(BackgroundLoad& load) {
    // Drawing each of tens of thousands of rows as it arrives would take far
    // longer than listing the files.
    SendMessageW(listfiles, WM_SETREDRAW, FALSE, 0);
    const bool loaded = runHandler(nullptr, [&] { load.drainInto(*this); });
    SendMessageW(listfiles, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(listfiles, nullptr, TRUE);
    if (!loaded)
        exitStatus_ = exitFailed;
    return loaded;
}

void uninstallfrm::show(int showCommand) {
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    SetFocus(listfiles);
}

int uninstallfrm::run() {
    MSG message;
    while (true) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1)
            return exitFailed;
        // Tab between the controls and Alt+U for "&Uninstall", as in a dialog.
        if (hwnd_ != nullptr && IsDialogMessageW(hwnd_, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

LRESULT CALLBACK uninstallfrm::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    uninstallfrm* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<uninstallfrm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<uninstallfrm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);

    LRESULT result = 0;
    const bool handled =
        runHandler(self->hwnd_ != nullptr && IsWindowVisible(window) ? window : nullptr,
                   [&] { result = self->handleMessage(message, wParam, lParam); });
    if (!handled) {
        if (message == WM_NCCREATE || message == WM_CREATE) {
            self->exitStatus_ = exitFailed;
            return message == WM_NCCREATE ? FALSE : -1;
        }
        self->endWith(exitFailed);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

LRESULT uninstallfrm::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        onCreate();
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_MEASUREITEM:
        reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = static_cast<UINT>(rowHeight());
        return TRUE;
    case WM_DRAWITEM:
        if (wParam != idListfiles)
            return FALSE;
        onDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_CLOSE:
        // Once the button was pressed the run decides how the program ends;
        // a close arriving while its error report is up must not end it
        // with the status of a window closed unused.
        if (!clicked_)
            DestroyWindow(hwnd_);
        return 0;
    case WM_DPICHANGED:
        onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        onDestroy();
        return 0;
    default:
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

void uninstallfrm::onCreate() {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int id) {
        HWND control =
            CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        if (control == nullptr)
            throw Error("Cannot create the uninstaller's window controls: the system refused "
                        "them. Nothing has been removed.");
        return control;
    };
    // Created in tab order. A later sibling lies below an earlier one, and
    // every control clips its siblings, so the frames draw around the list
    // and the bar and never over them.
    //
    // Each click toggles a row's selection, which is its mark; the rows are
    // drawn here with a check box for it. The list keeps the strings
    // itself, so other processes read them with the standard messages.
    listfiles = child(WC_LISTBOXW, L"",
                      WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | WS_CLIPSIBLINGS | LBS_MULTIPLESEL |
                          LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS,
                      WS_EX_CLIENTEDGE, idListfiles);
    Command4 = child(WC_BUTTONW, L"&Uninstall", WS_TABSTOP | WS_CLIPSIBLINGS | BS_PUSHBUTTON, 0,
                     idCommand4);
    Frame1 = child(WC_BUTTONW, L"SELECT FILES TO KEEP", WS_CLIPSIBLINGS | BS_GROUPBOX, 0, idFrame1);
    ProgressBar1 = child(PROGRESS_CLASSW, L"", WS_CLIPSIBLINGS, 0, idProgressBar1);
    Frame2 = child(WC_BUTTONW, L"", WS_CLIPSIBLINGS | BS_GROUPBOX, 0, idFrame2);

    SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, static_cast<LPARAM>(max_));
    SendMessageW(ProgressBar1, PBM_SETPOS, 0, 0);

    dpi_ = dpiOf(hwnd_);
    applyFont();
    layout();
}

void uninstallfrm::onCommand(int id, int code) {
    if (id == idCommand4 && code == BN_CLICKED)
        Command4_Click();
}

void uninstallfrm::onDpiChanged(UINT dpi, const RECT& suggested) {
    dpi_ = dpi;
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    applyFont();
    layout();
    measureAllRows();
}

void uninstallfrm::onDestroy() {
    PostQuitMessage(exitStatus_);
}

void uninstallfrm::Command4_Click() {
    // The sequence ends the program; a second click that arrives while its
    // error report is up must not start it again.
    if (clicked_)
        return;
    clicked_ = true;
    const bool completed =
        runHandler(hwnd_, [&] { command4Click(state_, registry_, fs_, *this, *this); });
    endWith(completed ? exitCompleted : exitFailed);
}

void uninstallfrm::endWith(int status) {
    exitStatus_ = status;
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
    else
        PostQuitMessage(status);
}

void uninstallfrm::layout() {
    const RECT outer =
        windowRectFor(toPixels(clientWidth, dpi_), toPixels(clientHeight, dpi_), dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    auto place = [&](HWND control, const Placement& at) {
        MoveWindow(control, toPixels(at.left, dpi_), toPixels(at.top, dpi_),
                   toPixels(at.width, dpi_), toPixels(at.height, dpi_), TRUE);
    };
    place(listfiles, listfilesAt);
    place(Command4, Command4At);
    place(Frame1, Frame1At);
    place(ProgressBar1, ProgressBar1At);
    place(Frame2, Frame2At);
}

void uninstallfrm::applyFont() {
    Font font(createGuiFont(dpi_));
    HFONT shown = font ? font.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    for (HWND control : {listfiles, Command4, Frame1, ProgressBar1, Frame2})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(shown), TRUE);

    if (!measure_)
        measure_.reset(CreateCompatibleDC(nullptr));
    if (measure_)
        SelectObject(measure_.get(), shown);
    charWidths_.clear();
    // Only now that nothing uses the old font any more.
    font_ = std::move(font);
    SendMessageW(listfiles, LB_SETITEMHEIGHT, 0, rowHeight());
}

int uninstallfrm::checkSize() const {
    return MulDiv(13, static_cast<int>(dpi_), 96);
}

int uninstallfrm::rowPadding() const {
    return MulDiv(2, static_cast<int>(dpi_), 96);
}

int uninstallfrm::rowHeight() const {
    TEXTMETRICW metrics{};
    const int text = measure_ && GetTextMetricsW(measure_.get(), &metrics)
                         ? static_cast<int>(metrics.tmHeight)
                         : MulDiv(16, static_cast<int>(dpi_), 96);
    return std::max(text, checkSize()) + rowPadding();
}

void uninstallfrm::setHorizontalExtent() {
    const int extent = rowPadding() * 4 + checkSize() + widestRow_;
    SendMessageW(listfiles, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
}

void uninstallfrm::onDrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const RECT row = item.rcItem;
    FillRect(dc, &row, GetSysColorBrush(COLOR_WINDOW));
    if (item.itemID != static_cast<UINT>(-1)) {
        const int box = checkSize();
        const int pad = rowPadding();
        const int top = row.top + (row.bottom - row.top - box) / 2;
        RECT check{row.left + pad, top, row.left + pad + box, top + box};
        const bool marked = (item.itemState & ODS_SELECTED) != 0;
        DrawFrameControl(dc, &check, DFC_BUTTON,
                         DFCS_BUTTONCHECK | DFCS_FLAT | (marked ? DFCS_CHECKED : 0));

        const LRESULT length = SendMessageW(listfiles, LB_GETTEXTLEN, item.itemID, 0);
        if (length != LB_ERR) {
            drawn_.assign(static_cast<std::size_t>(length) + 1, L'\0');
            const LRESULT copied = SendMessageW(listfiles, LB_GETTEXT, item.itemID,
                                                reinterpret_cast<LPARAM>(drawn_.data()));
            drawn_.resize(copied == LB_ERR ? 0 : static_cast<std::size_t>(copied));
            RECT text{check.right + pad * 2, row.top, row.right, row.bottom};
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            DrawTextW(dc, drawn_.c_str(), static_cast<int>(drawn_.size()), &text,
                      DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_NOCLIP);
        }
    }
    if ((item.itemState & ODS_FOCUS) != 0)
        DrawFocusRect(dc, &row);
}

int uninstallfrm::widthOf(const std::wstring& text) {
    if (!measure_)
        return 0;
    constexpr std::uint16_t unknown = 0xFFFF;
    if (charWidths_.empty())
        charWidths_.assign(0x10000, unknown);
    int width = 0;
    for (wchar_t c : text) {
        // A character outside the basic plane takes two units and has no
        // single advance width: measure the row the slow way.
        if (c >= 0xD800 && c <= 0xDFFF) {
            SIZE size{};
            if (text.size() > static_cast<std::size_t>(INT_MAX) ||
                !GetTextExtentPoint32W(measure_.get(), text.data(), static_cast<int>(text.size()),
                                       &size))
                return 0;
            return size.cx;
        }
        std::uint16_t& known = charWidths_[static_cast<std::uint16_t>(c)];
        if (known == unknown) {
            INT advance = 0;
            const UINT code = static_cast<std::uint16_t>(c);
            known = GetCharWidth32W(measure_.get(), code, code, &advance) && advance >= 0 &&
                            advance < unknown
                        ? static_cast<std::uint16_t>(advance)
                        : 0;
        }
        width += known;
    }
    return width;
}

void uninstallfrm::measureAllRows() {
    widestRow_ = 0;
    for (std::size_t i = 0; i < rows_; ++i) {
        const LRESULT length = SendMessageW(listfiles, LB_GETTEXTLEN, i, 0);
        if (length == LB_ERR)
            continue;
        scratch_.assign(static_cast<std::size_t>(length) + 1, L'\0');
        SendMessageW(listfiles, LB_GETTEXT, i, reinterpret_cast<LPARAM>(scratch_.data()));
        scratch_.resize(static_cast<std::size_t>(length));
        widestRow_ = std::max(widestRow_, widthOf(scratch_));
    }
    setHorizontalExtent();
}

void uninstallfrm::reserveRow() {
    if (rows_ < reserved_)
        return;
    const std::size_t more = std::max<std::size_t>(reserved_, 256);
    // Room for the rows' text as well; install paths average well under this.
    if (SendMessageW(listfiles, LB_INITSTORAGE, more, more * 80 * sizeof(wchar_t)) != LB_ERRSPACE)
        reserved_ += more;
}

void uninstallfrm::addRow(const std::string& path) {
    scratch_.clear();
    text::appendWide(scratch_, path);
    reserveRow();
    const LRESULT index =
        SendMessageW(listfiles, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(scratch_.c_str()));
    if (index == LB_ERR || index == LB_ERRSPACE)
        throw Error("Cannot show " + path +
                    " in the file list: the list is full or out of memory. Nothing has been "
                    "removed.");
    ++rows_;
    const int width = widthOf(scratch_);
    if (width > widestRow_) {
        widestRow_ = width;
        setHorizontalExtent();
    }
}

std::size_t uninstallfrm::rowCount() const {
    const LRESULT count = SendMessageW(listfiles, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? 0 : static_cast<std::size_t>(count);
}

std::string uninstallfrm::rowText(std::size_t index) const {
    const LRESULT length = SendMessageW(listfiles, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR)
        throw Error(rowError("Cannot read", index));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(listfiles, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    if (copied == LB_ERR)
        throw Error(rowError("Cannot read", index));
    text.resize(static_cast<std::size_t>(copied));
    return text::fromWide(text);
}

bool uninstallfrm::isMarked(std::size_t index) const {
    const LRESULT selected = SendMessageW(listfiles, LB_GETSEL, index, 0);
    if (selected == LB_ERR)
        throw Error(rowError("Cannot read the mark of", index));
    return selected > 0;
}

void uninstallfrm::refresh() {
    RedrawWindow(listfiles, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void uninstallfrm::setValue(float value) {
    const bool unchanged = static_cast<WPARAM>(value) == static_cast<WPARAM>(value_);
    value_ = value;
    // The bar shows whole steps; a long log sets the same one thousands of
    // times.
    if (unchanged)
        return;
    SendMessageW(ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    // The handler does not return to the message loop until the program
    // ends, so the bar is painted now or never.
    UpdateWindow(ProgressBar1);
}

} // namespace uninst
