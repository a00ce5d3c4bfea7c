// File operation codes: the operation numbers of the file-driver entry and
// their names.
//
// The code is the driver's operation number and the index into the name
// table the trace prints. Codes 0..104 are defined; the suffix of a name says
// which argument the operation takes (file, key, ptr, len, sec, dyn,
// dynfilter). Constant data only; safe from any thread.

#ifndef QZR_DATA_FILE_OPS_H_
#define QZR_DATA_FILE_OPS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qzr {

// The enumerators carry the operation names exactly, except where a name is
// not an identifier or collides with a standard macro: code 0 "(0)" is
// Unused0, 101 "(101)" is Unused101, 14 "EOF" is EOF_ and 68 "NULL" is NULL_.
enum class FileOp : uint8_t {
  Unused0 = 0,
  ADD = 1,
  BOF = 2,
  BUILDfile = 3,
  APPEND = 4,
  BUILDdyn = 5,
  BUILDkey = 6,
  CLOSE = 7,
  COMMIT = 8,
  COPY = 9,
  CREATE = 10,
  DELETE = 11,
  DUPLICATE = 12,
  EMPTY = 13,
  EOF_ = 14,
  GETfilekey = 15,
  GETfileptr = 16,
  GETkeyptr = 17,
  HOLDfile = 18,
  HOLDfilesec = 19,
  LOCKfile = 20,
  LOCKfilesec = 21,
  LOGOUT = 22,
  NAME = 23,
  NEXT = 24,
  OPEN = 25,
  PACK = 26,
  POINTERfile = 27,
  POINTERkey = 28,
  FLUSH = 29,
  PUT = 30,
  PREVIOUS = 31,
  RECORDSfile = 32,
  RECORDSkey = 33,
  BUILDdynfilter = 34,
  STARTRAN = 35,
  RELEASE = 36,
  REMOVE = 37,
  RENAME = 38,
  ENDTRAN = 39,
  ROLLBACK = 40,
  SETfile = 41,
  SETfilekey = 42,
  SETfileptr = 43,
  SETkey = 44,
  SETkeykey = 45,
  SETkeyptr = 46,
  SETkeykeyptr = 47,
  SHARE = 48,
  SKIP = 49,
  UNLOCK = 50,
  ADDfilelen = 51,
  BYTES = 52,
  GETfileptrlen = 53,
  PUTfileptr = 54,
  PUTfileptrlen = 55,
  STREAM = 56,
  DUPLICATEkey = 57,
  WATCH = 58,
  APPENDlen = 59,
  SEND = 60,
  POSITIONfile = 61,
  POSITIONkey = 62,
  RESETfile = 63,
  RESETkey = 64,
  NOMEMO = 65,
  REGETfile = 66,
  REGETkey = 67,
  NULL_ = 68,
  SETNULL = 69,
  SETNONULL = 70,
  SET_PROPERTY = 71,
  GET_PROPERTY = 72,
  QUERY_KEY = 73,
  QUERY_VIEW = 74,
  BLOB_YIELD = 75,
  BLOB_TAKE = 76,
  BLOB_SIZE = 77,
  BLOB_SET_PROP = 78,
  BLOB_GET_PROP = 79,
  BUFFER = 80,
  SETview = 81,
  CLEAR = 82,
  RESETviewfile = 83,
  BUILDevent = 84,
  SETPROPERTYkey = 85,
  GETPROPERTYkey = 86,
  Internal87 = 87,
  DO_PROPERTY = 88,
  DOPROPERTYkey = 89,
  DOPROPERTYblob = 90,
  Internal91 = 91,
  INVIEW = 92,
  ENDVIEW = 93,
  Internal94 = 94,
  COUNTRECORDS = 95,
  GETNULLS = 96,
  SETNULLS = 97,
  GETSTATE = 98,
  RESTORESTATE = 99,
  Internal100 = 100,
  Unused101 = 101,
  FREESTATE = 102,
  SQLCALLBACK = 103,
  DESTROY = 104,
};

inline constexpr int kLastFileOp = 104;

// The name of operation `code` as the trace prints it ("ADD", "GETkeyptr",
// "(0)"); for a code beyond the table, "(n)".
std::string OperationName(int code);
inline std::string OperationName(FileOp op) {
  return OperationName(static_cast<int>(op));
}

// The operation code of `name` (exact, case-sensitive), or -1.
int OperationCode(std::string_view name);

// True for the operations that read a record into the record buffer: NEXT,
// PREVIOUS, the GETs and the REGETs.
bool ReadsRecordIntoBuffer(FileOp op);

}  // namespace qzr

#endif  // QZR_DATA_FILE_OPS_H_
