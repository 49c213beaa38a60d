#pragma once

#include "engine/filesystem.h"
#include "engine/ports.h"
#include "engine/state.h"

#include <string>
#include <vector>

namespace uninst {

// Deletes the files the user did not keep, then the install log.
// Every file of `files` (as filesToDelete gives them) but the logs goes (the
// file system may take several at once, in no fixed order; a failure stops
// the rest), then each of `atRestart` is scheduled for the next restart, then
// the file at logpath and the install log that was read when logpath named
// another toolkit file.
void deletefiles(const UninstallState& state, FileSystem& fs, const std::vector<std::string>& files,
                 const std::vector<std::string>& atRestart);

// The files deletefiles deletes: the rows in index order, then the logs.
// Throws, before anything is deleted, when the inventory found no log.
std::vector<std::string> filesToDelete(const UninstallState& state, const FileList& list);

// Whether `path` is one of the last two files deletefiles deletes: the file
// at logpath or the install log. While either stays, a second run can finish
// what a failed one began.
bool isInstallLog(const UninstallState& state, const std::string& path);

// Removes the folders the deletion left empty.
// Those below and including `path` that no longer hold any file go,
// sub-folders before their parent; the folder at lastsubpath is never removed
// by its own test. The folders that held `deleted` (files the deletion took)
// are asked first, deepest first, to go while they are empty, each without a
// listing; what they leave is walked and listed as ever.
void sweepfolders(const UninstallState& state, FileSystem& fs, const std::string& path,
                  const std::vector<std::string>& deleted = {});

// Step 4, when the list offered no file: deletes the setup-toolkit files the
// inventory met and removes every folder of the install tree left without a
// file or a link, the install folder included. A file the inventory never
// saw (saved there since) stays, with the folders holding it, and is added
// to keptUnlisted. Nothing to do when the sweep already removed the folder.
void removeWhatTheListingSaw(UninstallState& state, FileSystem& fs);

} // namespace uninst
