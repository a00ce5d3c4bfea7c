// The expression evaluator: per-thread name tables, BIND and its companions,
// EVALUATE, and parsed expressions that are evaluated many times.
//
// Each thread that evaluates expressions has an evaluator context, created by
// CreateEvaluator() (the runtime does so for every thread it starts) and
// destroyed by DestroyEvaluator() or at thread exit. A context holds a stack
// of name tables: BIND adds a name to the current one, PUSHBIND opens a new
// one and POPBIND closes it. Names are compared without regard to case, as
// the rest of the language treats names. Built-in functions and the operator
// words AND, OR, XOR and NOT are known in every table; a bound name may hide
// a built-in of the same name, but not an operator word.
//
// Lookup walks the tables from the current one down; PUSHBIND(true) starts a
// clean table that hides everything bound before it until the matching
// POPBIND.
//
// Failures post runtime errors (read with ERRORCODE()): 1010 a syntax error
// (detail "at pos N"), 1011 an unknown name (detail the name), 1012 POPBIND
// without PUSHBIND, 1013 no evaluator context on this thread, 1014 a parsed
// expression whose context has been destroyed, 1015 an empty argument that
// cannot be omitted (detail the function).
//
// Threads: contexts are per thread and never shared. A parsed Expression
// may be handed to another thread, but is evaluated by one thread at a time;
// the variables it names must stay alive and be used by that thread only.

#ifndef QZR_RUNTIME_EVALUATOR_H_
#define QZR_RUNTIME_EVALUATOR_H_

#include <memory>
#include <string>
#include <string_view>

#include "runtime/evaluator/eval_names.h"
#include "runtime/evaluator/eval_value.h"

namespace qzr {

class UFO;
class ExprTree;

// ---- Contexts.

// Creates this thread's evaluator context (nothing when it has one).
void CreateEvaluator();
// Destroys this thread's context; expressions parsed in it then fail to
// evaluate with 1014.
void DestroyEvaluator();
bool HasEvaluator();

// ---- Names. Each returns true on success; on failure it posts an error
// (1013 without a context) or returns false for a name that can never be
// referenced (not a valid name, or an operator word).

// Binds `name` to a variable in the current table, replacing an earlier
// binding of that name in the same table. The variable must outlive every
// expression parsed while the binding was visible.
bool BIND(std::string_view name, UFO* variable);
// Binds `name` to a procedure (see BoundProcedure).
bool BIND(std::string_view name, BoundProcedure procedure);
// Removes the innermost visible binding of `name`; false when there is none.
bool UNBIND(std::string_view name);
// Opens a new name table; with `clean` the new table hides all bindings made
// before it.
bool PUSHBIND(bool clean = false);
// Closes the current table. Without a matching PUSHBIND posts 1012.
bool POPBIND();

// ---- Evaluation.

// Parses and evaluates `expression` in this thread's context and returns its
// value as text (numbers as EvalValue's NumberText writes them). On failure
// returns "" with the error posted. The thread's posted error is cleared
// first, so ERRORCODE() afterwards is 0 on success.
std::string EVALUATE(std::string_view expression);

// A parsed expression: parse once, evaluate many times without allocating
// (after the first evaluations have sized its text buffers).
class Expression {
 public:
  ~Expression();
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  // Parses `text` with this thread's names. Returns nullptr with the error
  // posted (1010, 1011, 1013 or 1015). Clears the posted error first.
  static std::unique_ptr<Expression> Parse(std::string_view text);

  // The value; texts and decimals in it stay valid until the next Evaluate.
  EvalValue Evaluate();
  // True iff the value is true (non-zero, or a non-blank text).
  bool EvaluateBool() { return IsTrue(Evaluate()); }
  // The value as text (allocates).
  std::string EvaluateText();

  // The static result kind of the whole expression.
  ResultKind Kind() const;

  // True iff evaluating it again over the same values gives the same answer
  // and does nothing else: it calls no bound procedure (which may do
  // anything, a file operation too) and draws no random number. The other
  // built-ins and bound variables only read values.
  bool Repeatable() const;

  // The expression written back as text, in a normal form: operators spaced
  // (" + ", " AND "), arguments separated by ", ", slices as "[a : b]", and
  // parentheses only where precedence needs them.
  std::string Text() const;

  // The expression as an SQL condition for drivers that filter on a server:
  // names lose their "PRE:" prefix, NOT becomes "NOT ", a prefix test
  // (SUB(x, 1, n) = 'abc', x[1 : n] = 'abc' or MATCH(x, 'abc*', 1)) becomes
  // "x LIKE 'abc%'", case-free comparisons use UPPER, sound-alike ones
  // SOUNDEX, NULL(x) becomes "x IS NULL" and NOT NULL(x) "x IS NOT NULL".
  // Forms with no SQL counterpart are written as calls of the same name.
  std::string SqlText() const;
  // The same for a sort-order item: a leading "-" becomes " DESC".
  std::string SqlOrderText() const;

 private:
  explicit Expression(std::unique_ptr<ExprTree> tree);
  std::unique_ptr<ExprTree> tree_;
};

}  // namespace qzr

#endif  // QZR_RUNTIME_EVALUATOR_H_
