// View positions: the byte string that names one row of a view, so that a
// list row can keep it and the view can be placed at that row again or read
// it again. This file owns the format only; what the access tags and the
// placement fields mean is the view engine's (view_engine.h).
//
//   OFFSET  SIZE   MEANING
//   0       1      'V'
//   1       1      format 1
//   2       2      n, the number of files
//   4       4n     record position of each file (0: a cleared outer record)
//   ..      1      access: 0 record order, 1 key, 2 key read backwards, 3 list
//   ..      1      key number + 1 (0 for none)
//   ..      2      m, placement fields, then per field: u16 field index,
//                  u16 byte count, the field's bytes as read
// Integers little-endian.
//
// Threads: plain functions over the caller's data.

#ifndef QZR_DATA_VIEW_POSITION_H_
#define QZR_DATA_VIEW_POSITION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qzr {

// The longest view position EncodeViewPosition gives (a list row keeps it
// in a STRING(1024)).
inline constexpr size_t kMaxViewPosition = 1024;

// One placement field: its index in the primary file and its bytes.
struct ViewPlacement {
  int field = 0;
  std::string_view bytes;
};

// The parts of a view position. Decoding leaves the placement bytes
// pointing into the decoded text.
struct ViewPosition {
  std::vector<uint32_t> records;  // per file of the view, the primary first
  uint8_t access = 0;
  uint8_t key = 0;  // key number + 1; 0 for none
  std::vector<ViewPlacement> placement;
};

// The encoded position. The placement values only help when the row has
// gone, so a position that would not fit kMaxViewPosition goes without
// them (m = 0).
// REQUIRES: at most 65535 records and placement fields, each field's bytes
// at most 65535 long.
std::string EncodeViewPosition(const ViewPosition& position);
// EncodeViewPosition into `*out` (replaced), reusing its storage.
void EncodeViewPosition(const ViewPosition& position, std::string* out);

// Decodes a whole position of a view of `files` files. False when `text`
// is not one: a wrong tag, format or file count, a short or over-long
// text, or a primary record position of 0.
bool DecodeViewPosition(std::string_view text, size_t files, ViewPosition* out);

// Decodes only the record positions at the head of a position (what is
// needed to read its row again); the rest of `text` is not looked at.
// False as DecodeViewPosition for the head.
bool DecodeViewPositionRecords(std::string_view text, size_t files, std::vector<uint32_t>* records);

}  // namespace qzr

#endif  // QZR_DATA_VIEW_POSITION_H_
