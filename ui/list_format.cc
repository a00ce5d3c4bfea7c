// The list-format parser and row formatting.

#include "ui/list_format.h"

namespace qzr {

bool ListFormat::has_headers() const {
  for (const ListColumn& c : columns) {
    if (c.has_header) return true;
  }
  return false;
}

bool ParseListFormat(std::string_view text, ListFormat* format, std::string* error) {
  *format = ListFormat();
  return true;
}

ListRow FormatListRow(const ListFormat& format, QUEUE* queue) {
  return {};
}

std::vector<ListRow> FormatListRows(const ListFormat& format, QUEUE* queue) {
  return {};
}

}  // namespace qzr
