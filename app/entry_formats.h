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
#include <string>
#include <string_view>
#include <vector>

#include "app/func_file.h"

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

// One JSON object on one line, without a line end.
std::string EntryToJson(const FuncEntry& entry);
// The CSV header row and one entry's row, each with its CRLF.
std::string CsvHeader();
std::string EntryToCsvRow(const FuncEntry& entry);
// The Markdown document's heading and one entry's section.
std::string MarkdownHeader();
std::string EntryToMarkdown(const FuncEntry& entry);
// A JSON array with one object a line.
std::string EntriesToJsonArray(const std::vector<FuncEntry>& entries);
// A CSV document: the header row and one row per entry.
std::string EntriesToCsv(const std::vector<FuncEntry>& entries);
// A Markdown document.
std::string EntriesToMarkdown(const std::vector<FuncEntry>& entries);

// Parses JSON input: an array of objects, a single object, or one object
// per line (blank lines skipped). False with the reason in *error.
bool ParseJsonEntries(std::string_view text, std::vector<EntryFields>* out, std::string* error);
// Parses one JSON object (the input of add and update).
bool ParseJsonEntry(std::string_view text, EntryFields* out, std::string* error);
// Parses CSV input with a header row naming the columns (any order, each at
// most once). False with the reason in *error.
bool ParseCsvEntries(std::string_view text, std::vector<EntryFields>* out, std::string* error);

// The offset of the first byte of `text` that does not begin a well-formed
// UTF-8 sequence (overlong forms, surrogates and values past U+10FFFF are
// not well formed); npos when the whole text is valid UTF-8.
size_t InvalidUtf8At(std::string_view text);

// Splits CSV text into records of fields (RFC 4180; CRLF or LF line ends).
// False on a quote that is never closed or stray text after a closing quote,
// with the 1-based line in *error.
bool ParseCsv(std::string_view text, std::vector<std::vector<std::string>>* rows,
              std::string* error);

}  // namespace qzr

#endif  // QZR_APP_ENTRY_FORMATS_H_
