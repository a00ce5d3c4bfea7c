// The ASCII text driver: a record file whose records are the lines of a text
// file, as far as a log needs one.
//
// Operations served (anything else returns 80, "Unsupported File Driver
// Function"):
//   CREATE   creates the file when it is missing; an existing file keeps its
//            lines (a text log must not lose lines to a second creator that
//            raced it between "does it exist?" and CREATE).
//   OPEN     opens the file for the access in FileDescriptor::open_mode (low
//            two bits: 0 read, 1 write, 2 read/write). Sharing bits are
//            accepted; every open is shared ("deny none"), as a log needs.
//   ADD, APPEND, ADDfilelen, APPENDlen
//            appends one line: the record buffer (its first `length` bytes
//            for the len forms) up to the first NUL byte, trailing blanks
//            removed, a line feed added. Line breaks inside the text become
//            blanks, so that one record is always one line and no record can
//            pose as several.
//   CLOSE    closes the file.
//
// Appends from several processes never interleave within a line: the file is
// opened with O_APPEND and each line goes out in one write.
//
// Errors: 2 file not found, 3 path not found, 4 too many open files, 5
// access denied, 37 file not open, 45 invalid (empty) file name, 52 file
// already open; other operating-system failures return 90 with the errno
// posted (PostOsFailure).
//
// Threads: the driver serialises its calls with one mutex; a descriptor
// belongs to one thread at a time, as everywhere.

#ifndef QZR_DRIVERS_ASCII_ASCII_DRIVER_H_
#define QZR_DRIVERS_ASCII_ASCII_DRIVER_H_

#include <memory>

#include "data/file_driver.h"

namespace qzr {

// The driver's registered name.
inline constexpr char kAsciiDriverName[] = "ASCII";

// A new instance of the driver.
std::unique_ptr<FileDriver> MakeAsciiDriver();

// Registers the driver under "ASCII" unless a driver of that name is already
// registered. The program calls it at start; calling it again does nothing.
void RegisterAsciiDriver();

}  // namespace qzr

#endif  // QZR_DRIVERS_ASCII_ASCII_DRIVER_H_
