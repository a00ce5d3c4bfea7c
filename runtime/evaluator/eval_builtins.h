// The built-in functions of the expression evaluator.
//
// One constant table, registered in every name table: name, argument counts,
// result kind, the built-in's number, and the function that computes it.
// Each function takes its evaluated arguments (an omitted optional argument
// has kind Omitted) and may write its text result into the calling node's
// scratch string, or its decimal result into the node's accumulator, so a
// call allocates nothing once the scratch has grown to its working size.
// The table is constant; the functions keep no state except RANDOM's
// per-thread generator and MATCH's shared compiled pattern (match.h), so
// they are safe from any thread.

#ifndef QZR_RUNTIME_EVAL_BUILTINS_H_
#define QZR_RUNTIME_EVAL_BUILTINS_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/evaluator/eval_value.h"
#include "runtime/values/decimal.h"

namespace qzr {

struct BuiltinCall {
  const EvalValue* args;
  int count;             // arguments given, omitted ones included
  std::string* scratch;  // the node's text buffer
  Decimal* dec;          // the node's decimal accumulator

  bool Has(int i) const { return i < count && args[i].kind != EvalKind::Omitted; }
};

using BuiltinFn = EvalValue (*)(const BuiltinCall& call);

struct BuiltinInfo {
  std::string_view name;
  uint8_t min_args;
  uint8_t max_args;
  ResultKind result;
  uint8_t number;
  BuiltinFn fn;
};

// Built-in numbers the evaluator treats specially.
inline constexpr uint8_t kBuiltinChoose = 42;
inline constexpr uint8_t kBuiltinFormat = 9;
inline constexpr uint8_t kBuiltinDeformat = 8;
inline constexpr uint8_t kBuiltinInstring = 3;
inline constexpr uint8_t kBuiltinMatch = 45;
inline constexpr uint8_t kBuiltinNull = 46;
inline constexpr uint8_t kBuiltinUpper = 15;
inline constexpr uint8_t kBuiltinSub = 2;
inline constexpr uint8_t kBuiltinSql = 47;
inline constexpr uint8_t kBuiltinRandom = 22;

// The whole table, in name order.
std::span<const BuiltinInfo> Builtins();

// The built-in called `name` (compared without case), or nullptr.
const BuiltinInfo* FindBuiltin(std::string_view name);

}  // namespace qzr

#endif  // QZR_RUNTIME_EVAL_BUILTINS_H_
