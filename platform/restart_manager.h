#pragma once

#include <string>
#include <vector>

namespace uninst {

// The programs holding `path` open, by the names the system shows for them,
// as far as the Restart Manager can tell. Empty when it cannot: no such
// service (Wine answers with nothing), a failure, or nobody holds the file.
// Never throws for the system's answers.
std::vector<std::string> programsHolding(const std::string& path);

} // namespace uninst
