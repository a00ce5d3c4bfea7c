// Evaluator contexts, name tables and the public entry points.
//
// Each thread's context lives in a thread_local and dies with the thread;
// a context's liveness flag is shared with the trees parsed in it, so a
// tree that outlives its context reports 1014 instead of using stale names.

#include "runtime/evaluator/evaluator.h"

#include <map>
#include <vector>

#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"
#include "runtime/evaluator/eval_builtins.h"
#include "runtime/evaluator/eval_tree.h"

namespace qzr {
namespace {

struct CaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      char x = AsciiUpper(a[i]), y = AsciiUpper(b[i]);
      if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
  }
};

bool SameName(std::string_view a, std::string_view b) {
  return !CaseLess()(a, b) && !CaseLess()(b, a);
}

uint8_t OperatorWord(std::string_view name) {
  if (SameName(name, "AND")) return kOpAnd;
  if (SameName(name, "OR")) return kOpOr;
  if (SameName(name, "XOR")) return kOpXor;
  if (SameName(name, "NOT")) return kOpNot;
  return kOpNone;
}

// True iff the tokenizer would read `name` as one whole name.
bool IsValidName(std::string_view name) {
  if (name.empty()) return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!letter(name[0]) && name[0] != '_' && name[0] != '?') return false;
  for (size_t i = 1; i < name.size(); ++i) {
    char c = name[i];
    if (letter(c) || digit(c) || c == '_' || c == ':') continue;
    if (i + 1 == name.size() && (c == '#' || c == '$' || c == '"')) continue;
    return false;
  }
  return true;
}

struct Scope {
  std::map<std::string, NameEntry, CaseLess> names;
  bool clean = false;
};

class Context : public NameResolver {
 public:
  Context() : life(std::make_shared<ContextLife>()) { scopes.emplace_back(); }
  ~Context() override { life->alive.store(false, std::memory_order_release); }

  bool Resolve(std::string_view name, NameEntry* out) const override {
    if (uint8_t op = OperatorWord(name)) {
      out->kind = NameEntry::Kind::Operator;
      out->op = op;
      return true;
    }
    for (size_t i = scopes.size(); i-- > 0;) {
      auto it = scopes[i].names.find(name);
      if (it != scopes[i].names.end()) {
        *out = it->second;
        return true;
      }
      if (scopes[i].clean) break;
    }
    if (const BuiltinInfo* b = FindBuiltin(name)) {
      out->kind = NameEntry::Kind::Builtin;
      out->builtin = b;
      return true;
    }
    return false;
  }

  std::vector<Scope> scopes;
  std::shared_ptr<ContextLife> life;
};

thread_local std::unique_ptr<Context> t_context;

Context* Current() {
  if (!t_context) PostError(kRuntimeNoEvaluator);
  return t_context.get();
}

bool Bind(std::string_view name, NameEntry entry) {
  Context* ctx = Current();
  if (!ctx) return false;
  if (!IsValidName(name) || OperatorWord(name) != kOpNone) return false;
  ctx->scopes.back().names.insert_or_assign(std::string(name), std::move(entry));
  return true;
}

}  // namespace

void CreateEvaluator() {
  if (!t_context) t_context = std::make_unique<Context>();
}

void DestroyEvaluator() {
  t_context.reset();
}

bool HasEvaluator() {
  return t_context != nullptr;
}

bool BIND(std::string_view name, UFO* variable) {
  if (!variable) return false;
  NameEntry e;
  e.kind = NameEntry::Kind::Variable;
  e.variable = variable;
  return Bind(name, std::move(e));
}

bool BIND(std::string_view name, BoundProcedure procedure) {
  if (!procedure.fn || procedure.min_args < 0 || procedure.max_args > kMaxCallArgs ||
      procedure.min_args > procedure.max_args) {
    if (!HasEvaluator()) PostError(kRuntimeNoEvaluator);
    return false;
  }
  NameEntry e;
  e.kind = NameEntry::Kind::Procedure;
  e.procedure = std::make_shared<const BoundProcedure>(std::move(procedure));
  return Bind(name, std::move(e));
}

bool UNBIND(std::string_view name) {
  Context* ctx = Current();
  if (!ctx) return false;
  for (size_t i = ctx->scopes.size(); i-- > 0;) {
    auto it = ctx->scopes[i].names.find(name);
    if (it != ctx->scopes[i].names.end()) {
      ctx->scopes[i].names.erase(it);
      return true;
    }
    if (ctx->scopes[i].clean) break;
  }
  return false;
}

bool PUSHBIND(bool clean) {
  Context* ctx = Current();
  if (!ctx) return false;
  ctx->scopes.emplace_back();
  ctx->scopes.back().clean = clean;
  return true;
}

bool POPBIND() {
  Context* ctx = Current();
  if (!ctx) return false;
  if (ctx->scopes.size() <= 1) {
    PostError(kRuntimeMismatchedBind);
    return false;
  }
  ctx->scopes.pop_back();
  return true;
}

std::string EVALUATE(std::string_view expression) {
  auto parsed = Expression::Parse(expression);
  if (!parsed) return {};
  std::string value = parsed->EvaluateText();
  // A built-in that could not compute its value (a regular expression past
  // the match limit) fails the evaluation like a parse error does.
  if (ERRORCODE() == kRuntimeMatchLimit) return {};
  return value;
}

// ---- Expression.

Expression::Expression(std::unique_ptr<ExprTree> tree) : tree_(std::move(tree)) {}
Expression::~Expression() = default;

std::unique_ptr<Expression> Expression::Parse(std::string_view text) {
  ClearError();
  Context* ctx = Current();
  if (!ctx) return nullptr;
  std::unique_ptr<ExprTree> tree = ParseTree(text, ctx);
  if (!tree) return nullptr;
  tree->context = ctx->life;
  return std::unique_ptr<Expression>(new Expression(std::move(tree)));
}

EvalValue Expression::Evaluate() {
  return tree_->Evaluate();
}

std::string Expression::EvaluateText() {
  EvalValue v = tree_->Evaluate();
  char buf[kNumberTextCap];
  return std::string(NumberText(v, buf));
}

bool Expression::Repeatable() const {
  for (const Node& n : tree_->nodes) {
    if (n.type != NodeType::Call) continue;
    if (n.procedure != nullptr) return false;
    if (n.builtin != nullptr && n.builtin->number == kBuiltinRandom) return false;
  }
  return true;
}

ResultKind Expression::Kind() const {
  return tree_->root >= 0 ? tree_->nodes[tree_->root].kind : ResultKind::Long;
}

std::string Expression::Text() const {
  return tree_->ToText();
}
std::string Expression::SqlText() const {
  return tree_->ToSql(false);
}
std::string Expression::SqlOrderText() const {
  return tree_->ToSql(true);
}

}  // namespace qzr
