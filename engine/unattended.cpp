#include "engine/unattended.h"

#include "engine/error.h"

#include <string>

namespace uninst {

namespace {

Error rowError(std::size_t index) {
    return Error::cannot("use row", std::to_string(index) + " of the file list",
                         "the list has no such row.");
}

} // namespace

void RowList::addRow(const std::string& path) {
    rows_.push_back(path);
    marks_.push_back(false);
}

std::string RowList::rowText(std::size_t index) const {
    if (index >= rows_.size())
        throw rowError(index);
    return rows_[index];
}

bool RowList::isMarked(std::size_t index) const {
    if (index >= marks_.size())
        throw rowError(index);
    return marks_[index];
}

void RowList::setMarked(std::size_t index, bool marked) {
    if (index >= marks_.size())
        throw rowError(index);
    marks_[index] = marked;
}

} // namespace uninst
