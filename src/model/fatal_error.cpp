#include "model/fatal_error.h"

namespace talveron {

std::string FatalErrorReport(const std::string& message) {
  std::string report = "A fatal error has occurred!\n";
  report.append(message);
  report.append("\n\n***  Push any key or click the mouse to quit.  ***\n");
  return report;
}

}  // namespace talveron
