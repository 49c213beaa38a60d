#pragma once

#include "engine/ports.h"
#include "platform/handles.h"
#include "ui/controls.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace uninst {

// The window's file list: a list box whose rows are the application's files.
// Each click toggles a row's selection, which is its mark (a file to keep);
// the rows are drawn with a check box for it. The list box keeps the strings
// itself, so other processes read them with the standard messages. It keeps
// the width of its widest row so that it scrolls sideways as far as needed.
class FileListBox final : public FileList, public Control {
public:
    // Creates the list box as the child `id` of `parent`. Throws Error when
    // the system refuses it.
    void create(HWND parent, int id);

    // Shows and measures the rows with `font` at `dpi`, and sets the row
    // height to match. The font must outlive its use here.
    void useFont(HFONT font, UINT dpi);
    // Measures every row again, after a change of font.
    void measureAllRows();
    int rowHeight() const;
    // Stops drawing while many rows are added, or draws everything again.
    void setRedraw(bool redraw);
    // Draws one row: its check box, then its text.
    void draw(const DRAWITEMSTRUCT& item);

    void addRow(const std::string& path) override;
    std::size_t rowCount() const override;
    std::string rowText(std::size_t index) const override;
    bool isMarked(std::size_t index) const override;
    void setMarked(std::size_t index, bool marked) override;
    void refresh() override;

private:
    // Reads row `index` into `text`; false when the list has no such row.
    bool readRow(std::size_t index, std::wstring& text) const;
    int widthOf(const std::wstring& text);
    int checkSize() const;
    int rowPadding() const;
    void setHorizontalExtent();
    // Makes sure the list can take one more row without reallocating for
    // every few rows it is given.
    void reserveRow();

    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
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
};

} // namespace uninst
