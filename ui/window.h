#pragma once

#include "engine/ports.h"
#include "engine/state.h"
#include "engine/filesystem.h"
#include "engine/registry.h"
#include "platform/unique_handle.h"
#include "ui/background_load.h"
#include "ui/error_report.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace uninst {

// The program's one window. It shows the application's files in `listfiles`
// for the user to mark the ones to keep, and runs the two handlers: start-up
// (`Form_Load`) and the "&Uninstall" button (`Command4_Click`). To the engine
// it is the file list and the progress bar.
class uninstallfrm final : public FileList, public Progress {
public:
    uninstallfrm(UninstallState& state, Registry& registry, FileSystem& fs);
    ~uninstallfrm() override;
    uninstallfrm(const uninstallfrm&) = delete;
    uninstallfrm& operator=(const uninstallfrm&) = delete;

    // Creates the window and its controls, not yet visible. False when the
    // system refused: the error has been reported.
    bool create(HINSTANCE instance);

    // Start-up, run before the window is shown: takes the rows `load` finds
    // and reports what it threw. False when it failed: the error has been
    // reported and the program is to end with exitFailed.
    bool Form_Load(BackgroundLoad& load);

    void show(int showCommand);

    // The message loop; returns the exit status once the window is gone.
    int run();

    void addRow(const std::string& path) override;
    std::size_t rowCount() const override;
    std::string rowText(std::size_t index) const override;
    bool isMarked(std::size_t index) const override;
    void refresh() override;

    float value() const override { return value_; }
    float max() const override { return max_; }
    void setValue(float value) override;

private:
    using Font = UniqueHandle<HFONT, &DeleteObject, 0>;
    using MemoryDc = UniqueHandle<HDC, &DeleteDC, 0>;

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void onCreate();
    void onCommand(int id, int code);
    void onDpiChanged(UINT dpi, const RECT& suggested);
    void onDrawItem(const DRAWITEMSTRUCT& item);
    void onDestroy();
    void Command4_Click();

    // Sizes the window for the client area and places every control, in
    // pixels for the window's current DPI.
    void layout();
    void applyFont();
    int widthOf(const std::wstring& text);
    int checkSize() const;
    int rowPadding() const;
    int rowHeight() const;
    void setHorizontalExtent();
    void measureAllRows();
    // Makes sure the list can take one more row without reallocating for
    // every few rows it is given.
    void reserveRow();
    void endWith(int status);

    UninstallState& state_;
    Registry& registry_;
    FileSystem& fs_;

    HWND hwnd_ = nullptr;
    HWND listfiles = nullptr;
    HWND Command4 = nullptr;
    HWND Frame1 = nullptr;
    HWND ProgressBar1 = nullptr;
    HWND Frame2 = nullptr;

    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    Font font_;
    // Text widths for the list's horizontal extent are measured here, with
    // the list's font, instead of taking a window DC for every row.
    MemoryDc measure_;
    // Advance widths by UTF-16 unit, measured once each: summing them is
    // far cheaper than measuring each of tens of thousands of rows.
    std::vector<std::uint16_t> charWidths_;
    int widestRow_ = 0;
    std::size_t rows_ = 0;
    std::size_t reserved_ = 0;
    std::wstring scratch_;
    std::wstring drawn_;

    float value_ = 0.0f;
    float max_ = 100.0f;

    bool clicked_ = false;
    int exitStatus_ = exitClosed;
};

} // namespace uninst
