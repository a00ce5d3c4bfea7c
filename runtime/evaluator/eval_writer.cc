// Writing an expression tree back as text, and as an SQL condition.
//
// The text form is normal rather than a copy of the source: operators are
// spaced, and parentheses appear only where precedence or left
// associativity needs them, so parsing the written text gives the same tree.
// Number constants keep the form they were written in (0FFH stays 0FFH).
// The writers only read the tree; safe alongside other readers.

#include <string>

#include "runtime/evaluator/eval_tree.h"

namespace qzr {
namespace {

// Binding strength of a node, as the parser's levels.
int Level(const Node& n) {
  switch (n.type) {
    case NodeType::Unary:
      return n.op == kOpNot ? 3 : 9;
    case NodeType::Binary:
      switch (n.op) {
        case kOpOr:
        case kOpXor:
          return 1;
        case kOpAnd:
          return 2;
        case kOpConcat:
          return 5;
        case kOpAdd:
        case kOpSubtract:
          return 6;
        case kOpMultiply:
        case kOpDivide:
        case kOpModulus:
          return 7;
        case kOpPower:
          return 8;
        default:
          return 4;  // comparisons
      }
    default:
      return 10;
  }
}

const char* OperatorText(uint8_t op) {
  switch (op) {
    case kOpPower: return " ^ ";
    case kOpMultiply: return " * ";
    case kOpDivide: return " / ";
    case kOpModulus: return " % ";
    case kOpAdd: return " + ";
    case kOpSubtract: return " - ";
    case kOpConcat: return " & ";
    case kOpEqual: return " = ";
    case kOpNotEqual: return " <> ";
    case kOpLess: return " < ";
    case kOpGreater: return " > ";
    case kOpLessEqual: return " <= ";
    case kOpGreaterEqual: return " >= ";
    case kOpAnd: return " AND ";
    case kOpOr: return " OR ";
    case kOpXor: return " XOR ";
  }
  return " ? ";
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '\'';
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
}

class Writer {
 public:
  Writer(const ExprTree& tree, bool sql) : t_(tree), sql_(sql) {}

  void Write(int32_t i, std::string& out, bool as_argument = false) {
    if (i < 0) return;
    const Node& n = t_.nodes[i];
    switch (n.type) {
      case NodeType::Constant:
        if (n.kind == ResultKind::String) {
          if (n.picture && !sql_) {
            // A picture ends only at "," or ")": anywhere but as an argument
            // it needs brackets of its own to end where it did.
            if (!as_argument) out += '(';
            out += n.text;
            if (!as_argument) out += ')';
          } else {
            AppendQuoted(out, n.text);
          }
        } else if (sql_) {
          char buf[kNumberTextCap];
          out += NumberText(n.value, buf);
        } else {
          out += n.text;
        }
        return;
      case NodeType::Variable:
        out += sql_ ? ColumnName(n.text) : std::string_view(n.text);
        return;
      case NodeType::Unary:
        if (n.op == kOpNot) {
          if (sql_ && IsNullTest(n.a)) {
            Write(t_.args[t_.nodes[n.a].first_arg], out);
            out += " IS NOT NULL";
            return;
          }
          out += "NOT ";
          // NOT NOT x would read back as x: keep the inner one bracketed.
          Operand(n.a, Level(t_.nodes[n.a]) <= 3 || sql_, out);
        } else {
          out += '-';
          Operand(n.a, Level(t_.nodes[n.a]) < 10, out);
        }
        return;
      case NodeType::Binary:
        return Binary(n, out);
      case NodeType::Call:
        return Call(n, out);
      case NodeType::Slice:
      case NodeType::Index:
        if (sql_) {
          out += "SUBSTR(";
          Write(n.a, out);
          out += ", ";
          Write(n.b, out);
          out += ", ";
          if (n.type == NodeType::Index) {
            out += '1';
          } else {
            out += '(';
            Write(n.c, out);
            out += ") - (";
            Write(n.b, out);
            out += ") + 1";
          }
          out += ')';
          return;
        }
        Operand(n.a, Level(t_.nodes[n.a]) < 10, out);
        out += '[';
        Write(n.b, out);
        if (n.type == NodeType::Slice) {
          out += " : ";
          Write(n.c, out);
        }
        out += ']';
        return;
    }
  }

 private:
  void Operand(int32_t i, bool bracket, std::string& out) {
    if (bracket) out += '(';
    Write(i, out);
    if (bracket) out += ')';
  }

  void Binary(const Node& n, std::string& out) {
    int level = Level(n);
    if (sql_) {
      if (n.op == kOpEqual && PrefixTest(n, out)) return;
      if (n.op == kOpXor) {
        // No XOR in SQL: (a OR b) AND NOT (a AND b).
        out += "((";
        Write(n.a, out);
        out += ") OR (";
        Write(n.b, out);
        out += ")) AND NOT ((";
        Write(n.a, out);
        out += ") AND (";
        Write(n.b, out);
        out += "))";
        return;
      }
      if (n.op == kOpPower) {
        out += "POWER(";
        Write(n.a, out);
        out += ", ";
        Write(n.b, out);
        out += ')';
        return;
      }
    }
    Operand(n.a, Level(t_.nodes[n.a]) < level, out);
    out += sql_ && n.op == kOpConcat ? " || " : OperatorText(n.op);
    Operand(n.b, Level(t_.nodes[n.b]) <= level, out);
  }

  void Call(const Node& n, std::string& out) {
    const int32_t* args = t_.args.data() + n.first_arg;
    if (sql_ && n.builtin && SqlCall(n, args, out)) return;
    out += sql_ && n.builtin && n.builtin->number == kBuiltinSub ? std::string_view("SUBSTR")
                                                                  : std::string_view(n.text);
    out += '(';
    for (int i = 0; i < n.argc; ++i) {
      if (i > 0) out += ", ";
      Write(args[i], out, true);
    }
    out += ')';
  }

  // ---- SQL forms.

  static std::string_view ColumnName(std::string_view name) {
    size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
  }

  const Node* StringConstant(int32_t i) const {
    if (i < 0) return nullptr;
    const Node& n = t_.nodes[i];
    return n.type == NodeType::Constant && n.kind == ResultKind::String ? &n : nullptr;
  }

  bool LongConstant(int32_t i, int32_t* v) const {
    if (i < 0) return false;
    const Node& n = t_.nodes[i];
    if (n.type != NodeType::Constant || n.value.kind != EvalKind::Long) return false;
    *v = n.value.l;
    return true;
  }

  bool IsNullTest(int32_t i) const {
    const Node& n = t_.nodes[i];
    return n.type == NodeType::Call && n.builtin && n.builtin->number == kBuiltinNull && n.argc == 1 &&
           t_.args[n.first_arg] >= 0;
  }

  // A LIKE pattern text: `literal` with LIKE's own wildcards escaped away is
  // not portable, so texts holding % or _ are refused (the caller then
  // writes the general form).
  static bool LikeLiteral(std::string_view text, std::string& out) {
    for (char c : text) {
      if (c == '%' || c == '_') return false;
      out += c;
      if (c == '\'') out += '\'';
    }
    return true;
  }

  // SUB(x, 1, n) = 'abc' or x[1 : n] = 'abc' (either side), n the length of
  // 'abc': x LIKE 'abc%'.
  bool PrefixTest(const Node& n, std::string& out) {
    for (int side = 0; side < 2; ++side) {
      int32_t probe = side == 0 ? n.a : n.b;
      const Node* text = StringConstant(side == 0 ? n.b : n.a);
      if (!text) continue;
      const Node& p = t_.nodes[probe];
      int32_t subject = -1, start = 0, length = -1;
      if (p.type == NodeType::Call && p.builtin && p.builtin->number == kBuiltinSub && p.argc == 3) {
        const int32_t* a = t_.args.data() + p.first_arg;
        if (LongConstant(a[1], &start) && LongConstant(a[2], &length)) subject = a[0];
      } else if (p.type == NodeType::Slice) {
        int32_t end = 0;
        if (LongConstant(p.b, &start) && LongConstant(p.c, &end)) {
          subject = p.a;
          length = end - start + 1;
        }
      }
      if (subject < 0 || start != 1 || length != static_cast<int32_t>(text->text.size())) continue;
      std::string pattern;
      if (!LikeLiteral(text->text, pattern)) continue;
      Write(subject, out);
      out += " LIKE '";
      out += pattern;
      out += "%'";
      return true;
    }
    return false;
  }

  bool SqlCall(const Node& n, const int32_t* args, std::string& out) {
    switch (n.builtin->number) {
      case kBuiltinNull:
        if (n.argc != 1 || args[0] < 0) return false;
        Write(args[0], out);
        out += " IS NULL";
        return true;
      case kBuiltinInstring: {
        // INSTRING('abc', x[, 1[, 1]]): x LIKE '%abc%'.
        const Node* needle = StringConstant(args[0]);
        int32_t step = 1, start = 1;
        if (!needle || args[1] < 0) return false;
        if (n.argc > 2 && args[2] >= 0 && !LongConstant(args[2], &step)) return false;
        if (n.argc > 3 && args[3] >= 0 && !LongConstant(args[3], &start)) return false;
        if (step != 1 || start != 1) return false;
        std::string pattern;
        if (!LikeLiteral(needle->text, pattern)) return false;
        Operand(args[1], Level(t_.nodes[args[1]]) < 10, out);
        out += " LIKE '%";
        out += pattern;
        out += "%'";
        return true;
      }
      case kBuiltinMatch: {
        const Node* pattern = StringConstant(args[1]);
        int32_t mode = 0;
        if (n.argc > 2 && args[2] >= 0 && !LongConstant(args[2], &mode)) return false;
        if (!pattern || args[0] < 0) return false;
        bool no_case = (mode & 16) != 0;
        auto subject = [&] {
          if (no_case) out += "UPPER(";
          Write(args[0], out);
          if (no_case) out += ')';
        };
        switch (mode & 15) {
          case 0:
            subject();
            out += " = ";
            if (no_case) out += "UPPER(";
            AppendQuoted(out, pattern->text);
            if (no_case) out += ')';
            return true;
          case 1: {
            std::string like;
            for (char c : pattern->text) {
              if (c == '%' || c == '_') return false;
              like += c == '*' ? '%' : c == '?' ? '_' : c;
              if (c == '\'') like += '\'';
            }
            subject();
            out += " LIKE ";
            if (no_case) out += "UPPER(";
            out += '\'';
            out += like;
            out += '\'';
            if (no_case) out += ')';
            return true;
          }
          case 3:
            out += "SOUNDEX(";
            Write(args[0], out);
            out += ") = SOUNDEX(";
            AppendQuoted(out, pattern->text);
            out += ')';
            return true;
          default:
            return false;
        }
      }
      default:
        return false;
    }
  }

  const ExprTree& t_;
  bool sql_;
};

}  // namespace

std::string ExprTree::ToText() const {
  std::string out;
  Writer(*this, false).Write(root, out);
  return out;
}

std::string ExprTree::ToSql(bool order_item) const {
  std::string out;
  if (root < 0) return out;
  const Node& n = nodes[root];
  if (order_item && n.type == NodeType::Unary && n.op == kOpNegate) {
    Writer(*this, true).Write(n.a, out);
    out += " DESC";
    return out;
  }
  Writer(*this, true).Write(root, out);
  return out;
}

}  // namespace qzr
