// JSON, CSV and Markdown for catalogue entries.

#include "app/entry_formats.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>

#include "runtime/core/text.h"
#include "runtime/core/utf8.h"

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

// The quick reading of well-formed entries: one pass over the text straight
// into EntryFields, without a document or a token stream in between. It
// takes the shapes FromObject accepts (an array of objects, or one object,
// each field once with a value of its kind) and gives up on anything else
// by answering false: a syntax error, an unknown, repeated or escaped field
// name, a value of another kind, a nested value, a number with a fraction
// or an exponent or of more than 18 digits, bytes that are not UTF-8. The
// document path then reads the input again and says what is wrong exactly
// as it always has; what this reading takes, it takes as that path would.
class QuickEntryReader {
 public:
  QuickEntryReader(std::string_view text, std::vector<EntryFields>* out)
      : p_(text.data()), end_(text.data() + text.size()), out_(out) {}

  bool Read() {
    SkipSpace();
    if (p_ == end_) return false;
    if (*p_ == '{') {
      if (!Object()) return false;
    } else if (*p_ == '[') {
      ++p_;
      SkipSpace();
      if (p_ < end_ && *p_ == ']') {
        ++p_;
      } else {
        for (;;) {
          SkipSpace();
          if (p_ == end_ || *p_ != '{' || !Object()) return false;
          SkipSpace();
          if (p_ == end_) return false;
          const char c = *p_++;
          if (c == ']') break;
          if (c != ',') return false;
        }
      }
    } else {
      return false;
    }
    SkipSpace();
    return p_ == end_;
  }

 private:
  static constexpr uint64_t kOnes = 0x0101010101010101ULL;
  static constexpr uint64_t kHigh = 0x8080808080808080ULL;

  void SkipSpace() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  bool Literal(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size() ||
        std::memcmp(p_, word.data(), word.size()) != 0) {
      return false;
    }
    p_ += word.size();
    return true;
  }

  // An object, at its '{'.
  bool Object() {
    ++p_;
    EntryFields& f = out_->emplace_back();
    std::optional<std::string>* const texts[] = {&f.title, &f.description, &f.code, &f.link,
                                                 &f.posted_by};
    static constexpr std::string_view kTextKeys[] = {"title", "description", "code", "link",
                                                     "postedBy"};
    unsigned seen = 0;
    SkipSpace();
    if (p_ < end_ && *p_ == '}') {
      ++p_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (p_ == end_ || *p_ != '"') return false;
      const char* name_start = ++p_;
      while (p_ < end_ && *p_ != '"' && *p_ != '\\' && static_cast<uint8_t>(*p_) >= 0x20 &&
             static_cast<uint8_t>(*p_) < 0x80) {
        ++p_;
      }
      if (p_ == end_ || *p_ != '"') return false;
      const std::string_view name(name_start, static_cast<size_t>(p_ - name_start));
      ++p_;
      SkipSpace();
      if (p_ == end_ || *p_ != ':') return false;
      ++p_;
      SkipSpace();
      if (p_ == end_) return false;
      unsigned bit = 0;
      if (name == "id") {
        bit = 1u << 5;
        if (*p_ == 'n') {
          if (!Literal("null")) return false;
        } else {
          int64_t id = 0;
          if (!Integer(&id)) return false;
          f.id = id;
        }
      } else if (name == "complete") {
        bit = 1u << 6;
        int64_t value = 0;
        if (*p_ == 't' || *p_ == 'f') {
          f.complete = *p_ == 't';
          if (!Literal(*p_ == 't' ? "true" : "false")) return false;
        } else if (*p_ == 'n') {
          if (!Literal("null")) return false;
          f.complete = false;
        } else if (Integer(&value) && (value == 0 || value == 1)) {
          f.complete = value == 1;
        } else {
          return false;
        }
      } else {
        size_t i = 0;
        while (i < std::size(kTextKeys) && name != kTextKeys[i]) ++i;
        if (i == std::size(kTextKeys)) return false;
        bit = 1u << i;
        if (*p_ == 'n') {
          if (!Literal("null")) return false;
          *texts[i] = std::string();
        } else if (*p_ == '"') {
          if (!String(&texts[i]->emplace())) return false;
        } else {
          return false;
        }
      }
      if ((seen & bit) != 0) return false;  // repeated: the document path decides
      seen |= bit;
      SkipSpace();
      if (p_ == end_) return false;
      const char c = *p_++;
      if (c == '}') return true;
      if (c != ',') return false;
    }
  }

  // A whole number of at most 18 digits.
  bool Integer(int64_t* value) {
    const bool negative = p_ < end_ && *p_ == '-';
    if (negative) ++p_;
    if (p_ == end_ || *p_ < '0' || *p_ > '9') return false;
    int64_t v = 0;
    if (*p_ == '0') {
      ++p_;
    } else {
      int digits = 0;
      while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
        if (++digits > 18) return false;
        v = v * 10 + (*p_++ - '0');
      }
    }
    if (p_ < end_ && ((*p_ >= '0' && *p_ <= '9') || *p_ == '.' || *p_ == 'e' || *p_ == 'E')) {
      return false;
    }
    *value = negative ? -v : v;
    return true;
  }

  // Four hexadecimal digits of a \u escape.
  bool Hex4(uint32_t* cp) {
    if (end_ - p_ < 4) return false;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = *p_++;
      v <<= 4;
      if (c >= '0' && c <= '9') {
        v |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        v |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        v |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    *cp = v;
    return true;
  }

  // The length of the well-formed UTF-8 sequence at p_ (its first byte at
  // least 0x80), or 0: no overlong forms, no surrogates, nothing past
  // U+10FFFF.
  size_t Utf8Length() const {
    const auto at = [this](size_t i) { return static_cast<uint8_t>(p_[i]); };
    const uint8_t c = at(0);
    size_t n = 0;
    uint8_t low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
      n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return 0;
    }
    if (static_cast<size_t>(end_ - p_) < n || at(1) < low || at(1) > high) return 0;
    for (size_t i = 2; i < n; ++i) {
      if (at(i) < 0x80 || at(i) > 0xBF) return 0;
    }
    return n;
  }

  // A string, at its opening quote, into *out.
  bool String(std::string* out) {
    ++p_;
    // Room for the bytes up to the closing quote (a quote after an even
    // number of backslashes), once: escapes only make the text shorter.
    for (const char* q = p_; q < end_;) {
      q = static_cast<const char*>(std::memchr(q, '"', static_cast<size_t>(end_ - q)));
      if (q == nullptr) break;
      const char* b = q;
      while (b > p_ && b[-1] == '\\') --b;
      if ((q - b) % 2 == 0) {
        out->reserve(static_cast<size_t>(q - p_));
        break;
      }
      ++q;
    }
    for (;;) {
      // Plain bytes (no quote, backslash, control or non-ASCII byte) eight
      // at a time, then one at a time.
      const char* run = p_;
      while (end_ - p_ >= 8) {
        uint64_t w;
        std::memcpy(&w, p_, sizeof w);
        const uint64_t quote = w ^ (kOnes * '"');
        const uint64_t backslash = w ^ (kOnes * '\\');
        const uint64_t special = ((quote - kOnes) & ~quote) | ((backslash - kOnes) & ~backslash) |
                                 ((w - kOnes * 0x20) & ~w) | w;
        if ((special & kHigh) != 0) break;
        p_ += 8;
      }
      while (p_ < end_) {
        const uint8_t c = static_cast<uint8_t>(*p_);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
        ++p_;
      }
      out->append(run, static_cast<size_t>(p_ - run));
      if (p_ == end_) return false;
      const uint8_t c = static_cast<uint8_t>(*p_);
      if (c == '"') {
        ++p_;
        return true;
      }
      if (c < 0x20) return false;
      if (c >= 0x80) {
        const size_t n = Utf8Length();
        if (n == 0) return false;
        out->append(p_, n);
        p_ += n;
        continue;
      }
      ++p_;  // the backslash
      if (p_ == end_) return false;
      switch (*p_++) {
        case '"':
          out->push_back('"');
          break;
        case '\\':
          out->push_back('\\');
          break;
        case '/':
          out->push_back('/');
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t second = 0;
            if (!Literal("\\u") || !Hex4(&second) || second < 0xDC00 || second > 0xDFFF) {
              return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (second - 0xDC00);
          }
          qzr::AppendUtf8(cp, out);
          break;
        }
        default:
          return false;
      }
    }
  }

  const char* p_;
  const char* end_;
  std::vector<EntryFields>* out_;
};

// True when the quick reading took the whole input; else *out is empty.
bool ReadEntriesQuickly(std::string_view text, std::vector<EntryFields>* out) {
  QuickEntryReader reader(text, out);
  const bool ok = reader.Read();
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
