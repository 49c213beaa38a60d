#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace uninst {

// One record of comma-separated values: a field holding a comma, a quote or
// a line break is quoted, its quotes doubled; any other stands as it is.
// The text is taken as it comes, bytes and all, so UTF-8 passes unchanged.
std::string csvRecord(const std::vector<std::string_view>& fields);

} // namespace uninst
