#include "drivers/palisade/tables.h"

#include <gtest/gtest.h>

#include "drivers/palisade/check.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/table_def.h"
#include "drivers/palisade/test_support.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {
namespace {

using test::B;
using test::S;
using test::V;

class TablesTest : public ::testing::Test {
 protected:
  void SetUp() override { Reopen(); }
  void Reopen() {
    tables_.reset();
    tree_.reset();
    pager_.reset();
    ASSERT_EQ(Pager::Open(path_, true, true, {}, &pager_), 0);
    tree_ = std::make_unique<PageTree>(pager_.get());
    tables_ = std::make_unique<PlxTables>(tree_.get());
  }

  FileDescriptor Decl() {
    return FileDeclaration("FUNC", "FUN")
        .Field("ID", TypeCode::LONG)
        .String("NAME", TypeCode::CSTRING, 100)
        .Memo("CODE", 64000)
        .Key("P_ID", {{"ID"}}, kKeyPrimary)
        .Key("K_NAME", {{"NAME"}}, kKeyDup)
        .Build();
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("t.plx");
  std::unique_ptr<Pager> pager_;
  std::unique_ptr<PageTree> tree_;
  std::unique_ptr<PlxTables> tables_;
};

TEST_F(TablesTest, RecordKeysSortByKind) {
  EXPECT_EQ(RowKey(0x01020304, 0x0A0B0C0D), B({1, 2, 3, 4, 0xF3, 0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(CountersKey(1, 0xF3), B({0, 0, 0, 1, 0xF6, 0xF3}));
  EXPECT_EQ(DefinitionKey(1, 0x0102), B({0, 0, 0, 1, 0xFA, 0x02, 0x01}));
  EXPECT_EQ(ExtraKey(1), B({0, 0, 0, 1, 0xFB, 0x01}));
  EXPECT_EQ(MemoKey(1, 2, 3, 0x0104), B({0, 0, 0, 1, 0xFC, 0, 0, 0, 2, 3, 0x01, 0x04}));
  EXPECT_EQ(TableNameKey("T"), B({0xFE, 'T'}));
  // Key entries: the row is in the key for a DUP key, the payload otherwise.
  PlxRecord unique = MakeKeyEntry(1, 0, V(B({0x80, 0, 0, 1})), 7, false);
  EXPECT_EQ(unique.bytes, B({0, 0, 0, 1, 0, 0x80, 0, 0, 1, 0, 0, 0, 7}));
  EXPECT_EQ(unique.KeyLength(), 9u);
  PlxRecord dup = MakeKeyEntry(1, 2, V(B({0x41})), 0x01020304, true);
  EXPECT_EQ(dup.bytes, B({0, 0, 0, 1, 2, 0x41, 1, 2, 3, 4}));
  EXPECT_EQ(dup.KeyLength(), 10u);
  EXPECT_EQ(KeyEntryRow(unique), 7u);
  EXPECT_EQ(KeyEntryRow(dup), 0x01020304u);
  EXPECT_EQ(test::CheckNumberOf([] {
              std::vector<uint8_t> big(kMaxKeyValueBytes + 1);
              MakeKeyEntry(1, 0, V(big), 1, true);
            }),
            kCheckRecordTooLong);
}

TEST_F(TablesTest, CreateFindListAndCompare) {
  uint32_t a = 0, b = 0;
  ASSERT_EQ(tables_->CreateTable("UNNAMED", Decl(), &a), 0);
  ASSERT_EQ(tables_->CreateTable("", Decl(), &b), 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(tables_->CreateTable("UNNAMED", Decl(), &b), 40);
  ASSERT_EQ(pager_->Flush(), 0);
  Reopen();
  EXPECT_EQ(tables_->FindTable("UNNAMED"), a);
  EXPECT_EQ(tables_->FindTable(""), b);
  EXPECT_FALSE(tables_->FindTable("other").has_value());
  EXPECT_EQ(tables_->ListTables(), (std::vector<std::string>{"", "UNNAMED"}));
  EXPECT_EQ(tables_->CompareTable(a, Decl(), true), 0);
  FileDescriptor changed = Decl();
  changed.fields[1].size = 50;
  EXPECT_EQ(tables_->CompareTable(a, changed, true), 47);
  EXPECT_EQ(ERRORCODE(), 47);
  // The pieces a new table is made of.
  EXPECT_EQ(tables_->ReadCounters(a, kKindRow).RecordCount, 0u);
  EXPECT_NE(tree_->Find(V(CountersKey(a, 1))), nullptr);
  ASSERT_NE(tree_->Find(V(ExtraKey(a))), nullptr);
  EXPECT_EQ(tree_->Find(V(ExtraKey(a)))->payload().size(), kExtraBlockBytes);
  EXPECT_EQ(tables_->DefinitionStream(a), WriteDefinition(Decl()));
}

TEST_F(TablesTest, LongDefinitionsSpanSeveralBlocks) {
  FileDeclaration d("WIDE", "W");
  for (int i = 0; i < 80; ++i) d.Field("FIELD_NUMBER_" + std::to_string(i), TypeCode::LONG);
  FileDescriptor wide = d.Build();
  uint32_t t = 0;
  ASSERT_EQ(tables_->CreateTable("W", wide, &t), 0);
  const std::vector<uint8_t> stream = WriteDefinition(wide);
  ASSERT_GT(stream.size(), 2 * kDefinitionBlockBytes);
  EXPECT_EQ(tree_->Find(V(DefinitionKey(t, 0)))->payload().size(), kDefinitionBlockBytes);
  EXPECT_EQ(tables_->DefinitionStream(t), stream);
  EXPECT_EQ(tables_->CompareTable(t, wide, true), 0);
}

TEST_F(TablesTest, MemosArePiecesOf256Bytes) {
  struct Case {
    size_t length;
    size_t pieces;
    size_t first_payload;
  } cases[] = {{0, 0, 0},     {1, 1, 5},      {256, 1, 260},
               {257, 2, 260}, {1000, 4, 260}, {70000, 274, 260}};
  uint32_t t = 0;
  ASSERT_EQ(tables_->CreateTable("M", Decl(), &t), 0);
  uint32_t row = 1;
  for (const Case& c : cases) {
    std::vector<uint8_t> value(c.length);
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(tables_->WriteMemo(t, row, 0, V(value)));
    size_t pieces = 0;
    while (tree_->Find(V(MemoKey(t, row, 0, static_cast<uint16_t>(pieces)))) != nullptr) ++pieces;
    EXPECT_EQ(pieces, c.pieces) << c.length;
    if (c.pieces > 0) {
      EXPECT_EQ(tree_->Find(V(MemoKey(t, row, 0, 0)))->payload().size(), c.first_payload);
    }
    std::vector<uint8_t> back;
    EXPECT_EQ(tables_->ReadMemo(t, row, 0, &back), 0);
    EXPECT_EQ(back, value) << c.length;
    ++row;
  }
  // A shorter value replaces every piece of a longer one.
  ASSERT_TRUE(tables_->WriteMemo(t, 6, 0, V(S("short"))));
  EXPECT_EQ(tree_->Find(V(MemoKey(t, 6, 0, 1))), nullptr);
  // A missing piece is an error, not a short value.
  tree_->Delete(V(MemoKey(t, 5, 0, 2)));
  std::vector<uint8_t> back;
  EXPECT_EQ(tables_->ReadMemo(t, 5, 0, &back), 57);
  // Deleting a row's memos leaves other rows alone.
  ASSERT_TRUE(tables_->WriteMemo(t, 6, 1, V(S("second memo"))));
  tables_->DeleteMemos(t, 6);
  EXPECT_EQ(tables_->ReadMemo(t, 6, 0, &back), 0);
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(tables_->ReadMemo(t, 6, 1, &back), 0);
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(tables_->ReadMemo(t, 3, 0, &back), 0);
  EXPECT_EQ(back.size(), 256u);
}

TEST_F(TablesTest, RowsAndCountersSurviveReopen) {
  uint32_t t = 0;
  ASSERT_EQ(tables_->CreateTable("R", Decl(), &t), 0);
  std::vector<uint32_t> rows;
  for (int i = 0; i < 500; ++i) {
    uint32_t row = pager_->IssueNumber();
    std::vector<uint8_t> image(104, 0);
    StoreU32(image.data(), static_cast<uint32_t>(i));
    tables_->PutRow(t, row, V(image));
    rows.push_back(row);
  }
  tables_->WriteCounters(t, kKindRow, {500, rows.back()});
  ASSERT_TRUE(tables_->DeleteRow(t, rows[10]));
  EXPECT_FALSE(tables_->DeleteRow(t, rows[10]));
  ASSERT_EQ(pager_->Flush(), 0);
  Reopen();
  Counters c = tables_->ReadCounters(t, kKindRow);
  EXPECT_EQ(c.RecordCount, 500u);
  EXPECT_EQ(c.LastRecord, rows.back());
  std::vector<uint8_t> image;
  ASSERT_TRUE(tables_->GetRow(t, rows[42], &image));
  EXPECT_EQ(LoadU32(image.data()), 42u);
  EXPECT_FALSE(tables_->GetRow(t, rows[10], &image));
  // Rows come back in row-number order.
  TreeCursor cursor(tree_.get());
  std::vector<uint8_t> prefix = KindPrefix(t, kKindRow);
  uint32_t last = 0;
  size_t seen = 0;
  for (bool ok = cursor.Seek(V(prefix)); ok && cursor.key()[4] == kKindRow; ok = cursor.Next()) {
    uint32_t row = LoadBigU32(cursor.key().data() + 5);
    EXPECT_GT(row, last);
    last = row;
    ++seen;
  }
  EXPECT_EQ(seen, 499u);
  EXPECT_EQ(CheckFile(path_).problems, std::vector<std::string>());
}

}  // namespace
}  // namespace qzr::palisade
