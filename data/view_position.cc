// The view position format (see view_position.h for the table).

#include "data/view_position.h"

#include <cstring>
#include <utility>

namespace qzr {

namespace {

constexpr char kPositionMagic = 'V';
constexpr char kPositionFormat = 1;

class PositionReader {
 public:
  explicit PositionReader(std::string_view s) : s_(s) {}
  bool U8(uint32_t* v) {
    if (at_ + 1 > s_.size()) return false;
    *v = static_cast<uint8_t>(s_[at_++]);
    return true;
  }
  bool U16(uint32_t* v) {
    uint32_t lo = 0, hi = 0;
    if (!U8(&lo) || !U8(&hi)) return false;
    *v = lo | hi << 8;
    return true;
  }
  bool U32(uint32_t* v) {
    uint32_t lo = 0, hi = 0;
    if (!U16(&lo) || !U16(&hi)) return false;
    *v = lo | hi << 16;
    return true;
  }
  bool Bytes(size_t n, std::string_view* out) {
    if (s_.size() - at_ < n) return false;
    *out = s_.substr(at_, n);
    at_ += n;
    return true;
  }
  bool AtEnd() const { return at_ == s_.size(); }

 private:
  std::string_view s_;
  size_t at_ = 0;
};

bool ReadRecords(PositionReader* in, size_t files, std::vector<uint32_t>* records) {
  uint32_t magic = 0, format = 0, n = 0;
  if (!in->U8(&magic) || !in->U8(&format) || !in->U16(&n) ||
      magic != static_cast<uint32_t>(kPositionMagic) ||
      format != static_cast<uint32_t>(kPositionFormat) || n != files) {
    return false;
  }
  records->assign(n, 0);
  for (uint32_t& p : *records) {
    if (!in->U32(&p)) return false;
  }
  return true;
}

}  // namespace

std::string EncodeViewPosition(const ViewPosition& position) {
  std::string out;
  EncodeViewPosition(position, &out);
  return out;
}

void EncodeViewPosition(const ViewPosition& position, std::string* text) {
  // Sized once and written through a pointer: a view encodes the position
  // of every row it hands out.
  const size_t head = 4 + 4 * position.records.size() + 2;
  size_t placement = 2;
  for (const ViewPlacement& p : position.placement) placement += 4 + p.bytes.size();
  const bool placed = head + placement <= kMaxViewPosition;
  text->resize(head + (placed ? placement : 2));
  char* out = text->data();
  auto put16 = [&out](uint32_t v) {
    out[0] = static_cast<char>(v & 0xFF);
    out[1] = static_cast<char>((v >> 8) & 0xFF);
    out += 2;
  };
  *out++ = kPositionMagic;
  *out++ = kPositionFormat;
  put16(static_cast<uint32_t>(position.records.size()));
  for (uint32_t record : position.records) {
    put16(record & 0xFFFF);
    put16(record >> 16);
  }
  *out++ = static_cast<char>(position.access);
  *out++ = static_cast<char>(position.key);
  if (!placed) {
    put16(0);
    return;
  }
  put16(static_cast<uint32_t>(position.placement.size()));
  for (const ViewPlacement& p : position.placement) {
    put16(static_cast<uint32_t>(p.field));
    put16(static_cast<uint32_t>(p.bytes.size()));
    if (!p.bytes.empty()) std::memcpy(out, p.bytes.data(), p.bytes.size());
    out += p.bytes.size();
  }
}

bool DecodeViewPosition(std::string_view text, size_t files, ViewPosition* out) {
  PositionReader in(text);
  ViewPosition position;
  if (!ReadRecords(&in, files, &position.records)) return false;
  uint32_t access = 0, key = 0, m = 0;
  if (!in.U8(&access) || !in.U8(&key) || !in.U16(&m)) return false;
  position.access = static_cast<uint8_t>(access);
  position.key = static_cast<uint8_t>(key);
  for (uint32_t i = 0; i < m; ++i) {
    uint32_t field = 0, size = 0;
    std::string_view bytes;
    if (!in.U16(&field) || !in.U16(&size) || !in.Bytes(size, &bytes)) return false;
    position.placement.push_back({static_cast<int>(field), bytes});
  }
  if (!in.AtEnd() || position.records.empty() || position.records[0] == 0) return false;
  *out = std::move(position);
  return true;
}

bool DecodeViewPositionRecords(std::string_view text, size_t files,
                               std::vector<uint32_t>* records) {
  PositionReader in(text);
  std::vector<uint32_t> read;
  if (!ReadRecords(&in, files, &read) || read.empty() || read[0] == 0) return false;
  *records = std::move(read);
  return true;
}

}  // namespace qzr
