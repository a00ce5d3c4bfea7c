// The toolkit in force, and the default failure report.

#include "ui/toolkit.h"

#include <cstdio>
#include <string>

namespace qzr {

void Toolkit::ReportFailure(std::string_view text) {
  std::string line = "window system: " + std::string(text) + "\n";
  std::fputs(line.c_str(), stderr);
}

Toolkit* CurrentToolkit() {
  return dynamic_cast<Toolkit*>(&CurrentBackend());
}

}  // namespace qzr
