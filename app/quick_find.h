// The catalogue's quick find: the program-wide find settings and the record
// filter that lets through only the FUNC records containing the find text.
// The window's browse (through FunctionsView, catalogue.h) and the command
// line's find use this one filter.
//
// The filter, for the record in FUNC's buffer and memo:
//   1. When the find is not active, every record passes.
//   2. Found when the find text (without trailing blanks) occurs in one of
//      the text fields, each searched on its own up to its terminator:
//      FUN:NAME, FUN:DESCRIPTION, FUN:FORUMLINK, FUN:USER. A match never
//      runs from one field into the next.
//   3. Else, when the find text holds a digit, found when it occurs in
//      FUN:ID formatted with "@n-14" or FUN:FULLCODE formatted with "@n3".
//      The stored bytes of these two numbers never take part: their bytes
//      are not text, and matching them found records by accident.
//   4. Else, when include memo is on, found when it occurs in the code
//      (FUN:EXAMPLECODE).
// An empty find text occurs nowhere, so an active find with a blank text
// lets nothing through.
//
// Ignoring case compares the Unicode simple case folding of both sides
// (runtime/case_fold.h), so "café" finds "CAFÉ"; the settings keep the find
// text upper-cased for display, as the window shows it, and its folded form
// for matching.
//
// Threads: the settings are one process-wide object (the window and the
// command line share it) guarded by its own mutex; QuickFindPasses reads a
// snapshot the caller took, so a filter run never locks per record. The
// folding buffer is per thread.

#ifndef QZR_APP_QUICK_FIND_H_
#define QZR_APP_QUICK_FIND_H_

#include <string>
#include <string_view>

#include "data/file_descriptor.h"

namespace qzr {

// The find text's capacity (the window keeps it in a STRING(255)).
inline constexpr size_t kFindTextSize = 255;
// The program-wide copy of the find text is 500 characters.
inline constexpr size_t kGlobalFindTextSize = 500;

struct QuickFindSettings {
  std::string text;  // the find text, upper-cased when ignore_case
  // The find text case-folded, for matching when ignore_case (computed from
  // `text` when left empty).
  std::string folded;
  bool active = false;  // the find is on
  bool ignore_case = false;
  bool include_memo = false;
  bool has_digit = false;  // the text, without trailing blanks, holds "0".."9"
};

// The program-wide settings: cleared at start, set by the window's find
// (and the command line's), read by the record filter.
QuickFindSettings GlobalQuickFind();
void SetGlobalQuickFind(const QuickFindSettings& settings);
void ClearGlobalQuickFind();

// True when `text` without trailing blanks holds a digit.
bool FindTextHasDigit(std::string_view text);
// Settings for finding `text`: the text upper-cased when ignoring case (and
// its folded form), cut to kFindTextSize at a character boundary; the digit
// flag computed.
QuickFindSettings MakeQuickFind(std::string_view text, bool ignore_case, bool include_memo);

// The record filter: true when the record in `func` passes.
bool QuickFindPasses(const FileDescriptor& func, const QuickFindSettings& settings);

// True when the filter with `settings` looks into the code memo (step 4
// above can be reached); when false it reads nothing but the record.
inline bool QuickFindReadsCode(const QuickFindSettings& settings) {
  return settings.active && settings.include_memo;
}

// True when `needle` occurs in `hay`, comparing case-folded text when
// `ignore_case` (then `needle` must be folded already). An empty needle
// occurs nowhere.
bool QuickFindContains(std::string_view hay, std::string_view needle, bool ignore_case);

}  // namespace qzr

#endif  // QZR_APP_QUICK_FIND_H_
