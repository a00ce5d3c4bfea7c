// The structural check of a Palisade file: reads the committed file from
// disk, independent of any cache, and lists every problem it finds.
//
// It checks the header (magic, zone table, ends), that every page decodes
// and sits in the zone of its stored size at its own home offset, the tree
// (keys ascending within and across pages, separators bounding their
// children, leaves at one depth, pages within the size limit, no page
// reached twice) and that every zone slot holds a page of the tree. Damage
// is reported, never fatal: the check is safe to run on any file.
//
// Reads only; safe to run while no other thread writes the file.

#ifndef QZR_DRIVERS_PALISADE_CHECK_H_
#define QZR_DRIVERS_PALISADE_CHECK_H_

#include <string>
#include <vector>

#include "drivers/palisade/file_io.h"

namespace qzr::palisade {

struct CheckReport {
  std::vector<std::string> problems;  // empty when the file is sound
  size_t pages = 0;                   // pages reached from the root
  size_t records = 0;                 // records in leaf pages
  int depth = 0;                      // levels of the tree (0 without pages)
};

// Checks the file open in `file` (its cipher, if any, is used).
CheckReport CheckFile(OsFile* file);
// Opens `path` read-only and checks it; a file that cannot be opened is one
// problem.
CheckReport CheckFile(const std::string& path);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_CHECK_H_
