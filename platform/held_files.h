#pragma once

#include "engine/filesystem.h"
#include "platform/checked_open.h"
#include "platform/handles.h"

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

// The batch calls: checking and deleting many files at once, with the files
// found deletable held open between the two.
//
// Threads. Where each file operation waits on a round trip (under Wine, to
// the one server every process shares), the batches share their files out
// over a few threads (platform/parallel_work.h); nothing else in the file
// system does. What is not safe on several threads, the removal roots
// (found and settled on first use) and the held files, is used only on the
// calling thread, before the work is shared out and after it has ended. On
// the threads run only openBelow and the calls on a handle, which read the
// roots settled beforehand and change nothing shared: each thread has its
// own NameScratch, each file its own slot for its answer.
namespace uninst::win32 {

class HeldFiles {
public:
    // `marks`: whether a check asks the system to mark the file for deletion
    // and takes the mark back (see checkFile).
    HeldFiles(std::size_t limit, bool marks) : limit_(limit), marks_(marks) {}

    std::vector<DeleteCheck> checkDeletes(RemovalRoots& roots,
                                          const std::vector<std::string>& paths);
    FileRemovals deleteFiles(RemovalRoots& roots, const std::vector<std::string>& paths);
    // Closes the file's held handle, if any: it is about to be opened again.
    void release(const std::wstring& api) { held_.erase(api); }

private:
    void stopHolding();

    // Files checkDeletes found deletable, by their API path, each held open
    // for deletion until deleteFiles uses the handle (deleteFile lets it go
    // and opens the file again without sharing).
    std::unordered_map<std::wstring, FileHandle> held_;
    std::size_t limit_;
    bool marks_;
};

} // namespace uninst::win32
