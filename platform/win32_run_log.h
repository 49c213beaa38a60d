#pragma once

#include "engine/run_log.h"
#include "platform/handles.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// A run's log appended to a file, UTF-8, each line ended by CR LF. Other
// runs may append to the same file meanwhile: every line is one write at the
// end of the file.
//
// Anyone who can write to the log's folder, or to a folder above it, could
// have put a link there, or a second name of another file, and the run
// would write into or create a file that is not its own. The folder is
// therefore reached from the drive's root one step at a time, each step
// opened relative to the one before and refused when it is a link, and held;
// the file is created in that held folder, by its name alone, and must be
// one disk file whose only name is the one asked for.
class FileRunLog final : public RunLog {
public:
    // Opens and holds the folder of `path`; creates nothing. Throws Error
    // naming the file and the reason when the folder cannot be reached that
    // way or the name cannot be a file's.
    explicit FileRunLog(const std::string& path);

    std::string filePath() const override { return fullPath_; }
    void open() override;
    void refuse() override;
    // Neither opened nor refused yet.
    bool pending() const { return state_ == State::pending; }
    // Where the lines go once the file is refused or cannot be opened (the
    // standard output a deployment agent captures), held ones included, so
    // that the reason is still told; not owned, may be null.
    void fallBackTo(RunLog* fallback) { fallback_ = fallback; }

    void write(std::string_view line) override;

private:
    enum class State { pending, open, refused };

    std::string asked_;
    std::string fullPath_;
    std::wstring name_;
    std::wstring folderName_; // as the system names the held folder
    FileHandle folder_;
    FileHandle file_;
    std::vector<std::string> held_;
    State state_ = State::pending;
    RunLog* fallback_ = nullptr;

    void giveUp();
};

// The standard output the program was given, when it was given one (a
// window program started from a console without redirection has none).
class StandardOutputLog final : public RunLog {
public:
    // Null when there is no standard output.
    static HANDLE handle();
    explicit StandardOutputLog(HANDLE output) : output_(output) {}
    void write(std::string_view line) override;

private:
    HANDLE output_; // not owned
};

// Local time as "2026-12-09 14:05:31".
std::string localTimeText();

// One run per application at a time: a named mutex on the application's name
// in upper case, held until the program ends.
class RunLock {
public:
    explicit RunLock(std::string_view appName);

    // False when another run for the same application holds it.
    bool acquired() const { return acquired_; }

private:
    KernelHandle mutex_;
    bool acquired_ = true;
};

} // namespace uninst
