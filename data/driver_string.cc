// The driver-string parser.

#include "data/driver_string.h"

namespace qzr {

const std::string* ParsedDriverString::Find(std::string_view name) const { return nullptr; }

const std::vector<SwitchSpec>& CommonDriverSwitches() {
  static const std::vector<SwitchSpec> specs;
  return specs;
}

ParsedDriverString ParseDriverString(std::string_view text,
                                     const std::vector<SwitchSpec>& driver_switches) {
  return {};
}

}  // namespace qzr
