// Values of the expression evaluator and the rules that combine them.
//
// An EvalValue is a LONG, a REAL, a decimal or a text. It does not own what
// it refers to: a text points into a constant of the parsed tree, into the
// storage of a bound variable, or into the scratch buffer of the tree node
// that produced it; a decimal points at such a node's accumulator. A value is
// therefore good until the next evaluation of the tree that produced it.
// This is what lets a parsed expression be evaluated without allocating.
//
// The functions here are pure; the locale tables they read are filled once
// and then only read, so they are safe from any thread.

#ifndef QZR_RUNTIME_EVAL_VALUE_H_
#define QZR_RUNTIME_EVAL_VALUE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/values/decimal.h"

namespace qzr {

// The kinds a value can have. Omitted marks an argument left empty in a
// call, `F(a, , c)`.
enum class EvalKind : uint8_t { Long, Real, Decimal, String, Omitted };

// The static result kind of a tree node or a built-in.
enum class ResultKind : uint8_t { Long, Real, String, None };

struct EvalValue {
  EvalKind kind = EvalKind::Long;
  int32_t l = 0;
  double r = 0.0;
  const Decimal* d = nullptr;
  std::string_view s;

  static EvalValue Long(int32_t v) {
    EvalValue e;
    e.l = v;
    return e;
  }
  // Non-finite reals become 0: the language has no text for them and a NaN
  // would make every comparison false.
  static EvalValue Real(double v);
  static EvalValue Dec(const Decimal* v) {
    EvalValue e;
    e.kind = EvalKind::Decimal;
    e.d = v;
    return e;
  }
  static EvalValue Text(std::string_view v) {
    EvalValue e;
    e.kind = EvalKind::String;
    e.s = v;
    return e;
  }
  static EvalValue Omitted() {
    EvalValue e;
    e.kind = EvalKind::Omitted;
    return e;
  }
  bool IsNumber() const { return kind == EvalKind::Long || kind == EvalKind::Real || kind == EvalKind::Decimal; }
};

// Room for the text of any number (a decimal's 66 characters and a margin).
inline constexpr size_t kNumberTextCap = 80;

// Writes a number's text into `buf` (cap kNumberTextCap) and returns it:
// LONG in decimal, a decimal in its canonical form, a REAL with up to 15
// significant digits and no trailing zeros. A text value is returned as is.
std::string_view NumberText(const EvalValue& v, char* buf);

// The value as text; numbers are written into `scratch` (whose capacity is
// kept, so repeated calls do not allocate).
std::string_view AsText(const EvalValue& v, std::string* scratch);

// A number read from text. Returns true iff the whole text (leading and
// trailing spaces aside) is one decimal number: an optional sign, digits with
// an optional point, an optional exponent. On success *out is a LONG when the
// number is an integer that fits, else a REAL.
bool ParseNumericText(std::string_view text, EvalValue* out);

// The leading number of a text as arithmetic sees it: at most the first 40
// characters are read, what follows the number is ignored, and a text with
// no number is 0. Integers that fit are LONG, others REAL.
EvalValue TextToNumber(std::string_view text);

// The value as a number (texts through TextToNumber, omitted as 0).
EvalValue AsNumber(const EvalValue& v);
double AsReal(const EvalValue& v);
// Truncated toward zero; out of range gives -2147483648.
int32_t AsLong(const EvalValue& v);

// True iff the value counts as true: a non-zero number, or a text that is not
// empty or all spaces.
bool IsTrue(const EvalValue& v);

// Compares two values, -1, 0 or 1:
//  - two texts compare as texts;
//  - two numbers numerically (exactly between LONG and decimal values);
//  - a number and a text numerically when the text is a number as a whole,
//    else as texts, the number written out.
int CompareValues(const EvalValue& a, const EvalValue& b);

}  // namespace qzr

#endif  // QZR_RUNTIME_EVAL_VALUE_H_
