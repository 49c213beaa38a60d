#pragma once

#include "engine/error.h"

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
    // Marks or unmarks a row for the user, who can still change it. A list
    // that cannot must say so: ignoring the call would delete a file that
    // was to be kept.
    virtual void setMarked(std::size_t index, bool marked) {
        (void)marked;
        throw Error::cannot("mark row", std::to_string(index) + " of the file list",
                            "this list does not take marks.");
    }
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

// A bar nobody sees, 0 to 100: for runs without a window and for measuring
// the steps alone.
class UnseenProgress : public Progress {
public:
    float value() const override { return value_; }
    float max() const override { return 100.0f; }
    void setValue(float value) override { value_ = value; }

private:
    float value_ = 0.0f;
};

} // namespace uninst
