// List formats: the text that lays out a list control's columns, parsed into
// columns, and the formatting of one queue entry into the cells of a row.
//
// Grammar (letters in any case; blanks are not allowed between items):
//
//   format  := column+
//   column  := width align [ "(" indent ")" ] modifier* [ "@" picture "@" ]
//   width   := digits                      the column's width in dialog units
//   align   := "L" | "R" | "C" | "D"       left, right, centred, decimal
//   modifier:= "|"                         a right border
//            | "M"                         the user may resize the column
//            | "F"                         fixed: does not scroll sideways
//            | "_"                         underlined
//            | "/"                         the last column on its line
//            | "?"                         the locator column
//            | "I" | "J"                   an icon (J: drawn transparent)
//            | "T" [ "(" letters ")" ]     a tree
//            | "*"                         colours
//            | "Y"                         a style
//            | "P"                         a tip
//            | "S(" digits ")"             a sideways scroll width
//            | "Z(" digits ")"             a column style number
//            | "#" digits "#"              the queue field of the value
//            | "~" header "~" [ align [ "(" indent ")" ] ]
//   picture := the display picture without its leading "@" ("s99", "n-14",
//              "p p" for "@p p"); a pattern ("p...p") or key-in ("k...k")
//              picture runs to its closing letter, so it may hold "@".
//
// A column ends with its picture, or where the next width begins. Column
// groups ("[" ... "]") are not supported and are reported as an error.
//
// Queue fields: each column takes the value field (the next unused field, or
// the one named with "#n#"), then, in this order, four colour fields when
// "*", one icon field when "I" or "J", one tree-level field when "T", one
// style field when "Y" and one tip field when "P". The next column carries on
// after them. Example: "12L(2)I@p p@396L(2)|M@s99@" reads the value of column
// 1 from field 1 and its icon number from field 2, and column 2 from field 3.
//
// Pure functions; safe from any thread.

#ifndef QZR_UI_LIST_FORMAT_H_
#define QZR_UI_LIST_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/pictures/picture.h"

namespace qzr {

class QUEUE;

enum class ColumnAlign : char { kLeft = 'L', kRight = 'R', kCenter = 'C', kDecimal = 'D' };

struct ListColumn {
  int width = 0;  // dialog units
  ColumnAlign align = ColumnAlign::kLeft;
  int indent = 0;
  std::string picture;  // with its "@": "@s99"; "" when the column has none
  bool has_header = false;
  std::string header;
  ColumnAlign header_align = ColumnAlign::kLeft;
  int header_indent = 0;
  bool right_border = false;
  bool resizable = false;
  bool fixed = false;
  bool underline = false;
  bool last_on_line = false;
  bool locator = false;
  bool icon = false;
  bool transparent_icon = false;
  bool tree = false;
  bool colours = false;
  bool style = false;
  bool tip = false;
  int scroll_width = 0;  // S(n); 0 none
  int column_style = 0;  // Z(n); 0 none

  // Queue field numbers (1-based) this column reads; 0 when it has none.
  int value_field = 0;
  int colour_field = 0;  // the first of four
  int icon_field = 0;
  int tree_field = 0;
  int style_field = 0;
  int tip_field = 0;
};

struct ListFormat {
  std::vector<ListColumn> columns;
  // The highest queue field number a column reads.
  int last_field = 0;
  bool has_headers() const;
};

// Parses `text` into `format`. On an error returns false and sets `error` to
// what is wrong and where ("offset 7: expected an alignment (L, R, C or D)
// after the width"); `format` is then unspecified. An empty text is an error.
// Every picture must compile.
bool ParseListFormat(std::string_view text, ListFormat* format, std::string* error);

// One cell of a shown row.
struct ListCell {
  std::string text;  // the value through the column's picture, trimmed as DisplayText does
  int32_t icon = 0;  // the icon number (an index into the list's icon table), 0 none
  std::string tip;   // the tip, when the column has one
  bool operator==(const ListCell&) const = default;
};
using ListRow = std::vector<ListCell>;

// The cells of the queue entry now in `queue`'s record buffer, one per
// column. A column without a picture shows the value's text with trailing
// blanks removed. Fields the queue does not have show as empty cells.
ListRow FormatListRow(const ListFormat& format, QUEUE* queue);

// The same for every entry of `queue`, first to last, in its current order.
// The record buffer is restored afterwards.
std::vector<ListRow> FormatListRows(const ListFormat& format, QUEUE* queue);

}  // namespace qzr

#endif  // QZR_UI_LIST_FORMAT_H_
