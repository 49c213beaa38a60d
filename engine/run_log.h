#pragma once

#include <string>
#include <string_view>

namespace uninst {

// Where the account of a run goes: a log file the administrator named, or
// standard output. One line per call, UTF-8, without its line end. Writing
// never fails the run: a log that stops taking lines must not leave an
// application half removed.
class RunLog {
public:
    virtual ~RunLog() = default;
    virtual void write(std::string_view line) = 0;

    // A log kept in a file is created only once the run knows it lies
    // outside what the run removes; until then its lines are held.
    // The file's full path as the system names it; empty for a log that
    // is no file.
    virtual std::string filePath() const { return {}; }
    // Creates or opens the file and writes the lines held so far. Throws
    // Error naming the file and the reason when it cannot.
    virtual void open() {}
    // The file may not be written: nothing is created, held lines are dropped.
    virtual void refuse() {}
};

// Writes a run's lines to a RunLog, if there is one. In a preview every
// action is marked as planned; facts (the install folder), errors and the
// exit code are not.
class RunReport {
public:
    static constexpr std::string_view plannedMark = "Planned: ";

    RunReport() = default;
    RunReport(RunLog* log, bool planned) : log_(log), planned_(planned) {}

    bool active() const { return log_ != nullptr; }
    bool planned() const { return planned_; }

    // Something the run did, or in a preview would do.
    void action(std::string_view text) const;
    void fact(std::string_view text) const;
    void error(std::string_view message) const;

private:
    RunLog* log_ = nullptr;
    bool planned_ = false;
};

// The first line of a run: when it started and how it was called.
void reportStart(RunLog& log, std::string_view localTime, std::string_view arguments);
// The last line.
void reportExit(RunLog& log, int exitCode);

} // namespace uninst
