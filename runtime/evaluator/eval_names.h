// What a name in an expression can stand for, and how the tokenizer asks.
//
// A name is a bound variable (a field object), a bound procedure, a built-in
// function or an operator word. The name tables that hold these live in the
// per-thread evaluator context (evaluator.cc); the tokenizer sees them only
// through NameResolver. Plain data; the thread rules are those of the owner.

#ifndef QZR_RUNTIME_EVAL_NAMES_H_
#define QZR_RUNTIME_EVAL_NAMES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/evaluator/eval_value.h"

namespace qzr {

class UFO;
struct BuiltinInfo;

// Most arguments a call may have (INLIST takes 26).
inline constexpr int kMaxCallArgs = 26;

// A procedure made known to expressions with BIND. The evaluator checks the
// argument count against min_args..max_args when it parses the call, and
// converts what `fn` returns to the declared result kind: a String result is
// the returned value as text, Long and Real results its number. `fn` gets the
// evaluated arguments (an omitted one has kind Omitted) and a scratch string
// it may use for the text it returns; the returned value must not refer to
// anything else that dies when `fn` returns. It runs on the evaluating
// thread.
struct BoundProcedure {
  ResultKind result = ResultKind::String;
  int min_args = 0;
  int max_args = 0;  // at most kMaxCallArgs
  std::function<EvalValue(const EvalValue* args, int count, std::string* scratch)> fn;
};

struct NameEntry {
  enum class Kind : uint8_t { Variable, Procedure, Builtin, Operator };
  Kind kind = Kind::Variable;
  UFO* variable = nullptr;
  std::shared_ptr<const BoundProcedure> procedure;
  const BuiltinInfo* builtin = nullptr;
  uint8_t op = 0;  // operator code of an operator word
};

class NameResolver {
 public:
  virtual ~NameResolver() = default;
  // Fills *out and returns true iff `name` is known.
  virtual bool Resolve(std::string_view name, NameEntry* out) const = 0;
};

}  // namespace qzr

#endif  // QZR_RUNTIME_EVAL_NAMES_H_
