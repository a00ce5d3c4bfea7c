// JSON, CSV and Markdown for catalogue entries.

#include "app/entry_formats.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "runtime/core/text.h"

namespace qzr {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

constexpr const char* kColumns[] = {"id",       "title", "description", "code",
                                    "complete", "link",  "postedBy"};

std::string Numbered(size_t n, const std::string& text) {
  return "entry " + std::to_string(n) + ": " + text;
}

// The texts are taken over from the parsed document (it is dropped after).
bool ReadText(Json& v, const char* key, std::optional<std::string>* out, std::string* why) {
  if (v.is_null()) {
    *out = std::string();
    return true;
  }
  if (!v.is_string()) {
    *why = std::string("\"") + key + "\" must be a string";
    return false;
  }
  *out = std::move(v.get_ref<std::string&>());
  return true;
}

bool FromObject(Json& obj, EntryFields* out, std::string* why) {
  if (!obj.is_object()) {
    *why = "not a JSON object";
    return false;
  }
  EntryFields f;
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    const std::string& key = it.key();
    Json& v = it.value();
    if (key == "id") {
      if (v.is_null()) continue;
      if (!v.is_number_integer()) {
        *why = "\"id\" must be a whole number";
        return false;
      }
      f.id = v.get<int64_t>();
    } else if (key == "title") {
      if (!ReadText(v, "title", &f.title, why)) return false;
    } else if (key == "description") {
      if (!ReadText(v, "description", &f.description, why)) return false;
    } else if (key == "code") {
      if (!ReadText(v, "code", &f.code, why)) return false;
    } else if (key == "link") {
      if (!ReadText(v, "link", &f.link, why)) return false;
    } else if (key == "postedBy") {
      if (!ReadText(v, "postedBy", &f.posted_by, why)) return false;
    } else if (key == "complete") {
      if (v.is_boolean()) {
        f.complete = v.get<bool>();
      } else if (v.is_number_integer() && (v.get<int64_t>() == 0 || v.get<int64_t>() == 1)) {
        f.complete = v.get<int64_t>() == 1;
      } else if (v.is_null()) {
        f.complete = false;
      } else {
        *why = "\"complete\" must be 0, 1, true or false";
        return false;
      }
    } else {
      *why = "unknown field \"" + key +
             "\" (fields: id, title, description, code, complete, "
             "link, postedBy)";
      return false;
    }
  }
  *out = std::move(f);
  return true;
}

// The quick reading of well-formed entries: the parser's events straight
// into EntryFields, without a document in between, the texts taken over
// from the lexer. It takes the shapes FromObject accepts (an array of
// objects, or one object, each field once with a value of its kind) and
// gives up on anything else (a parse error, an unknown or repeated field, a
// value of another kind, a nested value) by answering false, so that the
// document path reads the input again and says what is wrong exactly as
// it always has.
class EntriesSax {
 public:
  explicit EntriesSax(std::vector<EntryFields>* out) : out_(out) {}

  bool null() { return Scalar(Kind::kNull); }
  bool boolean(bool v) {
    flag_ = v;
    return Scalar(Kind::kBool);
  }
  bool number_integer(Json::number_integer_t v) {
    integer_ = v;
    return Scalar(Kind::kInteger);
  }
  bool number_unsigned(Json::number_unsigned_t v) {
    integer_ = static_cast<int64_t>(v);  // as the document's get<int64_t>
    return Scalar(Kind::kInteger);
  }
  bool number_float(Json::number_float_t, const Json::string_t&) { return false; }
  bool binary(Json::binary_t&) { return false; }
  bool string(Json::string_t& v) {
    if (depth_ != 2 || field_ == nullptr) return false;
    *field_ = std::move(v);
    field_ = nullptr;
    key_ = Key::kNone;
    return true;
  }
  bool start_object(std::size_t) {
    if (depth_ == 0 && !array_ && !single_) {
      single_ = true;
    } else if (depth_ != 1) {
      return false;
    }
    depth_ = 2;
    out_->emplace_back();
    seen_ = 0;
    return true;
  }
  bool end_object() {
    if (depth_ != 2 || key_ != Key::kNone) return false;
    --depth_;
    if (single_) depth_ = 0;
    return true;
  }
  bool start_array(std::size_t) {
    if (depth_ != 0 || single_ || array_) return false;
    array_ = true;
    depth_ = 1;
    return true;
  }
  bool end_array() {
    if (depth_ != 1 || !array_) return false;
    depth_ = 0;
    return true;
  }
  bool key(Json::string_t& name) {
    if (depth_ != 2) return false;
    EntryFields& f = out_->back();
    static constexpr std::pair<std::string_view, Key> kKeys[] = {{"id", Key::kId},
                                                                 {"title", Key::kText},
                                                                 {"description", Key::kText},
                                                                 {"code", Key::kText},
                                                                 {"link", Key::kText},
                                                                 {"postedBy", Key::kText},
                                                                 {"complete", Key::kComplete}};
    std::optional<std::string>* const texts[] = {nullptr, &f.title,     &f.description, &f.code,
                                                 &f.link, &f.posted_by, nullptr};
    for (size_t i = 0; i < std::size(kKeys); ++i) {
      if (name != kKeys[i].first) continue;
      if ((seen_ & (1u << i)) != 0) return false;  // repeated: the document path decides
      seen_ |= 1u << i;
      key_ = kKeys[i].second;
      field_ = texts[i];
      return true;
    }
    return false;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  enum class Kind { kNull, kBool, kInteger };
  enum class Key { kNone, kId, kText, kComplete };

  // A value that is not text, for the field named last.
  bool Scalar(Kind kind) {
    if (depth_ != 2 || key_ == Key::kNone) return false;
    EntryFields& f = out_->back();
    const Key key = key_;
    key_ = Key::kNone;
    if (key == Key::kText) {
      if (kind != Kind::kNull) return false;
      *field_ = std::string();
      field_ = nullptr;
      return true;
    }
    if (key == Key::kId) {
      if (kind == Kind::kInteger) f.id = integer_;
      return kind != Kind::kBool;
    }
    // complete: true, false, 0, 1 or null.
    if (kind == Kind::kBool) {
      f.complete = flag_;
    } else if (kind == Kind::kNull) {
      f.complete = false;
    } else if (integer_ == 0 || integer_ == 1) {
      f.complete = integer_ == 1;
    } else {
      return false;
    }
    return true;
  }

  std::vector<EntryFields>* out_;
  int depth_ = 0;        // 1 inside the array, 2 inside an entry
  bool array_ = false;   // the input is an array
  bool single_ = false;  // the input is one object
  Key key_ = Key::kNone;
  std::optional<std::string>* field_ = nullptr;  // the text field named last
  unsigned seen_ = 0;                            // the fields named so far in the entry
  bool flag_ = false;
  int64_t integer_ = 0;
};

// True when the quick reading took the whole input; else *out is empty.
bool ReadEntriesQuickly(std::string_view text, std::vector<EntryFields>* out) {
  EntriesSax sax(out);
  bool ok = false;
  try {
    ok = Json::sax_parse(text.begin(), text.end(), &sax);
  } catch (const Json::exception&) {
    ok = false;
  }
  if (!ok) out->clear();
  return ok;
}

// The library's message without its "[json.exception.parse_error.101] "
// prefix.
std::string LibraryMessage(const Json::exception& e) {
  std::string why = e.what();
  size_t close = why.find("] ");
  if (close != std::string::npos) why.erase(0, close + 2);
  return why;
}

// Parses `text`. On failure *why says what and where, "line L: not valid
// JSON at column C: ...", lines counted from `first_line` (the line of a
// longer input that `text` starts at).
bool ParseOne(std::string_view text, Json* out, std::string* why, size_t first_line = 1) {
  try {
    *out = Json::parse(text.begin(), text.end());
    return true;
  } catch (const Json::parse_error& e) {
    // e.byte counts from 1 the byte where parsing stopped.
    size_t at = std::min<size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    size_t line = first_line, line_start = 0;
    for (size_t i = 0; i < at; ++i) {
      if (text[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    std::string message = LibraryMessage(e);
    // The library names a position of its own counting; ours replaces it.
    const std::string kAt = "parse error at line ";
    if (message.rfind(kAt, 0) == 0) {
      size_t colon = message.find(": ");
      if (colon != std::string::npos) message.erase(0, colon + 2);
    }
    *why = "line " + std::to_string(line) + ": not valid JSON at column " +
           std::to_string(at - line_start + 1) + ": " + message;
    return false;
  } catch (const Json::exception& e) {
    // Numbers beyond what a double holds (1e400) and the like: refused, not
    // thrown past the caller.
    *why = "not valid JSON: " + LibraryMessage(e);
    return false;
  }
}

// Input may begin with a UTF-8 byte-order mark, which is not text.
std::string_view WithoutByteOrderMark(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return text;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}

bool CsvBool(const std::string& text, bool* out) {
  const std::string t = Lower(text);
  if (t == "1" || t == "true" || t == "yes") {
    *out = true;
  } else if (t == "0" || t == "false" || t == "no" || t.empty()) {
    *out = false;
  } else {
    return false;
  }
  return true;
}

std::string CsvRow(const FuncEntry& e) {
  return std::to_string(e.id) + "," + CsvField(e.title) + "," + CsvField(e.description) + "," +
         CsvField(e.code) + "," + (e.complete ? "1" : "0") + "," + CsvField(e.link) + "," +
         CsvField(e.posted_by) + "\r\n";
}

// One entry's section: its number and title as a heading, the description,
// the flags, and the code in a fence longer than any run of backticks in it.
std::string MarkdownSection(const FuncEntry& e) {
  std::string out = "\n## " + std::to_string(e.id) + ". " + OneLine(e.title) + "\n\n";
  if (!e.description.empty()) out += e.description + "\n\n";
  out += std::string("- Working code (complete example): ") + (e.complete ? "yes" : "no") + "\n";
  if (!e.link.empty()) out += "- Forum link: <" + OneLine(e.link) + ">\n";
  if (!e.posted_by.empty()) out += "- Posted by: " + OneLine(e.posted_by) + "\n";
  size_t longest = 0, run = 0;
  for (char c : e.code) {
    run = c == '`' ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  std::string fence(std::max<size_t>(3, longest + 1), '`');
  out += "\n" + fence + "\n" + e.code;
  if (!e.code.empty() && e.code.back() != '\n') out += "\n";
  out += fence + "\n";
  return out;
}

}  // namespace

void ApplyEntryFields(EntryFields&& f, FuncEntry* e) {
  if (f.title) e->title = std::move(*f.title);
  if (f.description) e->description = std::move(*f.description);
  if (f.code) e->code = std::move(*f.code);
  if (f.complete) e->complete = *f.complete;
  if (f.link) e->link = std::move(*f.link);
  if (f.posted_by) e->posted_by = std::move(*f.posted_by);
}

void ApplyEntryFields(const EntryFields& f, FuncEntry* e) {
  if (f.title) e->title = *f.title;
  if (f.description) e->description = *f.description;
  if (f.code) e->code = *f.code;
  if (f.complete) e->complete = *f.complete;
  if (f.link) e->link = *f.link;
  if (f.posted_by) e->posted_by = *f.posted_by;
}

std::string EntryToJson(const FuncEntry& e) {
  OrderedJson j;
  j["id"] = e.id;
  j["title"] = e.title;
  j["description"] = e.description;
  j["code"] = e.code;
  j["complete"] = e.complete ? 1 : 0;
  j["link"] = e.link;
  j["postedBy"] = e.posted_by;
  return j.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}

bool ExportFormatNamed(std::string_view name, ExportFormat* format) {
  static constexpr std::pair<std::string_view, ExportFormat> kNames[] = {
      {"json", ExportFormat::kJson},
      {"csv", ExportFormat::kCsv},
      {"markdown", ExportFormat::kMarkdown}};
  for (const auto& [n, f] : kNames) {
    if (n == name) {
      *format = f;
      return true;
    }
  }
  return false;
}

void EntryWriter::Begin() {
  switch (format_) {
    case ExportFormat::kJson:
      break;  // the bracket goes with the first entry, or with End
    case ExportFormat::kCsv:
      *out_ << "id,title,description,code,complete,link,postedBy\r\n";
      break;
    case ExportFormat::kMarkdown:
      *out_ << "# QZR Functions Database\n";
      break;
  }
}

void EntryWriter::Write(const FuncEntry& e) {
  switch (format_) {
    case ExportFormat::kJson:
      *out_ << (count_ == 0 ? "[\n" : ",\n") << EntryToJson(e);
      break;
    case ExportFormat::kCsv:
      *out_ << CsvRow(e);
      break;
    case ExportFormat::kMarkdown:
      *out_ << MarkdownSection(e);
      break;
  }
  ++count_;
}

void EntryWriter::End() {
  if (format_ == ExportFormat::kJson) *out_ << (count_ == 0 ? "[]\n" : "\n]\n");
}

bool ParseJsonEntry(std::string_view text, EntryFields* out, std::string* error) {
  Json j;
  std::string why;
  if (!ParseOne(WithoutByteOrderMark(text), &j, &why)) {
    *error = why;
    return false;
  }
  if (!FromObject(j, out, &why)) {
    *error = why;
    return false;
  }
  return true;
}

bool ParseJsonEntries(std::string_view text, std::vector<EntryFields>* out, std::string* error) {
  out->clear();
  text = WithoutByteOrderMark(text);
  if (ReadEntriesQuickly(text, out)) return true;
  Json whole;
  std::string why;
  const size_t first = text.find_first_not_of(" \t\r\n");
  // An array, or one object spread over lines, is one JSON text: an error
  // in it is reported where it is. Several objects, one per line, are read
  // line by line.
  bool whole_ok = ParseOne(text, &whole, &why);
  bool one_per_line = false;
  if (!whole_ok && first != std::string_view::npos && text[first] == '{') {
    size_t end = text.find('\n', first);
    Json probe;
    std::string ignored;
    one_per_line = ParseOne(text.substr(first, end == std::string_view::npos ? end : end - first),
                            &probe, &ignored);
  }
  if (!whole_ok && !one_per_line) {
    *error = why;
    return false;
  }
  if (whole_ok) {
    if (whole.is_object()) whole = Json::array({whole});
    if (!whole.is_array()) {
      *error = "expected an array of objects, an object, or one object per line";
      return false;
    }
    out->reserve(whole.size());
    for (size_t i = 0; i < whole.size(); ++i) {
      EntryFields f;
      if (!FromObject(whole[i], &f, &why)) {
        *error = Numbered(i + 1, why);
        out->clear();
        return false;
      }
      out->push_back(std::move(f));
    }
    return true;
  }
  // One object per line.
  size_t line_no = 0, start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++line_no;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    Json j;
    EntryFields f;
    if (!ParseOne(line, &j, &why, line_no)) {
      *error = why;
      out->clear();
      return false;
    }
    if (!FromObject(j, &f, &why)) {
      *error = Numbered(out->size() + 1, why) + " (line " + std::to_string(line_no) + ")";
      out->clear();
      return false;
    }
    out->push_back(std::move(f));
  }
  return true;
}

bool ParseCsv(std::string_view text, std::vector<std::vector<std::string>>* rows,
              std::string* error) {
  rows->clear();
  std::vector<std::string> row;
  std::string field;
  size_t i = 0, line = 1;
  bool any = false;  // the current record has begun
  while (i < text.size()) {
    char c = text[i];
    if (c == '"' && field.empty()) {
      // A quoted field: up to the closing quote; "" is one quote.
      size_t open_line = line;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        if (text[i] == '\n') ++line;
        field += text[i++];
      }
      if (!closed) {
        *error = "line " + std::to_string(open_line) + ": a quoted field is never closed";
        return false;
      }
      if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
        *error = "line " + std::to_string(line) + ": text after a closing quote";
        return false;
      }
      any = true;
      continue;
    }
    if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
      any = true;
      ++i;
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++i;
      ++line;
      if (any || !field.empty()) {
        row.push_back(std::move(field));
        rows->push_back(std::move(row));
      }
      row.clear();
      field.clear();
      any = false;
      continue;
    }
    field += c;
    any = true;
    ++i;
  }
  if (any || !field.empty()) {
    row.push_back(std::move(field));
    rows->push_back(std::move(row));
  }
  return true;
}

bool ParseCsvEntries(std::string_view text, std::vector<EntryFields>* out, std::string* error) {
  out->clear();
  std::vector<std::vector<std::string>> rows;
  if (!ParseCsv(WithoutByteOrderMark(text), &rows, error)) return false;
  if (rows.empty()) {
    *error = "no header row (expected: id,title,description,code,complete,link,postedBy)";
    return false;
  }
  std::vector<int> column;  // index in kColumns per CSV column
  for (const std::string& name : rows[0]) {
    int found = -1;
    for (int k = 0; k < 7; ++k) {
      if (name == kColumns[k]) found = k;
    }
    if (found < 0 || std::find(column.begin(), column.end(), found) != column.end()) {
      *error = "header: " + std::string(found < 0 ? "unknown" : "repeated") + " column \"" + name +
               "\" (columns: id, title, description, code, complete, link, postedBy)";
      return false;
    }
    column.push_back(found);
  }
  for (size_t r = 1; r < rows.size(); ++r) {
    const auto& row = rows[r];
    if (row.size() != column.size()) {
      *error = Numbered(r, "has " + std::to_string(row.size()) + " fields, the header " +
                               std::to_string(column.size()));
      out->clear();
      return false;
    }
    EntryFields f;
    for (size_t c = 0; c < row.size(); ++c) {
      const std::string& v = row[c];
      switch (column[c]) {
        case 0:
          if (!v.empty()) {
            char* end = nullptr;
            long long id = std::strtoll(v.c_str(), &end, 10);
            if (end == v.c_str() || *end != '\0') {
              *error = Numbered(r, "\"id\" must be a whole number");
              out->clear();
              return false;
            }
            f.id = id;
          }
          break;
        case 1:
          f.title = v;
          break;
        case 2:
          f.description = v;
          break;
        case 3:
          f.code = v;
          break;
        case 4: {
          bool b = false;
          if (!CsvBool(v, &b)) {
            *error = Numbered(r, "\"complete\" must be 0, 1, true or false");
            out->clear();
            return false;
          }
          f.complete = b;
          break;
        }
        case 5:
          f.link = v;
          break;
        case 6:
          f.posted_by = v;
          break;
      }
    }
    out->push_back(std::move(f));
  }
  return true;
}

}  // namespace qzr
