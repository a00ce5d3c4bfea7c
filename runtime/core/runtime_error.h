// Runtime error posting: the codes and texts behind ERRORCODE, ERROR,
// FILEERRORCODE and FILEERROR.
//
// Runtime operations (file operations, queues, the evaluator) report failure
// by posting a numeric code, sometimes with a detail text; the caller reads
// it afterwards. The posted state is per thread: each thread sees only what
// its own operations posted. The text table (the runtime's strings) is
// constant and shared.

#ifndef QZR_RUNTIME_RUNTIME_ERROR_H_
#define QZR_RUNTIME_RUNTIME_ERROR_H_

#include <string>
#include <string_view>

#include "runtime/os/os_status.h"

namespace qzr {

// Runtime error codes (ERRORCODE); their texts are RuntimeString(code).
inline constexpr int kFileNotFound = 2;
inline constexpr int kPathNotFound = 3;
inline constexpr int kTooManyOpenFiles = 4;
inline constexpr int kAccessDenied = 5;
inline constexpr int kInsufficientMemory = 8;
inline constexpr int kEntryNotFound = 30;
inline constexpr int kFileIsAlreadyLocked = 32;
inline constexpr int kRecordNotAvailable = 33;
inline constexpr int kRecordNotFound = 35;
inline constexpr int kInvalidDataFile = 36;
inline constexpr int kFileNotOpen = 37;
inline constexpr int kCreatesDuplicateKey = 40;
inline constexpr int kRecordIsAlreadyHeld = 43;
inline constexpr int kInvalidFilename = 45;
inline constexpr int kKeyFileMustBeRebuilt = 46;
inline constexpr int kInvalidRecordDeclaration = 47;
inline constexpr int kUnableToLogTransaction = 48;
inline constexpr int kFileAlreadyOpen = 52;
inline constexpr int kNoCreateAttribute = 54;
inline constexpr int kLogoutAlreadyActive = 56;
inline constexpr int kInvalidMemoFile = 57;
inline constexpr int kExclusiveAccessRequired = 63;
inline constexpr int kUnableToRollback = 65;
inline constexpr int kInvalidFieldType = 75;
inline constexpr int kInvalidIndexString = 76;
inline constexpr int kUnableToAccessIndex = 77;
inline constexpr int kUnsupportedFunction = 80;
inline constexpr int kInvalidKeyLength = 88;
inline constexpr int kRecordChangedByAnotherStation = 89;
// Code 90: an operating-system failure inside a driver; FILEERRORCODE then
// holds the operating-system error number e and FILEERROR the string 300 + e.
inline constexpr int kFileSystemError = 90;
inline constexpr int kLogoutNotActive = 91;
inline constexpr int kOsStringBase = 300;

// The runtime's string n: the text of runtime error n ("" when n has none),
// or its replacement from the environment file's "MORMSG<n>" key. Strings
// 301..391 are the operating-system error texts for e = 1..91.
std::string RuntimeString(int n);

// Posts `code` on this thread, with an optional detail text (the evaluator's
// "at pos 3", an unknown name). FILEERRORCODE becomes `file_detail`.
void PostError(int code, std::string_view detail = {}, std::string_view file_detail = {});

// Posts code 90 for the operating-system error number `os_error` (the
// platform-independent numbering of OsErrorFromErrno).
void PostOsError(int os_error);

// Posts code 90 for the POSIX errno value `err`.
void PostErrno(int err);

// Clears this thread's posted error (ERRORCODE() becomes 0).
void ClearError();

// What this thread last posted.
int ERRORCODE();
std::string ERROR();          // RuntimeString(ERRORCODE()); "" when 0
std::string ERRORDETAIL();    // the detail text given with the code
std::string FILEERRORCODE();  // OS error number for code 90, else the driver's detail
std::string FILEERROR();      // string 300 + e for code 90, else ""

// Maps a POSIX errno value onto the operating-system error numbers 1..91 whose
// texts are the runtime strings 301..391 (2 file not found, 5 access denied,
// 33 lock violation, 39 disk full, 80 file exists, ...). Unknown values map to
// 91, "Unknown Error".
int OsErrorFromErrno(int err);

// The one mapping from the file seam's results (errno values, OsStatus) to
// the runtime's codes.
//
// The runtime error code for a file that could not be opened with `status`:
// 2 for a missing file, 3 for a path through something that is not a folder,
// 4 for too many open files, 5 for access denied (no permission, a read-only
// file system, a folder where the file should be); 0 for any other failure,
// which is an operating-system error (90).
int OpenErrorCode(OsStatus status);

// Posts the error of a failed open and returns its code: OpenErrorCode, or
// 90 with the operating-system error posted.
int PostOpenError(OsStatus status);

// Posts code 90 with the operating-system error of a failed seam call and
// returns 90. REQUIRES: !status.ok().
int PostOsFailure(OsStatus status);

}  // namespace qzr

#endif  // QZR_RUNTIME_RUNTIME_ERROR_H_
