// The list-format parser and row formatting.

#include "ui/list_format.h"

#include <cstring>

#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"
#include "runtime/values/queue.h"
#include "runtime/values/ufo.h"
#include "ui/picture_input.h"

namespace qzr {
namespace {

class Parser {
 public:
  Parser(std::string_view text, std::string* error) : text_(text), error_(error) {}

  bool Parse(ListFormat* format) {
    if (text_.empty()) return Fail("the format is empty");
    int next_field = 1;
    while (pos_ < text_.size()) {
      ListColumn column;
      if (!Column(&column)) return false;
      if (column.value_field == 0) column.value_field = next_field;
      int f = column.value_field + 1;
      if (column.colours) {
        column.colour_field = f;
        f += 4;
      }
      if (column.icon) column.icon_field = f++;
      if (column.tree) column.tree_field = f++;
      if (column.style) column.style_field = f++;
      if (column.tip) column.tip_field = f++;
      next_field = f;
      if (f - 1 > format->last_field) format->last_field = f - 1;
      format->columns.push_back(std::move(column));
    }
    return true;
  }

 private:
  bool Fail(const std::string& what) {
    *error_ = "offset " + std::to_string(pos_) + ": " + what;
    return false;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  char PeekUpper() const { return AsciiUpper(Peek()); }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  // Digits, with an optional leading "-" when `signed_ok`.
  bool Number(int* out, bool signed_ok, const char* what) {
    bool negative = false;
    if (signed_ok && Peek() == '-') {
      negative = true;
      ++pos_;
    }
    if (!IsDigit(Peek())) return Fail(std::string("expected ") + what);
    long v = 0;
    while (IsDigit(Peek())) {
      v = v * 10 + (text_[pos_++] - '0');
      if (v > 100000) return Fail(std::string(what) + " is too large");
    }
    *out = static_cast<int>(negative ? -v : v);
    return true;
  }

  // "(" number ")", the "(" already seen at pos_.
  bool Bracketed(int* out, bool signed_ok, const char* what) {
    ++pos_;
    if (!Number(out, signed_ok, what)) return false;
    if (Peek() != ')') return Fail(std::string("expected \")\" after ") + what);
    ++pos_;
    return true;
  }

  static bool Align(char upper, ColumnAlign* align) {
    switch (upper) {
      case 'L':
        *align = ColumnAlign::kLeft;
        return true;
      case 'R':
        *align = ColumnAlign::kRight;
        return true;
      case 'C':
        *align = ColumnAlign::kCenter;
        return true;
      case 'D':
        *align = ColumnAlign::kDecimal;
        return true;
      default:
        return false;
    }
  }

  bool Picture(ListColumn* column) {
    ++pos_;  // the opening "@"
    const size_t start = pos_;
    if (AtEnd()) return Fail("the picture is not closed with \"@\"");
    const char kind = PeekUpper();
    size_t end;
    if (kind == 'P' || kind == 'K') {
      // A pattern or key-in picture ends with its own letter, then "@".
      size_t i = pos_ + 1;
      end = std::string_view::npos;
      for (; i + 1 < text_.size(); ++i) {
        const char c = AsciiUpper(text_[i]);
        if (c == kind && text_[i + 1] == '@') {
          end = i + 1;
          break;
        }
      }
      if (end == std::string_view::npos) {
        return Fail(std::string("the picture is not closed with \"") + kind + "@\"");
      }
    } else {
      end = text_.find('@', pos_);
      if (end == std::string_view::npos) return Fail("the picture is not closed with \"@\"");
    }
    if (end == start) return Fail("the picture is empty");
    std::string picture = "@" + std::string(text_.substr(start, end - start));
    if (!CompilePicture(picture).valid()) {
      return Fail("the picture \"" + picture + "\" is not valid");
    }
    column->picture = std::move(picture);
    pos_ = end + 1;
    return true;
  }

  bool Column(ListColumn* column) {
    if (Peek() == '[' || Peek() == ']') return Fail("column groups are not supported");
    if (!Number(&column->width, false, "a column width")) return false;
    if (!Align(PeekUpper(), &column->align)) {
      return Fail("expected an alignment (L, R, C or D) after the width");
    }
    ++pos_;
    if (Peek() == '(' && !Bracketed(&column->indent, true, "an indent")) return false;
    while (!AtEnd()) {
      const char c = PeekUpper();
      if (IsDigit(c)) return true;  // the next column
      switch (c) {
        case '@':
          return Picture(column);  // a picture ends the column
        case '|':
          column->right_border = true;
          ++pos_;
          break;
        case 'M':
          column->resizable = true;
          ++pos_;
          break;
        case 'F':
          column->fixed = true;
          ++pos_;
          break;
        case '_':
          column->underline = true;
          ++pos_;
          break;
        case '/':
          column->last_on_line = true;
          ++pos_;
          break;
        case '?':
          column->locator = true;
          ++pos_;
          break;
        case 'I':
          column->icon = true;
          ++pos_;
          break;
        case 'J':
          column->icon = true;
          column->transparent_icon = true;
          ++pos_;
          break;
        case '*':
          column->colours = true;
          ++pos_;
          break;
        case 'Y':
          column->style = true;
          ++pos_;
          break;
        case 'P':
          column->tip = true;
          ++pos_;
          break;
        case 'T':
          column->tree = true;
          ++pos_;
          if (Peek() == '(') {
            const size_t close = text_.find(')', pos_);
            if (close == std::string_view::npos) return Fail("the tree flags are not closed");
            pos_ = close + 1;
          }
          break;
        case 'S':
        case 'Z': {
          ++pos_;
          if (Peek() != '(') return Fail(std::string("expected \"(\" after ") + c);
          int v = 0;
          if (!Bracketed(&v, false, c == 'S' ? "a scroll width" : "a style number")) return false;
          (c == 'S' ? column->scroll_width : column->column_style) = v;
          break;
        }
        case '#': {
          ++pos_;
          int field = 0;
          if (!Number(&field, false, "a field number")) return false;
          if (field < 1) return Fail("field numbers start at 1");
          if (Peek() != '#') return Fail("expected \"#\" after the field number");
          ++pos_;
          column->value_field = field;
          break;
        }
        case '~': {
          ++pos_;
          const size_t close = text_.find('~', pos_);
          if (close == std::string_view::npos)
            return Fail("the header text is not closed with \"~\"");
          column->has_header = true;
          column->header = std::string(text_.substr(pos_, close - pos_));
          pos_ = close + 1;
          column->header_align = column->align;
          if (Align(PeekUpper(), &column->header_align)) {
            ++pos_;
            if (Peek() == '(' && !Bracketed(&column->header_indent, true, "a header indent")) {
              return false;
            }
          }
          break;
        }
        case '[':
        case ']':
          return Fail("column groups are not supported");
        default:
          return Fail(std::string("unexpected \"") + Peek() + "\"");
      }
    }
    return true;
  }

  std::string_view text_;
  std::string* error_;
  size_t pos_ = 0;
};

// The field's value as text; "" when the queue has no such field.
std::string FieldText(QUEUE* queue, int field, int32_t* as_long) {
  UfoSlot slot;
  UFO* ufo = queue->FieldUfo(field, &slot);
  if (ufo == nullptr) return {};
  if (as_long) *as_long = ufo->GetLong();
  return ufo->Text();
}

bool HasDigitPlaces(const CompiledPicture& pic) {
  for (int i = 0; i < pic.count; ++i) {
    if (pic.entries[i].code == kDigitShowFill || pic.entries[i].code == kDigitBlank) return true;
  }
  return false;
}

// A field's text without the blanks and zero bytes that pad it.
std::string TrimmedCell(std::string text) {
  text.resize(TrimRight(text, std::string_view(" \0", 2)).size());
  return text;
}

}  // namespace

bool ListFormat::has_headers() const {
  for (const ListColumn& c : columns) {
    if (c.has_header) return true;
  }
  return false;
}

bool ParseListFormat(std::string_view text, ListFormat* format, std::string* error) {
  *format = ListFormat();
  std::string scratch;
  Parser parser(text, error ? error : &scratch);
  return parser.Parse(format);
}

ListRow FormatListRow(const ListFormat& format, QUEUE* queue) {
  ListRow row;
  row.reserve(format.columns.size());
  for (const ListColumn& column : format.columns) {
    ListCell cell;
    std::string value = FieldText(queue, column.value_field, nullptr);
    if (column.picture.empty()) {
      cell.text = TrimmedCell(std::move(value));
    } else {
      const CompiledPicture pic = CompilePicture(column.picture);
      // A pattern without digit places (an icon column's "@p p") shows only
      // its literals, whatever the value: the value is not for showing.
      if (pic.kind() == PictureKind::Pattern && !HasDigitPlaces(pic)) value = "0";
      cell.text = DisplayText(pic, value);
    }
    if (column.icon_field != 0) FieldText(queue, column.icon_field, &cell.icon);
    if (column.tip_field != 0) cell.tip = TrimmedCell(FieldText(queue, column.tip_field, nullptr));
    row.push_back(std::move(cell));
  }
  return row;
}

std::vector<ListRow> FormatListRows(const ListFormat& format, QUEUE* queue) {
  std::vector<ListRow> rows;
  if (queue == nullptr) return rows;
  const int32_t n = RECORDS(queue);
  if (n <= 0) return rows;
  // Formatting is a display matter: the thread's error state stays as it was.
  const int saved_error = ERRORCODE();
  const std::string saved_detail = ERRORDETAIL();
  const int32_t current = POINTER(queue);
  std::string saved(reinterpret_cast<const char*>(queue->buffer()), queue->record_size());
  rows.reserve(static_cast<size_t>(n));
  for (int32_t i = 1; i <= n; ++i) {
    GET(queue, i);
    rows.push_back(FormatListRow(format, queue));
  }
  // Put the current entry and the buffer back as they were.
  if (current > 0) GET(queue, current);
  std::memcpy(queue->buffer(), saved.data(), saved.size());
  if (saved_error != 0) {
    PostError(saved_error, saved_detail);
  } else {
    ClearError();
  }
  return rows;
}

}  // namespace qzr
