#include "framework/query_manager.h"

#include <algorithm>
#include <cstring>

#include "framework/error_manager.h"
#include "framework/ini_manager.h"
#include "runtime/core/text.h"
#include "runtime/pictures/picture.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/queue.h"

namespace qzr {
namespace {

std::string_view PictureBody(std::string_view picture) {
  picture = Trim(picture);
  if (!picture.empty() && picture.front() == '@') picture.remove_prefix(1);
  return picture;
}

CompiledPicture CompileColumnPicture(std::string_view picture) {
  std::string_view body = PictureBody(picture);
  if (body.empty()) return CompilePicture("");
  return CompilePicture("@" + std::string(body));
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string TitleOf(const QueryField& f) {
  return f.TITLE.empty() ? f.NAME : f.TITLE;
}

// True iff `text` is a number literal the expression language reads as one
// number: [-]digits[.digits][e[+-]digits].
bool IsCanonicalNumber(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && text[i] == '-') ++i;
  const size_t int_start = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  if (i == int_start) return false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    const size_t frac = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    if (i == frac) return false;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t exp = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    if (i == exp) return false;
  }
  return i == text.size();
}

// A plain number typed without a usable picture, made canonical: sign,
// digits without leading zeros, fraction without trailing zeros.
bool CanonicalPlainNumber(std::string_view text, std::string* out) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view frac =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() && frac.empty()) return false;
  for (char c : whole) {
    if (!IsDigit(c)) return false;
  }
  for (char c : frac) {
    if (!IsDigit(c)) return false;
  }
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  while (!frac.empty() && frac.back() == '0') frac.remove_suffix(1);
  std::string n = whole.empty() ? "0" : std::string(whole);
  if (!frac.empty()) n += "." + std::string(frac);
  if (negative && n != "0") n.insert(n.begin(), '-');
  *out = std::move(n);
  return true;
}

std::string Quote(std::string_view value) {
  value = TrimRight(value);
  std::string out = "'";
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

const char* KindWord(QueryValueKind kind) {
  switch (kind) {
    case QueryValueKind::kNumber:
      return "number";
    case QueryValueKind::kDate:
      return "date";
    case QueryValueKind::kTime:
      return "time";
    case QueryValueKind::kString:
      break;
  }
  return "value";
}

// The starting operator of an entry.
std::string StartOperator(QueryEntry entry, bool middle_filled) {
  switch (entry) {
    case QueryEntry::kMiddle:
      return "=";
    case QueryEntry::kLow:
      return middle_filled ? ">=" : ">";
    case QueryEntry::kHigh:
      return middle_filled ? "<=" : "<";
  }
  return "=";
}

// The condition of one entry: "" for none; false with *problem for an
// entry whose value the column cannot read.
bool EntryCondition(const QueryField& f, QueryEntry which, const std::string& text,
                    bool middle_filled, std::string* condition, std::string* problem) {
  condition->clear();
  if (Trim(text).empty()) return true;
  const ParsedQueryEntry e = ParseQueryEntry(text, StartOperator(which, middle_filled));
  if (e.value.empty()) return true;  // an operator alone compares with nothing
  const QueryValueKind kind = QueryKindOf(f.PICTURE);
  std::string column(TrimRight(f.NAME));
  const bool folded_column = ContainsNoCase(column, "UPPER(");
  // Case does not matter to numbers, dates and times.
  const bool nocase = kind == QueryValueKind::kString && (e.nocase || folded_column);
  std::string value = e.value;
  if (nocase) {
    value = LocaleUpper(value);
    if (!folded_column) column = "UPPER(" + column + ")";
  }
  switch (e.kind) {
    case ParsedQueryEntry::Kind::kContains:
      *condition = "INSTRING(" + Quote(value) + "," + column + ",1,1) <> 0";
      return true;
    case ParsedQueryEntry::Kind::kBegins: {
      const std::string_view v = TrimRight(value);
      if (v.empty()) return true;
      const std::string n = std::to_string(Utf8Length(v));
      if (kind == QueryValueKind::kNumber) {
        *condition = "SUB(LEFT(" + column + "),1," + n + ") = " + Quote(v);
      } else {
        *condition = "SUB(" + column + ",1," + n + ") = " + Quote(v);
      }
      return true;
    }
    case ParsedQueryEntry::Kind::kCompare:
      break;
  }
  std::string literal;
  switch (kind) {
    case QueryValueKind::kString:
      literal = Quote(value);
      break;
    case QueryValueKind::kNumber:
      if (!DeformatQueryNumber(value, f.PICTURE, &literal)) {
        *problem = TitleOf(f) + ": \"" + value + "\" is not a valid " + KindWord(kind) + ".";
        return false;
      }
      break;
    case QueryValueKind::kDate:
    case QueryValueKind::kTime:
      if (!DeformatQueryDateTime(value, f.PICTURE, &literal)) {
        *problem = TitleOf(f) + ": \"" + value + "\" is not a valid " + KindWord(kind) + ".";
        return false;
      }
      break;
  }
  *condition = "(" + column + " " + e.op + " " + literal + ")";
  return true;
}

}  // namespace

// ---- Entry syntax.

QueryValueKind QueryKindOf(std::string_view picture) {
  const std::string_view body = PictureBody(picture);
  if (body.empty()) return QueryValueKind::kString;
  switch (AsciiUpper(body.front())) {
    case 'N':
    case 'E':
    case 'P':
      return QueryValueKind::kNumber;
    case 'D':
      return QueryValueKind::kDate;
    case 'T':
      return QueryValueKind::kTime;
    default:
      return QueryValueKind::kString;
  }
}

std::string NormaliseQueryOperator(std::string_view chars) {
  bool lt = false, gt = false, eq = false, no = false;
  for (char c : chars) {
    lt |= c == '<';
    gt |= c == '>';
    eq |= c == '=';
    no |= c == '~';
  }
  std::string op;
  if (lt && gt) {
    op = "<>";  // "=" is not added to a not-equal
  } else if (lt) {
    op = eq ? "<=" : "<";
  } else if (gt) {
    op = eq ? ">=" : ">";
  } else {
    op = "=";
  }
  if (!no) return op;
  // "~" negates; "~=" keeps its own spelling, the rest become the
  // comparison they mean (the language has no "~<=").
  if (op == "=") return "~=";
  if (op == "<>") return "=";
  if (op == "<") return ">=";
  if (op == "<=") return ">";
  if (op == ">") return "<=";
  return "<";  // ">="
}

ParsedQueryEntry ParseQueryEntry(std::string_view text, std::string_view start) {
  ParsedQueryEntry e;
  std::string chars(start);
  text = TrimLeft(text);
  bool word = false;
  for (const auto& [w, kind] :
       {std::pair<std::string_view, int>{"NOT =", 0}, {"Contains ", 1}, {"Begins ", 2}}) {
    if (!StartsWithNoCase(text, w)) continue;
    text.remove_prefix(w.size());
    if (kind == 0) chars += "<>";
    if (kind == 1) e.kind = ParsedQueryEntry::Kind::kContains;
    if (kind == 2) e.kind = ParsedQueryEntry::Kind::kBegins;
    word = true;
    break;
  }
  if (!word) {
    while (!text.empty() && std::strchr("=<>~", text.front()) != nullptr) {
      chars += text.front();
      text.remove_prefix(1);
    }
  }
  e.op = NormaliseQueryOperator(chars);
  std::string_view value = Trim(text);
  if (!value.empty() && value.front() == '^') {
    e.nocase = true;
    value.remove_prefix(1);
  }
  if (e.kind == ParsedQueryEntry::Kind::kCompare) {
    if (!value.empty() && value.front() == '*') {
      e.kind = ParsedQueryEntry::Kind::kContains;
      value.remove_prefix(1);
      // "*xyz*" means the same as "*xyz".
      if (!value.empty() && value.back() == '*') value.remove_suffix(1);
    } else if (!value.empty() && value.back() == '*') {
      e.kind = ParsedQueryEntry::Kind::kBegins;
      value.remove_suffix(1);
    }
  }
  if (!e.nocase && !value.empty() && value.front() == '^') {
    e.nocase = true;
    value.remove_prefix(1);
  }
  e.value = std::string(value);
  return e;
}

bool DeformatQueryNumber(std::string_view text, std::string_view picture, std::string* number) {
  text = Trim(text);
  if (text.empty()) return false;
  const CompiledPicture pic = CompileColumnPicture(picture);
  const bool numeric =
      pic.valid() && (pic.kind() == PictureKind::Numeric || pic.kind() == PictureKind::Exponent ||
                      pic.kind() == PictureKind::Pattern);
  if (!numeric) return CanonicalPlainNumber(text, number);
  // The characters a display of the picture may hold, and the usual
  // spellings of sign and point. Anything else (a letter, a parenthesis
  // the picture does not show) means the text is no number: refused rather
  // than read as the digits it happens to contain.
  std::string allowed = "0123456789 +-.,";
  if (pic.decimal != 0) allowed += static_cast<char>(pic.decimal);
  if (pic.grouping != 0) allowed += static_cast<char>(pic.grouping);
  if ((pic.options & kNumericParens) != 0) allowed += "()";
  if (pic.kind() == PictureKind::Exponent) allowed += "eE";
  for (int i = 0; i < pic.count; ++i) {
    const PictureEntry& entry = pic.entries[i];
    if (entry.code == kLiteral || entry.code == kCurrency || entry.code == kContinuation ||
        entry.code == kSeparator) {
      if (entry.fill != 0) allowed += static_cast<char>(entry.fill);
    }
  }
  bool digit = false;
  int points = 0;
  const char point = pic.decimal != 0 ? static_cast<char>(pic.decimal) : '.';
  for (char c : text) {
    if (allowed.find(c) == std::string::npos) return false;
    digit |= IsDigit(c);
    if (c == point) ++points;
  }
  if (!digit) return false;
  if (pic.kind() != PictureKind::Pattern && points > 1) return false;
  std::string value = Deformat(text, pic);
  if (!IsCanonicalNumber(value)) return false;
  *number = std::move(value);
  return true;
}

bool DeformatQueryDateTime(std::string_view text, std::string_view picture, std::string* value) {
  text = Trim(text);
  if (text.empty()) return false;
  const CompiledPicture pic = CompileColumnPicture(picture);
  if (!pic.valid() || (pic.kind() != PictureKind::Date && pic.kind() != PictureKind::Time)) {
    // Without a usable picture only the stored number itself is taken.
    std::string n;
    if (!CanonicalPlainNumber(text, &n) || n.find('.') != std::string::npos || n.front() == '-') {
      return false;
    }
    *value = n;
    return true;
  }
  std::string v = Deformat(text, pic);
  // Deformat gives 0 for a text that is no valid date or time.
  if (v.empty() || v == "0" || !IsCanonicalNumber(v)) return false;
  *value = std::move(v);
  return true;
}

// ---- The manager.

void QueryManager::Init(IniManager* ini, std::string_view identity, ErrorManager* errors) {
  ini_ = ini;
  errors_ = errors;
  identity_ = std::string(Trim(identity));
  fields_.clear();
  dropped_ = 0;
}

void QueryManager::Kill() {
  fields_.clear();
  ini_ = nullptr;
  errors_ = nullptr;
}

bool QueryManager::AddQueryField(std::string_view name, std::string_view title,
                                 std::string_view picture, bool forceEditPicture) {
  name = TrimRight(name);
  if (name.empty() || name.size() > kMaxQueryName || Find(name) != nullptr) return false;
  QueryField f;
  f.NAME = std::string(name);
  f.TITLE = std::string(Utf8Cut(title, kMaxQueryName));
  f.PICTURE = std::string(picture.substr(0, std::min(picture.size(), kMaxQueryPicture)));
  f.FORCEEDITPICTURE = forceEditPicture ? 1 : 0;
  fields_.push_back(std::move(f));
  return true;
}

QueryField* QueryManager::Find(std::string_view name) {
  name = TrimRight(name);
  for (QueryField& f : fields_) {
    if (EqualNoCase(f.NAME, name)) return &f;
  }
  return nullptr;
}

const QueryField* QueryManager::Find(std::string_view name) const {
  return const_cast<QueryManager*>(this)->Find(name);
}

bool QueryManager::SetQuery(std::string_view name, QueryEntry entry, std::string_view text) {
  QueryField* f = Find(name);
  if (f == nullptr || text.size() > kMaxQueryEntry) return false;
  switch (entry) {
    case QueryEntry::kLow:
      f->LOW = std::string(text);
      break;
    case QueryEntry::kMiddle:
      f->MIDDLE = std::string(text);
      break;
    case QueryEntry::kHigh:
      f->HIGH = std::string(text);
      break;
  }
  return true;
}

bool QueryManager::SetQuery(std::string_view name, std::string_view middle, std::string_view low,
                            std::string_view high) {
  QueryField* f = Find(name);
  if (f == nullptr || middle.size() > kMaxQueryEntry || low.size() > kMaxQueryEntry ||
      high.size() > kMaxQueryEntry) {
    return false;
  }
  f->MIDDLE = std::string(middle);
  f->LOW = std::string(low);
  f->HIGH = std::string(high);
  return true;
}

std::string QueryManager::GetQuery(std::string_view name, QueryEntry entry) const {
  const QueryField* f = Find(name);
  if (f == nullptr) return {};
  switch (entry) {
    case QueryEntry::kLow:
      return f->LOW;
    case QueryEntry::kMiddle:
      return f->MIDDLE;
    case QueryEntry::kHigh:
      return f->HIGH;
  }
  return {};
}

void QueryManager::ClearQuery() {
  for (QueryField& f : fields_) {
    f.LOW.clear();
    f.MIDDLE.clear();
    f.HIGH.clear();
  }
}

bool QueryManager::IsEmpty() const {
  return std::all_of(fields_.begin(), fields_.end(), [](const QueryField& f) {
    return Trim(f.LOW).empty() && Trim(f.MIDDLE).empty() && Trim(f.HIGH).empty();
  });
}

std::string QueryManager::ValidateEntry(std::string_view name, std::string_view text) const {
  const QueryField* f = Find(name);
  if (f == nullptr) return "There is no query column " + std::string(name) + ".";
  if (text.size() > kMaxQueryEntry) {
    return TitleOf(*f) + ": the entry is longer than " + std::to_string(kMaxQueryEntry) + " bytes.";
  }
  std::string condition, problem;
  // The starting operator does not change whether the value is readable.
  if (!EntryCondition(*f, QueryEntry::kMiddle, std::string(text), false, &condition, &problem)) {
    return problem;
  }
  return {};
}

bool QueryManager::BuildFilter(std::string* filter, std::string* problem) const {
  filter->clear();
  std::string text, condition, why;
  for (const QueryField& f : fields_) {
    const bool middle_filled = !Trim(f.MIDDLE).empty();
    const std::pair<QueryEntry, const std::string*> entries[] = {
        {QueryEntry::kMiddle, &f.MIDDLE}, {QueryEntry::kLow, &f.LOW}, {QueryEntry::kHigh, &f.HIGH}};
    for (const auto& [which, value] : entries) {
      if (!EntryCondition(f, which, *value, middle_filled, &condition, &why)) {
        if (problem != nullptr) *problem = why;
        return false;
      }
      if (condition.empty()) continue;
      if (!text.empty()) text += " AND ";
      text += condition;
    }
  }
  if (text.size() > kMaxQueryFilter) {
    if (problem != nullptr) {
      *problem = "The query is too long: its filter takes " + std::to_string(text.size()) +
                 " characters, at most " + std::to_string(kMaxQueryFilter) +
                 " are allowed. Remove some of its conditions.";
    }
    return false;
  }
  *filter = std::move(text);
  return true;
}

std::string QueryManager::BuildFilter() const {
  std::string filter;
  return BuildFilter(&filter) ? filter : std::string();
}

// ---- Saved queries.

namespace {

struct NameRec {
  char NAME[kMaxQueryName + 1];
};

constexpr char kCountEntry[] = "Count";
// A damaged count cannot make a restore read the file for ever.
constexpr int kMaxSavedFields = 1000;

std::string CleanName(std::string_view name) {
  return std::string(Trim(name));
}

}  // namespace

std::string QueryManager::QuerySection(std::string_view name) const {
  return IniManager::MakeSectionName(kQuerySectionFamily, name, identity_);
}

std::string QueryManager::ListSection() const {
  return IniManager::MakeSectionName(kQuerySectionFamily, "", identity_);
}

void QueryManager::StoreList(const std::vector<std::string>& names) {
  Queue<NameRec> q;
  q.Field("NAME", &NameRec::NAME, TypeCode::CSTRING);
  for (const std::string& n : names) {
    std::memset(q.record.NAME, 0, sizeof(q.record.NAME));
    std::memcpy(q.record.NAME, n.data(), std::min(n.size(), kMaxQueryName));
    ADD(&q);
  }
  ini_->StoreQueue(&q, ListSection(), kQueryMruEntry, {1});
}

std::vector<std::string> QueryManager::SavedQueries() const {
  std::vector<std::string> names;
  if (ini_ == nullptr) return names;
  Queue<NameRec> q;
  q.Field("NAME", &NameRec::NAME, TypeCode::CSTRING);
  ini_->LoadQueue(&q, ListSection(), kQueryMruEntry, {1});
  for (int32_t i = 1; i <= RECORDS(&q); ++i) {
    GET(&q, i);
    std::string name =
        CleanName(std::string_view(q.record.NAME, strnlen(q.record.NAME, sizeof(q.record.NAME))));
    if (name.empty() || std::any_of(names.begin(), names.end(),
                                    [&](const std::string& n) { return EqualNoCase(n, name); })) {
      continue;
    }
    // A name whose query is gone (a damaged list, a hand-edited file) is
    // not offered.
    if (ini_->Fetch(QuerySection(name), kCountEntry).empty()) continue;
    names.push_back(std::move(name));
  }
  return names;
}

std::vector<QueryListItem> QueryManager::SavedQueryItems() const {
  std::vector<QueryListItem> items;
  for (std::string& n : SavedQueries())
    items.push_back({kQuerySectionFamily, std::move(n), identity_});
  return items;
}

Severity QueryManager::SaveQuery(std::string_view raw_name, std::string* problem) {
  auto refuse = [&](std::string why) {
    if (problem != nullptr) *problem = std::move(why);
    return SeverityInform;
  };
  const std::string name = CleanName(raw_name);
  if (name.empty()) return refuse("Give the query a name to save it under.");
  if (name.size() > kMaxQueryName) {
    return refuse("The query name is too long: at most " + std::to_string(kMaxQueryName) +
                  " bytes are allowed.");
  }
  if (ini_ == nullptr) return refuse("Queries cannot be saved here.");
  // Values longer than a setting can hold are refused, never cut.
  for (const QueryField& f : fields_) {
    for (const std::string* v : {&f.NAME, &f.MIDDLE, &f.LOW, &f.HIGH}) {
      if (EscapeQueueField(*v).size() > kMaxIniValue) {
        return refuse(TitleOf(f) + ": the entry is too long to be saved.");
      }
    }
  }
  const std::string section = QuerySection(name);
  std::scoped_lock lock(ini_->CRITSECT);
  ini_->Delete(section, "");
  Severity s = SeverityNone;
  int n = 0;
  for (const QueryField& f : fields_) {
    if (Trim(f.LOW).empty() && Trim(f.MIDDLE).empty() && Trim(f.HIGH).empty()) continue;
    ++n;
    const std::string k = "_" + std::to_string(n);
    for (const auto& [entry, value] : {std::pair<const char*, const std::string*>{"NAME", &f.NAME},
                                       {"MIDDLE", &f.MIDDLE},
                                       {"LOW", &f.LOW},
                                       {"HIGH", &f.HIGH}}) {
      if (ini_->Update(section, entry + k, EscapeQueueField(*value)) != SeverityNone) {
        s = SeverityInform;
      }
    }
  }
  if (ini_->Update(section, kCountEntry, std::to_string(n)) != SeverityNone) s = SeverityInform;
  if (s != SeverityNone) {
    ini_->Delete(section, "");
    return refuse("The query could not be saved: the settings file cannot be written.");
  }
  std::vector<std::string> names = SavedQueries();
  std::erase_if(names, [&](const std::string& n) { return EqualNoCase(n, name); });
  names.insert(names.begin(), name);
  StoreList(names);
  return SeverityNone;
}

Severity QueryManager::RestoreQuery(std::string_view raw_name) {
  const std::string name = CleanName(raw_name);
  if (ini_ == nullptr || name.empty()) return SeverityInform;
  const std::string section = QuerySection(name);
  const std::string count_text = ini_->Fetch(section, kCountEntry);
  if (count_text.empty()) return SeverityInform;
  int count = 0;
  for (char c : count_text) {
    if (!IsDigit(c)) break;
    count = std::min(count * 10 + (c - '0'), kMaxSavedFields);
  }
  ClearQuery();
  for (int i = 1; i <= count; ++i) {
    const std::string k = "_" + std::to_string(i);
    const std::string field = UnescapeQueueField(ini_->Fetch(section, "NAME" + k));
    if (Trim(field).empty()) break;  // fields are stored 1 to n: the end
    QueryField* f = Find(field);
    if (f == nullptr) {
      ++dropped_;
      if (errors_ != nullptr) {
        errors_->SetField(field);
        errors_->Throw(kErrQbeColumnDropped);
      }
      continue;
    }
    auto value = [&](const char* entry) {
      return std::string(
          Utf8Cut(UnescapeQueueField(ini_->Fetch(section, entry + k)), kMaxQueryEntry));
    };
    f->MIDDLE = value("MIDDLE");
    f->LOW = value("LOW");
    f->HIGH = value("HIGH");
  }
  return SeverityNone;
}

Severity QueryManager::DeleteQuery(std::string_view raw_name) {
  const std::string name = CleanName(raw_name);
  if (ini_ == nullptr || name.empty()) return SeverityInform;
  std::scoped_lock lock(ini_->CRITSECT);
  std::vector<std::string> names = SavedQueries();
  const Severity s = ini_->Delete(QuerySection(name), "");
  std::erase_if(names, [&](const std::string& n) { return EqualNoCase(n, name); });
  StoreList(names);
  return s;
}

std::vector<QueryPopupEntry> QueryManager::PopupEntries() const {
  std::vector<QueryPopupEntry> entries;
  const std::vector<std::string> names = SavedQueries();
  for (size_t i = 0; i < names.size(); ++i) {
    entries.push_back(
        {QueryPopupEntry::Kind::kQuery, kQbeItemName + std::to_string(i + 1), names[i]});
  }
  if (names.empty())
    entries.push_back({QueryPopupEntry::Kind::kEmpty, kQbeEmptyName, kQbeEmptyText});
  entries.push_back({QueryPopupEntry::Kind::kSeparator, kQbeSeparatorName, ""});
  entries.push_back({QueryPopupEntry::Kind::kClear, kQbeClearName, kQbeClearText});
  return entries;
}

}  // namespace qzr
