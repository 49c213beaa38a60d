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

void RecordingFileSystem::before(const std::string& operation, const std::string& path) {
    record(operation, path);
}

std::string RecordingFileSystem::fullPath(const std::string& path) {
    before("resolve path", path);
    return inner_.fullPath(path);
}

FolderListing RecordingFileSystem::listFolder(const std::string& path) {
    before("list folder", path);
    return inner_.listFolder(path);
}

bool RecordingFileSystem::folderExists(const std::string& path) {
    before("check folder", path);
    return inner_.folderExists(path);
}

Removal RecordingFileSystem::deleteFile(const std::string& path) {
    before("delete file", path);
    return inner_.deleteFile(path);
}

Removal RecordingFileSystem::deleteFolder(const std::string& path) {
    before("delete folder", path);
    return inner_.deleteFolder(path);
}

bool RecordingFileSystem::removeEmptyFolder(const std::string& path) {
    before("remove empty folder", path);
    return inner_.removeEmptyFolder(path);
}

DeleteCheck RecordingFileSystem::checkDelete(const std::string& path) {
    before("check delete", path);
    return inner_.checkDelete(path);
}

void RecordingFileSystem::deleteAtRestart(const std::string& path) {
    before("delete at restart", path);
    inner_.deleteAtRestart(path);
}

std::string RecordingFileSystem::readTextFile(const std::string& path) {
    before("read file", path);
    return inner_.readTextFile(path);
}

} // namespace uninst::test
