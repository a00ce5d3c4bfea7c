// Capacities of text controls; see text_capacity.h.

#include "ui/text_capacity.h"

#include <string>

#include "runtime/values/ufo.h"

namespace qzr {
namespace {

std::string_view Bare(std::string_view picture) {
  if (!picture.empty() && picture.front() == '@') picture.remove_prefix(1);
  return picture;
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

}  // namespace qzr
