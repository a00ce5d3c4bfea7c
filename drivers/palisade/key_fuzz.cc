// Fuzz target for the key encoding: an arbitrary key layout over an arbitrary
// record buffer. The layout is checked first, as an open does; a layout that
// passes must encode without reading outside the record, every numeric
// component must decode to a value that encodes to the same bytes, and the
// entry's row number must come back from its last 4 bytes.
//
// Input: byte 0 the key flags, byte 1 the component count (low 3 bits);
// then per component 4 bytes (type code, offset, size, descending bit);
// the rest is the record buffer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "drivers/palisade/key_encoding.h"
#include "testing/fatal_guard.h"

namespace {

using qzr::palisade::KeyCollation;
using qzr::palisade::KeyComponentLayout;
using qzr::palisade::KeyLayout;

void Run(const uint8_t* data, size_t size) {
  if (size < 2) return;
  KeyLayout layout;
  layout.flags = data[0];
  const size_t count = data[1] & 7;
  size_t pos = 2;
  for (size_t i = 0; i < count && pos + 4 <= size; ++i, pos += 4) {
    KeyComponentLayout c;
    c.type = static_cast<qzr::TypeCode>(data[pos] % 32);
    c.offset = data[pos + 1];
    c.size = data[pos + 2] % 24;
    c.descending = data[pos + 3] & 1;
    layout.components.push_back(c);
  }
  const std::vector<uint8_t> record(data + pos, data + size);
  if (qzr::palisade::CheckKeyLayout(layout, record.size()) != 0) return;

  static const KeyCollation collation = KeyCollation::Identity();
  const auto entry = qzr::palisade::MakeKeyEntry(0x01020304, 3, layout, collation, record, 0xCAFE);
  if (!entry) {
    if (!layout.opt() || !qzr::palisade::IsEmptyKey(layout, record)) std::abort();
    return;
  }
  if (qzr::palisade::KeyEntryRow(entry->bytes) != 0xCAFE) std::abort();

  const uint8_t* value = entry->bytes.data() + qzr::palisade::kKeyEntryHeadSize;
  for (const KeyComponentLayout& c : layout.components) {
    std::vector<uint8_t> field(c.size), again(c.size);
    if (qzr::palisade::DecodeComponent(c, value, field.data())) {
      // Re-encode the decoded field alone: same bytes as the first encoding.
      KeyLayout alone;
      alone.components = {{c.type, 0, c.size, c.descending}};
      qzr::palisade::EncodeKeyValue(alone, collation, field, again.data());
      if (c.size > 0 && std::memcmp(again.data(), value, c.size) != 0) std::abort();
    }
    value += c.size;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    Run(data, size);
  } catch (const qzr::testing::FatalErrorThrown&) {
    // A checked layout never reaches the fatal path; reaching it is a bug.
    std::abort();
  }
  return 0;
}
