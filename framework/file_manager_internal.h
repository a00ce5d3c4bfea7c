// Helpers shared by the file manager's source files and tests; not part of
// its interface.
//
// Threads: the helpers act on the calling thread's runtime error and on a
// descriptor the caller owns.

#ifndef QZR_FRAMEWORK_FILE_MANAGER_INTERNAL_H_
#define QZR_FRAMEWORK_FILE_MANAGER_INTERNAL_H_

#include <string>

#include "data/file_descriptor.h"
#include "data/file_driver.h"
#include "framework/error_keeper.h"
#include "framework/error_manager.h"

namespace qzr::internal {

// Clears the record buffer as a new record starts: numbers, dates and
// times 0, CSTRING and PSTRING empty, STRING blank, and every memo and
// BLOB empty. Does nothing for a null file.
void ClearRecord(FileDescriptor* file);

// A record's position as the framework keeps it, from a driver's answer to
// POSITIONfile or POSITIONkey: the driver's own text when it gave one, else
// its record pointer as four little-endian bytes.
std::string PositionText(const FileArgs& answer);
// Sets the position arguments of a REGETfile or REGETkey call for a
// position made by PositionText: the text, and the record pointer its first
// four bytes hold.
void SetRegetPosition(const std::string& position, FileArgs* args);

}  // namespace qzr::internal

#endif  // QZR_FRAMEWORK_FILE_MANAGER_INTERNAL_H_
