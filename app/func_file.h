// The catalogue's data file FUNC: its declaration, the calling thread's
// instance of it, and the entry as the program's commands see it.
//
// FUNC (prefix FUN) is kept by the Palisade driver in the working directory
// ("FUNC" plus the driver's extension), created on first open, one instance
// per thread. Its record is 1414 bytes:
//
//   OFFSET  SIZE  FIELD            TYPE          MEANING
//   0       4     FUN:ID           LONG          record number, given on insert
//   4       100   FUN:NAME         CSTRING(100)  title
//   104     1024  FUN:DESCRIPTION  CSTRING(1024) description
//   1128    1     FUN:FULLCODE     BYTE          1: a complete working example
//   1129    255   FUN:FORUMLINK    CSTRING(255)  forum thread URL
//   1384    30    FUN:USER         CSTRING(30)   who posted it
//
// followed by one memo, FUN:EXAMPLECODE, MEMO(64000) text (the code), and
// one key, FUN:P_ID = KEY(+FUN:ID), PRIMARY NOCASE OPT.
//
// Threads: FUNC() is the calling thread's own descriptor (made by the
// file-registration hook, released by ReleaseFuncFile); nothing here locks.

#ifndef QZR_APP_FUNC_FILE_H_
#define QZR_APP_FUNC_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "data/file_descriptor.h"

namespace qzr {

inline constexpr char kFuncLabel[] = "FUNC";
inline constexpr char kFuncPrefix[] = "FUN";
inline constexpr uint32_t kFuncRecordSize = 1414;

// Field indexes in the declaration (the field numbers used by windows and
// the browse are these plus 1; the memo is field number 7).
inline constexpr int kFunId = 0;
inline constexpr int kFunName = 1;
inline constexpr int kFunDescription = 2;
inline constexpr int kFunFullCode = 3;
inline constexpr int kFunForumLink = 4;
inline constexpr int kFunUser = 5;
inline constexpr int kFunExampleCode = 0;  // memo index
inline constexpr int kFunPId = 0;          // key index

// Declared sizes. A CSTRING keeps its terminating zero inside its size, so
// it holds one byte less.
inline constexpr uint32_t kFunNameSize = 100;
inline constexpr uint32_t kFunDescriptionSize = 1024;
inline constexpr uint32_t kFunForumLinkSize = 255;
inline constexpr uint32_t kFunUserSize = 30;
inline constexpr uint32_t kFunExampleCodeSize = 64000;

// The declaration of FUNC, without run-time state.
FileDescriptor FuncDeclaration();

// The calling thread's instance of FUNC. A thread that has none yet gets one
// here (the file-registration hook makes it up front).
FileDescriptor& FUNC();
// Makes the calling thread's instance (nothing when it has one).
void RegisterFuncFile();
// Closes the calling thread's instance through its driver when it is open
// and disposes of it.
void ReleaseFuncFile();
// True when the calling thread has an instance.
bool HasFuncFile();

// One catalogue entry, as the commands read and write it.
struct FuncEntry {
  int32_t id = 0;
  std::string title;
  std::string description;
  std::string code;
  bool complete = false;
  std::string link;
  std::string posted_by;

  bool operator==(const FuncEntry&) const = default;
};

// The entry in the record buffer and memo of `file`.
FuncEntry ReadFuncEntry(const FileDescriptor& file);
// What a listing shows of the entry in `file`: the number, completeness,
// title and poster; the description, link and code are left empty.
FuncEntry ReadFuncListing(const FileDescriptor& file);
// Stores `entry` into the record buffer and memo of `file`. Each CSTRING
// field is zero-filled past its text, so no bytes of an earlier, longer
// value stay behind the terminator (the quick find reads the whole record).
// Texts longer than their field are cut at a character boundary; callers
// check lengths first (CheckFuncEntry) so that nothing is cut silently.
void WriteFuncEntry(FileDescriptor* file, const FuncEntry& entry, bool with_id);

// A field of the entry that is too long to store.
struct FuncFieldProblem {
  std::string field;      // "title", "description", "code", "link", "postedBy"
  size_t length = 0;      // bytes given
  size_t limit = 0;       // bytes the field holds
  bool has_zero = false;  // a zero byte inside a text field (it would end the text)
};

// Checks every text of `entry` against its field. Returns true when all fit;
// else the first problem in *problem.
bool CheckFuncEntry(const FuncEntry& entry, FuncFieldProblem* problem);
// Cuts every text of *entry to its field, at a character boundary, and
// drops zero bytes from the fixed text fields.
void TruncateFuncEntry(FuncEntry* entry);

}  // namespace qzr

#endif  // QZR_APP_FUNC_FILE_H_
