// The built-in functions. Each has a one-line contract above it; "text" is
// an argument read as text (numbers written out), "number" one read as a
// number (texts by their leading number). Lengths asked of ALL, CENTER, LEFT
// and RIGHT are capped at kMaxBuiltinText so that no expression can demand
// gigabytes.

#include "runtime/evaluator/eval_builtins.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <random>

#include "runtime/core/match.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"
#include "runtime/evaluator/date_builtins.h"
#include "runtime/evaluator/eval_tokenizer.h"
#include "runtime/os/file_system.h"
#include "runtime/pictures/picture.h"
#include "runtime/settings/locale_data.h"
#include "runtime/settings/profile.h"
#include "runtime/values/text_number.h"

namespace qzr {
namespace {

inline constexpr int64_t kMaxBuiltinText = 65535;

// ---- Argument helpers.

// Argument i as text; numbers are written into `buf` (kNumberTextCap).
std::string_view Text(const BuiltinCall& c, int i, char* buf) {
  if (!c.Has(i)) return {};
  return NumberText(c.args[i], buf);
}

int32_t Long(const BuiltinCall& c, int i, int32_t fallback = 0) {
  return c.Has(i) ? AsLong(c.args[i]) : fallback;
}

double Real(const BuiltinCall& c, int i) {
  return c.Has(i) ? AsReal(c.args[i]) : 0.0;
}

// A result text, copied into the node's scratch.
EvalValue Out(const BuiltinCall& c, std::string_view text) {
  c.scratch->assign(text);
  return EvalValue::Text(*c.scratch);
}

int64_t LengthArg(const BuiltinCall& c, int i, int64_t fallback) {
  if (!c.Has(i)) return std::min<int64_t>(fallback, kMaxBuiltinText);
  int64_t n = Long(c, i);
  return std::clamp<int64_t>(n, 0, kMaxBuiltinText);
}

// The low 32 bits of a number's integer part, for the bit operations, so
// that a ULONG above 2147483647 keeps its bits.
uint32_t Bits(const BuiltinCall& c, int i) {
  if (!c.Has(i)) return 0;
  EvalValue v = AsNumber(c.args[i]);
  switch (v.kind) {
    case EvalKind::Long:
      return static_cast<uint32_t>(v.l);
    case EvalKind::Decimal: {
      int64_t x = 0;
      return v.d->ToInt64(&x) ? static_cast<uint32_t>(x) : 0;
    }
    case EvalKind::Real:
      if (v.r > -9.2e18 && v.r < 9.2e18) return static_cast<uint32_t>(static_cast<int64_t>(v.r));
      return 0;
    default:
      return 0;
  }
}

EvalValue Math(double (*fn)(double), const BuiltinCall& c) {
  // Arguments outside a function's domain give 0 (EvalValue::Real maps
  // NaN and infinities to 0).
  return EvalValue::Real(fn(Real(c, 0)));
}

// ---- The built-ins, alphabetically.

// ABS(number): the magnitude, in the number's own kind.
EvalValue Abs(const BuiltinCall& c) {
  EvalValue v = AsNumber(c.args[0]);
  switch (v.kind) {
    case EvalKind::Long:
      if (v.l >= 0) return v;
      if (v.l == INT32_MIN) {
        *c.dec = Decimal::FromLong(-static_cast<int64_t>(v.l));
        return EvalValue::Dec(c.dec);
      }
      return EvalValue::Long(-v.l);
    case EvalKind::Decimal:
      *c.dec = v.d->Abs();
      return EvalValue::Dec(c.dec);
    default:
      return EvalValue::Real(std::fabs(v.r));
  }
}

// ACOS(number), ASIN, ATAN, COS, SIN, TAN: in radians.
EvalValue Acos(const BuiltinCall& c) {
  return Math(std::acos, c);
}
EvalValue Asin(const BuiltinCall& c) {
  return Math(std::asin, c);
}
EvalValue Atan(const BuiltinCall& c) {
  return Math(std::atan, c);
}
EvalValue Cos(const BuiltinCall& c) {
  return Math(std::cos, c);
}
EvalValue Sin(const BuiltinCall& c) {
  return Math(std::sin, c);
}
EvalValue Tan(const BuiltinCall& c) {
  return Math(std::tan, c);
}

// AGE(birth [, base]): "<n> DAYS", "<n> MOS" or "<n> YRS"; base defaults to
// today.
EvalValue Age(const BuiltinCall& c) {
  return Out(c, AGE(Long(c, 0), c.Has(1) ? Long(c, 1) : -1));
}

// ALL(text [, length]): the text repeated to `length` characters (255 by
// default); an empty text gives an empty result.
EvalValue All(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  int64_t n = LengthArg(c, 1, 255);
  c.scratch->clear();
  if (t.empty()) return EvalValue::Text(*c.scratch);
  while (static_cast<int64_t>(c.scratch->size()) < n) {
    c.scratch->append(t.substr(0, static_cast<size_t>(n) - c.scratch->size()));
  }
  return EvalValue::Text(*c.scratch);
}

// BAND(a, b), BOR, BXOR: bitwise over 32 bits.
EvalValue Band(const BuiltinCall& c) {
  return EvalValue::Long(static_cast<int32_t>(Bits(c, 0) & Bits(c, 1)));
}
EvalValue Bor(const BuiltinCall& c) {
  return EvalValue::Long(static_cast<int32_t>(Bits(c, 0) | Bits(c, 1)));
}
EvalValue Bxor(const BuiltinCall& c) {
  return EvalValue::Long(static_cast<int32_t>(Bits(c, 0) ^ Bits(c, 1)));
}

// BSHIFT(value, count): shifted left by a positive count, right (logically)
// by a negative one; 32 places or more give 0.
EvalValue Bshift(const BuiltinCall& c) {
  uint32_t v = Bits(c, 0);
  int32_t n = Long(c, 1);
  if (n >= 32 || n <= -32) return EvalValue::Long(0);
  uint32_t r = n >= 0 ? v << n : v >> -n;
  return EvalValue::Long(static_cast<int32_t>(r));
}

// CENTER(text [, length]): the text without surrounding spaces, centred in
// `length` characters (the text's own length by default); an odd spare
// space goes to the right; a longer text is cut to `length`.
EvalValue Center(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  int64_t n = LengthArg(c, 1, static_cast<int64_t>(t.size()));
  std::string_view core = Trim(t, kSpaces);
  if (static_cast<int64_t>(core.size()) > n) core = core.substr(0, static_cast<size_t>(n));
  size_t left = (static_cast<size_t>(n) - core.size()) / 2;
  c.scratch->assign(left, ' ');
  c.scratch->append(core);
  c.scratch->resize(static_cast<size_t>(n), ' ');
  return EvalValue::Text(*c.scratch);
}

// CHOOSE is evaluated by the tree itself (only the chosen argument runs).
EvalValue Choose(const BuiltinCall& c) {
  return c.count > 1 ? c.args[c.count - 1] : EvalValue::Long(0);
}

// CHR(code): the one character with that code (its low 8 bits).
EvalValue Chr(const BuiltinCall& c) {
  char ch = static_cast<char>(Long(c, 0) & 0xFF);
  return Out(c, std::string_view(&ch, 1));
}

// CLIP(text): the text without trailing spaces.
EvalValue Clip(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  return Out(c, TrimRight(Text(c, 0, buf), kSpaces));
}

// CLOCK(): the standard time now.
EvalValue Clock(const BuiltinCall&) {
  return EvalValue::Long(CLOCK());
}

// DATE(month, day, year): the standard date, months and days carrying
// over; -1 when invalid.
EvalValue Date(const BuiltinCall& c) {
  auto part = [&](int i) -> int64_t {
    double r = Real(c, i);
    return r > -1e12 && r < 1e12 ? static_cast<int64_t>(r) : -1;
  };
  return EvalValue::Long(DATE(part(0), part(1), part(2)));
}

// DAY(date), MONTH(date), YEAR(date): the parts; 0 for an invalid date.
EvalValue Day(const BuiltinCall& c) {
  return EvalValue::Long(DAY(Long(c, 0)));
}
EvalValue Month(const BuiltinCall& c) {
  return EvalValue::Long(MONTH(Long(c, 0)));
}
EvalValue Year(const BuiltinCall& c) {
  return EvalValue::Long(YEAR(Long(c, 0)));
}

// DEFORMAT(text [, picture]): the value behind display text; without a
// picture, the digits, sign and decimal point of the text.
EvalValue Deformat(const BuiltinCall& c) {
  char buf[kNumberTextCap], pbuf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  if (c.Has(1)) return Out(c, DEFORMAT(t, Text(c, 1, pbuf)));
  c.scratch->clear();
  for (char ch : t) {
    if ((ch >= '0' && ch <= '9') || ch == '.' || ch == '-') c.scratch->push_back(ch);
  }
  return EvalValue::Text(*c.scratch);
}

// FORMAT(value, picture): the value as the picture shows it; "" for an
// invalid picture.
EvalValue Format(const BuiltinCall& c) {
  char buf[kNumberTextCap], pbuf[kNumberTextCap];
  return Out(c, FORMAT(Text(c, 0, buf), Text(c, 1, pbuf)));
}

// GETINI(section, key [, default [, file]]): the profile entry, or the
// default; without a file, the user profile.
EvalValue Getini(const BuiltinCall& c) {
  char b0[kNumberTextCap], b1[kNumberTextCap], b2[kNumberTextCap], b3[kNumberTextCap];
  std::string_view section = Text(c, 0, b0), key = Text(c, 1, b1), def = Text(c, 2, b2);
  if (c.Has(3))
    return Out(c, GetPrivateProfileString(section, key, def, std::string(Text(c, 3, b3))));
  return Out(c, GetProfileString(section, key, def));
}

// INLIST(value, v1, ..., vn): the position of the first vi equal to the
// value (as "=" compares), 0 when none is.
EvalValue Inlist(const BuiltinCall& c) {
  for (int i = 1; i < c.count; ++i) {
    if (c.Has(i) && CompareValues(c.args[0], c.args[i]) == 0) return EvalValue::Long(i);
  }
  return EvalValue::Long(0);
}

// INRANGE(number, low, high): 1 when low <= number <= high, compared as
// numbers.
EvalValue Inrange(const BuiltinCall& c) {
  EvalValue v = AsNumber(c.args[0]), lo = AsNumber(c.args[1]), hi = AsNumber(c.args[2]);
  return EvalValue::Long(CompareValues(v, lo) >= 0 && CompareValues(v, hi) <= 0);
}

// INSTRING(sub, text [, step [, start]]): searches `text` for `sub` at the
// positions start, start + step, ... (a negative step searches backwards;
// start defaults to 1, or to the last position for a negative step) and
// returns the step number of the first hit, (position - 1) / |step| + 1,
// which is the position itself for step 1; 0 when there is none or `sub` is
// empty. A step of 0 is taken as 1.
EvalValue Instring(const BuiltinCall& c) {
  char b0[kNumberTextCap], b1[kNumberTextCap];
  std::string_view sub = Text(c, 0, b0), text = Text(c, 1, b1);
  int64_t step = c.Has(2) ? Long(c, 2) : 1;
  if (step == 0) step = 1;
  int64_t len = static_cast<int64_t>(text.size()), n = static_cast<int64_t>(sub.size());
  if (n == 0 || n > len) return EvalValue::Long(0);
  int64_t last = len - n + 1;  // last 1-based position where sub fits
  int64_t pos = c.Has(3) ? Long(c, 3) : (step > 0 ? 1 : last);
  if (step > 0) {
    if (pos < 1) pos = 1;
    if (step == 1) {
      // The common case: one library search.
      if (pos > last) return EvalValue::Long(0);
      size_t hit = text.find(sub, static_cast<size_t>(pos - 1));
      return EvalValue::Long(hit == std::string_view::npos ? 0 : static_cast<int32_t>(hit + 1));
    }
    for (; pos <= last; pos += step) {
      if (text.compare(static_cast<size_t>(pos - 1), static_cast<size_t>(n), sub) == 0) {
        return EvalValue::Long(static_cast<int32_t>((pos - 1) / step + 1));
      }
    }
  } else {
    if (pos > last) pos = last;
    for (; pos >= 1; pos += step) {
      if (text.compare(static_cast<size_t>(pos - 1), static_cast<size_t>(n), sub) == 0) {
        return EvalValue::Long(static_cast<int32_t>((pos - 1) / -step + 1));
      }
    }
  }
  return EvalValue::Long(0);
}

// INT(number): the integer part, truncated toward zero.
EvalValue Int(const BuiltinCall& c) {
  EvalValue v = AsNumber(c.args[0]);
  switch (v.kind) {
    case EvalKind::Long:
      return v;
    case EvalKind::Decimal:
      *c.dec = *v.d;
      c.dec->Truncate(0);
      return EvalValue::Dec(c.dec);
    default: {
      double t = std::trunc(v.r);
      if (t >= INT32_MIN && t <= INT32_MAX) return EvalValue::Long(static_cast<int32_t>(t));
      return EvalValue::Real(t);
    }
  }
}

// LEFT(text [, length]): the text without leading spaces, padded or cut to
// `length` (the text's own length by default).
EvalValue Left(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  int64_t n = LengthArg(c, 1, static_cast<int64_t>(t.size()));
  std::string_view core = TrimLeft(t, kSpaces);
  if (static_cast<int64_t>(core.size()) > n) core = core.substr(0, static_cast<size_t>(n));
  c.scratch->assign(core);
  c.scratch->resize(static_cast<size_t>(n), ' ');
  return EvalValue::Text(*c.scratch);
}

// LEN(text): the number of characters (a STRING variable's declared length).
EvalValue Len(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  return EvalValue::Long(static_cast<int32_t>(Text(c, 0, buf).size()));
}

// LOG10(number), LOGE(number): logarithms; 0 for a number not above 0.
EvalValue Log10(const BuiltinCall& c) {
  return Math(std::log10, c);
}
EvalValue Loge(const BuiltinCall& c) {
  return Math(std::log, c);
}

// PATH([file]): the current directory; given a file, the folder that holds
// it. LONGPATH([file]) and SHORTPATH([file]): the file's full path (the
// current directory when omitted); names are never shortened here.
EvalValue Path(const BuiltinCall& c) {
  std::string p;
  if (!c.Has(0)) return Out(c, CurrentDirectory(&p).ok() ? p : std::string());
  char buf[kNumberTextCap];
  if (!AbsolutePath(std::string(Text(c, 0, buf)), &p).ok()) return Out(c, {});
  return Out(c, std::filesystem::path(p).parent_path().string());
}
EvalValue Longpath(const BuiltinCall& c) {
  std::string p;
  if (!c.Has(0)) return Out(c, CurrentDirectory(&p).ok() ? p : std::string());
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  if (t.empty()) return Out(c, {});
  return Out(c, CanonicalPath(std::string(t), &p).ok() ? p : std::string());
}

// Case mapping through a 256-entry table. When the locale's table is the
// plain ASCII one (no letters above 127 declared), the mapping is done with
// arithmetic instead, which the compiler can vectorise: UPPER over a long
// description is the heart of a quick-find filter.
struct CaseTable {
  const std::array<uint8_t, 256>* table;
  bool ascii;
};

CaseTable MakeCaseTable(const std::array<uint8_t, 256>& table, char from, int shift) {
  bool ascii = true;
  for (int c = 0; c < 256; ++c) {
    int expected = (c >= from && c <= from + 25) ? c + shift : c;
    if (table[static_cast<size_t>(c)] != expected) ascii = false;
  }
  return {&table, ascii};
}

EvalValue MapCase(const BuiltinCall& c, const CaseTable& map, char from, char shift) {
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  c.scratch->resize(t.size());
  char* out = c.scratch->data();
  if (map.ascii) {
    for (size_t i = 0; i < t.size(); ++i) {
      char ch = t[i];
      out[i] = static_cast<unsigned char>(ch - from) < 26 ? static_cast<char>(ch + shift) : ch;
    }
  } else {
    const auto& table = *map.table;
    for (size_t i = 0; i < t.size(); ++i)
      out[i] = static_cast<char>(table[static_cast<unsigned char>(t[i])]);
  }
  return EvalValue::Text(*c.scratch);
}

// LOWER(text), UPPER(text): through the locale's case tables.
EvalValue Lower(const BuiltinCall& c) {
  static const CaseTable map = MakeCaseTable(Locale().lower, 'A', 32);
  return MapCase(c, map, 'A', 32);
}
EvalValue Upper(const BuiltinCall& c) {
  static const CaseTable map = MakeCaseTable(Locale().upper, 'a', -32);
  return MapCase(c, map, 'a', -32);
}

// Posts 1016 (the pattern as detail) for a regular expression that gave
// up at the match limit: 0 would claim "no match" where the search could
// not decide.
void PostMatchLimit(bool limit_hit, std::string_view pattern) {
  if (limit_hit) PostError(kRuntimeMatchLimit, pattern);
}

// MATCH(text, pattern [, mode]): 1 when the text matches (match.h), else 0.
EvalValue MatchFn(const BuiltinCall& c) {
  char b0[kNumberTextCap], b1[kNumberTextCap];
  std::string_view pattern = Text(c, 1, b1);
  bool limit_hit = false;
  const bool matched = Match(Text(c, 0, b0), pattern, Long(c, 2), &limit_hit);
  PostMatchLimit(limit_hit, pattern);
  return EvalValue::Long(matched ? 1 : 0);
}

// MEMORY(n): the physical memory free now, in bytes, at most 2147483647.
// The argument is accepted and ignored.
EvalValue Memory(const BuiltinCall&) {
  long pages = sysconf(_SC_AVPHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  double bytes =
      pages > 0 && size > 0 ? static_cast<double>(pages) * static_cast<double>(size) : 0.0;
  return EvalValue::Long(bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes));
}

// NULL(x): 1 when x is null. Bound variables carry no null state, so 0.
EvalValue Null(const BuiltinCall&) {
  return EvalValue::Long(0);
}

// NUMERIC(x): 1 when x is a number, or a text that is one number as a whole.
EvalValue Numeric(const BuiltinCall& c) {
  if (c.args[0].IsNumber()) return EvalValue::Long(1);
  return EvalValue::Long(IsNumericText(c.args[0].s) ? 1 : 0);
}

// QUOTE(text, flag): the text with every "'" doubled, so that it can be
// written inside a string constant; a non-zero flag doubles "<" and "{" too.
EvalValue Quote(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  bool all = Long(c, 1) != 0;
  c.scratch->clear();
  for (char ch : t) {
    c.scratch->push_back(ch);
    if (ch == '\'' || (all && (ch == '<' || ch == '{'))) c.scratch->push_back(ch);
  }
  return EvalValue::Text(*c.scratch);
}

// RANDOM(low, high): a random integer from low to high inclusive (the bounds
// in either order).
EvalValue Random(const BuiltinCall& c) {
  thread_local std::mt19937 rng{std::random_device{}()};
  int32_t lo = Long(c, 0), hi = Long(c, 1);
  if (lo > hi) std::swap(lo, hi);
  std::uniform_int_distribution<int32_t> dist(lo, hi);
  return EvalValue::Long(dist(rng));
}

// RIGHT(text [, length]): the text without trailing spaces, right-aligned in
// `length` characters (the text's own length by default); a longer text
// keeps its rightmost characters.
EvalValue Right(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  int64_t n = LengthArg(c, 1, static_cast<int64_t>(t.size()));
  std::string_view core = TrimRight(t, kSpaces);
  if (static_cast<int64_t>(core.size()) > n)
    core = core.substr(core.size() - static_cast<size_t>(n));
  c.scratch->assign(static_cast<size_t>(n) - core.size(), ' ');
  c.scratch->append(core);
  return EvalValue::Text(*c.scratch);
}

// ROUND(number, order): the number rounded to the nearest multiple of
// `order` (0.01 for cents), halves away from zero, computed in decimal so
// that ROUND(2.675, .01) is 2.68; an order of 0 leaves the number as is.
EvalValue Round(const BuiltinCall& c) {
  auto dec = [](const EvalValue& v, Decimal* out) {
    EvalValue n = AsNumber(v);
    if (n.kind == EvalKind::Long) return *out = Decimal::FromLong(n.l), true;
    if (n.kind == EvalKind::Decimal) return *out = *n.d, true;
    return Decimal::FromDouble(n.r, out);
  };
  Decimal value, order, quotient;
  if (!dec(c.args[0], &value) || !dec(c.args[1], &order)) {
    double v = Real(c, 0), o = Real(c, 1);
    return EvalValue::Real(o == 0.0 ? v : std::round(v / o) * o);
  }
  if (order.IsZero()) {
    *c.dec = value;
    return EvalValue::Dec(c.dec);
  }
  order = order.Abs();
  if (!Decimal::Divide(value, order, &quotient)) return EvalValue::Real(Real(c, 0));
  quotient.Round(0);
  if (!Decimal::Multiply(quotient, order, c.dec)) return EvalValue::Real(Real(c, 0));
  return EvalValue::Dec(c.dec);
}

// SQL(): a condition meant only for a server-side filter; evaluated here it
// lets everything through (1).
EvalValue Sql(const BuiltinCall&) {
  return EvalValue::Long(1);
}

// SQRT(number): the square root; 0 for a negative number.
EvalValue Sqrt(const BuiltinCall& c) {
  return Math(std::sqrt, c);
}

// STRPOS(text, pattern [, mode]): the position of the first match of the
// regular expression (match.h) in the text, 0 when none; a non-zero mode
// ignores case.
EvalValue Strpos(const BuiltinCall& c) {
  char b0[kNumberTextCap], b1[kNumberTextCap];
  std::string_view pattern = Text(c, 1, b1);
  bool limit_hit = false;
  const int at = RegexPosition(Text(c, 0, b0), pattern, Long(c, 2) != 0, &limit_hit);
  PostMatchLimit(limit_hit, pattern);
  return EvalValue::Long(at);
}

// SUB(text, start, length): `length` characters from position `start`
// (1-based; a negative start counts from the end, -1 being the last
// character; 0 is taken as 1), cut to the text.
EvalValue Sub(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  int64_t len = static_cast<int64_t>(t.size());
  int64_t start = Long(c, 1), count = Long(c, 2);
  if (start < 0) start = len + start + 1;
  if (start < 1) start = 1;
  if (count <= 0 || start > len) return Out(c, {});
  if (count > len - start + 1) count = len - start + 1;
  return Out(c, t.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
}

// TODAY(): the standard date today.
EvalValue Today(const BuiltinCall&) {
  return EvalValue::Long(TODAY());
}

// UNQUOTE(text): undoes QUOTE: "''", "<<" and "{{" each become one character.
EvalValue Unquote(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  c.scratch->clear();
  for (size_t i = 0; i < t.size(); ++i) {
    c.scratch->push_back(t[i]);
    if ((t[i] == '\'' || t[i] == '<' || t[i] == '{') && i + 1 < t.size() && t[i + 1] == t[i]) ++i;
  }
  return EvalValue::Text(*c.scratch);
}

// VAL(text): the code of the first character, 0 for an empty text.
EvalValue Val(const BuiltinCall& c) {
  char buf[kNumberTextCap];
  std::string_view t = Text(c, 0, buf);
  return EvalValue::Long(t.empty() ? 0 : static_cast<unsigned char>(t[0]));
}

constexpr ResultKind L = ResultKind::Long;
constexpr ResultKind R = ResultKind::Real;
constexpr ResultKind S = ResultKind::String;
constexpr ResultKind N = ResultKind::None;

constexpr BuiltinInfo kBuiltins[] = {
    {"ABS", 1, 1, R, 17, Abs},          {"ACOS", 1, 1, R, 29, Acos},
    {"AGE", 1, 2, S, 41, Age},          {"ALL", 1, 2, S, 5, All},
    {"ASIN", 1, 1, R, 28, Asin},        {"ATAN", 1, 1, R, 30, Atan},
    {"BAND", 2, 2, L, 31, Band},        {"BOR", 2, 2, L, 32, Bor},
    {"BSHIFT", 2, 2, L, 34, Bshift},    {"BXOR", 2, 2, L, 33, Bxor},
    {"CENTER", 1, 2, S, 6, Center},     {"CHOOSE", 1, 25, S, 42, Choose},
    {"CHR", 1, 1, S, 7, Chr},           {"CLIP", 1, 1, S, 4, Clip},
    {"CLOCK", 0, 0, L, 36, Clock},      {"COS", 1, 1, R, 26, Cos},
    {"DATE", 3, 3, L, 37, Date},        {"DAY", 1, 1, L, 38, Day},
    {"DEFORMAT", 1, 2, S, 8, Deformat}, {"FORMAT", 2, 2, S, 9, Format},
    {"GETINI", 2, 4, S, 44, Getini},    {"INLIST", 3, 26, L, 43, Inlist},
    {"INRANGE", 3, 3, L, 18, Inrange},  {"INSTRING", 2, 4, L, 3, Instring},
    {"INT", 1, 1, L, 19, Int},          {"LEFT", 1, 2, S, 10, Left},
    {"LEN", 1, 1, L, 11, Len},          {"LOG10", 1, 1, R, 21, Log10},
    {"LOGE", 1, 1, R, 20, Loge},        {"LONGPATH", 0, 1, S, 50, Longpath},
    {"LOWER", 1, 1, S, 12, Lower},      {"MATCH", 2, 3, L, 45, MatchFn},
    {"MEMORY", 1, 1, L, 1, Memory},     {"MONTH", 1, 1, L, 39, Month},
    {"NULL", 1, 1, L, 46, Null},        {"NUMERIC", 1, 1, L, 13, Numeric},
    {"PATH", 0, 1, S, 49, Path},        {"QUOTE", 2, 2, S, 52, Quote},
    {"RANDOM", 2, 2, L, 22, Random},    {"RIGHT", 1, 2, S, 14, Right},
    {"ROUND", 2, 2, R, 23, Round},      {"SHORTPATH", 0, 1, S, 51, Longpath},
    {"SIN", 1, 1, R, 25, Sin},          {"SQL", 0, 0, N, 47, Sql},
    {"SQRT", 1, 1, R, 24, Sqrt},        {"STRPOS", 2, 3, L, 48, Strpos},
    {"SUB", 3, 3, S, 2, Sub},           {"TAN", 1, 1, R, 27, Tan},
    {"TODAY", 0, 0, L, 35, Today},      {"UNQUOTE", 1, 1, S, 53, Unquote},
    {"UPPER", 1, 1, S, 15, Upper},      {"VAL", 1, 1, L, 16, Val},
    {"YEAR", 1, 1, L, 40, Year},
};

}  // namespace

std::span<const BuiltinInfo> Builtins() {
  return kBuiltins;
}

const BuiltinInfo* FindBuiltin(std::string_view name) {
  if (name.size() > 9) return nullptr;
  char upper[9];
  for (size_t i = 0; i < name.size(); ++i) upper[i] = AsciiUpper(name[i]);
  std::string_view key(upper, name.size());
  auto it = std::lower_bound(std::begin(kBuiltins), std::end(kBuiltins), key,
                             [](const BuiltinInfo& b, std::string_view k) { return b.name < k; });
  return it != std::end(kBuiltins) && it->name == key ? &*it : nullptr;
}

}  // namespace qzr
