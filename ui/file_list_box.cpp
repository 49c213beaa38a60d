#include "ui/file_list_box.h"

#include "engine/error.h"
#include "platform/text_encoding.h"
#include "ui/controls.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <string_view>

namespace uninst {

namespace {

// `operation` as the message says it: "read", "read the mark of", "mark".
Error rowError(const std::string& operation, std::size_t index) {
    return Error::cannot(operation + " row", std::to_string(index) + " of the file list",
                         "the list has no such row.");
}

} // namespace

void FileListBox::create(HWND parent, int id) {
    hwnd_ =
        createControl(parent, id, WC_LISTBOXW, L"",
                      WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | WS_CLIPSIBLINGS | LBS_MULTIPLESEL |
                          LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS,
                      WS_EX_CLIENTEDGE);
}

void FileListBox::useFont(HFONT font, UINT dpi) {
    dpi_ = dpi;
    if (!measure_)
        measure_.reset(CreateCompatibleDC(nullptr));
    if (measure_)
        SelectObject(measure_.get(), font);
    charWidths_.clear();
    SendMessageW(hwnd_, LB_SETITEMHEIGHT, 0, rowHeight());
}

int FileListBox::checkSize() const {
    return MulDiv(13, static_cast<int>(dpi_), 96);
}

int FileListBox::rowPadding() const {
    return MulDiv(2, static_cast<int>(dpi_), 96);
}

int FileListBox::rowHeight() const {
    TEXTMETRICW metrics{};
    const int text = measure_ && GetTextMetricsW(measure_.get(), &metrics)
                         ? static_cast<int>(metrics.tmHeight)
                         : MulDiv(16, static_cast<int>(dpi_), 96);
    return std::max(text, checkSize()) + rowPadding();
}

void FileListBox::setRedraw(bool redraw) {
    SendMessageW(hwnd_, WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
    if (redraw)
        InvalidateRect(hwnd_, nullptr, TRUE);
}

void FileListBox::setHorizontalExtent() {
    const int extent = rowPadding() * 4 + checkSize() + widestRow_;
    SendMessageW(hwnd_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
}

void FileListBox::draw(const DRAWITEMSTRUCT& item) {
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

        if (readRow(item.itemID, drawn_)) {
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

int FileListBox::widthOf(const std::wstring& text) {
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

void FileListBox::measureAllRows() {
    widestRow_ = 0;
    for (std::size_t i = 0; i < rows_; ++i) {
        if (readRow(i, scratch_))
            widestRow_ = std::max(widestRow_, widthOf(scratch_));
    }
    setHorizontalExtent();
}

void FileListBox::reserveRow() {
    if (rows_ < reserved_)
        return;
    const std::size_t more = std::max<std::size_t>(reserved_, 256);
    // Room for the rows' text as well; install paths average well under this.
    if (SendMessageW(hwnd_, LB_INITSTORAGE, more, more * 80 * sizeof(wchar_t)) != LB_ERRSPACE)
        reserved_ += more;
}

bool FileListBox::readRow(std::size_t index, std::wstring& text) const {
    const LRESULT length = SendMessageW(hwnd_, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR)
        return false;
    text.assign(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(hwnd_, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    if (copied == LB_ERR)
        return false;
    text.resize(static_cast<std::size_t>(copied));
    return true;
}

void FileListBox::addRow(const std::string& path) {
    scratch_.clear();
    text::appendWide(scratch_, path);
    reserveRow();
    const LRESULT index =
        SendMessageW(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(scratch_.c_str()));
    if (index == LB_ERR || index == LB_ERRSPACE)
        throw Error("show", path,
                    "Cannot show " + path +
                        " in the file list: the list is full or out of memory. Nothing has been "
                        "removed.");
    ++rows_;
    const int width = widthOf(scratch_);
    if (width > widestRow_) {
        widestRow_ = width;
        setHorizontalExtent();
    }
}

std::size_t FileListBox::rowCount() const {
    const LRESULT count = SendMessageW(hwnd_, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? 0 : static_cast<std::size_t>(count);
}

std::string FileListBox::rowText(std::size_t index) const {
    std::wstring text;
    if (!readRow(index, text))
        throw rowError("read", index);
    return text::fromWide(text);
}

bool FileListBox::isMarked(std::size_t index) const {
    const LRESULT selected = SendMessageW(hwnd_, LB_GETSEL, index, 0);
    if (selected == LB_ERR)
        throw rowError("read the mark of", index);
    return selected > 0;
}

void FileListBox::setMarked(std::size_t index, bool marked) {
    if (SendMessageW(hwnd_, LB_SETSEL, marked ? TRUE : FALSE, static_cast<LPARAM>(index)) == LB_ERR)
        throw rowError("mark", index);
}

void FileListBox::refresh() {
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

} // namespace uninst
