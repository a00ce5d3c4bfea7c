// Capacities of text controls; see text_capacity.h.

#include "ui/text_capacity.h"

#include <string>

#include "runtime/ufo.h"

namespace qzr {
namespace {

std::string_view Bare(std::string_view picture) {
  if (!picture.empty() && picture.front() == '@') picture.remove_prefix(1);
  return picture;
}

// The length of the UTF-8 sequence `lead` starts (1 for a byte that starts
// none).
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

}  // namespace

size_t PictureCapacity(std::string_view picture) {
  std::string_view p = Bare(picture);
  if (p.empty() || (p.front() != 's' && p.front() != 'S')) return 0;
  size_t n = 0;
  for (size_t i = 1; i < p.size() && p[i] >= '0' && p[i] <= '9'; ++i) {
    n = n * 10 + static_cast<size_t>(p[i] - '0');
    if (n > (size_t{1} << 24)) return 0;  // no field is this long
  }
  return n;
}

size_t FieldCapacity(const UFO& value) {
  const auto* text = dynamic_cast<const UfoString*>(&value);
  if (text == nullptr || !text->HasDirectText()) return 0;
  const size_t size = value.Size();
  switch (value.Type()) {
    case TypeCode::CSTRING:
    case TypeCode::PSTRING:
      return size > 0 ? size - 1 : 0;
    default:
      return size;
  }
}

size_t ControlCapacity(std::string_view picture, const UFO* value) {
  const size_t from_field = value != nullptr ? FieldCapacity(*value) : 0;
  return from_field != 0 ? from_field : PictureCapacity(picture);
}

size_t FitUtf8(std::string_view text, size_t bytes) {
  if (text.size() <= bytes) return text.size();
  size_t end = 0;
  while (end < text.size()) {
    size_t n = SequenceLength(static_cast<unsigned char>(text[end]));
    // A sequence cut short by the end of the text, or by a byte that does
    // not continue it, is taken one byte at a time.
    for (size_t k = 1; k < n; ++k) {
      if (end + k >= text.size() || (static_cast<unsigned char>(text[end + k]) & 0xC0) != 0x80) {
        n = 1;
        break;
      }
    }
    if (end + n > bytes) break;
    end += n;
  }
  return end;
}

}  // namespace qzr
