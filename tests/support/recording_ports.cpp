#include "tests/support/recording_ports.h"

namespace uninst::test {

void RecordingList::addRow(const std::string& path) {
    rows_.push_back(path);
    marks_.push_back(false);
}

bool RecordingList::mark(const std::string& path) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i] == path) {
            marks_[i] = true;
            return true;
        }
    }
    return false;
}

void RecordingList::markAll() {
    marks_.assign(rows_.size(), true);
}

void RecordingProgress::setValue(float value) {
    value_ = value;
    history_.push_back(value);
}

std::size_t CallLog::record(const std::string& operation, const std::string& subject) {
    calls_.push_back(operation + " " + subject);
    return calls_.size() - 1;
}

} // namespace uninst::test
