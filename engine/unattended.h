#pragma once

#include "engine/ports.h"

#include <cstddef>
#include <string>
#include <vector>

namespace uninst {

// The file list of a run without a window (Session::runWithoutWindow): rows
// and marks in memory.
class RowList : public FileList {
public:
    void addRow(const std::string& path) override;
    std::size_t rowCount() const override { return rows_.size(); }
    std::string rowText(std::size_t index) const override;
    bool isMarked(std::size_t index) const override;
    void setMarked(std::size_t index, bool marked) override;

private:
    std::vector<std::string> rows_;
    std::vector<bool> marks_;
};

} // namespace uninst
