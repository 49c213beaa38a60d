#pragma once

#include "engine/run_log.h"

#include <string>
#include <string_view>
#include <vector>

namespace uninst::test {

using Lines = std::vector<std::string>;

// A run's log kept as its lines, for a test to read back.
class LogLines : public RunLog {
public:
    void write(std::string_view line) override { lines.emplace_back(line); }
    Lines lines;
};

} // namespace uninst::test
