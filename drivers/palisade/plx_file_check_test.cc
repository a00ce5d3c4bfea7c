// Tests of the logical file check: it passes a sound file and names each
// kind of damage to keys, counters and memo pieces.

#include "drivers/palisade/plx_file_check.h"

#include <cstring>

#include "data/file_driver.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/test_support.h"
#include "gtest/gtest.h"

namespace qzr::palisade {
namespace {

using test::TempDir;

class PlxFileCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPalisadeDriver();
    path_ = dir_.File("DATA.PLX");
    FileDescriptor f = Declaration();
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0);
    for (int32_t id = 1; id <= 5; ++id) AddRow(&f, id);
    ASSERT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
  }

  FileDescriptor Declaration() {
    FileDescriptor f = FileDeclaration("D", "D")
                           .Driver("PALISADE")
                           .Name(path_)
                           .Attributes(kFileCreate)
                           .Field("ID", TypeCode::LONG)
                           .String("NAME", TypeCode::STRING, 10)
                           .Memo("NOTE", 1000)
                           .Key("P", {{"ID"}})
                           .Key("N", {{"NAME"}}, kKeyDup)
                           .Build();
    f.open_mode = kOpenReadWriteDenyNone;
    return f;
  }

  static void AddRow(FileDescriptor* f, int32_t id) {
    std::memcpy(f->record.data(), &id, 4);
    std::memset(f->record.data() + 4, 'a' + id, 10);
    f->memo_values[0] = std::string(300, static_cast<char>('a' + id));
    ASSERT_EQ(DoFileOp(FileOp::ADD, *f), 0);
  }

  // Sets the header's LastIssued (big-endian at bytes 20..23) as a damaged
  // header would hold it.
  void SetLastIssued(uint32_t value) {
    std::vector<uint8_t> bytes = test::ReadAll(path_);
    ASSERT_GE(bytes.size(), kHeaderBytes);
    StoreBigU32(bytes.data() + kHdrLastIssued, value);
    test::WriteAll(path_, bytes);
  }

  // Opens the file for writing, lets `damage` change records directly, and
  // writes the change out.
  void Damage(const std::function<void(PlxFile*, uint32_t table)>& damage) {
    PlxOpenOptions options;
    std::unique_ptr<PlxFile> file;
    ASSERT_EQ(PlxFile::Open(path_, options, &file), 0);
    std::optional<uint32_t> table = file->tables()->FindTable("UNNAMED");
    ASSERT_TRUE(table.has_value());
    damage(file.get(), *table);
    ASSERT_EQ(file->WriteOut(), 0);
  }

  // The key entry of key 0 (P) for `id`.
  static std::vector<uint8_t> EntryKey(uint32_t table, int32_t id) {
    std::vector<uint8_t> key(9);
    StoreBigU32(key.data(), table);
    key[4] = 0;
    StoreBigU32(key.data() + 5, static_cast<uint32_t>(id) ^ 0x80000000u);
    return key;
  }

  bool Reports(const std::string& fragment) {
    for (const std::string& p : CheckPlxFile(path_)) {
      if (p.find(fragment) != std::string::npos) return true;
    }
    return false;
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(PlxFileCheckTest, SoundFileHasNoProblems) {
  EXPECT_TRUE(CheckPlxFile(path_).empty());
  PlxOpenOptions options;
  options.writable = false;
  std::unique_ptr<PlxFile> file;
  ASSERT_EQ(PlxFile::Open(path_, options, &file), 0);
  LogicalReport report = CheckTables(file.get());
  ASSERT_EQ(report.tables.size(), 1u);
  EXPECT_EQ(report.tables[0].rows, 5u);
  EXPECT_EQ(report.tables[0].key_entries, (std::vector<uint32_t>{5, 5}));
}

TEST_F(PlxFileCheckTest, FindsAMissingKeyEntry) {
  Damage([](PlxFile* f, uint32_t table) {
    std::vector<uint8_t> key = EntryKey(table, 3);
    ASSERT_TRUE(f->tree()->Delete(Bytes(key.data(), key.size())));
  });
  EXPECT_TRUE(Reports("has no entry in key 1"));
  EXPECT_TRUE(Reports("key 1 counts 5 entries but holds 4"));
}

TEST_F(PlxFileCheckTest, FindsADamagedKeyEntry) {
  // The entry of ID 3 now points at the row of ID 4: ID 4's row has two
  // entries, one of which does not match it.
  Damage([](PlxFile* f, uint32_t table) {
    std::vector<uint8_t> three = EntryKey(table, 3);
    std::vector<uint8_t> four = EntryKey(table, 4);
    const RecordView* rec = f->tree()->Find(Bytes(four.data(), four.size()));
    ASSERT_NE(rec, nullptr);
    std::vector<uint8_t> row(rec->payload().begin(), rec->payload().end());
    f->tree()->Put(MakeRecord(Bytes(three.data(), three.size()), Bytes(row.data(), row.size())));
  });
  EXPECT_TRUE(Reports("that does not match the row"));
}

TEST_F(PlxFileCheckTest, FindsStrayEntriesCountersAndMemoPieces) {
  Damage([](PlxFile* f, uint32_t table) {
    std::vector<uint8_t> stray = EntryKey(table, 99);
    uint8_t row[4];
    StoreBigU32(row, 0x7FFFFFF0u);
    f->tree()->Insert(MakeRecord(Bytes(stray.data(), stray.size()), Bytes(row, 4)));
    Counters c = f->tables()->ReadCounters(table, kKindRow);
    c.RecordCount = 9;
    f->tables()->WriteCounters(table, kKindRow, c);
    std::vector<uint8_t> piece = MemoKey(table, 0x7FFFFFF0u, 0, 0);
    uint8_t payload[5] = {1, 0, 0, 0, 'x'};
    f->tree()->Insert(MakeRecord(Bytes(piece.data(), piece.size()), Bytes(payload, 5)));
  });
  EXPECT_TRUE(Reports("which is gone"));
  EXPECT_TRUE(Reports("counts 9 rows but holds 5"));
  EXPECT_TRUE(Reports("a memo piece belongs to row"));
}

TEST_F(PlxFileCheckTest, FindsAnUnreadableMemo) {
  Damage([](PlxFile* f, uint32_t table) {
    // Drop the second piece of some row's memo.
    std::vector<uint8_t> prefix = KindPrefix(table, kKindMemo);
    TreeCursor cursor(f->tree());
    ASSERT_TRUE(cursor.Seek(Bytes(prefix.data(), prefix.size())));
    ASSERT_TRUE(cursor.Next());
    std::vector<uint8_t> key(cursor.key().begin(), cursor.key().end());
    ASSERT_TRUE(f->tree()->Delete(Bytes(key.data(), key.size())));
  });
  EXPECT_TRUE(Reports("memo 1 cannot be read"));
}

TEST_F(PlxFileCheckTest, FindsANumberingCounterBelowWhatIsStored) {
  // The table is number 1 and its rows 2..6; LastIssued 6, LastRecord 6.
  for (uint32_t lowered : {1u, 3u, 5u}) {
    SCOPED_TRACE(lowered);
    SetLastIssued(lowered);
    EXPECT_TRUE(
        Reports("holds row 6, above the file's last issued number " + std::to_string(lowered)));
  }
  SetLastIssued(0);
  EXPECT_TRUE(Reports("its table number 1 is above the file's last issued number 0"));
  SetLastIssued(6);
  EXPECT_TRUE(CheckPlxFile(path_).empty());
  SetLastIssued(100);
  EXPECT_TRUE(CheckPlxFile(path_).empty());

  Damage([](PlxFile* f, uint32_t table) {
    Counters c = f->tables()->ReadCounters(table, kKindRow);
    c.LastRecord = 4;
    f->tables()->WriteCounters(table, kKindRow, c);
  });
  EXPECT_TRUE(Reports("holds row 6, above its last added row 4"));
}

TEST_F(PlxFileCheckTest, AddNeverReplacesARowWhenTheCounterWentBack) {
  // Given a header whose LastIssued dropped below the highest row,
  SetLastIssued(4);
  const std::vector<uint8_t> before = test::ReadAll(path_);
  // when a row is added, the number issued (5) is in use: a corruption
  // check, and nothing is written.
  FileDescriptor f = Declaration();
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0);
  EXPECT_EQ(test::CheckNumberOf([&] { AddRow(&f, 50); }), kCheckIssuedInUse);
  f.state.reset();
  EXPECT_EQ(test::ReadAll(path_), before);
}

}  // namespace
}  // namespace qzr::palisade
