// Fuzz target: arbitrary bytes to the in-page record parser. The first byte
// picks the record count; the parse must end in a check number or records
// that encode back to exactly the bytes' canonical form.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "drivers/palisade/record.h"
#include "testing/fatal_guard.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzr::palisade;
  if (size == 0) return 0;
  const size_t count = data[0];
  std::vector<PlxRecord> records;
  if (DecodeRecords(data + 1, size - 1, count, &records) != 0) return 0;
  if (records.size() != count) __builtin_trap();
  // Re-encode canonically and parse again: the same records come back.
  std::vector<uint8_t> bytes;
  const PlxRecord* prev = nullptr;
  for (const PlxRecord& r : records) {
    size_t at = bytes.size();
    bytes.resize(at + EncodedSize(r, prev));
    if (EncodeRecord(r, prev, bytes.data() + at) != bytes.size() - at) __builtin_trap();
    prev = &r;
  }
  if (bytes.size() > size - 1) __builtin_trap();  // canonical form is never longer
  std::vector<PlxRecord> again;
  if (DecodeRecords(bytes.data(), bytes.size(), count, &again) != 0) __builtin_trap();
  for (size_t i = 0; i < count; ++i) {
    if (again[i].bytes != records[i].bytes || again[i].key_length != records[i].key_length) {
      __builtin_trap();
    }
  }
  return 0;
}
