#pragma once

#include "engine/run_log.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace uninst {

// A run's log appended to a file, UTF-8, each line ended by CR LF. Other
// runs may append to the same file meanwhile: every line is one write at the
// end of the file.
class FileRunLog final : public RunLog {
public:
    // Opens or creates `path` for appending. Throws Error naming the file
    // and the system's reason when it cannot be.
    explicit FileRunLog(const std::string& path);

    void write(std::string_view line) override;

private:
    UniqueHandle<HANDLE, &CloseHandle, -1> file_;
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
    UniqueHandle<HANDLE, &CloseHandle, 0> mutex_;
    bool acquired_ = true;
};

} // namespace uninst
