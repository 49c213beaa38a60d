#pragma once

#include <stdexcept>
#include <string>

namespace uninst {

// The program's one error type. The message names the failing operation and
// its subject in words a user can act on ("Cannot delete file C:\App\a.dll:
// Access is denied."). It is caught only at the event-handler boundary, where
// the error report is shown and the program ends.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

} // namespace uninst
