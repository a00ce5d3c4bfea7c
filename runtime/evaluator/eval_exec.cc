// Evaluation of a parsed expression tree.
//
// Arithmetic rules (the operands of an arithmetic operator are read as
// numbers; a text gives its leading number, or 0):
//  - LONG with LONG is computed exactly in 64 bits; a result that does not
//    fit a LONG becomes a decimal, so nothing wraps;
//  - a decimal with a LONG or a decimal is computed exactly in the decimal
//    accumulator; anything with a REAL is computed in REAL;
//  - "/" of two LONGs is a LONG when it divides exactly, else a REAL;
//  - division or remainder by zero gives 0, the language's convention, with
//    no error;
//  - "^" of LONGs with a non-negative exponent is exact while it fits a
//    LONG; otherwise it is computed in REAL.
// AND and OR evaluate their right operand only when it can change the
// result; CHOOSE evaluates only the argument it picks.
//
// Evaluation writes only into the tree's own node buffers, so a tree is
// evaluated by one thread at a time; different trees may run in parallel.

#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/eval_tree.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

EvalValue LongOrDecimal(int64_t v, Decimal* dec) {
  if (v >= INT32_MIN && v <= INT32_MAX) return EvalValue::Long(static_cast<int32_t>(v));
  *dec = Decimal::FromLong(v);
  return EvalValue::Dec(dec);
}

Decimal ToDecimal(const EvalValue& v) {
  return v.kind == EvalKind::Decimal ? *v.d : Decimal::FromLong(v.l);
}

EvalValue RealArith(uint8_t op, double a, double b) {
  switch (op) {
    case kOpAdd:
      return EvalValue::Real(a + b);
    case kOpSubtract:
      return EvalValue::Real(a - b);
    case kOpMultiply:
      return EvalValue::Real(a * b);
    case kOpDivide:
      return EvalValue::Real(b == 0.0 ? 0.0 : a / b);
    case kOpModulus:
      return EvalValue::Real(b == 0.0 ? 0.0 : std::fmod(a, b));
    case kOpPower:
      return EvalValue::Real(std::pow(a, b));
  }
  return EvalValue::Long(0);
}

EvalValue LongArith(uint8_t op, int64_t a, int64_t b, Decimal* dec) {
  switch (op) {
    case kOpAdd:
      return LongOrDecimal(a + b, dec);
    case kOpSubtract:
      return LongOrDecimal(a - b, dec);
    case kOpMultiply:
      return LongOrDecimal(a * b, dec);
    case kOpDivide:
      if (b == 0) return EvalValue::Long(0);
      if (a % b == 0) return LongOrDecimal(a / b, dec);
      return EvalValue::Real(static_cast<double>(a) / static_cast<double>(b));
    case kOpModulus:
      return b == 0 ? EvalValue::Long(0) : LongOrDecimal(a % b, dec);
    case kOpPower: {
      if (b < 0) return RealArith(op, static_cast<double>(a), static_cast<double>(b));
      int64_t result = 1;
      for (int64_t i = 0; i < b; ++i) {
        result *= a;
        if (result > INT32_MAX || result < INT32_MIN) {
          return RealArith(op, static_cast<double>(a), static_cast<double>(b));
        }
        if (result == 0 || result == 1) break;  // stays put; avoids long loops
        if (result == -1) {
          result = (b - i - 1) % 2 == 0 ? -1 : 1;
          break;
        }
      }
      return EvalValue::Long(static_cast<int32_t>(result));
    }
  }
  return EvalValue::Long(0);
}

EvalValue DecimalArith(uint8_t op, const Decimal& a, const Decimal& b, Decimal* dec) {
  bool ok = false;
  switch (op) {
    case kOpAdd:
      ok = Decimal::Add(a, b, dec);
      break;
    case kOpSubtract:
      ok = Decimal::Subtract(a, b, dec);
      break;
    case kOpMultiply:
      ok = Decimal::Multiply(a, b, dec);
      break;
    case kOpDivide:
      if (b.IsZero()) return EvalValue::Long(0);
      ok = Decimal::Divide(a, b, dec);
      break;
    case kOpModulus: {
      if (b.IsZero()) return EvalValue::Long(0);
      Decimal q, m;
      ok = Decimal::Divide(a, b, &q);
      if (ok) {
        q.Truncate(0);
        ok = Decimal::Multiply(q, b, &m) && Decimal::Subtract(a, m, dec);
      }
      break;
    }
    default:
      return RealArith(op, a.ToDouble(), b.ToDouble());
  }
  // Beyond 32 integer digits the decimal accumulator gives up; REAL keeps
  // the magnitude.
  if (!ok) return RealArith(op, a.ToDouble(), b.ToDouble());
  return EvalValue::Dec(dec);
}

}  // namespace

EvalValue ExprTree::Evaluate() {
  if (root < 0) return EvalValue::Long(0);
  if (context && !context->alive.load(std::memory_order_acquire)) {
    // The names this tree was parsed with belong to a context that is gone.
    PostError(kRuntimeUnknownContext);
    return EvalValue::Long(0);
  }
  return Eval(root);
}

EvalValue ExprTree::Eval(int32_t index) {
  if (index < 0) return EvalValue::Omitted();
  Node& n = nodes[index];
  switch (n.type) {
    case NodeType::Constant:
      return n.kind == ResultKind::String ? EvalValue::Text(n.text) : n.value;
    case NodeType::Variable:
      return EvalVariable(n);
    case NodeType::Unary:
      return EvalUnary(n);
    case NodeType::Binary:
      return EvalBinary(n);
    case NodeType::Call:
      return EvalCall(n);
    case NodeType::Slice:
    case NodeType::Index:
      return EvalSlice(n);
  }
  return EvalValue::Long(0);
}

EvalValue ExprTree::EvalVariable(Node& n) {
  switch (n.var->ComputeClass()) {
    case ValueClass::Integer:
      return EvalValue::Long(n.var->GetLong());
    case ValueClass::Real:
      return EvalValue::Real(n.var->GetReal());
    case ValueClass::Decimal:
      n.dec = n.var->GetDecimal();
      return EvalValue::Dec(&n.dec);
    default:
      break;
  }
  if (n.var_text) return EvalValue::Text(n.var_text->TextView());
  // Read through GetText; grows the scratch only for a longer value.
  if (n.scratch.size() < n.scratch.capacity()) n.scratch.resize(n.scratch.capacity());
  size_t need = n.var->GetText(n.scratch.data(), n.scratch.size());
  if (need > n.scratch.size()) {
    n.scratch.resize(need);
    need = n.var->GetText(n.scratch.data(), n.scratch.size());
  }
  return EvalValue::Text(std::string_view(n.scratch.data(), need));
}

EvalValue ExprTree::EvalUnary(Node& n) {
  EvalValue v = Eval(n.a);
  if (n.op == kOpNot) return EvalValue::Long(IsTrue(v) ? 0 : 1);
  v = AsNumber(v);
  switch (v.kind) {
    case EvalKind::Long:
      return LongOrDecimal(-static_cast<int64_t>(v.l), &n.dec);
    case EvalKind::Real:
      return EvalValue::Real(-v.r);
    case EvalKind::Decimal:
      n.dec = *v.d;
      n.dec.Negate();
      return EvalValue::Dec(&n.dec);
    default:
      return EvalValue::Long(0);
  }
}

EvalValue ExprTree::EvalBinary(Node& n) {
  switch (n.op) {
    case kOpAnd: {
      if (!IsTrue(Eval(n.a))) return EvalValue::Long(0);
      return EvalValue::Long(IsTrue(Eval(n.b)) ? 1 : 0);
    }
    case kOpOr: {
      if (IsTrue(Eval(n.a))) return EvalValue::Long(1);
      return EvalValue::Long(IsTrue(Eval(n.b)) ? 1 : 0);
    }
    case kOpXor: {
      bool a = IsTrue(Eval(n.a));
      bool b = IsTrue(Eval(n.b));
      return EvalValue::Long(a != b ? 1 : 0);
    }
    default:
      break;
  }
  EvalValue a = Eval(n.a);
  EvalValue b = Eval(n.b);
  switch (n.op) {
    case kOpEqual:
      return EvalValue::Long(CompareValues(a, b) == 0);
    case kOpNotEqual:
      return EvalValue::Long(CompareValues(a, b) != 0);
    case kOpLess:
      return EvalValue::Long(CompareValues(a, b) < 0);
    case kOpGreater:
      return EvalValue::Long(CompareValues(a, b) > 0);
    case kOpLessEqual:
      return EvalValue::Long(CompareValues(a, b) <= 0);
    case kOpGreaterEqual:
      return EvalValue::Long(CompareValues(a, b) >= 0);
    case kOpConcat: {
      char abuf[kNumberTextCap], bbuf[kNumberTextCap];
      std::string_view at = NumberText(a, abuf);
      std::string_view bt = NumberText(b, bbuf);
      n.scratch.assign(at);
      n.scratch.append(bt);
      return EvalValue::Text(n.scratch);
    }
    default:
      break;
  }
  a = AsNumber(a);
  b = AsNumber(b);
  if (a.kind == EvalKind::Real || b.kind == EvalKind::Real) {
    return RealArith(n.op, AsReal(a), AsReal(b));
  }
  if (a.kind == EvalKind::Decimal || b.kind == EvalKind::Decimal) {
    return DecimalArith(n.op, ToDecimal(a), ToDecimal(b), &n.dec);
  }
  return LongArith(n.op, a.l, b.l, &n.dec);
}

EvalValue ExprTree::EvalCall(Node& n) {
  const int32_t* arg_nodes = args.data() + n.first_arg;
  if (n.builtin && n.builtin->number == kBuiltinChoose) {
    // CHOOSE(n, v1, ..., vk): the n-th value, the last one when n is out of
    // range; CHOOSE(condition) alone is 1 or 0.
    EvalValue selector = Eval(arg_nodes[0]);
    if (n.argc == 1) return EvalValue::Long(IsTrue(selector) ? 1 : 0);
    int32_t pick = AsLong(selector);
    if (pick < 1 || pick > n.argc - 1) pick = n.argc - 1;
    EvalValue v = Eval(arg_nodes[pick]);
    return v.kind == EvalKind::Omitted ? EvalValue::Text({}) : v;
  }
  // Only the arguments given are constructed: default-initialising all
  // kMaxCallArgs values would cost more than a typical call itself.
  alignas(EvalValue) unsigned char raw[sizeof(EvalValue) * kMaxCallArgs];
  EvalValue* values = reinterpret_cast<EvalValue*>(raw);
  for (int i = 0; i < n.argc; ++i) new (&values[i]) EvalValue(Eval(arg_nodes[i]));
  static_assert(std::is_trivially_destructible_v<EvalValue>);
  if (n.builtin) {
    BuiltinCall call{values, n.argc, &n.scratch, &n.dec};
    return n.builtin->fn(call);
  }
  EvalValue v = n.procedure->fn(values, n.argc, &n.scratch);
  switch (n.procedure->result) {
    case ResultKind::Long:
      return EvalValue::Long(AsLong(v));
    case ResultKind::Real:
      return EvalValue::Real(AsReal(v));
    case ResultKind::String:
      if (v.kind == EvalKind::String) return v;
      return EvalValue::Text(AsText(v, &n.scratch));
    default:
      return v;
  }
}

// s[i] is the i-th character; s[i : j] the characters i to j. Positions are
// 1-based; a range reaching outside the text is cut to the text, and an
// empty range gives an empty text rather than an error.
EvalValue ExprTree::EvalSlice(Node& n) {
  EvalValue base = Eval(n.a);
  int32_t start = AsLong(Eval(n.b));
  int32_t end = n.type == NodeType::Slice ? AsLong(Eval(n.c)) : start;
  std::string_view text;
  char buf[kNumberTextCap];
  text = NumberText(base, buf);
  int64_t len = static_cast<int64_t>(text.size());
  int64_t first = start < 1 ? 1 : start;
  int64_t last = end > len ? len : end;
  std::string_view part = first > last ? std::string_view() : text.substr(first - 1, last - first + 1);
  if (base.kind == EvalKind::String) return EvalValue::Text(part);
  n.scratch.assign(part);  // `buf` dies here
  return EvalValue::Text(n.scratch);
}

}  // namespace qzr
