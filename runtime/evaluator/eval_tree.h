// The parsed form of an expression: a tree of nodes kept in one vector.
//
// Nodes refer to their operands by index. Every node that produces a text or
// a decimal owns a scratch buffer for it; the buffers keep their capacity
// from one evaluation to the next, so once a tree has seen its longest
// values, evaluating it again allocates nothing. Constants, names and the
// bound objects are fixed at parse time.
//
// A tree is evaluated by one thread at a time (its scratch buffers are its
// state). The bound variables it refers to must outlive it; bound procedures
// are shared with the name table and stay alive with the tree.

#ifndef QZR_RUNTIME_EVAL_TREE_H_
#define QZR_RUNTIME_EVAL_TREE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/evaluator/eval_builtins.h"
#include "runtime/evaluator/eval_names.h"
#include "runtime/evaluator/eval_tokenizer.h"
#include "runtime/evaluator/eval_value.h"
#include "runtime/values/decimal.h"

namespace qzr {

class UFO;
class UfoString;

enum class NodeType : uint8_t { Constant, Variable, Unary, Binary, Call, Slice, Index };

struct Node {
  NodeType type = NodeType::Constant;
  uint8_t op = kOpNone;  // Unary: kOpNegate or kOpNot; Binary: the operator
  ResultKind kind = ResultKind::Long;
  uint8_t argc = 0;      // Call
  int32_t a = -1;        // Unary operand, Binary left, Slice/Index base
  int32_t b = -1;        // Binary right, Slice start, Index position
  int32_t c = -1;        // Slice end
  uint32_t first_arg = 0;  // Call: arguments at ExprTree::args[first_arg ..]; -1 omitted
  uint32_t pos = 0;        // source offset
  uint16_t depth = 1;      // height of the subtree

  EvalValue value;         // Constant: LONG or REAL
  std::string text;        // Constant: the text; Variable, Call: the name as written
  bool picture = false;    // Constant: an @ picture

  UFO* var = nullptr;                    // Variable
  const UfoString* var_text = nullptr;   // Variable of the string family read in place
  const BuiltinInfo* builtin = nullptr;  // Call of a built-in
  std::shared_ptr<const BoundProcedure> procedure;  // Call of a bound procedure

  std::string scratch;  // text results
  Decimal dec;          // decimal results
};

// Set false when the evaluator context a tree was parsed in is destroyed.
struct ContextLife {
  std::atomic<bool> alive{true};
};

class ExprTree {
 public:
  // Evaluates the whole tree. Allocation-free once scratch buffers are warm.
  EvalValue Evaluate();
  EvalValue Eval(int32_t index);

  std::string ToText() const;
  std::string ToSql(bool order_item) const;

  std::vector<Node> nodes;
  std::vector<int32_t> args;
  int32_t root = -1;
  std::shared_ptr<ContextLife> context;

 private:
  EvalValue EvalVariable(Node& n);
  EvalValue EvalUnary(Node& n);
  EvalValue EvalBinary(Node& n);
  EvalValue EvalCall(Node& n);
  EvalValue EvalSlice(Node& n);
};

// Deepest nesting the parser accepts; evaluation and writing recurse this
// deep, so the limit bounds their stack use whatever the input.
inline constexpr int kMaxTreeDepth = 256;
// Deepest nesting of parentheses, arguments and slices: each level costs the
// parser a handful of stack frames.
inline constexpr int kMaxNesting = 64;

// Parses `text`, looking names up in `names`. On failure returns nullptr,
// having posted 1010 ("at pos N"), 1011 (the name) or 1015 (the function).
std::unique_ptr<ExprTree> ParseTree(std::string_view text, const NameResolver* names);

}  // namespace qzr

#endif  // QZR_RUNTIME_EVAL_TREE_H_
