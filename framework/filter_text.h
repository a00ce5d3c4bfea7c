// The range-and-filter text of a view manager: range limits written as
// comparisons and the named filters joined onto them, in the expression
// syntax a view's filter takes.
//
// A term is the field's name, an operator and the limiting value written as
// a literal:
//   - string values in single quotes, every embedded quote doubled
//     ('O''Brien'); trailing blanks are left out, since comparisons of
//     strings never see them;
//   - other values as their plain text (a number, a standard date);
//   - when the name is "UPPER(...)" or "LOWER(...)", the literal is wrapped
//     in the same function, so that both sides fold alike.
//
// Range kinds (kRange*): the equality kinds make one "name = value" term per
// pair; kRangePair makes "=" terms of all pairs but the last two, then
// "name >= low" and "name <= high" of those two. Terms are joined with
// " AND ". Each filter is then appended as "(" filter ")", or " AND ("
// filter ")" after text already there, so a filter's own OR stays inside its
// parentheses.
//
// A filter that would escape its parentheses is refused by the caller
// (IsSelfContainedFilter). The text is never cut: a long filter is handed on whole, because a cut
// one would be either rejected or, worse, accepted with another meaning.
//
// Threads: plain functions over the caller's data.

#ifndef QZR_FRAMEWORK_FILTER_TEXT_H_
#define QZR_FRAMEWORK_FILTER_TEXT_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qzr {

class UFO;

// Range-limit kinds (a sort order's LIMITTYPE).
inline constexpr uint8_t kRangeNone = 0;
inline constexpr uint8_t kRangeCurrent = 1;  // every field equals its current value
inline constexpr uint8_t kRangeSingle = 2;   // every field equals a given value
inline constexpr uint8_t kRangePair = 3;     // the last field lies between a low and a high bound
inline constexpr uint8_t kRangeFile = 4;     // every field equals a field of a related file

// A value as it goes into the text.
struct FilterLiteral {
  bool is_string = false;
  std::string text;  // strings unquoted, trailing blanks removed
};

// The literal of a field object's current value (strings by value class).
FilterLiteral LiteralOf(const UFO& value);

// `text` in single quotes with every quote doubled.
std::string QuoteFilterString(std::string_view text);

// The literal as written into a term: quoted when a string, wrapped as
// "UPPER(" literal ")" or "LOWER(" literal ")" when `name` begins with that
// function (without regard to case).
std::string WriteLiteral(std::string_view name, const FilterLiteral& value);

// One pair of a range: the field's name and its limiting value.
struct RangeTerm {
  std::string name;
  FilterLiteral value;
};

// The range terms of `kind` over `pairs` (see above); "" for kRangeNone or
// no pairs. A kRangePair range of a single pair limits that field to equal
// it, having no second bound to pair it with. An unknown kind gives "".
std::string RangeText(uint8_t kind, std::span<const RangeTerm> pairs);

// Appends `filter` to `text` as "(" filter ")" or " AND (" filter ")".
// A blank filter appends nothing.
void AppendFilterText(std::string* text, std::string_view filter);

// True iff `filter` stays inside the parentheses it is put in: every string
// literal is closed and no ")" outside one closes more than it opened. A
// filter such as "A) OR (B" parses once wrapped, but its OR would escape
// and bypass the range and the other filters; such a text must be refused.
bool IsSelfContainedFilter(std::string_view filter);

}  // namespace qzr

#endif  // QZR_FRAMEWORK_FILTER_TEXT_H_
