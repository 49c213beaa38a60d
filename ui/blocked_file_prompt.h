#pragma once

#include "engine/preflight.h"

#include <windows.h>

#include <string>
#include <vector>

namespace uninst {

// The question asked when a file cannot be deleted now, with the programs
// holding it when the system can name them. Portable text, so that it is
// the same whatever names come back, or none.
std::string blockedFileText(const BlockedFile& file, const std::vector<std::string>& holders);

// Asks the user at a message box: Retry checks again, Cancel ends the
// uninstall with nothing changed. This program's own file, when it was
// started from the install folder, is not asked about: it goes at the next
// restart, as a file in use does in a run nobody watches.
class BlockedFilePrompt : public BlockedFiles {
public:
    explicit BlockedFilePrompt(HWND owner) : owner_(owner) {}
    Answer blocked(const BlockedFile& file) override;

private:
    HWND owner_;
};

} // namespace uninst
