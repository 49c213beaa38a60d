#pragma once

#include "platform/handles.h"

#include <windows.h>

namespace uninst {

// What the window and its control wrappers share: creating a control,
// placing it in the units the form was designed in, and the DPI and font it
// is shown with.

// A control's position and size as the form was designed, in twips (1440 to
// the inch), relative to the client area.
struct Placement {
    int left;
    int top;
    int width;
    int height;
};

// What every control wrapper is: the handle of a child control the window
// owns, null until the wrapper's create has made it. The window destroys its
// children with itself.
class Control {
public:
    Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    HWND hwnd() const { return hwnd_; }

protected:
    ~Control() = default;
    HWND hwnd_ = nullptr;
};

int toPixels(int twips, UINT dpi);

// Moves `control` to where `at` puts it at `dpi`.
void placeControl(HWND control, const Placement& at, UINT dpi);

// Creates a visible child control of `parent`, its id `id`. Throws Error when
// the system refuses it.
HWND createControl(HWND parent, int id, const wchar_t* cls, const wchar_t* text, DWORD style,
                   DWORD exStyle = 0);

// The DPI `window` is shown at; the system's where the per-monitor value is
// not available.
UINT dpiOf(HWND window);

// The outer rectangle of a window with the given client size, style and DPI.
RECT windowRectFor(int width, int height, DWORD style, DWORD exStyle, UINT dpi);

// The message-box font at `dpi`: what the user has chosen for dialog text,
// which DEFAULT_GUI_FONT is not. Null when the system cannot say.
HFONT createGuiFont(UINT dpi);

} // namespace uninst
