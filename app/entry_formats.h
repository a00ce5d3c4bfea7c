// The catalogue's exchange formats: entries as JSON objects, CSV rows and
// Markdown sections, and the parsers that read them back.
//
// An entry is written as the object
//   {"id":N,"title":"...","description":"...","code":"...","complete":0|1,
//    "link":"...","postedBy":"..."}
// and in CSV (RFC 4180: a header row, fields quoted when they hold a comma,
// a quote or a line break, quotes doubled, CRLF line ends) with the same
// names as columns. Markdown gives one section per entry with the code in a
// fence longer than any run of backticks inside it.
//
// Reading gives EntryFields: each field present or absent, so that an
// update can change only what it names. Input is refused, with the entry's
// number (1-based, in input order) and the reason, when it is not well
// formed: a value of the wrong type, a key or column that is not one of the
// seven, JSON that is neither an array of objects, one object, nor one
// object per line (a JSON error names its line and column), a number past
// what the format can hold. A UTF-8 byte-order mark at the start of JSON or
// CSV input is skipped. Text that is not valid UTF-8 is written with each
// bad sequence replaced by U+FFFD (the commands refuse such text before it
// is stored, so a backup never changes it).
//
// Threads: plain functions over the caller's data.

#ifndef QZR_APP_ENTRY_FORMATS_H_
#define QZR_APP_ENTRY_FORMATS_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/func_file.h"
#include "runtime/core/utf8.h"  // InvalidUtf8At, which the formats check text with

namespace qzr {

// An entry as read from input: the fields it names.
struct EntryFields {
  std::optional<int64_t> id;
  std::optional<std::string> title;
  std::optional<std::string> description;
  std::optional<std::string> code;
  std::optional<bool> complete;
  std::optional<std::string> link;
  std::optional<std::string> posted_by;
};

// Sets the fields `fields` names in *entry (the id is left alone).
void ApplyEntryFields(const EntryFields& fields, FuncEntry* entry);
// The same, taking the texts over from `fields`.
void ApplyEntryFields(EntryFields&& fields, FuncEntry* entry);

// One JSON object on one line, without a line end.
std::string EntryToJson(const FuncEntry& entry);

// The formats an export writes.
enum class ExportFormat { kJson, kCsv, kMarkdown };
// The names export takes, as the usage says them.
inline constexpr char kExportFormatNames[] = "json, csv or markdown";
// True iff `name` ("json", "csv", "markdown") names a format; *format set.
bool ExportFormatNamed(std::string_view name, ExportFormat* format);

// Writes entries to a stream one at a time in one format: JSON as an array
// with one object a line ("[]" when empty), CSV as the header row and one
// row an entry, Markdown as a heading and one section an entry. Begin,
// then Write for each entry, then End; nothing is held back, so a long
// export needs no more memory than one entry.
class EntryWriter {
 public:
  EntryWriter(ExportFormat format, std::ostream* out) : format_(format), out_(out) {}
  void Begin();
  void Write(const FuncEntry& entry);
  void End();
  size_t count() const { return count_; }

 private:
  ExportFormat format_;
  std::ostream* out_;
  size_t count_ = 0;
};

// Parses JSON input: an array of objects, a single object, or one object
// per line (blank lines skipped). False with the reason in *error.
bool ParseJsonEntries(std::string_view text, std::vector<EntryFields>* out, std::string* error);
// Parses one JSON object (the input of add and update).
bool ParseJsonEntry(std::string_view text, EntryFields* out, std::string* error);
// Parses CSV input with a header row naming the columns (any order, each at
// most once). False with the reason in *error.
bool ParseCsvEntries(std::string_view text, std::vector<EntryFields>* out, std::string* error);

// Splits CSV text into records of fields (RFC 4180; CRLF or LF line ends).
// False on a quote that is never closed or stray text after a closing quote,
// with the 1-based line in *error.
bool ParseCsv(std::string_view text, std::vector<std::vector<std::string>>* rows,
              std::string* error);

}  // namespace qzr

#endif  // QZR_APP_ENTRY_FORMATS_H_
