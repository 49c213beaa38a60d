#include "engine/run_log.h"

namespace uninst {

void RunReport::action(std::string_view text) const {
    if (log_ == nullptr)
        return;
    if (!planned_) {
        log_->write(text);
        return;
    }
    std::string line(plannedMark);
    line.append(text);
    log_->write(line);
}

void RunReport::fact(std::string_view text) const {
    if (log_ != nullptr)
        log_->write(text);
}

void RunReport::error(std::string_view message) const {
    if (log_ == nullptr)
        return;
    std::string line("Error: ");
    line.append(message);
    log_->write(line);
}

void reportStart(RunLog& log, std::string_view localTime, std::string_view arguments) {
    std::string line("Start: ");
    line.append(localTime).append(", arguments: ").append(arguments);
    log.write(line);
}

void reportExit(RunLog& log, int exitCode) {
    log.write("Exit code: " + std::to_string(exitCode));
}

} // namespace uninst
