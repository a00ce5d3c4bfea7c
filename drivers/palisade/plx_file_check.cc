// The logical check of a Palisade file's tables.

#include "drivers/palisade/plx_file_check.h"

#include <algorithm>

#include "drivers/palisade/format.h"
#include "drivers/palisade/key_maintenance.h"
#include "drivers/palisade/table_def.h"

namespace qzr::palisade {
namespace {

constexpr size_t kMaxProblems = 1000;

class TableChecker {
 public:
  TableChecker(PlxFile* file, const std::string& name, uint32_t table, LogicalReport* report)
      : file_(file),
        tables_(file->tables()),
        tree_(file->tree()),
        name_(name),
        table_(table),
        report_(report) {}

  void Run() {
    summary_.name = name_;
    summary_.table = table_;
    const std::vector<uint8_t> stream = tables_->DefinitionStream(table_);
    if (stream.empty()) return Problem("has no definition");
    if (!ReadDefinition(Bytes(stream.data(), stream.size()), &decl_)) {
      return Problem("definition cannot be read");
    }
    if (keys_.Init(decl_, CollationForFile(decl_), false) != 0) {
      return Problem("definition holds a key that cannot be encoded");
    }
    summary_.key_entries.assign(keys_.size(), 0);
    CheckRows();
    CheckOtherRecords();
    const Counters rows = tables_->ReadCounters(table_, kKindRow);
    if (rows.RecordCount != summary_.rows) {
      Problem("counts " + std::to_string(rows.RecordCount) + " rows but holds " +
              std::to_string(summary_.rows));
    }
    CheckNumbering(rows);
    for (size_t k = 0; k < keys_.size(); ++k) {
      const Counters c = tables_->ReadCounters(table_, static_cast<uint8_t>(k));
      if (c.RecordCount != summary_.key_entries[k]) {
        Problem("key " + std::to_string(k + 1) + " counts " + std::to_string(c.RecordCount) +
                " entries but holds " + std::to_string(summary_.key_entries[k]));
      }
    }
    report_->tables.push_back(summary_);
  }

 private:
  void Problem(const std::string& text) {
    if (report_->problems.size() < kMaxProblems) {
      report_->problems.push_back("table \"" + name_ + "\": " + text);
    }
  }

  void CheckRows() {
    const std::vector<uint8_t> prefix = KindPrefix(table_, kKindRow);
    TreeCursor cursor(tree_);
    std::vector<uint8_t> image;
    std::vector<uint8_t> memo;
    for (bool ok = cursor.Seek(Bytes(prefix.data(), prefix.size()));
         ok && StartsWith(cursor.key(), prefix); ok = cursor.Next()) {
      if (cursor.key().size() != 9) {
        Problem("a row record has a key of " + std::to_string(cursor.key().size()) + " bytes");
        continue;
      }
      const uint32_t row = LoadBigU32(cursor.key().data() + 5);
      image.assign(cursor.record().payload().begin(), cursor.record().payload().end());
      rows_.push_back(row);
      ++summary_.rows;
      const std::string what = "row " + std::to_string(row);
      if (image.size() != decl_.RecordLength()) {
        Problem(what + " holds " + std::to_string(image.size()) + " bytes, not " +
                std::to_string(decl_.RecordLength()));
        continue;
      }
      for (size_t m = 0; m < decl_.memos.size(); ++m) {
        if (tables_->ReadMemo(table_, row, static_cast<uint8_t>(m), &memo) != 0) {
          Problem(what + ": memo " + std::to_string(m + 1) + " cannot be read");
        }
      }
      for (size_t k = 0; k < keys_.size(); ++k) {
        const KeyLayout& layout = keys_.layout(k);
        if (layout.flags & kKeyNotMaintained) continue;
        const uint32_t mark = tables_->ReadCounters(table_, static_cast<uint8_t>(k)).LastRecord;
        if (mark != 0 && !KeyMaintainedForRow(kKeyBuildMark, mark, row)) continue;
        std::optional<KeyEntry> entry =
            MakeKeyEntry(table_, static_cast<uint8_t>(k), layout, keys_.collation(), image, row);
        if (!entry) continue;
        const RecordView* rec = tree_->Find(Bytes(entry->bytes.data(), entry->key_length));
        if (rec == nullptr || rec->ToRecord().bytes != entry->bytes) {
          Problem(what + " has no entry in key " + std::to_string(k + 1));
        }
      }
    }
    std::sort(rows_.begin(), rows_.end());
  }

  // Row and table numbers come from the header's LastIssued, and the rows'
  // LastRecord is the number of the last row added: both at or above every
  // number stored, or the next ADD would be given a number in use.
  void CheckNumbering(const Counters& rows) {
    const uint32_t issued = file_->pager()->header().LastIssuedValue();
    if (table_ > issued) {
      Problem("its table number " + std::to_string(table_) +
              " is above the file's last issued number " + std::to_string(issued));
    }
    if (rows_.empty()) return;
    const uint32_t highest = rows_.back();
    if (highest > issued) {
      Problem("holds row " + std::to_string(highest) + ", above the file's last issued number " +
              std::to_string(issued));
    }
    if (highest > rows.LastRecord) {
      Problem("holds row " + std::to_string(highest) + ", above its last added row " +
              std::to_string(rows.LastRecord));
    }
  }

  bool HasRow(uint32_t row) const { return std::binary_search(rows_.begin(), rows_.end(), row); }

  void CheckEntry(size_t k, const PlxRecord& rec) {
    ++summary_.key_entries[k];
    const KeyLayout& layout = keys_.layout(k);
    const size_t key_length = KeyEntryValueEnd(layout) + (layout.dup() ? kRowNumberSize : 0);
    const std::string what = "key " + std::to_string(k + 1);
    if (rec.KeyLength() != key_length || rec.Length() != KeyEntryValueEnd(layout) + 4) {
      return Problem(what + " has an entry of the wrong length");
    }
    const uint32_t row = KeyEntryRow(rec.bytes);
    const bool index = (layout.flags & kKeyNotMaintained) != 0;
    if (!HasRow(row)) {
      // An INDEX is filled by BUILD only; its entries may name rows since
      // deleted.
      if (!index)
        Problem(what + " has an entry for row " + std::to_string(row) + ", which is gone");
      return;
    }
    if (index) return;
    std::vector<uint8_t> image;
    tables_->GetRow(table_, row, &image);
    if (image.size() != decl_.RecordLength()) return;  // reported with the row
    std::optional<KeyEntry> entry =
        MakeKeyEntry(table_, static_cast<uint8_t>(k), layout, keys_.collation(), image, row);
    if (!entry || entry->bytes != rec.bytes) {
      Problem(what + " has an entry for row " + std::to_string(row) +
              " that does not match the row");
    }
  }

  void CheckOtherRecords() {
    std::vector<uint8_t> prefix(4);
    StoreBigU32(prefix.data(), table_);
    TreeCursor cursor(tree_);
    for (bool ok = cursor.Seek(Bytes(prefix.data(), prefix.size()));
         ok && StartsWith(cursor.key(), prefix); ok = cursor.Next()) {
      Bytes key = cursor.key();
      if (key.size() < 5) {
        Problem("a record has a key of " + std::to_string(key.size()) + " bytes");
        continue;
      }
      const uint8_t kind = key[4];
      if (kind < kKindRow) {
        if (kind >= keys_.size()) {
          Problem("an entry names key " + std::to_string(kind + 1) + ", which is not declared");
          continue;
        }
        // CheckEntry reads other records; copy this one first.
        PlxRecord rec = cursor.record().ToRecord();
        CheckEntry(kind, rec);
        continue;
      }
      switch (kind) {
        case kKindRow:
        case kKindDefinition:
        case kKindExtra:
          break;
        case kKindCounters:
          if (key.size() != 6 || (key[5] != kKindRow && key[5] >= keys_.size())) {
            Problem("a counters record names an unknown subject");
          }
          break;
        case kKindMemo: {
          if (key.size() != 12) {
            Problem("a memo piece has a key of " + std::to_string(key.size()) + " bytes");
            break;
          }
          const uint32_t row = LoadBigU32(key.data() + 5);
          if (!HasRow(row)) {
            Problem("a memo piece belongs to row " + std::to_string(row) + ", which is gone");
          } else if (key[9] >= decl_.memos.size()) {
            Problem("a memo piece names memo " + std::to_string(key[9] + 1) +
                    ", which is not declared");
          }
          break;
        }
        default:
          Problem("a record of unknown kind " + std::to_string(kind));
          break;
      }
    }
  }

  PlxFile* file_;
  PlxTables* tables_;
  PageTree* tree_;
  std::string name_;
  uint32_t table_;
  LogicalReport* report_;
  FileDescriptor decl_;
  TableKeys keys_;
  TableSummary summary_;
  std::vector<uint32_t> rows_;
};

}  // namespace

LogicalReport CheckTables(PlxFile* file) {
  LogicalReport report;
  for (const std::string& name : file->tables()->ListTables()) {
    std::optional<uint32_t> table = file->tables()->FindTable(name);
    if (!table) {
      report.problems.push_back("table \"" + name + "\": its name record is damaged");
      continue;
    }
    TableChecker(file, name, *table, &report).Run();
  }
  return report;
}

std::vector<std::string> CheckPlxFile(const std::string& path, const std::string& password) {
  PlxOpenOptions options;
  options.writable = false;
  options.share = kShareDenyNone;
  options.password = password;
  std::unique_ptr<PlxFile> file;
  if (int rc = PlxFile::Open(path, options, &file); rc != 0) {
    return {"cannot open " + path + " (error " + std::to_string(rc) + ")"};
  }
  CheckReport structure = CheckFile(file->pager()->file());
  if (!structure.problems.empty()) return structure.problems;
  return CheckTables(file.get()).problems;
}

}  // namespace qzr::palisade
