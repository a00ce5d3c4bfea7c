// Conversions and comparisons of evaluator values. Stateless apart from the
// process-wide collation, which is only read; safe from any thread.

#include "runtime/evaluator/eval_value.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "runtime/core/string_compare.h"
#include "runtime/core/text.h"
#include "runtime/values/text_number.h"

namespace qzr {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Length of the decimal number at the start of `t` (sign, digits, point,
// exponent), 0 when there is none. *digits tells whether any digit was seen
// in the mantissa; *integral whether it had neither point nor exponent.
size_t NumberPrefix(std::string_view t, bool* integral) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t mantissa_digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++mantissa_digits;
  *integral = true;
  if (i < t.size() && t[i] == '.') {
    *integral = false;
    ++i;
    while (i < t.size() && IsDigit(t[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    if (j < t.size() && IsDigit(t[j])) {
      while (j < t.size() && IsDigit(t[j])) ++j;
      *integral = false;
      i = j;
    }
  }
  return i;
}

// Converts the number text `t` (as found by NumberPrefix) to a value.
EvalValue ConvertNumber(std::string_view t, bool integral) {
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (*first == '+') ++first;
  if (integral) {
    int32_t v = 0;
    auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec == std::errc() && ptr == last) return EvalValue::Long(v);
  }
  double d = 0.0;
  std::from_chars(first, last, d);  // out of range leaves 0 or gives inf
  return EvalValue::Real(d);
}

int Sign(double d) {
  return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

int CompareNumbers(const EvalValue& a, const EvalValue& b) {
  if (a.kind == EvalKind::Long && b.kind == EvalKind::Long) return (a.l > b.l) - (a.l < b.l);
  if (a.kind == EvalKind::Real || b.kind == EvalKind::Real) return Sign(AsReal(a) - AsReal(b));
  // Decimal against decimal or LONG: exactly.
  Decimal da = a.kind == EvalKind::Decimal ? *a.d : Decimal::FromLong(a.l);
  Decimal db = b.kind == EvalKind::Decimal ? *b.d : Decimal::FromLong(b.l);
  return Decimal::Compare(da, db);
}

}  // namespace

EvalValue EvalValue::Real(double v) {
  EvalValue e;
  e.kind = EvalKind::Real;
  e.r = std::isfinite(v) ? v : 0.0;
  return e;
}

std::string_view NumberText(const EvalValue& v, char* buf) {
  switch (v.kind) {
    case EvalKind::Long: {
      auto res = std::to_chars(buf, buf + kNumberTextCap, v.l);
      return {buf, static_cast<size_t>(res.ptr - buf)};
    }
    case EvalKind::Real: {
      double r = v.r == 0.0 ? 0.0 : v.r;  // no "-0"
      size_t n = RealToText(r, buf, kNumberTextCap);
      return {buf, n < kNumberTextCap ? n : kNumberTextCap};
    }
    case EvalKind::Decimal: {
      size_t n = v.d->ToText(buf, kNumberTextCap);
      return {buf, n < kNumberTextCap ? n : kNumberTextCap};
    }
    case EvalKind::String:
      return v.s;
    case EvalKind::Omitted:
      break;
  }
  return {};
}

std::string_view AsText(const EvalValue& v, std::string* scratch) {
  if (v.kind == EvalKind::String) return v.s;
  if (v.kind == EvalKind::Omitted) return {};
  char buf[kNumberTextCap];
  scratch->assign(NumberText(v, buf));
  return *scratch;
}

bool ParseNumericText(std::string_view text, EvalValue* out) {
  std::string_view t = Trim(text);
  if (t.empty()) return false;
  bool integral = false;
  size_t n = NumberPrefix(t, &integral);
  if (n == 0 || n != t.size()) return false;
  *out = ConvertNumber(t, integral);
  return true;
}

EvalValue TextToNumber(std::string_view text) {
  if (text.size() > 40) text = text.substr(0, 40);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  bool integral = false;
  size_t n = NumberPrefix(text, &integral);
  if (n == 0) return EvalValue::Long(0);
  return ConvertNumber(text.substr(0, n), integral);
}

EvalValue AsNumber(const EvalValue& v) {
  switch (v.kind) {
    case EvalKind::String:
      return TextToNumber(v.s);
    case EvalKind::Omitted:
      return EvalValue::Long(0);
    default:
      return v;
  }
}

double AsReal(const EvalValue& v) {
  EvalValue n = AsNumber(v);
  switch (n.kind) {
    case EvalKind::Long:
      return n.l;
    case EvalKind::Real:
      return n.r;
    case EvalKind::Decimal:
      return n.d->ToDouble();
    default:
      return 0.0;
  }
}

int32_t AsLong(const EvalValue& v) {
  EvalValue n = AsNumber(v);
  switch (n.kind) {
    case EvalKind::Long:
      return n.l;
    case EvalKind::Decimal:
      return n.d->ToLong();
    case EvalKind::Real:
      return RealToLong(n.r);
    default:
      return 0;
  }
}

bool IsTrue(const EvalValue& v) {
  switch (v.kind) {
    case EvalKind::Long:
      return v.l != 0;
    case EvalKind::Real:
      return v.r != 0.0;
    case EvalKind::Decimal:
      return !v.d->IsZero();
    case EvalKind::String:
      for (char c : v.s) {
        if (c != ' ') return true;
      }
      return false;
    case EvalKind::Omitted:
      break;
  }
  return false;
}

int CompareValues(const EvalValue& a, const EvalValue& b) {
  bool at = a.kind == EvalKind::String || a.kind == EvalKind::Omitted;
  bool bt = b.kind == EvalKind::String || b.kind == EvalKind::Omitted;
  if (at && bt) return CompareText(a.s, b.s);
  if (!at && !bt) return CompareNumbers(a, b);
  const EvalValue& text = at ? a : b;
  const EvalValue& number = at ? b : a;
  int sign = at ? -1 : 1;  // CompareNumbers(number, text) reversed when the text is left
  EvalValue parsed;
  if (ParseNumericText(text.s, &parsed)) return sign * CompareNumbers(number, parsed);
  char buf[kNumberTextCap];
  return sign * CompareText(NumberText(number, buf), text.s);
}

}  // namespace qzr
