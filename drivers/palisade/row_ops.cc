// Row operations and sequential positions of one table.

#include "drivers/palisade/row_ops.h"

#include <algorithm>
#include <cstring>

#include "drivers/palisade/format.h"
#include "drivers/palisade/memo.h"
#include "runtime/core/fatal.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {
namespace {

void CountRow(PlxTables* tables, uint32_t table, int delta, uint32_t row) {
  Counters c = tables->ReadCounters(table, kKindRow);
  c.RecordCount = static_cast<uint32_t>(static_cast<int64_t>(c.RecordCount) + delta);
  if (delta > 0) c.LastRecord = row;
  tables->WriteCounters(table, kKindRow, c);
}

std::vector<uint8_t> EntryKey(const TableRef& t, int key, std::span<const uint8_t> image,
                              uint32_t row) {
  std::vector<uint8_t> k = t.keys->ValuePrefix(t.table, static_cast<size_t>(key), image);
  if (t.keys->layout(static_cast<size_t>(key)).dup()) {
    uint8_t r[4];
    StoreBigU32(r, row);
    k.insert(k.end(), r, r + 4);
  }
  return k;
}

}  // namespace

int AddRow(const TableRef& t, std::span<const uint8_t> image, const FileDescriptor* memos,
           bool append, uint32_t* row) {
  if (memos != nullptr) {
    if (int rc = CheckMemoValues(*memos); rc != 0) return rc;
  }
  const uint32_t id = t.tree->pager()->IssueNumber();
  // Numbers are issued once, so a row already stored under the new number
  // means LastIssued went back (a damaged header); storing would replace
  // that row.
  const std::vector<uint8_t> row_key = RowKey(t.table, id);
  if (t.tree->Find(Bytes(row_key.data(), row_key.size())) != nullptr) {
    Corruption(kCheckIssuedInUse);
  }
  if (append) {
    MarkKeysForBuild(t.tables, t.table, *t.keys, id);
  } else if (int rc = MaintainRowKeys(t.tables, t.tree, t.table, *t.keys, {}, image, id); rc != 0) {
    return rc;
  }
  t.tables->PutRow(t.table, id, Bytes(image.data(), image.size()));
  if (memos != nullptr) WriteRowMemos(t.tables, t.table, id, *memos);
  CountRow(t.tables, t.table, +1, id);
  *row = id;
  return 0;
}

int PutRow(const TableRef& t, uint32_t row, std::span<const uint8_t> image,
           const FileDescriptor* memos) {
  if (memos != nullptr) {
    if (int rc = CheckMemoValues(*memos); rc != 0) return rc;
  }
  std::vector<uint8_t> old;
  if (!t.tables->GetRow(t.table, row, &old)) return kRecordNotFound;
  // The stored image and the buffer may differ in length only when the
  // stored row is damaged; keys are planned on equal lengths.
  if (old.size() != image.size()) old.resize(image.size(), 0);
  if (int rc = MaintainRowKeys(t.tables, t.tree, t.table, *t.keys, old, image, row); rc != 0) {
    return rc;
  }
  t.tables->PutRow(t.table, row, Bytes(image.data(), image.size()));
  if (memos != nullptr) WriteRowMemos(t.tables, t.table, row, *memos);
  return 0;
}

int DeleteRow(const TableRef& t, uint32_t row) {
  std::vector<uint8_t> old;
  if (!t.tables->GetRow(t.table, row, &old)) return kRecordNotFound;
  // Removing entries cannot collide, so this cannot fail.
  (void)MaintainRowKeys(t.tables, t.tree, t.table, *t.keys, old, {}, row);
  t.tables->DeleteRow(t.table, row);
  t.tables->DeleteMemos(t.table, row);
  CountRow(t.tables, t.table, -1, row);
  return 0;
}

void EmptyTable(const TableRef& t) {
  for (size_t k = 0; k < t.keys->size(); ++k) {
    DeleteWithPrefix(t.tree, KindPrefix(t.table, static_cast<uint8_t>(k)));
    t.tables->WriteCounters(t.table, static_cast<uint8_t>(k), Counters());
  }
  DeleteWithPrefix(t.tree, KindPrefix(t.table, kKindRow));
  DeleteWithPrefix(t.tree, KindPrefix(t.table, kKindMemo));
  t.tables->WriteCounters(t.table, kKindRow, Counters());
}

void DropTable(PageTree* tree, const std::string& name, uint32_t table) {
  std::vector<uint8_t> prefix(4);
  StoreBigU32(prefix.data(), table);
  DeleteWithPrefix(tree, prefix);
  std::vector<uint8_t> name_key = TableNameKey(name);
  tree->Delete(Bytes(name_key.data(), name_key.size()));
}

SeqPosition StartOfRows() {
  return SeqPosition();
}

SeqPosition AtRow(uint32_t table, uint32_t row) {
  SeqPosition p;
  p.kind = SeqPosition::Kind::kSeek;
  p.next = RowKey(table, row);
  p.prev = p.next;
  p.prev.push_back(0);
  return p;
}

SeqPosition StartOfKey(int key) {
  SeqPosition p;
  p.key = key;
  return p;
}

SeqPosition AtKeyValue(const TableRef& t, int key, std::span<const uint8_t> image) {
  SeqPosition p;
  p.kind = SeqPosition::Kind::kSeek;
  p.key = key;
  p.next = t.keys->ValuePrefix(t.table, static_cast<size_t>(key), image);
  // Above every entry with this value: a unique entry's key is the value
  // itself, a DUP entry's the value and 4 row bytes.
  p.prev = p.next;
  p.prev.insert(p.prev.end(), 5, 0xFF);
  return p;
}

SeqPosition AtKeyEntry(const TableRef& t, int key, std::span<const uint8_t> image, uint32_t row) {
  return AtEntryKey(key, EntryKey(t, key, image, row));
}

SeqPosition AtEntryKey(int key, std::vector<uint8_t> entry_key) {
  SeqPosition p;
  p.kind = SeqPosition::Kind::kSeek;
  p.key = key;
  p.next = std::move(entry_key);
  p.prev = p.next;
  p.prev.push_back(0);
  return p;
}

int Step(const TableRef& t, SeqPosition* pos, bool forward, uint32_t* row, TreeCursor* keep) {
  // The order's prefix: table, then the row kind or the key number.
  uint8_t order[5];
  StoreBigU32(order, t.table);
  order[4] = pos->key < 0 ? kKindRow : static_cast<uint8_t>(pos->key);
  const Bytes prefix(order, sizeof order);
  TreeCursor local(t.tree);
  TreeCursor& cursor = keep != nullptr ? *keep : local;
  bool ok = false;
  switch (pos->kind) {
    case SeqPosition::Kind::kStart: {
      if (forward) {
        ok = cursor.Seek(prefix);
      } else {
        uint8_t upper[5];
        std::memcpy(upper, order, sizeof upper);
        ++upper[4];  // kind bytes stop below 0xFF
        ok = cursor.SeekBefore(Bytes(upper, sizeof upper));
      }
      break;
    }
    case SeqPosition::Kind::kSeek:
      ok = forward ? cursor.Seek(Bytes(pos->next.data(), pos->next.size()))
                   : cursor.SeekBefore(Bytes(pos->prev.data(), pos->prev.size()));
      break;
    case SeqPosition::Kind::kOn: {
      Bytes at(pos->at.data(), pos->at.size());
      const bool unchanged = keep != nullptr && cursor.Valid() && cursor.key() == at &&
                             pos->tree_version == t.tree->version() &&
                             pos->layout_version == t.tree->pager()->layout_version();
      if (unchanged) {
        ok = forward ? cursor.Next() : cursor.Prev();
        break;
      }
      if (pos->on_row && t.tree->Find(at) == nullptr) {
        // The record read last has gone (another file object deleted it):
        // say so once; the next step goes on from where it was.
        pos->on_row = false;
        return kRecordNotFound;
      }
      ok = forward ? cursor.SeekAfter(at) : cursor.SeekBefore(at);
      break;
    }
  }
  if (!ok || cursor.key().substr(0, prefix.size()) != prefix) return kRecordNotAvailable;
  const RecordView rec = cursor.record();
  if (pos->key < 0) {
    if (rec.KeyLength() != 9) return kRecordNotAvailable;
    *row = LoadBigU32(rec.key().data() + 5);
  } else {
    *row = KeyEntryRow(rec);
  }
  pos->kind = SeqPosition::Kind::kOn;
  pos->at.assign(cursor.key().begin(), cursor.key().end());
  pos->on_row = true;
  pos->tree_version = t.tree->version();
  pos->layout_version = t.tree->pager()->layout_version();
  return 0;
}

void PlaceOnRow(const TableRef& t, SeqPosition* pos, uint32_t row, std::span<const uint8_t> image) {
  pos->kind = SeqPosition::Kind::kOn;
  if (pos->key < 0) {
    pos->at = RowKey(t.table, row);
  } else {
    pos->at = EntryKey(t, pos->key, image, row);
  }
  // The entry may not exist (an OPT key's empty value): moving on from it
  // is still well defined, so it is not checked.
  pos->on_row = false;
}

uint32_t FindByKey(const TableRef& t, int key, std::span<const uint8_t> image) {
  std::vector<uint8_t> prefix = t.keys->ValuePrefix(t.table, static_cast<size_t>(key), image);
  TreeCursor cursor(t.tree);
  if (!cursor.Seek(Bytes(prefix.data(), prefix.size())) || !StartsWith(cursor.key(), prefix)) {
    return 0;
  }
  return KeyEntryRow(cursor.record());
}

}  // namespace qzr::palisade
