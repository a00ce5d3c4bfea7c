// Per-thread runtime error state and the runtime's string table.

#include "runtime/core/runtime_error.h"

#include <cerrno>
#include <unordered_map>

#include "runtime/settings/locale_data.h"

namespace qzr {
namespace {

struct PostedError {
  int code = 0;
  std::string detail;
  std::string file_code;
  std::string file_text;
};

thread_local PostedError t_error;

const std::unordered_map<int, const char*>& StringTable() {
  static const std::unordered_map<int, const char*> table = {
      // Runtime error codes.
      {2, "File Not Found"},
      {3, "Path Not Found"},
      {4, "Too Many Open Files"},
      {5, "Access Denied"},
      {7, "Memory Corrupted"},
      {8, "Insufficient Memory"},
      {15, "Bad drive"},
      {30, "Entry Not Found"},
      {32, "File Is Already Locked"},
      {33, "Record Not Available"},
      {35, "Record Not Found"},
      {36, "Invalid Data File"},
      {37, "File Not Open"},
      {38, "Invalid Key File"},
      {40, "Creates Duplicate Key"},
      {43, "Record Is Already Held"},
      {45, "Invalid Filename"},
      {46, "Key File Must Be Rebuilt"},
      {47, "Invalid Record Declaration"},
      {48, "Unable To Log Transaction"},
      {52, "File Already Open"},
      {53, "Invalid Morwain File"},
      {54, "No Create Attribute"},
      {55, "File Must Be Shared"},
      {56, "LOGOUT Already Active"},
      {57, "Invalid Memo File"},
      {63, "Exclusive Access Required"},
      {64, "Sharing Violation"},
      {65, "Unable To ROLLBACK Transaction"},
      {73, "Memo File Missing"},
      {75, "Invalid Field Type Descriptor"},
      {76, "Invalid Index String"},
      {77, "Unable To Access Index"},
      {78, "Invalid Number Of Parameters"},
      {79, "Unsupported Data Type In File"},
      {80, "Unsupported File Driver Function"},
      {81, "Unknown Error Posted"},
      {88, "Invalid Key Length"},
      {89, "Record Changed By Another Station"},
      {90, "File System Error"},
      {91, "LOGOUT Not Active"},
      {92, "BUILD In Progress"},
      {93, "BUILD Cancelled"},
      {95, "Server Not Found"},
      {96, "Remote Object Not Found"},
      {97, "Stream Error"},
      // Operating-system error texts, 300 + e.
      {301, "Invalid Function"},
      {302, "File Not Found"},
      {303, "Path Not Found"},
      {304, "Too Many Open Files"},
      {305, "Access Denied"},
      {306, "Invalid Handle"},
      {307, "Memory Control Blocks Destroyed"},
      {308, "Not Enough Memory"},
      {309, "Invalid Memory Block Address"},
      {310, "Invalid Environment"},
      {311, "Invalid Format"},
      {312, "Invalid Access Code"},
      {313, "Invalid Data"},
      {314, "Out Of Memory"},
      {315, "Invalid Drive"},
      {316, "Cannot Remove Current Directory"},
      {317, "Not Same Device"},
      {318, "No More Files"},
      {319, "Write Protected"},
      {320, "Unknown Unit"},
      {321, "Drive Not Ready"},
      {322, "Unknown Command"},
      {323, "Data Error (CRC)"},
      {324, "Bad Request Length"},
      {325, "Seek Error"},
      {326, "Unknown Media Type"},
      {327, "Sector Not Found"},
      {328, "Printer Out Of Paper"},
      {329, "Write Fault"},
      {330, "Read Fault"},
      {331, "General Failure"},
      {332, "Sharing Violation"},
      {333, "Lock Violation"},
      {334, "Wrong Disk"},
      {336, "Sharing Buffer Exceeded"},
      {338, "Reached End Of File"},
      {339, "Handle Disk Full"},
      {350, "Request Not Supported"},
      {380, "File Already Exists"},
      {382, "Cannot Make Directory Entry"},
      {384, "Out Of Structures"},
      {386, "Invalid Password"},
      {387, "Invalid Parameter"},
      {388, "Network Write Fault"},
      {391, "Unknown Error"},
      // Internal errors (the fatal path).
      {410, "Pure Virtual Function Called"},
      {501, "Internal error 01"},
      {502, "Internal error 02"},
      // Evaluator.
      {1010, "Invalid expression for EVALUATE"},
      {1011, "BIND has not been called for"},
      {1012, "Mismatched PUSHBIND/POPBIND"},
      {1013, "No evaluator exists"},
      {1014, "Unknown evaluation context"},
      {1015, "Not-omittable parameter of built-in function is omitted"},
      {1016, "Regular expression exceeds the match limit"},
  };
  return table;
}

}  // namespace

std::string RuntimeString(int n) {
  // The environment file may replace any runtime message ("MORMSG<n>").
  if (std::optional<std::string> text = RuntimeMessageOverride(n)) return *text;
  const auto& table = StringTable();
  auto it = table.find(n);
  return it == table.end() ? std::string() : std::string(it->second);
}

void PostError(int code, std::string_view detail, std::string_view file_detail) {
  t_error.code = code;
  t_error.detail.assign(detail);
  t_error.file_code.assign(file_detail);
  t_error.file_text.clear();
}

void PostOsError(int os_error) {
  t_error.code = kFileSystemError;
  t_error.detail.clear();
  t_error.file_code = std::to_string(os_error);
  t_error.file_text = RuntimeString(kOsStringBase + os_error);
}

void PostErrno(int err) {
  PostOsError(OsErrorFromErrno(err));
}

void ClearError() {
  // Called at the start of every file operation: emptied in place, the
  // strings keep their storage, and nothing is built or freed per call.
  PostedError& e = t_error;
  e.code = 0;
  e.detail.clear();
  e.file_code.clear();
  e.file_text.clear();
}

int ERRORCODE() {
  return t_error.code;
}
std::string ERROR() {
  return t_error.code == 0 ? std::string() : RuntimeString(t_error.code);
}
std::string ERRORDETAIL() {
  return t_error.detail;
}
std::string FILEERRORCODE() {
  return t_error.file_code;
}
std::string FILEERROR() {
  return t_error.file_text;
}

int OpenErrorCode(OsStatus status) {
  switch (status.error()) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
      return kPathNotFound;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kAccessDenied;
    default:
      return 0;
  }
}

int PostOpenError(OsStatus status) {
  const int code = OpenErrorCode(status);
  if (code == 0) return PostOsFailure(status);
  PostError(code);
  return code;
}

int PostOsFailure(OsStatus status) {
  PostErrno(status.error());
  return kFileSystemError;
}

int OsErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EISDIR:
      return 5;
    case EBADF:
      return 6;
    case ENOMEM:
      return 8;
    case EXDEV:
      return 17;
    case EROFS:
      return 19;
    case EIO:
      return 31;
    case EBUSY:
    case ETXTBSY:
      return 32;
    case EAGAIN:
    case EDEADLK:
      return 33;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return 39;
    case ENOTSUP:
      return 50;
    case EEXIST:
      return 80;
    case EINVAL:
      return 87;
    default:
      return 91;
  }
}

}  // namespace qzr
