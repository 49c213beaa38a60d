#pragma once

#include "engine/session.h"
#include "platform/system_library.h"
#include "ui/background_load.h"
#include "ui/controls.h"
#include "ui/exit_status.h"
#include "ui/file_list_box.h"
#include "ui/progress_bar.h"

#include <windows.h>

namespace uninst {

// The program's one window (`uninstallfrm`, captioned "Uinstall Form"): the
// frame around the file list and the progress bar. It shows the
// application's files in `listfiles` for the user to mark the ones to keep,
// and runs the two handlers, start-up (`Form_Load`) and the "&Uninstall"
// button (`Command4_Click`), both on `session`. It decides the exit status.
class uninstallfrm final {
public:
    explicit uninstallfrm(Session& session);
    ~uninstallfrm();
    uninstallfrm(const uninstallfrm&) = delete;
    uninstallfrm& operator=(const uninstallfrm&) = delete;

    // The run with the window: start-up goes on while the window is being
    // built, then the log is admitted, the keep patterns mark their rows and
    // the window is shown (and with options.passive its button pressed).
    // Returns the exit code once the window is gone, or as soon as a step
    // before it failed, its error reported.
    int run(HINSTANCE instance, int showCommand);

private:
    // Creates the window and its controls, not yet visible. False when the
    // system refused: the error has been reported.
    bool create(HINSTANCE instance);

    // Start-up: shows the application's files, before the window is shown.
    // Takes the rows `load` finds and reports what it threw. False when it
    // failed: the error has been reported.
    bool Form_Load(BackgroundLoad& load);

    void show(int showCommand);

    // Presses "&Uninstall" once the window is up, for a run nobody attends:
    // the session then leaves files in use to the next restart without
    // asking.
    void pressUninstall();

    // The message loop; returns the exit status once the window is gone.
    int messageLoop();

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void onCreate();
    void onCommand(int id, int code);
    void onDpiChanged(UINT dpi, const RECT& suggested);
    void onDestroy();
    // The "&Uninstall" button: runs the uninstall and ends the program.
    void Command4_Click();

    // Sizes the window for the client area and places every control, in
    // pixels for the window's current DPI.
    void layout();
    // Gives every control the dialog font at the window's current DPI.
    void applyFont();
    // Closes the window, so that the program ends with `status`.
    void endWith(int status);

    Session& session_;

    // The common controls, loaded only for the window: a run with no window
    // (an inventory, a quiet run) is spared loading them. Declared before
    // the window, so that it outlives the controls its classes made.
    SystemLibrary commonControls_{L"comctl32.dll"};

    HWND hwnd_ = nullptr;
    FileListBox listfiles;    // the application's files; a marked one is kept
    HWND Command4 = nullptr;  // the "&Uninstall" button
    HWND Frame1 = nullptr;    // "SELECT FILES TO KEEP", around the list
    ProgressBar ProgressBar1; // how far the uninstall has come
    HWND Frame2 = nullptr;    // the frame around the bar

    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    FontHandle font_;

    bool clicked_ = false;
    // Until the uninstall has run or something failed, closing the window
    // ends the program with exitClosed.
    int exitStatus_ = exitClosed;
};

} // namespace uninst
