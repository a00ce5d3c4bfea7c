// Key maintenance: row changes applied to every key, with undo on a
// duplicate, build marks and BUILD.

#include "drivers/palisade/key_maintenance.h"

#include <algorithm>

#include "data/declaration_check.h"
#include "drivers/palisade/format.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/ufo_codepage.h"

namespace qzr::palisade {
namespace {

// One entry change already made, kept so that it can be undone.
struct Applied {
  size_t key;
  bool inserted;  // true: `entry` was inserted; false: it was deleted
  KeyEntry entry;
};

PlxRecord RecordOf(const KeyEntry& e) {
  return MakeRecord(Bytes(e.bytes.data(), e.key_length),
                    Bytes(e.bytes.data() + e.key_length, e.bytes.size() - e.key_length));
}

// Deletes `entry` when the tree holds it for the same row. A missing entry
// (a key left incomplete by an earlier failure or damage) is passed over:
// the row's change goes ahead and the file check reports the key.
bool DeleteEntry(PageTree* tree, const KeyEntry& entry) {
  Bytes key(entry.bytes.data(), entry.key_length);
  const RecordView* rec = tree->Find(key);
  if (rec == nullptr || rec->Length() != entry.bytes.size()) return false;
  if (KeyEntryRow(*rec) != LoadBigU32(entry.bytes.data() + entry.bytes.size() - kRowNumberSize)) {
    return false;
  }
  return tree->Delete(key);
}

void AdjustCount(PlxTables* tables, uint32_t table, size_t k, int delta) {
  if (delta == 0) return;
  Counters c = tables->ReadCounters(table, static_cast<uint8_t>(k));
  c.RecordCount = static_cast<uint32_t>(static_cast<int64_t>(c.RecordCount) + delta);
  tables->WriteCounters(table, static_cast<uint8_t>(k), c);
}

void Undo(PlxTables* tables, PageTree* tree, uint32_t table, std::vector<Applied>* applied) {
  for (auto it = applied->rbegin(); it != applied->rend(); ++it) {
    if (it->inserted) {
      if (DeleteEntry(tree, it->entry)) AdjustCount(tables, table, it->key, -1);
    } else {
      if (tree->Insert(RecordOf(it->entry))) AdjustCount(tables, table, it->key, +1);
    }
  }
  applied->clear();
}

}  // namespace

KeyCollation CollationForFile(const FileDescriptor& file) {
  KeyCollation ansi = CollationFromLocale(Locale());
  if (!file.Has(kFileOem)) return ansi;
  std::array<uint8_t, 256> oem_to_ansi{};
  std::array<uint8_t, 256> ansi_to_oem{};
  for (int b = 0; b < 256; ++b) {
    oem_to_ansi[b] = OemToAnsiChar(static_cast<uint8_t>(b));
    ansi_to_oem[b] = AnsiToOemChar(static_cast<uint8_t>(b));
  }
  return OemCollation(ansi, oem_to_ansi, ansi_to_oem);
}

int TableKeys::Init(const FileDescriptor& declaration, const KeyCollation& collation, bool report) {
  collation_ = collation;
  layouts_.clear();
  for (size_t k = 0; k < declaration.keys.size(); ++k) {
    KeyLayout layout;
    std::string attribute = "UNKNOWN";
    std::string message;
    int rc = KeyLayoutFromDescriptor(declaration, k, &layout, &attribute);
    if (rc == 0) rc = CheckKeyLayout(layout, declaration.RecordLength(), &attribute, &message);
    if (rc != 0) {
      if (!report) return 47;
      DeclarationProblem problem;
      problem.level = DeclLevel::kKey;
      problem.item = static_cast<int>(k) + 1;
      problem.attribute = attribute;
      problem.message = decl::kKeyComponentOutOfRange;
      problem.text = message;
      return ReportDeclarationProblem(problem);
    }
    // The encoder reads DUP, OPT and NOCASE; an INDEX is filled by BUILD only.
    const uint16_t declared = declaration.keys[k].flags;
    layout.flags = static_cast<uint16_t>(declared & (kKeyDup | kKeyOpt | kKeyNocase));
    if (declared & kKeyIndex) layout.flags |= kKeyNotMaintained;
    layouts_.push_back(std::move(layout));
  }
  if (layouts_.size() > size_t{kMaxKeyNumber} + 1) {
    if (!report) return 47;
    DeclarationProblem problem;
    problem.level = DeclLevel::kKey;
    problem.item = kMaxKeyNumber + 2;
    problem.source = DeclSource::kDriver;
    problem.message = decl::kTooManyKeys;
    return ReportDeclarationProblem(problem);
  }
  return 0;
}

std::vector<uint8_t> TableKeys::ValuePrefix(uint32_t table, size_t k,
                                            std::span<const uint8_t> image) const {
  const KeyLayout& layout = layouts_[k];
  std::vector<uint8_t> prefix(KeyEntryValueEnd(layout));
  PutBigEndian32(prefix.data(), table);
  prefix[4] = static_cast<uint8_t>(k);
  EncodeKeyValue(layout, collation_, image, prefix.data() + kKeyEntryHeadSize);
  return prefix;
}

int MaintainRowKeys(PlxTables* tables, PageTree* tree, uint32_t table, const TableKeys& keys,
                    std::span<const uint8_t> old_image, std::span<const uint8_t> new_image,
                    uint32_t row) {
  std::vector<Applied> applied;
  for (size_t k = 0; k < keys.size(); ++k) {
    const KeyLayout& layout = keys.layout(k);
    if (layout.flags & kKeyNotMaintained) continue;
    const uint32_t mark = tables->ReadCounters(table, static_cast<uint8_t>(k)).LastRecord;
    // A non-zero mark always governs (see the file comment).
    const uint16_t flags =
        mark != 0 ? static_cast<uint16_t>(layout.flags | kKeyBuildMark) : layout.flags;
    if (!KeyMaintainedForRow(flags, mark, row)) continue;
    KeyChange change = PlanKeyChange(table, static_cast<uint8_t>(k), layout, keys.collation(),
                                     old_image, new_image, row, 0);
    if (change.empty()) continue;
    int delta = 0;
    if (change.insert) {
      if (!tree->Insert(RecordOf(*change.insert))) {
        Undo(tables, tree, table, &applied);
        return kCreatesDuplicateKey;
      }
      applied.push_back({k, true, *change.insert});
      ++delta;
    }
    if (change.remove && DeleteEntry(tree, *change.remove)) {
      applied.push_back({k, false, std::move(*change.remove)});
      --delta;
    }
    AdjustCount(tables, table, k, delta);
  }
  return 0;
}

bool WouldDuplicate(PageTree* tree, uint32_t table, const TableKeys& keys, size_t k,
                    std::span<const uint8_t> image, uint32_t row) {
  const KeyLayout& layout = keys.layout(k);
  if (layout.dup()) return false;
  if (layout.opt() && IsEmptyKey(layout, image)) return false;
  std::vector<uint8_t> prefix = keys.ValuePrefix(table, k, image);
  const RecordView* rec = tree->Find(Bytes(prefix.data(), prefix.size()));
  return rec != nullptr && KeyEntryRow(*rec) != row;
}

void MarkKeysForBuild(PlxTables* tables, uint32_t table, const TableKeys& keys, uint32_t row) {
  for (size_t k = 0; k < keys.size(); ++k) {
    if (keys.layout(k).flags & kKeyNotMaintained) continue;
    Counters c = tables->ReadCounters(table, static_cast<uint8_t>(k));
    if (c.LastRecord != 0 && c.LastRecord <= row) continue;
    c.LastRecord = row;
    tables->WriteCounters(table, static_cast<uint8_t>(k), c);
  }
}

bool KeyNeedsBuild(PlxTables* tables, uint32_t table, size_t k) {
  return tables->ReadCounters(table, static_cast<uint8_t>(k)).LastRecord != 0;
}

void DropKeyEntries(PageTree* tree, uint32_t table, size_t k) {
  DeleteWithPrefix(tree, KindPrefix(table, static_cast<uint8_t>(k)));
}

void DeleteWithPrefix(PageTree* tree, const std::vector<uint8_t>& prefix) {
  // Delete in batches from a fresh seek each time: a delete invalidates the
  // cursor's page path, and collecting every key of a large key first would
  // hold them all in memory.
  for (;;) {
    std::vector<std::vector<uint8_t>> batch;
    TreeCursor cursor(tree);
    for (bool ok = cursor.Seek(Bytes(prefix.data(), prefix.size()));
         ok && StartsWith(cursor.key(), prefix) && batch.size() < 512; ok = cursor.Next()) {
      batch.emplace_back(cursor.key().begin(), cursor.key().end());
    }
    if (batch.empty()) return;
    for (const auto& key : batch) tree->Delete(Bytes(key.data(), key.size()));
  }
}

int BuildKey(PlxTables* tables, PageTree* tree, uint32_t table, const TableKeys& keys, size_t k) {
  DropKeyEntries(tree, table, k);
  const KeyLayout& layout = keys.layout(k);
  std::vector<uint8_t> row_prefix = KindPrefix(table, kKindRow);
  uint32_t count = 0;
  int rc = 0;
  // Rows are read from a cursor that restarts after each insert (inserts
  // change the tree under it; it finds its place again by key).
  TreeCursor cursor(tree);
  std::vector<uint8_t> image;
  for (bool ok = cursor.Seek(Bytes(row_prefix.data(), row_prefix.size()));
       ok && StartsWith(cursor.key(), row_prefix); ok = cursor.Next()) {
    const RecordView rec = cursor.record();
    if (rec.KeyLength() != 9) continue;
    const uint32_t row = LoadBigU32(rec.key().data() + 5);
    image.assign(rec.payload().begin(), rec.payload().end());
    std::optional<KeyEntry> entry =
        MakeKeyEntry(table, static_cast<uint8_t>(k), layout, keys.collation(), image, row);
    if (!entry) continue;
    if (!tree->Insert(RecordOf(*entry))) {
      rc = kCreatesDuplicateKey;
      break;
    }
    ++count;
  }
  Counters c = tables->ReadCounters(table, static_cast<uint8_t>(k));
  if (rc != 0) {
    DropKeyEntries(tree, table, k);
    c.RecordCount = 0;
    c.LastRecord = 1;
  } else {
    c.RecordCount = count;
    c.LastRecord = 0;
  }
  tables->WriteCounters(table, static_cast<uint8_t>(k), c);
  return rc;
}

}  // namespace qzr::palisade
