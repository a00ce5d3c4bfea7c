// The range-and-filter text of a view manager (see filter_text.h).

#include "framework/filter_text.h"

#include <cctype>

#include "runtime/core/text.h"
#include "runtime/values/types.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

void AppendTerm(std::string* out, const RangeTerm& term, std::string_view op) {
  if (!out->empty()) out->append(" AND ");
  out->append(term.name);
  out->append(op);
  out->append(WriteLiteral(term.name, term.value));
}

}  // namespace

FilterLiteral LiteralOf(const UFO& value) {
  FilterLiteral out;
  out.is_string = value.ComputeClass() == ValueClass::String;
  out.text = value.Text();
  if (out.is_string) {
    while (!out.text.empty() && out.text.back() == ' ') out.text.pop_back();
  }
  return out;
}

std::string QuoteFilterString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('\'');
  for (char c : text) {
    if (c == '\'') out.push_back('\'');
    out.push_back(c);
  }
  out.push_back('\'');
  return out;
}

std::string WriteLiteral(std::string_view name, const FilterLiteral& value) {
  std::string literal = value.is_string ? QuoteFilterString(value.text) : value.text;
  // A number's text can still be empty (a value object that writes
  // nothing); an empty operand would make the term unreadable.
  if (literal.empty()) literal = "0";
  if (StartsWithNoCase(name, "UPPER(")) return "UPPER(" + literal + ")";
  if (StartsWithNoCase(name, "LOWER(")) return "LOWER(" + literal + ")";
  return literal;
}

std::string RangeText(uint8_t kind, std::span<const RangeTerm> pairs) {
  std::string out;
  switch (kind) {
    case kRangeCurrent:
    case kRangeSingle:
    case kRangeFile:
      for (const RangeTerm& t : pairs) AppendTerm(&out, t, " = ");
      break;
    case kRangePair:
      if (pairs.size() < 2) {
        for (const RangeTerm& t : pairs) AppendTerm(&out, t, " = ");
        break;
      }
      for (size_t i = 0; i + 2 < pairs.size(); ++i) AppendTerm(&out, pairs[i], " = ");
      AppendTerm(&out, pairs[pairs.size() - 2], " >= ");
      AppendTerm(&out, pairs[pairs.size() - 1], " <= ");
      break;
    default:
      break;
  }
  return out;
}

void AppendFilterText(std::string* text, std::string_view filter) {
  size_t end = filter.find_last_not_of(" \t\r\n");
  if (end == std::string_view::npos) return;
  size_t start = filter.find_first_not_of(" \t\r\n");
  filter = filter.substr(start, end + 1 - start);
  if (text->empty()) {
    text->append("(");
  } else {
    text->append(" AND (");
  }
  text->append(filter);
  text->append(")");
}

bool IsSelfContainedFilter(std::string_view filter) {
  int depth = 0;
  bool quoted = false;
  for (size_t i = 0; i < filter.size(); ++i) {
    const char c = filter[i];
    if (quoted) {
      // A doubled quote closes and reopens at once: the same state.
      if (c == '\'') quoted = false;
      continue;
    }
    if (c == '\'') {
      quoted = true;
    } else if (c == '@') {
      // A picture (@N(9.2), @N~(~12) ...) runs to the next "," or ")" that
      // is neither inside its own parentheses nor inside a "~" text, as the
      // evaluator reads it; its brackets are its own.
      int own = 0;
      bool tilde = false;
      for (; i + 1 < filter.size(); ++i) {
        const char p = filter[i + 1];
        if (tilde) {
          if (p == '~') tilde = false;
          continue;
        }
        if (p == '~') {
          tilde = true;
        } else if (p == '(') {
          ++own;
        } else if (p == ')' || p == ',') {
          if (own == 0) break;
          if (p == ')') --own;
        }
      }
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth < 0) return false;
    }
  }
  return !quoted && depth == 0;
}

}  // namespace qzr
