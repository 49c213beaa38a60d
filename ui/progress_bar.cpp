#include "ui/progress_bar.h"

#include "ui/controls.h"

#include <commctrl.h>

namespace uninst {

void ProgressBar::create(HWND parent, int id) {
    hwnd_ = createControl(parent, id, PROGRESS_CLASSW, L"", WS_CLIPSIBLINGS);
    SendMessageW(hwnd_, PBM_SETRANGE32, 0, static_cast<LPARAM>(max_));
    SendMessageW(hwnd_, PBM_SETPOS, 0, 0);
}

void ProgressBar::setValue(float value) {
    const bool unchanged = static_cast<WPARAM>(value) == static_cast<WPARAM>(value_);
    value_ = value;
    // The bar shows whole steps; a long log sets the same one thousands of
    // times.
    if (unchanged)
        return;
    SendMessageW(hwnd_, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    // The handler does not return to the message loop until the program
    // ends, so the bar is painted now or never.
    UpdateWindow(hwnd_);
}

} // namespace uninst
