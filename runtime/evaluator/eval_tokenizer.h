// The tokenizer of the expression evaluator.
//
// Splits an expression text into tokens, skipping white space before each:
// names (looked up through a NameResolver), numbers, string and picture
// constants, operators and brackets. A name that resolves to nothing posts
// runtime error 1011 with the name as its detail. A Tokenizer is used by one
// thread at a time.

#ifndef QZR_RUNTIME_EVAL_TOKENIZER_H_
#define QZR_RUNTIME_EVAL_TOKENIZER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/evaluator/eval_names.h"
#include "runtime/evaluator/eval_value.h"

namespace qzr {

enum class TokenKind : uint8_t {
  Variable = 0,
  Operator = 1,
  LParen = 2,
  RParen = 3,
  String = 4,
  LBracket = 5,
  RBracket = 6,
  End = 7,
  Error = 8,
  Number = 9,
  Function = 10,
};

// Operator codes, shared by tokens and tree nodes.
enum OpCode : uint8_t {
  kOpNone = 0,
  kOpPower = 2,    // ^
  kOpMultiply = 3, // *
  kOpDivide = 4,   // /
  kOpModulus = 5,  // %
  kOpNegate = 6,   // unary -
  kOpAdd = 7,      // +
  kOpSubtract = 8, // -
  kOpConcat = 9,   // &
  kOpEqual = 10,   // =
  kOpNotEqual = 11,// <>
  kOpLess = 12,    // <
  kOpGreater = 13, // >
  kOpLessEqual = 14,    // <=
  kOpGreaterEqual = 15, // >=
  kOpNot = 16,     // NOT ~
  kOpAnd = 17,
  kOpOr = 18,
  kOpXor = 19,
  kOpComma = 20,
  kOpColon = 21,
};

inline constexpr int kRuntimeBadExpression = 1010;  // "Invalid expression for EVALUATE"
inline constexpr int kRuntimeNotBound = 1011;       // "BIND has not been called for"
inline constexpr int kRuntimeMismatchedBind = 1012; // "Mismatched PUSHBIND/POPBIND"
inline constexpr int kRuntimeNoEvaluator = 1013;    // "No evaluator exists"
inline constexpr int kRuntimeUnknownContext = 1014; // "Unknown evaluation context"
inline constexpr int kRuntimeNotOmittable = 1015;   // "Not-omittable parameter of built-in function is omitted"
inline constexpr int kRuntimeMatchLimit = 1016;     // "Regular expression exceeds the match limit"

struct Token {
  TokenKind kind = TokenKind::End;
  uint8_t op = kOpNone;   // Operator
  uint32_t pos = 0;       // offset of the token's first character
  std::string_view text;  // the token as written
  EvalValue number;       // Number: a LONG or a REAL
  std::string str;        // String: the text with '' undoubled; a picture as written
  bool picture = false;   // String: an @ picture constant
  NameEntry entry;        // Variable, Function
};

class Tokenizer {
 public:
  Tokenizer(std::string_view source, const NameResolver* names) : src_(source), names_(names) {}

  // The next token; after End or Error it keeps returning End.
  void Next(Token* token);

  // True iff the tokenizer posted an error (1011).
  bool posted_error() const { return posted_; }

 private:
  void Name(Token* t);
  void Number(Token* t);
  void StringConstant(Token* t);
  void Picture(Token* t);

  std::string_view src_;
  size_t pos_ = 0;
  const NameResolver* names_;
  bool posted_ = false;
  bool done_ = false;
};

}  // namespace qzr

#endif  // QZR_RUNTIME_EVAL_TOKENIZER_H_
