// The expression tokenizer: one pass over the source, one token at a time.
// Owns nothing beyond its position; the names it resolves belong to the
// caller's evaluator context, so it runs on that context's thread.

#include "runtime/evaluator/eval_tokenizer.h"

#include <charconv>

#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"

namespace qzr {
namespace {

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAlnum(char c) {
  return IsLetter(c) || IsDigit(c);
}

int DigitValue(char c) {
  c = AsciiUpper(c);
  if (IsDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

void Tokenizer::Next(Token* t) {
  t->number = EvalValue();
  t->str.clear();
  t->picture = false;
  t->op = kOpNone;
  t->entry = NameEntry();
  while (pos_ < src_.size() &&
         (src_[pos_] == ' ' || src_[pos_] == '\t' || src_[pos_] == '\r' || src_[pos_] == '\n')) {
    ++pos_;
  }
  t->pos = static_cast<uint32_t>(pos_);
  if (done_ || pos_ >= src_.size()) {
    t->kind = TokenKind::End;
    t->text = {};
    return;
  }
  char c = src_[pos_];
  if (IsLetter(c) || c == '_' || c == '?') return Name(t);
  if (IsDigit(c) || c == '.') return Number(t);
  if (c == '\'') return StringConstant(t);
  if (c == '@') return Picture(t);
  t->kind = TokenKind::Operator;
  switch (c) {
    case '+':
      t->op = kOpAdd;
      break;
    case '-':
      t->op = kOpSubtract;
      break;
    case '*':
      t->op = kOpMultiply;
      break;
    case '/':
      t->op = kOpDivide;
      break;
    case '^':
      t->op = kOpPower;
      break;
    case '&':
      t->op = kOpConcat;
      break;
    case '=':
      t->op = kOpEqual;
      break;
    case '<':
      t->op = kOpLess;
      break;
    case '>':
      t->op = kOpGreater;
      break;
    case '~':
      t->op = kOpNot;
      break;
    case ',':
      t->op = kOpComma;
      break;
    case ':':
      t->op = kOpColon;
      break;
    case '%':
      t->op = kOpModulus;
      break;
    case '(':
      t->kind = TokenKind::LParen;
      break;
    case ')':
      t->kind = TokenKind::RParen;
      break;
    case '[':
      t->kind = TokenKind::LBracket;
      break;
    case ']':
      t->kind = TokenKind::RBracket;
      break;
    default:
      t->kind = TokenKind::Error;
      t->text = src_.substr(pos_, 1);
      done_ = true;
      return;
  }
  t->text = src_.substr(pos_, 1);
  ++pos_;
}

void Tokenizer::Name(Token* t) {
  size_t start = pos_++;
  while (pos_ < src_.size() && (IsAlnum(src_[pos_]) || src_[pos_] == '_' || src_[pos_] == ':'))
    ++pos_;
  if (pos_ < src_.size() && (src_[pos_] == '#' || src_[pos_] == '$' || src_[pos_] == '"')) ++pos_;
  t->text = src_.substr(start, pos_ - start);
  if (!names_ || !names_->Resolve(t->text, &t->entry)) {
    PostError(kRuntimeNotBound, t->text);
    posted_ = true;
    done_ = true;
    t->kind = TokenKind::Error;
    return;
  }
  switch (t->entry.kind) {
    case NameEntry::Kind::Variable:
      t->kind = TokenKind::Variable;
      break;
    case NameEntry::Kind::Operator:
      t->kind = TokenKind::Operator;
      t->op = t->entry.op;
      break;
    default:
      t->kind = TokenKind::Function;
  }
}

// Numbers. A run of letters and digits whose last letter is H, O or B is a
// hexadecimal, octal or binary LONG (at most 8, 11 and 31 significant
// digits; an octal value above 32 bits is refused rather than truncated).
// Otherwise the number is decimal: digits, an optional fraction, an
// optional exponent (also accepted straight after the integer part, 1E5).
// A decimal integer that fits a LONG is a LONG; a larger one is a REAL, so
// 2147483648 keeps its value instead of wrapping to a negative LONG.
void Tokenizer::Number(Token* t) {
  size_t start = pos_;
  auto fail = [&] {
    t->kind = TokenKind::Error;
    t->text = src_.substr(start, pos_ - start);
    done_ = true;
  };
  size_t run_end = pos_;
  while (run_end < src_.size() && IsAlnum(src_[run_end])) ++run_end;
  std::string_view run = src_.substr(start, run_end - start);
  if (!run.empty()) {
    char last = AsciiUpper(run.back());
    int base = last == 'H' ? 16 : last == 'O' ? 8 : last == 'B' ? 2 : 0;
    if (base != 0) {
      pos_ = run_end;
      std::string_view digits = run.substr(0, run.size() - 1);
      while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
      size_t max_digits = base == 16 ? 8 : base == 8 ? 11 : 31;
      if (digits.size() > max_digits) return fail();
      uint64_t value = 0;
      for (char d : digits) {
        int v = DigitValue(d);
        if (v >= base) return fail();
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(v);
      }
      if (value > 0xFFFFFFFFull) return fail();
      if (pos_ < src_.size() && (src_[pos_] == '.' || src_[pos_] == '_')) return fail();
      t->kind = TokenKind::Number;
      t->number = EvalValue::Long(static_cast<int32_t>(static_cast<uint32_t>(value)));
      t->text = run;
      return;
    }
  }
  // Decimal.
  size_t i = start;
  while (i < src_.size() && IsDigit(src_[i])) ++i;
  bool integral = true;
  size_t int_digits = i - start;
  size_t frac_digits = 0;
  if (i < src_.size() && src_[i] == '.') {
    integral = false;
    ++i;
    while (i < src_.size() && IsDigit(src_[i])) ++i, ++frac_digits;
  }
  if (int_digits + frac_digits == 0) {
    pos_ = i;
    return fail();
  }
  if (i < src_.size() && (src_[i] == 'E' || src_[i] == 'e')) {
    size_t j = i + 1;
    if (j < src_.size() && (src_[j] == '+' || src_[j] == '-')) ++j;
    if (j < src_.size() && IsDigit(src_[j])) {
      while (j < src_.size() && IsDigit(src_[j])) ++j;
      integral = false;
      i = j;
    }
  }
  pos_ = i;
  if (pos_ < src_.size() && (IsAlnum(src_[pos_]) || src_[pos_] == '_' || src_[pos_] == '.')) {
    while (pos_ < src_.size() && IsAlnum(src_[pos_])) ++pos_;
    return fail();
  }
  t->text = src_.substr(start, pos_ - start);
  t->kind = TokenKind::Number;
  const char* first = t->text.data();
  const char* end = first + t->text.size();
  if (integral) {
    int32_t v = 0;
    auto [p, ec] = std::from_chars(first, end, v);
    if (ec == std::errc() && p == end) {
      t->number = EvalValue::Long(v);
      return;
    }
  }
  double d = 0.0;
  auto [p, ec] = std::from_chars(first, end, d);
  if (ec == std::errc::result_out_of_range) {
    // A value too small to represent reads as 0; one too large is refused.
    size_t epos = t->text.find_first_of("eE");
    bool negative_exponent =
        epos != std::string_view::npos && epos + 1 < t->text.size() && t->text[epos + 1] == '-';
    if (!negative_exponent) return fail();
    d = 0.0;
  }
  (void)p;
  t->number = EvalValue::Real(d);
}

void Tokenizer::StringConstant(Token* t) {
  size_t start = pos_++;
  for (;;) {
    if (pos_ >= src_.size()) {
      t->kind = TokenKind::Error;
      t->text = src_.substr(start);
      done_ = true;
      return;
    }
    char c = src_[pos_++];
    if (c == '\'') {
      if (pos_ < src_.size() && src_[pos_] == '\'') {
        t->str += '\'';
        ++pos_;
        continue;
      }
      break;
    }
    t->str += c;
  }
  t->kind = TokenKind::String;
  t->text = src_.substr(start, pos_ - start);
}

// A picture runs to the next "," or ")" that is neither inside parentheses
// of its own (@N(9.2)) nor inside a "~" currency text. Trailing blanks are
// not part of it. One whose own parentheses or "~" are left open is an
// error.
void Tokenizer::Picture(Token* t) {
  size_t start = pos_;
  int depth = 0;
  bool quoted = false;
  for (; pos_ < src_.size(); ++pos_) {
    char c = src_[pos_];
    if (c == '~') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth == 0) break;
      --depth;
    } else if (c == ',' && depth == 0) {
      break;
    }
  }
  std::string_view text = src_.substr(start, pos_ - start);
  if (depth != 0 || quoted) {
    // An unclosed "(" or "~" would swallow whatever follows the picture
    // once the expression is written back; such a picture is invalid anyway.
    t->kind = TokenKind::Error;
    t->text = text;
    done_ = true;
    return;
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  t->kind = TokenKind::String;
  t->picture = true;
  t->text = text;
  t->str.assign(text);
}

}  // namespace qzr
