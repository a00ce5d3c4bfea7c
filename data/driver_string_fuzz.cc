// Fuzz target: the driver-string parser and the declaration check must take
// any input without a crash, an out-of-range read or a fatal error.
//
// The first byte picks a mode: driver strings against a small switch table,
// or a declaration whose field list is made from the input and then checked
// and rendered by the trace.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/declaration_check.h"
#include "data/driver_string.h"
#include "data/file_trace.h"
#include "testing/fatal_guard.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzr;
  if (size == 0) return 0;
  static const std::vector<SwitchSpec> specs = {
      {"TCF", SwitchType::kString, "", std::nullopt, "", ""},
      {"DecimalCheck", SwitchType::kBool, "ON", std::nullopt, "ON", "OFF"},
      {"BUFFERS", SwitchType::kNumber, "16", "16", "", ""},
  };
  if (data[0] % 2 == 0) {
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    ParsedDriverString p = ParseDriverString(text, specs);
    (void)SwitchNumber(p, specs, "BUFFERS");
    (void)SplitLogFile(text);
    return 0;
  }
  // Fields of 4 bytes each: type, size, over, dims.
  FileDescriptor f;
  f.label = "F";
  f.driver = "X";
  for (size_t i = 1; i + 4 <= size && f.fields.size() < 64; i += 4) {
    FieldDesc d;
    d.label = "F:A" + std::to_string(f.fields.size());
    d.type = static_cast<TypeCode>(data[i] % 32);
    d.size = data[i + 1];
    d.over = data[i + 2] < 0x80 ? data[i + 2] % 64 : kNoField;
    if (data[i + 3] & 1) d.dims = {static_cast<uint32_t>(data[i + 3] >> 1)};
    d.digits = data[i + 1] % 40;
    d.places = data[i + 3] % 40;
    d.group_fields = d.type == TypeCode::GROUP ? data[i + 3] % 8 : 0;
    d.offset = static_cast<uint32_t>(f.fields.size()) * 4;
    f.fields.push_back(d);
  }
  f.record.assign(f.fields.size() * 4 + data[0] % 16, 0);
  DriverCapabilities caps;
  caps.types = ~uint64_t{0};
  (void)FindDeclarationProblem(f, &caps);
  (void)DeclarationLines(f);
  // Rendering reads the record only for declarations the check accepts.
  if (!FindDeclarationProblem(f, nullptr)) (void)RecordLines(f);
  return 0;
}
