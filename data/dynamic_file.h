// Dynamic files: changing a file's declaration or its driver at run time.
//
// The work is done by two services, "_Mor$CHANGE_FILE" and
// "_Mor$CHANGE_DRIVER". They are looked up once, on first use, under a
// process-wide lock: first among the services the program exports with
// ExportDynamicFileServices, then among the program's own dynamic symbols of
// those exact names (extern "C" functions with the ChangeFileService and
// ChangeDriverService signatures). When the lookup does not find both, each
// change fails with the SYSTEM message "Dynamic File Support Not Found" and
// ERRORCODE 47.
//
// DefaultChangeFile and DefaultChangeDriver are ready-made services: a
// program that wants dynamic files exports them (or its own).

#ifndef QZR_DATA_DYNAMIC_FILE_H_
#define QZR_DATA_DYNAMIC_FILE_H_

#include <string_view>

#include "data/file_descriptor.h"

namespace qzr {

inline constexpr const char* kChangeFileService = "_Mor$CHANGE_FILE";
inline constexpr const char* kChangeDriverService = "_Mor$CHANGE_DRIVER";

// Both return a runtime error code, 0 on success.
using ChangeFileService = int (*)(FileDescriptor& file, const FileDescriptor& declaration);
using ChangeDriverService = int (*)(FileDescriptor& file, const char* driver,
                                    const char* driver_string);

// The program's exports. Must happen before the first change: the lookup is
// done once.
void ExportDynamicFileServices(ChangeFileService change_file, ChangeDriverService change_driver);

// Gives `file` the fields, memos, keys, attributes and names of
// `declaration` (and its driver when it names one).
int ChangeFileDeclaration(FileDescriptor& file, const FileDescriptor& declaration);

// Moves `file` to the driver `driver` with `driver_string`.
int ChangeFileDriver(FileDescriptor& file, std::string_view driver, std::string_view driver_string);

// The ready-made services. The file must be closed (else 52, "File Already
// Open"); the result is checked against the driver that will serve it
// (ERRORCODE 47 with the problem reported); on any failure `file` is left
// as it was.
int DefaultChangeFile(FileDescriptor& file, const FileDescriptor& declaration);
int DefaultChangeDriver(FileDescriptor& file, const char* driver, const char* driver_string);

// Forgets the exports and the lookup, so that a test can look up afresh.
void ResetDynamicFileServicesForTesting();

}  // namespace qzr

#endif  // QZR_DATA_DYNAMIC_FILE_H_
