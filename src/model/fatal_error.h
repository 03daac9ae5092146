// Conditions the program cannot continue from ("Out of memory!", ...). The
// model throws; each shell reports the message and ends the process.
#pragma once

#include <stdexcept>
#include <string>

namespace talveron {

class FatalError : public std::runtime_error {
 public:
  explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

// The report of a fatal error as it is written to standard output: a banner,
// the message, a blank line and the closing line.
std::string FatalErrorReport(const std::string& message);

}  // namespace talveron
