// The precedence parser: tokens to an expression tree.
//
// Levels, lowest first; every binary level is left-associative:
//   1 OR XOR   2 AND   3 NOT (prefix)   4 = <> < > <= >=   5 &   6 + -
//   7 * / %   8 ^   9 unary + -   10 primary [slice]
// Unary minus binds tighter than "^", so -2^2 is 4.
//
// The parser builds into a tree it owns until it succeeds; on failure the
// partial tree is dropped and the name tables are untouched. Recursion is
// bounded (kMaxNesting, kMaxTreeDepth), so no input can exhaust the stack.
// One parser per call; it runs on the thread whose names it resolves.

#include <string>

#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/eval_tree.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

class Parser {
 public:
  Parser(std::string_view text, const NameResolver* names, ExprTree* tree)
      : tokens_(text, names), tree_(tree) {}

  bool Run() {
    Advance();
    int32_t root = ParseOr();
    if (root < 0) return Fail();
    // Text after a complete expression (a stray ")") is an error rather than
    // something silently ignored.
    if (cur_.kind != TokenKind::End) return Fail();
    tree_->root = root;
    return true;
  }

 private:
  // Posts 1010 at the current token unless an error was already posted.
  bool Fail() {
    if (!posted_ && !tokens_.posted_error()) {
      PostError(kRuntimeBadExpression, "at pos " + std::to_string(cur_.pos));
      posted_ = true;
    }
    return false;
  }

  void Advance() { tokens_.Next(&cur_); }

  bool IsOp(uint8_t op) const { return cur_.kind == TokenKind::Operator && cur_.op == op; }

  int32_t Add(Node&& n) {
    tree_->nodes.push_back(std::move(n));
    return static_cast<int32_t>(tree_->nodes.size() - 1);
  }

  uint16_t DepthOf(int32_t i) const { return i < 0 ? 0 : tree_->nodes[i].depth; }

  // Sets the node's height from its operands; -1 when it gets too deep.
  int32_t Finish(Node&& n) {
    uint16_t d = DepthOf(n.a);
    if (DepthOf(n.b) > d) d = DepthOf(n.b);
    if (DepthOf(n.c) > d) d = DepthOf(n.c);
    if (n.type == NodeType::Call) {
      for (int i = 0; i < n.argc; ++i) {
        uint16_t ad = DepthOf(tree_->args[n.first_arg + i]);
        if (ad > d) d = ad;
      }
    }
    if (d + 1 > kMaxTreeDepth) return -1;
    n.depth = static_cast<uint16_t>(d + 1);
    return Add(std::move(n));
  }

  int32_t Binary(uint8_t op, int32_t left, int32_t right, uint32_t pos) {
    Node n;
    n.type = NodeType::Binary;
    n.op = op;
    n.a = left;
    n.b = right;
    n.pos = pos;
    ResultKind lk = tree_->nodes[left].kind, rk = tree_->nodes[right].kind;
    switch (op) {
      case kOpConcat:
        n.kind = ResultKind::String;
        break;
      case kOpAdd:
      case kOpSubtract:
      case kOpMultiply:
      case kOpModulus:
        n.kind = lk == ResultKind::Long && rk == ResultKind::Long ? ResultKind::Long : ResultKind::Real;
        break;
      case kOpDivide:
      case kOpPower:
        n.kind = ResultKind::Real;
        break;
      default:
        n.kind = ResultKind::Long;
    }
    return Finish(std::move(n));
  }

  int32_t ParseOr() {
    // Every recursion into a full expression passes here, so this bounds the
    // parser's own stack.
    if (++nesting_ > kMaxNesting) return -1;
    int32_t left = ParseAnd();
    while (left >= 0 && (IsOp(kOpOr) || IsOp(kOpXor))) {
      uint8_t op = cur_.op;
      uint32_t pos = cur_.pos;
      Advance();
      int32_t right = ParseAnd();
      left = right < 0 ? -1 : Binary(op, left, right, pos);
    }
    --nesting_;
    return left;
  }

  int32_t ParseAnd() {
    int32_t left = ParseNot();
    while (left >= 0 && IsOp(kOpAnd)) {
      uint32_t pos = cur_.pos;
      Advance();
      int32_t right = ParseNot();
      left = right < 0 ? -1 : Binary(kOpAnd, left, right, pos);
    }
    return left;
  }

  int32_t ParseNot() {
    bool negate = false;
    uint32_t pos = cur_.pos;
    while (IsOp(kOpNot)) {
      negate = !negate;
      Advance();
    }
    int32_t operand = ParseComparison();
    if (operand < 0 || !negate) return operand;
    Node n;
    n.type = NodeType::Unary;
    n.op = kOpNot;
    n.a = operand;
    n.pos = pos;
    return Finish(std::move(n));
  }

  // Two adjacent operator tokens may make one comparison: <> <= >= =< =>
  // ~= ~< ~>. Returns the comparison code, or kOpNone when the current token
  // starts none.
  uint8_t TakeComparison() {
    if (cur_.kind != TokenKind::Operator) return kOpNone;
    uint8_t first = cur_.op;
    if (first != kOpEqual && first != kOpLess && first != kOpGreater && first != kOpNot) {
      return kOpNone;
    }
    Advance();
    uint8_t second = cur_.kind == TokenKind::Operator ? cur_.op : uint8_t{kOpNone};
    uint8_t combined = kOpNone;
    switch (first) {
      case kOpLess:
        combined = second == kOpGreater ? kOpNotEqual : second == kOpEqual ? kOpLessEqual : kOpNone;
        break;
      case kOpGreater:
        combined = second == kOpEqual ? kOpGreaterEqual : kOpNone;
        break;
      case kOpEqual:
        combined = second == kOpLess ? kOpLessEqual : second == kOpGreater ? kOpGreaterEqual : kOpNone;
        break;
      case kOpNot:
        combined = second == kOpEqual     ? kOpNotEqual
                   : second == kOpLess    ? kOpGreaterEqual
                   : second == kOpGreater ? kOpLessEqual
                                          : kOpNone;
        // A lone "~" here is no comparison: report the token after it.
        if (combined == kOpNone) return kOpNot;
        break;
    }
    if (combined != kOpNone) {
      Advance();
      return combined;
    }
    return first;
  }

  int32_t ParseComparison() {
    int32_t left = ParseConcat();
    while (left >= 0) {
      uint32_t pos = cur_.pos;
      uint8_t op = TakeComparison();
      if (op == kOpNone) break;
      if (op == kOpNot) return -1;
      int32_t right = ParseConcat();
      left = right < 0 ? -1 : Binary(op, left, right, pos);
    }
    return left;
  }

  int32_t ParseConcat() {
    int32_t left = ParseAdditive();
    while (left >= 0 && IsOp(kOpConcat)) {
      uint32_t pos = cur_.pos;
      Advance();
      int32_t right = ParseAdditive();
      left = right < 0 ? -1 : Binary(kOpConcat, left, right, pos);
    }
    return left;
  }

  int32_t ParseAdditive() {
    int32_t left = ParseMultiplicative();
    while (left >= 0 && (IsOp(kOpAdd) || IsOp(kOpSubtract))) {
      uint8_t op = cur_.op;
      uint32_t pos = cur_.pos;
      Advance();
      int32_t right = ParseMultiplicative();
      left = right < 0 ? -1 : Binary(op, left, right, pos);
    }
    return left;
  }

  int32_t ParseMultiplicative() {
    int32_t left = ParsePower();
    while (left >= 0 && (IsOp(kOpMultiply) || IsOp(kOpDivide) || IsOp(kOpModulus))) {
      uint8_t op = cur_.op;
      uint32_t pos = cur_.pos;
      Advance();
      int32_t right = ParsePower();
      left = right < 0 ? -1 : Binary(op, left, right, pos);
    }
    return left;
  }

  int32_t ParsePower() {
    int32_t left = ParseUnary();
    while (left >= 0 && IsOp(kOpPower)) {
      uint32_t pos = cur_.pos;
      Advance();
      int32_t right = ParseUnary();
      left = right < 0 ? -1 : Binary(kOpPower, left, right, pos);
    }
    return left;
  }

  int32_t ParseUnary() {
    bool negate = false;
    uint32_t pos = cur_.pos;
    while (IsOp(kOpAdd) || IsOp(kOpSubtract)) {
      if (cur_.op == kOpSubtract) negate = !negate;
      Advance();
    }
    int32_t operand = ParsePrimary();
    if (operand < 0 || !negate) return operand;
    Node n;
    n.type = NodeType::Unary;
    n.op = kOpNegate;
    n.a = operand;
    n.pos = pos;
    n.kind = tree_->nodes[operand].kind == ResultKind::Long ? ResultKind::Long : ResultKind::Real;
    return Finish(std::move(n));
  }

  int32_t ParsePrimary() {
    int32_t node = -1;
    Node n;
    n.pos = cur_.pos;
    switch (cur_.kind) {
      case TokenKind::Number:
        n.type = NodeType::Constant;
        n.value = cur_.number;
        n.kind = cur_.number.kind == EvalKind::Long ? ResultKind::Long : ResultKind::Real;
        n.text.assign(cur_.text);
        Advance();
        node = Finish(std::move(n));
        break;
      case TokenKind::String:
        n.type = NodeType::Constant;
        n.kind = ResultKind::String;
        n.text = std::move(cur_.str);
        n.picture = cur_.picture;
        Advance();
        node = Finish(std::move(n));
        break;
      case TokenKind::Variable:
        node = Variable();
        break;
      case TokenKind::Function:
        node = Call();
        break;
      case TokenKind::LParen:
        Advance();
        node = ParseOr();
        if (node < 0) return -1;
        if (cur_.kind != TokenKind::RParen) return -1;
        Advance();
        break;
      default:
        return -1;
    }
    if (node < 0 || cur_.kind != TokenKind::LBracket) return node;
    // A slice [start : end] or an index [n].
    Node s;
    s.pos = cur_.pos;
    s.a = node;
    s.kind = ResultKind::String;
    Advance();
    s.b = ParseOr();
    if (s.b < 0) return -1;
    if (IsOp(kOpColon)) {
      Advance();
      s.c = ParseOr();
      if (s.c < 0) return -1;
      s.type = NodeType::Slice;
    } else {
      s.type = NodeType::Index;
    }
    if (cur_.kind != TokenKind::RBracket) return -1;
    Advance();
    return Finish(std::move(s));
  }

  int32_t Variable() {
    Node n;
    n.type = NodeType::Variable;
    n.pos = cur_.pos;
    n.text.assign(cur_.text);
    n.var = cur_.entry.variable;
    if (!n.var) return -1;
    switch (n.var->ComputeClass()) {
      case ValueClass::Integer:
        n.kind = ResultKind::Long;
        break;
      case ValueClass::Real:
      case ValueClass::Decimal:
        n.kind = ResultKind::Real;
        break;
      default:
        n.kind = ResultKind::String;
        // Strings are read in place, except the OLE strings, whose storage
        // is not text; those (and variants) are read through GetText.
        if (n.var->Type() != TypeCode::OLESTRING1 && n.var->Type() != TypeCode::OLESTRING2) {
          n.var_text = dynamic_cast<const UfoString*>(n.var);
        }
        if (!n.var_text) n.scratch.reserve(n.var->Size() + 1 > 64 ? n.var->Size() + 1 : 64);
    }
    Advance();
    return Finish(std::move(n));
  }

  int32_t Call() {
    Node n;
    n.type = NodeType::Call;
    n.pos = cur_.pos;
    n.text.assign(cur_.text);
    int min_args = 0, max_args = 0;
    if (cur_.entry.kind == NameEntry::Kind::Builtin && cur_.entry.builtin) {
      n.builtin = cur_.entry.builtin;
      min_args = n.builtin->min_args;
      max_args = n.builtin->max_args;
      n.kind = n.builtin->result == ResultKind::None ? ResultKind::Long : n.builtin->result;
    } else if (cur_.entry.procedure) {
      n.procedure = cur_.entry.procedure;
      min_args = n.procedure->min_args;
      max_args = n.procedure->max_args > kMaxCallArgs ? kMaxCallArgs : n.procedure->max_args;
      n.kind = n.procedure->result == ResultKind::None ? ResultKind::Long : n.procedure->result;
    } else {
      return -1;
    }
    Advance();
    int32_t args[kMaxCallArgs];
    int count = 0;
    if (cur_.kind != TokenKind::LParen) {
      // A function without arguments may be written without parentheses:
      // TODAY is TODAY().
      if (min_args != 0) return -1;
    } else {
      Advance();
      if (cur_.kind != TokenKind::RParen) {
        for (;;) {
          if (count == max_args) return -1;  // one argument too many
          int32_t arg = -1;
          if (!IsOp(kOpComma) && cur_.kind != TokenKind::RParen) {
            arg = ParseOr();
            if (arg < 0) return -1;
          } else if (count < min_args) {
            PostError(kRuntimeNotOmittable, n.text);
            posted_ = true;
            return -1;
          }
          args[count++] = arg;
          if (IsOp(kOpComma)) {
            Advance();
            continue;
          }
          if (cur_.kind == TokenKind::RParen) break;
          return -1;
        }
      }
      if (count < min_args) return -1;
      Advance();  // the ")"
    }
    n.argc = static_cast<uint8_t>(count);
    n.first_arg = static_cast<uint32_t>(tree_->args.size());
    tree_->args.insert(tree_->args.end(), args, args + count);
    if (n.kind == ResultKind::String) {
      // Text built-ins mostly transform their first argument: size the
      // buffer for a bound variable there, so evaluation need not grow it.
      size_t want = 64;
      if (count > 0 && args[0] >= 0 && tree_->nodes[args[0]].type == NodeType::Variable) {
        size_t size = tree_->nodes[args[0]].var->Size() + 1;
        if (size > want && size <= 65536) want = size;
      }
      n.scratch.reserve(want);
    }
    return Finish(std::move(n));
  }

  Tokenizer tokens_;
  ExprTree* tree_;
  Token cur_;
  bool posted_ = false;
  int nesting_ = 0;
};

}  // namespace

std::unique_ptr<ExprTree> ParseTree(std::string_view text, const NameResolver* names) {
  auto tree = std::make_unique<ExprTree>();
  Parser parser(text, names, tree.get());
  if (!parser.Run()) return nullptr;  // the partial tree goes with it
  return tree;
}

}  // namespace qzr
