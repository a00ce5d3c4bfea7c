// Fuzz target: arbitrary bytes as a stored page block. The decoder must
// answer with a check number or a page that encodes and decodes back to the
// same records; never read or write out of bounds.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "drivers/palisade/format.h"
#include "drivers/palisade/page.h"
#include "testing/fatal_guard.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzr::palisade;
  // Block sizes come in whole units; let the input pick how many.
  std::vector<uint8_t> block(data, data + size);
  block.resize(RoundUpToUnit(size == 0 ? 1 : size), kPadByte);
  PageNode node;
  if (DecodePage(block.data(), block.size(), &node) != 0) return 0;
  try {
    node.Capacity = static_cast<uint32_t>(node.PlainSize());
    if (node.PlainSize() > kMaxPageBytes) return 0;
    EncodePage(&node);
    PageNode again;
    if (DecodePage(node.Image.data(), node.Image.size(), &again) != 0) __builtin_trap();
    if (again.RecordCount() != node.RecordCount()) __builtin_trap();
    for (size_t i = 0; i < again.RecordCount(); ++i) {
      if (again.At(i).key() != node.At(i).key()) __builtin_trap();
      if (again.At(i).payload() != node.At(i).payload()) __builtin_trap();
      if (again.ChildAt(i) != node.ChildAt(i)) __builtin_trap();
    }
  } catch (const qzr::testing::FatalErrorThrown&) {
  }
  return 0;
}
