// The operation-name table.

#include "data/file_ops.h"

#include <array>

namespace qzr {
namespace {

constexpr std::array<std::string_view, kLastFileOp + 1> kOperationNames = {
    "(0)",           "ADD",          "BOF",          "BUILDfile",     "APPEND",
    "BUILDdyn",      "BUILDkey",     "CLOSE",        "COMMIT",        "COPY",
    "CREATE",        "DELETE",       "DUPLICATE",    "EMPTY",         "EOF",
    "GETfilekey",    "GETfileptr",   "GETkeyptr",    "HOLDfile",      "HOLDfilesec",
    "LOCKfile",      "LOCKfilesec",  "LOGOUT",       "NAME",          "NEXT",
    "OPEN",          "PACK",         "POINTERfile",  "POINTERkey",    "FLUSH",
    "PUT",           "PREVIOUS",     "RECORDSfile",  "RECORDSkey",    "BUILDdynfilter",
    "STARTRAN",      "RELEASE",      "REMOVE",       "RENAME",        "ENDTRAN",
    "ROLLBACK",      "SETfile",      "SETfilekey",   "SETfileptr",    "SETkey",
    "SETkeykey",     "SETkeyptr",    "SETkeykeyptr", "SHARE",         "SKIP",
    "UNLOCK",        "ADDfilelen",   "BYTES",        "GETfileptrlen", "PUTfileptr",
    "PUTfileptrlen", "STREAM",       "DUPLICATEkey", "WATCH",         "APPENDlen",
    "SEND",          "POSITIONfile", "POSITIONkey",  "RESETfile",     "RESETkey",
    "NOMEMO",        "REGETfile",    "REGETkey",     "NULL",          "SETNULL",
    "SETNONULL",     "SET_PROPERTY", "GET_PROPERTY", "QUERY_KEY",     "QUERY_VIEW",
    "BLOB_YIELD",    "BLOB_TAKE",    "BLOB_SIZE",    "BLOB_SET_PROP", "BLOB_GET_PROP",
    "BUFFER",        "SETview",      "CLEAR",        "RESETviewfile", "BUILDevent",
    "SETPROPERTYkey", "GETPROPERTYkey", "Internal87", "DO_PROPERTY",  "DOPROPERTYkey",
    "DOPROPERTYblob", "Internal91",  "INVIEW",       "ENDVIEW",       "Internal94",
    "COUNTRECORDS",  "GETNULLS",     "SETNULLS",     "GETSTATE",      "RESTORESTATE",
    "Internal100",   "(101)",        "FREESTATE",    "SQLCALLBACK",   "DESTROY",
};

}  // namespace

std::string OperationName(int code) {
  if (code < 0 || code > kLastFileOp) return "(" + std::to_string(code) + ")";
  return std::string(kOperationNames[static_cast<size_t>(code)]);
}

int OperationCode(std::string_view name) {
  for (size_t i = 0; i < kOperationNames.size(); ++i) {
    if (kOperationNames[i] == name) return static_cast<int>(i);
  }
  return -1;
}

bool ReadsRecordIntoBuffer(FileOp op) {
  switch (op) {
    case FileOp::NEXT:
    case FileOp::PREVIOUS:
    case FileOp::GETfilekey:
    case FileOp::GETfileptr:
    case FileOp::GETfileptrlen:
    case FileOp::GETkeyptr:
    case FileOp::REGETfile:
    case FileOp::REGETkey:
      return true;
    default:
      return false;
  }
}

}  // namespace qzr
