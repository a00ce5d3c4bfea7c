// Table records: keys of each kind, table creation and lookup, counters,
// rows and memo pieces.

#include "drivers/palisade/tables.h"

#include <algorithm>
#include <cstring>

#include "data/declaration_check.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/table_def.h"
#include "runtime/core/fatal.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {
namespace {

std::vector<uint8_t> TableKind(uint32_t table, uint8_t kind, size_t extra) {
  std::vector<uint8_t> key(5 + extra);
  StoreBigU32(key.data(), table);
  key[4] = kind;
  return key;
}

}  // namespace

std::vector<uint8_t> TableNameKey(const std::string& name) {
  std::vector<uint8_t> key(1 + name.size());
  key[0] = kKindTableName;
  std::memcpy(key.data() + 1, name.data(), name.size());
  return key;
}

std::vector<uint8_t> RowKey(uint32_t table, uint32_t row) {
  std::vector<uint8_t> key = TableKind(table, kKindRow, 4);
  StoreBigU32(key.data() + 5, row);
  return key;
}

std::vector<uint8_t> CountersKey(uint32_t table, uint8_t subject) {
  std::vector<uint8_t> key = TableKind(table, kKindCounters, 1);
  key[5] = subject;
  return key;
}

std::vector<uint8_t> DefinitionKey(uint32_t table, uint16_t block) {
  std::vector<uint8_t> key = TableKind(table, kKindDefinition, 2);
  StoreU16(key.data() + 5, block);  // as in memory: low byte first
  return key;
}

std::vector<uint8_t> ExtraKey(uint32_t table) {
  std::vector<uint8_t> key = TableKind(table, kKindExtra, 1);
  key[5] = 0x01;
  return key;
}

std::vector<uint8_t> MemoKey(uint32_t table, uint32_t row, uint8_t memo, uint16_t piece) {
  std::vector<uint8_t> key = TableKind(table, kKindMemo, 7);
  StoreBigU32(key.data() + 5, row);
  key[9] = memo;
  StoreBigU16(key.data() + 10, piece);
  return key;
}

PlxRecord MakeKeyEntry(uint32_t table, uint8_t key_number, Bytes value, uint32_t row, bool dup) {
  const size_t key_length = 5 + value.size() + (dup ? 4 : 0);
  PlxRecord rec = MakeRecord(key_length, dup ? 0 : 4);
  StoreBigU32(rec.bytes.data(), table);
  rec.bytes[4] = key_number;
  if (!value.empty()) std::memcpy(rec.bytes.data() + 5, value.data(), value.size());
  StoreBigU32(rec.bytes.data() + 5 + value.size(), row);
  return rec;
}

uint32_t KeyEntryRow(const PlxRecord& entry) {
  return KeyEntryRow(entry.View());
}

uint32_t KeyEntryRow(const RecordView& entry) {
  const size_t n = entry.Length();
  if (n < 4) return 0;
  // The last four bytes, wherever the key ends.
  const Bytes key = entry.key(), payload = entry.payload();
  uint8_t last[4];
  for (size_t i = 0; i < 4; ++i) {
    const size_t at = n - 4 + i;
    last[i] = at < key.size() ? key[at] : payload[at - key.size()];
  }
  return LoadBigU32(last);
}

std::vector<uint8_t> KindPrefix(uint32_t table, uint8_t kind) {
  return TableKind(table, kind, 0);
}

std::optional<uint32_t> PlxTables::FindTable(const std::string& name) {
  std::vector<uint8_t> key = TableNameKey(name);
  const RecordView* rec = tree_->Find(Bytes(key.data(), key.size()));
  if (rec == nullptr || rec->payload().size() < 4) return std::nullopt;
  return LoadBigU32(rec->payload().data());
}

int PlxTables::CreateTable(const std::string& name, const FileDescriptor& declaration,
                           uint32_t* table) {
  if (auto problem = ValidateForStorage(declaration)) return ReportDeclarationProblem(*problem);
  if (FindTable(name)) return kCreatesDuplicateKey;
  // A name must leave room for its key within a page's key limit.
  if (1 + name.size() > kMaxKeyLength) return kInvalidFilename;
  const uint32_t id = tree_->pager()->IssueNumber();
  // As for rows: records under the new number mean LastIssued went back.
  {
    uint8_t prefix[4];
    StoreBigU32(prefix, id);
    TreeCursor cursor(tree_);
    if (cursor.Seek(Bytes(prefix, 4)) && cursor.key().size() >= 4 &&
        std::memcmp(cursor.key().data(), prefix, 4) == 0) {
      Corruption(kCheckIssuedInUse);
    }
  }

  std::vector<uint8_t> name_key = TableNameKey(name);
  uint8_t number[4];
  StoreBigU32(number, id);
  tree_->Put(MakeRecord(Bytes(name_key.data(), name_key.size()), Bytes(number, 4)));

  const std::vector<uint8_t> stream = WriteDefinition(declaration);
  uint16_t block = 0;
  for (size_t at = 0; at < stream.size(); at += kDefinitionBlockBytes, ++block) {
    const size_t len = std::min(kDefinitionBlockBytes, stream.size() - at);
    std::vector<uint8_t> key = DefinitionKey(id, block);
    tree_->Put(MakeRecord(Bytes(key.data(), key.size()), Bytes(stream.data() + at, len)));
  }
  WriteCounters(id, kKindRow, Counters());
  for (size_t k = 0; k < declaration.keys.size(); ++k) {
    WriteCounters(id, static_cast<uint8_t>(k), Counters());
  }
  std::vector<uint8_t> extra_key = ExtraKey(id);
  std::vector<uint8_t> extra(kExtraBlockBytes, 0);
  tree_->Put(
      MakeRecord(Bytes(extra_key.data(), extra_key.size()), Bytes(extra.data(), extra.size())));
  *table = id;
  return 0;
}

std::vector<uint8_t> PlxTables::DefinitionStream(uint32_t table) {
  std::vector<uint8_t> stream;
  const std::vector<uint8_t> prefix = KindPrefix(table, kKindDefinition);
  // Blocks are keyed low byte first, so key order is not block order past
  // block 255: fetch them by number instead of scanning.
  for (uint32_t block = 0; block <= 0xFFFF; ++block) {
    std::vector<uint8_t> key = DefinitionKey(table, static_cast<uint16_t>(block));
    const RecordView* rec = tree_->Find(Bytes(key.data(), key.size()));
    if (rec == nullptr) break;
    stream.insert(stream.end(), rec->payload().begin(), rec->payload().end());
  }
  return stream;
}

int PlxTables::CompareTable(uint32_t table, const FileDescriptor& declaration, bool decimal_check) {
  const std::vector<uint8_t> stream = DefinitionStream(table);
  if (auto problem =
          CompareDefinition(Bytes(stream.data(), stream.size()), declaration, decimal_check)) {
    return ReportDeclarationProblem(*problem);
  }
  return 0;
}

std::vector<std::string> PlxTables::ListTables() {
  std::vector<std::string> names;
  TreeCursor cursor(tree_);
  const uint8_t first = kKindTableName;
  for (bool ok = cursor.Seek(Bytes(&first, 1)); ok && cursor.key()[0] == kKindTableName;
       ok = cursor.Next()) {
    names.emplace_back(cursor.key().begin() + 1, cursor.key().end());
  }
  return names;
}

Counters PlxTables::ReadCounters(uint32_t table, uint8_t subject) {
  Counters c;
  uint8_t key[6];
  StoreBigU32(key, table);
  key[4] = kKindCounters;
  key[5] = subject;
  const RecordView* rec = tree_->Find(Bytes(key, sizeof key));
  if (rec != nullptr && rec->payload().size() >= 8) {
    c.RecordCount = LoadU32(rec->payload().data());
    c.LastRecord = LoadU32(rec->payload().data() + 4);
  }
  return c;
}

void PlxTables::WriteCounters(uint32_t table, uint8_t subject, const Counters& counters) {
  std::vector<uint8_t> key = CountersKey(table, subject);
  uint8_t payload[8];
  StoreU32(payload, counters.RecordCount);
  StoreU32(payload + 4, counters.LastRecord);
  tree_->Put(MakeRecord(Bytes(key.data(), key.size()), Bytes(payload, 8)));
}

void PlxTables::PutRow(uint32_t table, uint32_t row, Bytes image) {
  std::vector<uint8_t> key = RowKey(table, row);
  tree_->Put(MakeRecord(Bytes(key.data(), key.size()), image));
}

bool PlxTables::GetRow(uint32_t table, uint32_t row, std::vector<uint8_t>* image) {
  std::vector<uint8_t> key = RowKey(table, row);
  const RecordView* rec = tree_->Find(Bytes(key.data(), key.size()));
  if (rec == nullptr) return false;
  image->assign(rec->payload().begin(), rec->payload().end());
  return true;
}

bool PlxTables::DeleteRow(uint32_t table, uint32_t row) {
  std::vector<uint8_t> key = RowKey(table, row);
  return tree_->Delete(Bytes(key.data(), key.size()));
}

void PlxTables::DeleteRange(const std::vector<uint8_t>& prefix) {
  TreeCursor cursor(tree_);
  std::vector<std::vector<uint8_t>> doomed;
  for (bool ok = cursor.Seek(Bytes(prefix.data(), prefix.size()));
       ok && StartsWith(cursor.key(), prefix); ok = cursor.Next()) {
    doomed.emplace_back(cursor.key().begin(), cursor.key().end());
  }
  for (const std::vector<uint8_t>& key : doomed) tree_->Delete(Bytes(key.data(), key.size()));
}

bool PlxTables::WriteMemo(uint32_t table, uint32_t row, uint8_t memo, Bytes value) {
  if (value.size() > kMemoPieceBytes * 0x10000) return false;
  std::vector<uint8_t> prefix = MemoKey(table, row, memo, 0);
  prefix.resize(10);  // table, kind, row, memo: every piece of this memo
  DeleteRange(prefix);
  // Piece 0 carries the total length before its data; every piece holds at
  // most 256 bytes of the value.
  uint16_t piece = 0;
  uint8_t key[12];
  StoreBigU32(key, table);
  key[4] = kKindMemo;
  StoreBigU32(key + 5, row);
  key[9] = memo;
  for (size_t at = 0; at < value.size(); at += kMemoPieceBytes, ++piece) {
    const size_t len = std::min(kMemoPieceBytes, value.size() - at);
    const size_t head = piece == 0 ? 4 : 0;
    StoreBigU16(key + 10, piece);
    // The record is built in place: the total length, then the piece.
    PlxRecord rec = MakeRecord(sizeof key, head + len);
    std::memcpy(rec.bytes.data(), key, sizeof key);
    if (piece == 0) StoreU32(rec.payload_data(), static_cast<uint32_t>(value.size()));
    std::memcpy(rec.payload_data() + head, value.data() + at, len);
    tree_->Put(std::move(rec));
  }
  return true;
}

int PlxTables::ReadMemo(uint32_t table, uint32_t row, uint8_t memo, std::vector<uint8_t>* value) {
  value->clear();
  std::vector<uint8_t> first = MemoKey(table, row, memo, 0);
  const RecordView* rec = tree_->Find(Bytes(first.data(), first.size()));
  if (rec == nullptr) return 0;
  if (rec->payload().size() < 4) return 57;
  const uint32_t total = LoadU32(rec->payload().data());
  value->reserve(total);
  value->insert(value->end(), rec->payload().begin() + 4, rec->payload().end());
  for (uint32_t piece = 1; value->size() < total; ++piece) {
    if (piece > 0xFFFF) return 57;
    std::vector<uint8_t> key = MemoKey(table, row, memo, static_cast<uint16_t>(piece));
    rec = tree_->Find(Bytes(key.data(), key.size()));
    if (rec == nullptr) return 57;
    value->insert(value->end(), rec->payload().begin(), rec->payload().end());
  }
  if (value->size() != total) return 57;
  return 0;
}

void PlxTables::DeleteMemos(uint32_t table, uint32_t row) {
  std::vector<uint8_t> prefix = MemoKey(table, row, 0, 0);
  prefix.resize(9);  // table, kind, row
  DeleteRange(prefix);
}

}  // namespace qzr::palisade
