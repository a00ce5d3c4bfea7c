// Fuzz target: arbitrary text to the picture compiler, then FORMAT and
// DEFORMAT with what it compiled.
//
// Input: the picture text up to the first newline, the value after it.
// Checks, besides the sanitizers: an invalid picture is all zero bytes; a
// fixed-width picture's FORMAT output has exactly its width in characters;
// DEFORMAT of any text, and of FORMAT's own output, returns.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/pictures/picture.h"
#include "runtime/values/date_time.h"
#include "testing/fatal_guard.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Well-formed UTF-8 (lead byte, then exactly its continuation bytes). Text
// that is not may legitimately count differently once pieces of it are
// joined (a truncated sequence followed by a stray continuation byte), so
// the width check applies to well-formed input only.
bool WellFormed(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<uint8_t>(s[i]);
    const size_t len = b < 0x80                ? 1
                       : b >= 0xC2 && b < 0xE0 ? 2
                       : b >= 0xE0 && b < 0xF0 ? 3
                       : b >= 0xF0 && b < 0xF5 ? 4
                                               : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

bool FixedWidth(const qzr::CompiledPicture& pic) {
  if (pic.free_form()) return false;
  if (pic.kind() == qzr::PictureKind::KeyIn) {
    for (int i = 0; i < pic.count; ++i) {
      if (pic.entries[i].code == qzr::kKeyStop) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  qzr::SetWindowYearForTesting(2026);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nl = input.find('\n');
  const std::string_view picture = input.substr(0, nl);
  const std::string_view value = nl == std::string_view::npos ? "" : input.substr(nl + 1);
  try {
    const qzr::CompiledPicture pic = qzr::CompilePicture(picture);
    if (!pic.valid()) {
      const qzr::CompiledPicture zero{};
      Check(std::memcmp(&pic, &zero, sizeof pic) == 0);
      Check(qzr::Format(pic, value).empty());
      return 0;
    }
    const std::string shown = qzr::Format(pic, value);
    const bool well_formed = WellFormed(picture) && WellFormed(value);
    if (well_formed && FixedWidth(pic)) Check(qzr::Utf8Length(shown) == pic.width);
    (void)qzr::Deformat(shown, pic);
    (void)qzr::Deformat(value, pic);
    // Dates and times also from a number drawn from the value's bytes.
    int32_t n = 0;
    std::memcpy(&n, value.data(), std::min<size_t>(value.size(), sizeof n));
    for (int32_t v : {n, n % 3000000, n % 8700000}) {
      const std::string d = qzr::FormatDate(pic, v);
      const std::string t = qzr::FormatTime(pic, v);
      if (well_formed && FixedWidth(pic)) {
        Check(qzr::Utf8Length(d) == pic.width);
        Check(qzr::Utf8Length(t) == pic.width);
      }
      (void)qzr::Deformat(d, pic);
      (void)qzr::Deformat(t, pic);
    }
  } catch (const qzr::testing::FatalErrorThrown&) {
  }
  return 0;
}
