// QueryManager: query by example over a browse. The user types example
// values per column (an example in MIDDLE, bounds in LOW and HIGH); the
// manager turns them into a filter expression for the browse's view and
// keeps named queries in the program's settings so they can be recalled
// from the browse's popup menu.
//
// Entry syntax (what is typed into MIDDLE, LOW or HIGH):
//   1. Leading "=", "<", ">", "~" form the operator; the rest is the value.
//      A leading word operator "NOT =", "Contains" or "Begins" (any case,
//      then a blank) is taken as well.
//   2. The entry's own starting operator comes first ("=" for MIDDLE; ">"
//      for LOW and "<" for HIGH, each with "=" when MIDDLE is not empty),
//      then the typed characters. The result keeps "<", ">" and "~" once
//      each and adds "=" when one was seen, except after both "<" and ">".
//      So "5" and "=5" compare with "=", "<5" and "=<5" with "<=", "<>5"
//      with "<>", "~5" with "~=" (not equal). Combinations the expression
//      language has no spelling for are written as the comparison they
//      mean ("~<=" as ">", "><" as "<>").
//   3. A value starting with "*" is a Contains (the "*" dropped, and a
//      closing "*" with it); else one ending with "*" is a Begins.
//   4. A value starting with "^" compares without regard to case: the "^"
//      is dropped, the value upper-cased, the column written as
//      "UPPER(" NAME ")". A NAME already holding "UPPER(" always compares
//      upper-cased values.
//
// Conditions, joined by " AND " in field order (MIDDLE, then LOW, then
// HIGH of each field):
//   Contains                INSTRING('v',NAME,1,1) <> 0
//   Begins, numeric column  SUB(LEFT(NAME),1,n) = 'v'
//   Begins, other column    SUB(NAME,1,n) = 'v'        n: v's characters
//   comparison              (NAME op value)
// String values are quoted ('v', every quote doubled, trailing blanks
// dropped). Values are never pasted as typed: a number (picture kinds N, E,
// P) is deformatted with the column's picture and written as a canonical
// number; a date or time (D, T) is deformatted with the picture and
// compared as the stored standard date or time. A value the picture cannot
// read is refused with a message naming the column, and no filter is built.
// An entry whose value is empty makes no condition. A filter longer than
// kMaxQueryFilter characters is refused, never cut: a cut filter would mean
// something else.
//
// Saved queries go through the INI manager: the query named Q of a browse
// identified as B lives in the section MakeSectionName("Query", Q, B)
// (escaped, so any name survives), with the entry "Count" and per field i
// the entries "NAME_i", "MIDDLE_i", "LOW_i", "HIGH_i" (each value escaped
// as a stored queue field). The names, most recently saved first, are the
// queue stored under the entry "tsMRU" of the section MakeSectionName(
// "Query", "", B). A saved field whose NAME is no longer a query field is
// dropped with error 44; the rest of the query is restored.
//
// Threads: a query manager belongs to its browse's thread; the INI manager
// and the error manager guard themselves.

#ifndef QZR_FRAMEWORK_QUERY_MANAGER_H_
#define QZR_FRAMEWORK_QUERY_MANAGER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/severity.h"

namespace qzr {

class ErrorManager;
class IniManager;

// Framework error for a saved column no longer offered.
inline constexpr int32_t kErrQbeColumnDropped = 44;

// Sizes: NAME and TITLE are CSTRING(100), PICTURE CSTRING(40), the entries
// CSTRING(500): one byte less of text each.
inline constexpr size_t kMaxQueryName = 99;
inline constexpr size_t kMaxQueryPicture = 39;
inline constexpr size_t kMaxQueryEntry = 499;
// The longest filter BuildFilter gives.
inline constexpr size_t kMaxQueryFilter = 5000;

inline constexpr char kQuerySectionFamily[] = "Query";
inline constexpr char kQueryMruEntry[] = "tsMRU";

// Names and texts of the popup entries.
inline constexpr char kQbeSeparatorName[] = "tsQBESeparator1";
inline constexpr char kQbeEmptyName[] = "tsQBEEmpty";
inline constexpr char kQbeEmptyText[] = "(No Saved Queries)";
inline constexpr char kQbeClearName[] = "tsQBEClear";
inline constexpr char kQbeClearText[] = "C&lear";
// Saved-query items are named this followed by their 1-based number.
inline constexpr char kQbeItemName[] = "tsQBEItem";

// One query field.
struct QueryField {
  std::string NAME;     // the column as the filter names it
  std::string TITLE;    // the caption shown to the user
  std::string PICTURE;  // display picture, with or without "@"
  std::string LOW;
  std::string MIDDLE;
  std::string HIGH;
  uint8_t FORCEEDITPICTURE = 0;
};

// Which entry of a field.
enum class QueryEntry : uint8_t { kLow, kMiddle, kHigh };

// A saved-query list item.
struct QueryListItem {
  std::string FAMILY;
  std::string ITEM;
  std::string TYPE;
};

// One entry of the popup the browse adds.
struct QueryPopupEntry {
  enum class Kind : uint8_t { kQuery, kSeparator, kEmpty, kClear };
  Kind kind = Kind::kQuery;
  std::string name;  // "tsQBEItem1", "tsQBESeparator1", ...
  std::string text;  // the query's name, "C&lear", ...
};

// The kind of value a picture holds.
enum class QueryValueKind : uint8_t { kString, kNumber, kDate, kTime };
QueryValueKind QueryKindOf(std::string_view picture);

class QueryManager {
 public:
  QueryManager() = default;
  virtual ~QueryManager() = default;
  QueryManager(const QueryManager&) = delete;
  QueryManager& operator=(const QueryManager&) = delete;

  // `ini` keeps the saved queries (may be null: nothing is saved), under
  // the browse identity `identity` ("Main"); `errors` reports error 44 (may
  // be null: the error is then only counted in DroppedColumns()).
  virtual void Init(IniManager* ini, std::string_view identity, ErrorManager* errors);
  virtual void Kill();

  // Appends a query field; false (nothing added) for an empty or over-long
  // name, or a name already added.
  bool AddQueryField(std::string_view name, std::string_view title, std::string_view picture,
                     bool forceEditPicture = false);
  const std::vector<QueryField>& Fields() const { return fields_; }

  // Sets or reads an entry of the field named `name` (trailing blanks and
  // case do not matter). SetQuery refuses (false, nothing changed) an
  // unknown field or a text over kMaxQueryEntry bytes; it does not check
  // the value: ValidateEntry does.
  bool SetQuery(std::string_view name, QueryEntry entry, std::string_view text);
  bool SetQuery(std::string_view name, std::string_view middle, std::string_view low = {},
                std::string_view high = {});
  std::string GetQuery(std::string_view name, QueryEntry entry) const;

  // Empties LOW, MIDDLE and HIGH of every field.
  void ClearQuery();
  // True iff every entry of every field is empty.
  bool IsEmpty() const;

  // "" when `text` is a valid entry for field `name`, else a message for
  // the user saying what is wrong.
  std::string ValidateEntry(std::string_view name, std::string_view text) const;

  // The filter text of the current entries; "" for an empty query. Returns
  // false with a message in *problem (and *filter empty) when an entry is
  // invalid or the filter would exceed kMaxQueryFilter.
  bool BuildFilter(std::string* filter, std::string* problem = nullptr) const;
  // The same, "" on failure.
  std::string BuildFilter() const;

  // ---- Saved queries. Names are at most kMaxQueryName bytes, blanks at
  // either end dropped; a blank name is refused. Names that differ only in
  // ASCII case name the same query, as the settings file's sections do.

  // Stores the current entries under `name` (replacing a query of that
  // name) and puts the name first in the list. SeverityInform with a
  // message in *problem when the name is refused or the settings could not
  // be written.
  Severity SaveQuery(std::string_view name, std::string* problem = nullptr);
  // Replaces the current entries with the saved query. SeverityInform (and
  // nothing changed) when there is no such query; error 44 for each saved
  // field no longer offered, the others restored (SeverityNone).
  Severity RestoreQuery(std::string_view name);
  // Removes the saved query and its name from the list.
  Severity DeleteQuery(std::string_view name);
  // The saved queries' names, most recently saved first.
  std::vector<std::string> SavedQueries() const;
  // The same as saved-query list items (FAMILY "Query", ITEM the name,
  // TYPE the browse identity).
  std::vector<QueryListItem> SavedQueryItems() const;

  // The popup entries: one per saved query (or "tsQBEEmpty" when there is
  // none), the separator "tsQBESeparator1" and "tsQBEClear" ("C&lear").
  std::vector<QueryPopupEntry> PopupEntries() const;

  // Saved fields dropped (error 44) since Init.
  int DroppedColumns() const { return dropped_; }
  const std::string& Identity() const { return identity_; }

 protected:
  QueryField* Find(std::string_view name);
  const QueryField* Find(std::string_view name) const;

 private:
  std::string QuerySection(std::string_view name) const;
  std::string ListSection() const;
  void StoreList(const std::vector<std::string>& names);

  IniManager* ini_ = nullptr;
  ErrorManager* errors_ = nullptr;
  std::string identity_;
  std::vector<QueryField> fields_;
  int dropped_ = 0;
};

// ---- The pieces BuildFilter is made of, for tests and the dialog.

// An entry taken apart (steps 1 to 4 above).
struct ParsedQueryEntry {
  enum class Kind : uint8_t { kCompare, kContains, kBegins };
  Kind kind = Kind::kCompare;
  std::string op;     // for kCompare: "=", "<=", ">=", "<", ">", "<>", "~="
  std::string value;  // as typed, operator and markers removed
  bool nocase = false;
};

// `start` is the entry's starting operator ("=", ">", ">=", "<", "<=").
ParsedQueryEntry ParseQueryEntry(std::string_view text, std::string_view start);

// The operator of `chars` (the starting operator followed by what was typed)
// normalised as step 2 says.
std::string NormaliseQueryOperator(std::string_view chars);

// The value of a number typed for a column with `picture`, as a canonical
// number ("-1234.5"); false when the text is no number the picture can show.
bool DeformatQueryNumber(std::string_view text, std::string_view picture, std::string* number);
// The standard date or time of a text typed for a column with a date or
// time picture, in decimal; false when it is none.
bool DeformatQueryDateTime(std::string_view text, std::string_view picture, std::string* value);

}  // namespace qzr

#endif  // QZR_FRAMEWORK_QUERY_MANAGER_H_
