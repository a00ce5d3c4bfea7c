// The structural check of a Palisade file.

#include "drivers/palisade/check.h"

#include <cstring>
#include <set>

#include "drivers/palisade/format.h"
#include "drivers/palisade/header.h"
#include "drivers/palisade/page.h"

namespace qzr::palisade {
namespace {

constexpr size_t kMaxDepth = 48;

class Checker {
 public:
  Checker(OsFile* file, CheckReport* report) : file_(file), report_(report) {}

  void Run() {
    if (!file_->Size(&size_).ok()) return Problem("the file's size cannot be read");
    if (size_ == 0) return;  // an empty file is a fresh, empty database
    uint8_t block[kHeaderBytes];
    if (!Read(0, block, kHeaderBytes)) return Problem("the header cannot be read");
    if (std::memcmp(block + kHdrMagic, kMagic, 4) != 0) return Problem("header: wrong magic");
    PlxHeader::Decode(block, &header_);
    std::string why;
    if (!header_.ZonesValid(&why)) return Problem("header: " + why);
    if (header_.HomeOffset != 0) Problem("header: home offset is not 0");
    const uint32_t end = header_.ComputedEnd();
    if (end > size_) return Problem("header: pages beyond the end of the file");
    if (header_.CommittedEnd != header_.WorkingEnd) {
      Problem("header: an interrupted update is pending");
    } else if (header_.CommittedEnd != end) {
      Problem("header: committed end " + std::to_string(header_.CommittedEnd) +
              " is not the computed end " + std::to_string(end));
    }
    if (header_.NoPages()) return;
    Visit(static_cast<int32_t>(header_.RootPage), 0, nullptr, nullptr, true);
    uint64_t slots = 0;
    for (int i = 1; i <= kMaxClass; ++i) slots += header_.PagesIn(i);
    if (slots != visited_.size()) {
      Problem(std::to_string(slots - visited_.size()) +
              " page(s) in the zones are not in the tree");
    }
    report_->pages = visited_.size();
    report_->depth = leaf_depth_ == SIZE_MAX ? 0 : static_cast<int>(leaf_depth_) + 1;
  }

 private:
  void Problem(const std::string& text) { report_->problems.push_back(text); }
  void PageProblem(int32_t address, const std::string& text) {
    Problem("page " + std::to_string(address) + ": " + text);
  }

  bool Read(uint64_t offset, uint8_t* buf, size_t len) {
    size_t got = 0;
    if (!file_->ReadAt(offset, buf, len, &got).ok() || got != len) return false;
    if (const UnitCipher* cipher = file_->cipher()) cipher->Decrypt(buf, len, offset);
    return true;
  }

  static Bytes AsBytes(const std::vector<uint8_t>* v) { return Bytes(v->data(), v->size()); }

  void Visit(int32_t address, size_t depth, const std::vector<uint8_t>* lower,
             const std::vector<uint8_t>* upper, bool is_root) {
    if (depth > kMaxDepth) return PageProblem(address, "the tree is deeper than possible");
    const int size_class = header_.ClassOf(address);
    if (size_class == 0) return PageProblem(address, "address outside all zones");
    if (!visited_.insert(address).second) return PageProblem(address, "reached twice");
    const size_t len = static_cast<size_t>(size_class) * kUnit;
    std::vector<uint8_t> block(len);
    if (!Read(PageOffset(address), block.data(), len))
      return PageProblem(address, "cannot be read");
    if (LoadU32(block.data()) != PageOffset(address)) PageProblem(address, "wrong home offset");
    PageNode node;
    if (int check = DecodePage(block.data(), len, &node); check != 0) {
      return PageProblem(address, "damaged (check " + std::to_string(check) + ")");
    }
    const size_t n = node.RecordCount();
    if (node.PlainSize() > kMaxPageBytes && n > 1)
      PageProblem(address, "larger than a page may be");
    if (n == 0 && !is_root) PageProblem(address, "empty page below the root");
    for (size_t i = 0; i < n; ++i) {
      if (node.At(i).Length() > kMaxRecordLength)
        PageProblem(address, "record over the length limit");
    }
    // An inner page's first separator is empty: its bound is its parent's.
    const size_t first = node.IsInner() ? 1 : 0;
    if (n > first && lower != nullptr && CompareKeys(node.KeyAt(first), AsBytes(lower)) < 0) {
      PageProblem(address, "key below its separator");
    }
    if (n > first && upper != nullptr && CompareKeys(node.KeyAt(n - 1), AsBytes(upper)) >= 0) {
      PageProblem(address, "key at or above the next separator");
    }
    if (!node.IsInner()) {
      report_->records += n;
      if (leaf_depth_ == SIZE_MAX) leaf_depth_ = depth;
      if (depth != leaf_depth_) PageProblem(address, "leaf at another depth");
      return;
    }
    if (is_root && n < 2) PageProblem(address, "inner root with fewer than two children");
    std::vector<std::vector<uint8_t>> keys;
    std::vector<int32_t> children;
    for (size_t i = 0; i < n; ++i) {
      const RecordView rec = node.At(i);
      if (rec.Length() != rec.KeyLength()) PageProblem(address, "separator with a payload");
      keys.emplace_back(rec.key().begin(), rec.key().end());
      children.push_back(rec.child);
    }
    for (size_t i = 0; i < n; ++i) {
      Visit(children[i], depth + 1, i == 0 ? lower : &keys[i], i + 1 < n ? &keys[i + 1] : upper,
            false);
    }
  }

  OsFile* file_;
  CheckReport* report_;
  uint64_t size_ = 0;
  PlxHeader header_;
  std::set<int32_t> visited_;
  size_t leaf_depth_ = SIZE_MAX;
};

}  // namespace

CheckReport CheckFile(OsFile* file) {
  CheckReport report;
  Checker(file, &report).Run();
  return report;
}

CheckReport CheckFile(const std::string& path) {
  std::unique_ptr<OsFile> file;
  if (const OsStatus s = OsFile::Open(path, false, false, &file); !s.ok()) {
    CheckReport report;
    report.problems.push_back("cannot open " + path + " (errno " + std::to_string(s.error()) + ")");
    return report;
  }
  return CheckFile(file.get());
}

}  // namespace qzr::palisade
