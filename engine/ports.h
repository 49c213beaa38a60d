#pragma once

#include <cstddef>
#include <string>

namespace uninst {

// The window's file list as the engine sees it: rows are appended one per
// call, keep their text, and are addressed by a 0-based index. A marked row
// is a file the user keeps.
class FileList {
public:
    virtual ~FileList() = default;
    virtual void addRow(const std::string& path) = 0;
    virtual std::size_t rowCount() const = 0;
    virtual std::string rowText(std::size_t index) const = 0;
    virtual bool isMarked(std::size_t index) const = 0;
    // Repaint after the removal; the rows themselves stay.
    virtual void refresh() {}
};

// The progress bar, range 0 to max, value held as single precision.
class Progress {
public:
    virtual ~Progress() = default;
    virtual float value() const = 0;
    virtual float max() const = 0;
    virtual void setValue(float value) = 0;
};

} // namespace uninst
