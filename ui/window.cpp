#include "ui/window.h"

#include "engine/error.h"
#include "engine/exit_codes.h"
#include "ui/blocked_file_prompt.h"
#include "ui/error_report.h"

#include <commctrl.h>

#include <string>

namespace uninst {

namespace {

constexpr const wchar_t* windowClass = L"uninstallfrm";

// The form as it was designed, in twips relative to the client area.
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

} // namespace

uninstallfrm::uninstallfrm(Session& session) : session_(session) {}

uninstallfrm::~uninstallfrm() {
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
}

bool uninstallfrm::create(HINSTANCE instance) {
    // Loaded by name, the manifest's version of them, as an import would.
    using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (const auto init =
            reinterpret_cast<InitControls>(commonControls_.procedure("InitCommonControlsEx"))) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        init(&controls);
    }

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

int uninstallfrm::run(HINSTANCE instance, int showCommand) {
    // Listing a large install takes most of start-up; it goes on while the
    // window is being built, which needs none of it until the rows arrive.
    BackgroundLoad load(session_);
    if (!create(instance))
        return exitFailed;
    if (!Form_Load(load))
        return session_.startFailureCode();
    std::string failure;
    // The backup's folder is judged with the log's, before anybody marks a
    // row: refused after the click, it would cost the user the marks and a
    // passive run its exit code.
    try {
        session_.admitLog();
        session_.admitBackup();
    } catch (const Error& error) {
        failure = error.what();
    }
    if (!failure.empty()) {
        showErrorReport(nullptr, failure);
        return exitLogFailed;
    }
    session_.reportStartUp();
    std::string refused;
    if (!runHandler(nullptr, [&] {
            try {
                session_.keepRows(listfiles);
            } catch (const Error& error) {
                refused = error.what();
            }
        }))
        return exitFailed;
    if (!refused.empty()) {
        showErrorReport(nullptr, refused);
        return exitBadCommandLine;
    }
    show(showCommand);
    if (session_.options().passive)
        pressUninstall();
    return messageLoop();
}

bool uninstallfrm::Form_Load(BackgroundLoad& load) {
    // Drawing each of tens of thousands of rows as it arrives would take far
    // longer than listing the files.
    listfiles.setRedraw(false);
    const bool loaded = runHandler(nullptr, [&] { load.drainInto(listfiles); });
    listfiles.setRedraw(true);
    if (!loaded)
        exitStatus_ = exitFailed;
    return loaded;
}

void uninstallfrm::show(int showCommand) {
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    SetFocus(listfiles.hwnd());
}

int uninstallfrm::messageLoop() {
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
        reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight =
            static_cast<UINT>(listfiles.rowHeight());
        return TRUE;
    case WM_DRAWITEM:
        if (wParam != idListfiles)
            return FALSE;
        listfiles.draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
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
    // Created in tab order. A later sibling lies below an earlier one, and
    // every control clips its siblings, so the frames draw around the list
    // and the bar and never over them.
    listfiles.create(hwnd_, idListfiles);
    Command4 = createControl(hwnd_, idCommand4, WC_BUTTONW, L"&Uninstall",
                             WS_TABSTOP | WS_CLIPSIBLINGS | BS_PUSHBUTTON);
    Frame1 = createControl(hwnd_, idFrame1, WC_BUTTONW, L"SELECT FILES TO KEEP",
                           WS_CLIPSIBLINGS | BS_GROUPBOX);
    ProgressBar1.create(hwnd_, idProgressBar1);
    Frame2 = createControl(hwnd_, idFrame2, WC_BUTTONW, L"", WS_CLIPSIBLINGS | BS_GROUPBOX);

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
    listfiles.measureAllRows();
}

void uninstallfrm::onDestroy() {
    PostQuitMessage(exitStatus_);
}

void uninstallfrm::pressUninstall() {
    // Posted, so that the window is drawn with its marks before the
    // uninstall takes the thread.
    PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(idCommand4, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Command4));
}

void uninstallfrm::Command4_Click() {
    // The sequence ends the program; a second click that arrives while its
    // error report is up must not start it again.
    if (clicked_)
        return;
    clicked_ = true;
    // Asked only when somebody watches: the session leaves a file in use in
    // a passive run to the next restart.
    BlockedFilePrompt prompt(hwnd_);
    UninstallEnd end = UninstallEnd::removed;
    const bool completed =
        runHandler(hwnd_, [&] { end = session_.uninstall(listfiles, ProgressBar1, &prompt); });
    if (!completed)
        endWith(exitFailed);
    else if (end == UninstallEnd::cancelled)
        endWith(exitCancelled);
    else
        endWith(end == UninstallEnd::restartNeeded ? exitRestart : exitCompleted);
}

void uninstallfrm::endWith(int status) {
    exitStatus_ = status;
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
    else
        PostQuitMessage(status);
}

void uninstallfrm::layout() {
    const RECT outer = windowRectFor(toPixels(clientWidth, dpi_), toPixels(clientHeight, dpi_),
                                     frameStyle, frameExStyle, dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    placeControl(listfiles.hwnd(), listfilesAt, dpi_);
    placeControl(Command4, Command4At, dpi_);
    placeControl(Frame1, Frame1At, dpi_);
    placeControl(ProgressBar1.hwnd(), ProgressBar1At, dpi_);
    placeControl(Frame2, Frame2At, dpi_);
}

void uninstallfrm::applyFont() {
    FontHandle font(createGuiFont(dpi_));
    HFONT shown = font ? font.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    for (HWND control : {listfiles.hwnd(), Command4, Frame1, ProgressBar1.hwnd(), Frame2})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(shown), TRUE);
    listfiles.useFont(shown, dpi_);
    // Only now that nothing uses the old font any more.
    font_ = std::move(font);
}

} // namespace uninst
