#pragma once

#include "platform/checked_open.h"

#include <string>
#include <vector>

namespace uninst::win32 {

// Removes the folder `top` (opened by openBelow, `path` its API form) with
// everything in it but links and what lies behind them, which stay with the
// folders that hold them; throws Error at the first item that cannot go.
// Depth first, with an explicit stack (a tree on disk is as deep as its paths
// are long), and by hand rather than with a shell or system helper, because
// none of those can be trusted to leave links alone. Every file and folder is
// opened and checked as deleteFile and deleteFolder check it, and deleted
// through the handle it was checked with. `path` is the path buffer for
// everything below the top folder; `directoryBuffer` is reused across calls.
void removeTree(RemovalRoots& roots, Opened top, std::wstring& path,
                std::vector<LONGLONG>& directoryBuffer);

} // namespace uninst::win32
