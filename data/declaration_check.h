// The run-time check of a file declaration, and the report of declaration
// problems.
//
// A declaration is checked when a file's structure or driver is changed at
// run time and before a driver is used for a file; a driver comparing a
// declaration with a file's stored definition reports its findings the same
// way. A problem names its level (SYSTEM, FILE, FIELD, MEMO or BLOB, KEY,
// COMPONENT), the 1-based number of the item at that level, the attribute
// concerned ("UNKNOWN" when none applies) and a message: either a problem of
// the declaration itself (source S, groups 100000..150000) or a limit of the
// driver (source D, groups 200000..250000). Message k (from 0) of a group
// has the number group + k + 1, the runtime string that may replace the
// built-in text.
//
// Reporting shows "LEVEL : item : ATTRIBUTE : S00003" as the caption and the
// message as the text through the runtime message routine, posts ERRORCODE
// 47 (ERRORDETAIL the report line, FILEERRORCODE the attribute) and keeps
// the problem as the thread's last one. Checking stops at the first problem:
// one message box per failed operation, as the user expects.
//
// Threads: the check reads only its arguments; the last problem is kept per
// thread.

#ifndef QZR_DATA_DECLARATION_CHECK_H_
#define QZR_DATA_DECLARATION_CHECK_H_

#include <optional>
#include <string>
#include <string_view>

#include "data/file_descriptor.h"
#include "data/file_driver.h"

namespace qzr {

enum class DeclLevel { kSystem = 0, kFile = 1, kField = 2, kMemo = 3, kKey = 4, kComponent = 5 };

// S: a problem of the declaration; D: the driver cannot store what is declared.
enum class DeclSource { kDeclaration, kDriver };

// Message indexes (k) within each group.
namespace decl {
// SYSTEM, S
inline constexpr int kPropertyCannotBeSet = 0;
inline constexpr int kDynamicFileSupportNotFound = 1;
inline constexpr int kSystemNoFileDriver = 2;
// FILE, S
inline constexpr int kNoFileDriverSpecified = 0;
inline constexpr int kDriverCouldNotBeLoaded = 1;
inline constexpr int kNotAValidDriver = 2;
inline constexpr int kDriverNotDefined = 3;
inline constexpr int kRecordTooLarge = 4;
// FIELD, S
inline constexpr int kInvalidLabel = 0;  // also MEMO and KEY
inline constexpr int kDuplicateLabel = 1;  // also MEMO and KEY
inline constexpr int kNoType = 2;
inline constexpr int kNoSize = 3;
inline constexpr int kGroupHasMoreFields = 4;
inline constexpr int kTooManyPlaces = 5;
inline constexpr int kSizeTooBig = 6;
inline constexpr int kNoGroupFieldCount = 7;
inline constexpr int kOverLaterField = 8;
inline constexpr int kGroupTooLarge = 9;
inline constexpr int kFieldTooLarge = 10;
inline constexpr int kLargerThanOver = 11;
inline constexpr int kInvalidPicture = 12;
inline constexpr int kOverInOtherGroup = 13;
// MEMO, S
inline constexpr int kMemoNoSize = 2;
// KEY, S
inline constexpr int kKeyNoFields = 2;
inline constexpr int kPrimaryAndDup = 3;
inline constexpr int kKeyComponentOutOfRange = 4;
// COMPONENT, S
inline constexpr int kComponentOutOfRange = 0;
inline constexpr int kComponentDimensioned = 1;
inline constexpr int kComponentMismatch = 2;
// D, every level but SYSTEM and FILE
inline constexpr int kNoNameOrLabel = 0;
// FIELD, D
inline constexpr int kTypeNotSupported = 1;
inline constexpr int kTooManyDimensions = 2;
inline constexpr int kFieldOverDriverMax = 3;
// MEMO, D
inline constexpr int kTooManyMemos = 1;
inline constexpr int kMemoOverDriverMax = 2;
inline constexpr int kNoBlobs = 3;
inline constexpr int kNoMemos = 4;
inline constexpr int kNoBinaryMemos = 5;
// KEY, D
inline constexpr int kTooManyKeys = 1;
// COMPONENT, D
inline constexpr int kNoDescending = 0;
inline constexpr int kNoMixed = 1;
}  // namespace decl

// Limits of the declaration itself.
inline constexpr uint64_t kMaxRecordSize = 4194304;
inline constexpr uint64_t kMaxGroupSize = 4194304;
inline constexpr uint64_t kMaxFieldSize = 4190208;
inline constexpr int kMaxDecimalDigits = 31;

struct DeclarationProblem {
  DeclLevel level = DeclLevel::kSystem;
  int item = 1;                   // 1-based number at the level
  std::string attribute = "UNKNOWN";
  DeclSource source = DeclSource::kDeclaration;
  int message = 0;                // k, the place in the group (from 0)
  std::string text;               // set: used instead of the message's own text
  bool blob = false;              // level kMemo: the entry is a BLOB, reported as "BLOB"

  int Number() const;              // group + k + 1
  std::string Text() const;        // `text`, the runtime string Number(), or the built-in text
  std::string Report() const;      // "%s : %d : %s : %s%05d"
};

// The level's name in a report: "SYSTEM", "FILE", "FIELD", "MEMO", "KEY",
// "COMPONENT"; a BLOB entry's problems name their level "BLOB".
std::string_view LevelName(DeclLevel level, bool blob = false);

// The built-in text of message k of a group ("" beyond the group).
std::string_view BuiltInDeclarationText(DeclLevel level, DeclSource source, int k);

// The first problem of `file`'s declaration, also against `caps` when given.
// Looks up nothing: the driver itself is checked by CheckFileDeclaration.
std::optional<DeclarationProblem> FindDeclarationProblem(const FileDescriptor& file,
                                                         const DriverCapabilities* caps);

// Shows `problem`, posts ERRORCODE 47, remembers it; returns 47.
int ReportDeclarationProblem(const DeclarationProblem& problem);

// Checks the file's driver (FILE level: none named, cannot be loaded, not
// defined) and then the declaration against that driver's capabilities.
// Returns 0, or 47 after reporting the first problem.
int CheckFileDeclaration(const FileDescriptor& file);

// Reports a failed driver lookup (FILE level); returns 47.
int ReportDriverLookupFailure(DriverLookup why);

// The thread's last reported problem.
std::optional<DeclarationProblem> LastDeclarationProblem();
void ClearLastDeclarationProblem();

}  // namespace qzr

#endif  // QZR_DATA_DECLARATION_CHECK_H_
