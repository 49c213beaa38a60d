#pragma once

#include "engine/run_log.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace uninst::test {

using Lines = std::vector<std::string>;

// A run's log kept as its lines, for a test to read back.
class LogLines : public RunLog {
public:
    void write(std::string_view line) override { lines.emplace_back(line); }
    bool has(std::string_view part) const {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(part) != std::string::npos;
        });
    }
    Lines lines;
};

} // namespace uninst::test
