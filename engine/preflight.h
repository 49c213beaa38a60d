#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/state.h"

#include <string>
#include <vector>

namespace uninst {

// A file the pre-flight found it cannot delete now.
struct BlockedFile {
    std::string path;
    std::string reason; // what the deletion would fail with, naming the file
    bool inUse = false; // another program holds it; otherwise it refuses for good
    bool isLog = false; // the install log, which must go before any count is lowered
};

// Who decides what happens to a blocked file: the user in a message box, or
// the rule of a run nobody watches.
class BlockedFiles {
public:
    enum class Answer { retry, cancel, deleteAtRestart };
    virtual ~BlockedFiles() = default;
    virtual Answer blocked(const BlockedFile& file) = 0;
};

// Quiet and passive runs: a file in use goes at the next restart.
class DeleteAtRestartWhenInUse : public BlockedFiles {
public:
    Answer blocked(const BlockedFile&) override { return Answer::deleteAtRestart; }
};

struct PreflightResult {
    bool cancelled = false;
    // Files to leave to the next restart, in the order met.
    std::vector<std::string> atRestart;
};

// Before anything changes: asks of every file whether it can be deleted now,
// and of `blocked` what to do with each that cannot. Without `blocked`, the
// first such file throws. A file that refuses for good, and the install log
// in any case, cannot wait for a restart: that answer throws too. The log must
// be gone before the counts are lowered, or a second run before the restart
// would lower them again. Whatever it throws, nothing has been changed.
PreflightResult preflight(const UninstallState& state, FileSystem& fs,
                          const std::vector<std::string>& files, BlockedFiles* blocked);

// After the sweep: asks for the deletion at restart of every folder between a
// file left to the restart and the install folder (included) that holds
// nothing else that stays, deepest first, so that each goes after what it
// holds.
void scheduleFoldersAtRestart(const UninstallState& state, FileSystem& fs,
                              const std::vector<std::string>& atRestart);

} // namespace uninst
