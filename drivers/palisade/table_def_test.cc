#include "drivers/palisade/table_def.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "drivers/palisade/test_support.h"

namespace qzr::palisade {
namespace {

using test::B;
using test::V;

FileDescriptor Sample(bool with_blob = false) {
  FileDeclaration d("FUNC", "FUN");
  d.Driver("PALISADE")
      .Field("ID", TypeCode::LONG)
      .String("NAME", TypeCode::CSTRING, 20, "s20")
      .Decimal("PRICE", TypeCode::DECIMAL, 7, 2)
      .Field("FLAGS", TypeCode::BYTE)
      .Dim({3})
      .Memo("CODE", 64000, kMemoBinary)
      .Key("P_ID", {{"ID"}}, kKeyPrimary)
      .Key("K_NAME", {{"NAME"}, {"ID", true}}, kKeyDup | kKeyNocase, "NAMEKEY");
  if (with_blob) d.Blob("PICTURE");
  return d.Build();
}

TEST(TableDefTest, WritesGoldenBytes) {
  FileDescriptor f = FileDeclaration("T", "T")
                         .Field("A", TypeCode::SHORT)
                         .Memo("M", 300)
                         .Key("K", {{"A", true}}, kKeyOpt)
                         .Build();
  // clang-format off
  std::vector<uint8_t> expected = B({
      1, 0,                       // DefinitionVersion
      2, 0,                       // record length
      1, 0, 1, 0, 1, 0,           // fields, memos, keys
      2,                          // type SHORT
      0, 0,                       // offset
      'T', ':', 'A', 0,           // label
      0, 0,                       // DIM
      2, 0,                       // SIZE
      0, 0,                       // OVER
      0, 0,                       // extra word
      0, 1,                       // memo: absent external name
      'T', ':', 'M', 0,           // label
      0x2C, 0x01,                 // SIZE 300
      0, 0,                       // flags
      0, 1,                       // key: absent external name
      'T', ':', 'K', 0,           // label
      0x02,                       // OPT
      1, 0,                       // one component
      0, 0, 1, 0,                 // field 0, descending
  });
  // clang-format on
  EXPECT_EQ(WriteDefinition(f), expected);
}

TEST(TableDefTest, VersionIsTwoOnlyWithABlob) {
  EXPECT_EQ(WriteDefinition(Sample(false))[0], 1);
  EXPECT_EQ(WriteDefinition(Sample(true))[0], 2);
}

TEST(TableDefTest, ReadRebuildsTheDeclaration) {
  const FileDescriptor f = Sample(true);
  const std::vector<uint8_t> stream = WriteDefinition(f);
  FileDescriptor back;
  ASSERT_TRUE(ReadDefinition(V(stream), &back));
  EXPECT_EQ(back.record.size(), f.record.size());
  ASSERT_EQ(back.fields.size(), f.fields.size());
  for (size_t i = 0; i < f.fields.size(); ++i) {
    EXPECT_EQ(back.fields[i].label, f.fields[i].label);
    EXPECT_EQ(back.fields[i].type, f.fields[i].type);
    EXPECT_EQ(back.fields[i].offset, f.fields[i].offset);
    EXPECT_EQ(back.fields[i].size, f.fields[i].size);
    EXPECT_EQ(back.fields[i].ElementCount(), f.fields[i].ElementCount());
    EXPECT_EQ(back.fields[i].picture, f.fields[i].picture);
  }
  EXPECT_EQ(back.fields[2].digits, 7);
  EXPECT_EQ(back.fields[2].places, 2);
  ASSERT_EQ(back.memos.size(), 2u);
  EXPECT_TRUE(back.memos[0].IsBinary());
  EXPECT_TRUE(back.memos[1].IsBlob());
  ASSERT_EQ(back.keys.size(), 2u);
  EXPECT_EQ(back.keys[1].name, "NAMEKEY");
  EXPECT_EQ(back.keys[1].flags, kKeyDup | kKeyNocase);
  ASSERT_EQ(back.keys[1].components.size(), 2u);
  EXPECT_TRUE(back.keys[1].components[1].descending);
  EXPECT_FALSE(CompareDefinition(V(stream), back, true).has_value());
  // Every truncation of the stream is refused, never misread.
  for (size_t len = 0; len < stream.size(); ++len) {
    FileDescriptor cut;
    EXPECT_FALSE(ReadDefinition(Bytes(stream.data(), len), &cut)) << len;
    EXPECT_TRUE(CompareDefinition(Bytes(stream.data(), len), f, true).has_value()) << len;
  }
}

TEST(TableDefTest, CompareNamesTheFirstDifference) {
  const std::vector<uint8_t> stored = WriteDefinition(Sample());
  struct Case {
    const char* what;
    void (*change)(FileDescriptor&);
    const char* attribute;  // nullptr: no difference
    DeclLevel level;
    int item;
  } cases[] = {
      {"same", [](FileDescriptor&) {}, nullptr, DeclLevel::kFile, 1},
      {"extra field", [](FileDescriptor& f) { f.fields.push_back(f.fields[0]); }, "FIELDS",
       DeclLevel::kFile, 1},
      {"memo dropped", [](FileDescriptor& f) { f.memos.clear(); }, "MEMOS", DeclLevel::kFile, 1},
      {"key dropped", [](FileDescriptor& f) { f.keys.pop_back(); }, "KEYS", DeclLevel::kFile, 1},
      {"type", [](FileDescriptor& f) { f.fields[0].type = TypeCode::ULONG; }, "TYPE",
       DeclLevel::kField, 1},
      {"dim", [](FileDescriptor& f) { f.fields[3].dims = {4}; }, "DIM", DeclLevel::kField, 4},
      {"size", [](FileDescriptor& f) { f.fields[1].size = 21; }, "SIZE", DeclLevel::kField, 2},
      {"over", [](FileDescriptor& f) { f.fields[3].over = 0; }, "OVER", DeclLevel::kField, 4},
      {"digits", [](FileDescriptor& f) { f.fields[2].digits = 9; }, "SIZE", DeclLevel::kField, 3},
      {"places", [](FileDescriptor& f) { f.fields[2].places = 3; }, "PLACES", DeclLevel::kField, 3},
      {"label is not compared", [](FileDescriptor& f) { f.fields[0].label = "X:Y"; }, nullptr,
       DeclLevel::kFile, 1},
      {"picture is not compared", [](FileDescriptor& f) { f.fields[1].picture = "s9"; }, nullptr,
       DeclLevel::kFile, 1},
      {"memo size", [](FileDescriptor& f) { f.memos[0].size = 100; }, "SIZE", DeclLevel::kMemo, 1},
      {"binary", [](FileDescriptor& f) { f.memos[0].flags = 0; }, "BINARY", DeclLevel::kMemo, 1},
      {"key flags", [](FileDescriptor& f) { f.keys[1].flags &= ~kKeyDup; }, "ATTRIBUTE",
       DeclLevel::kKey, 2},
      {"primary is not compared", [](FileDescriptor& f) { f.keys[0].flags = 0; }, nullptr,
       DeclLevel::kFile, 1},
      {"component count",
       [](FileDescriptor& f) {
         f.keys[0].components.push_back({1, false});
       },
       "FIELDS", DeclLevel::kKey, 1},
      {"component field", [](FileDescriptor& f) { f.keys[1].components[0].field = 3; }, "FIELD",
       DeclLevel::kComponent, 1},
      {"component direction", [](FileDescriptor& f) { f.keys[1].components[1].descending = false; },
       "ASCENDING", DeclLevel::kComponent, 2},
  };
  for (const Case& c : cases) {
    FileDescriptor f = Sample();
    c.change(f);
    auto problem = CompareDefinition(V(stored), f, true);
    if (c.attribute == nullptr) {
      EXPECT_FALSE(problem.has_value()) << c.what << ": " << problem->attribute;
      continue;
    }
    ASSERT_TRUE(problem.has_value()) << c.what;
    EXPECT_EQ(problem->attribute, c.attribute) << c.what;
    EXPECT_EQ(problem->level, c.level) << c.what;
    EXPECT_EQ(problem->item, c.item) << c.what;
  }
}

TEST(TableDefTest, DecimalCheckOffSkipsDigitsAndPlaces) {
  const std::vector<uint8_t> stored = WriteDefinition(Sample());
  FileDescriptor f = Sample();
  f.fields[2].digits = 9;
  f.fields[2].places = 4;
  EXPECT_FALSE(CompareDefinition(V(stored), f, false).has_value());
  EXPECT_TRUE(CompareDefinition(V(stored), f, true).has_value());
}

TEST(TableDefTest, NewerVersionIsRefusedWithItsMessage) {
  std::vector<uint8_t> stored = WriteDefinition(Sample());
  stored[0] = 3;
  auto problem = CompareDefinition(V(stored), Sample(), true);
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->attribute, "VERSION");
  EXPECT_EQ(problem->text, kNewerFormatText);
  FileDescriptor out;
  EXPECT_FALSE(ReadDefinition(V(stored), &out));
}

TEST(TableDefTest, ValidationRefusesWhatCannotBeStored) {
  FileDescriptor big = FileDeclaration("T", "T").String("S", TypeCode::STRING, 15100).Build();
  ASSERT_TRUE(ValidateForStorage(big).has_value());
  EXPECT_EQ(ValidateForStorage(big)->attribute, "SIZE");
  FileDescriptor wide_key = FileDeclaration("T", "T")
                                .String("A", TypeCode::STRING, 7000)
                                .String("B", TypeCode::STRING, 527)
                                .Key("K", {{"A"}, {"B"}})
                                .Build();
  ASSERT_TRUE(ValidateForStorage(wide_key).has_value());
  EXPECT_EQ(ValidateForStorage(wide_key)->text,
            "Key components are more than a total of 7526 bytes long");
  wide_key.fields[1].size = 526;
  wide_key.record.resize(7526);
  EXPECT_FALSE(ValidateForStorage(wide_key).has_value());
  EXPECT_FALSE(ValidateForStorage(Sample(true)).has_value());
}

TEST(TableNameTest, SplitsAtTheSeparator) {
  test::TempDir dir;
  const std::string d = dir.path().string();
  std::filesystem::create_directory(d + "/data");
  struct Case {
    std::string name, file, table;
  } cases[] = {
      {"FUNC", "FUNC.PLX", "UNNAMED"},
      {"func.dat", "func.dat", "UNNAMED"},
      {"FUNC\\!Orders", "FUNC.PLX", "Orders"},
      {"FUNC\\!", "FUNC.PLX", ""},
      {"a.b/FUNC\\!T", "a.b/FUNC.PLX", "T"},
      {"x.y\\FUNC", "x.y\\FUNC.PLX", "UNNAMED"},
      // The text before the first separator is a directory: the next one counts.
      {d + "/data\\!f\\!T", d + "/data\\!f.PLX", "T"},
      {d + "/nodir\\!f\\!T", d + "/nodir.PLX", "f\\!T"},
  };
  for (const Case& c : cases) {
    TableName t = SplitTableName(c.name);
    EXPECT_EQ(t.file, c.file) << c.name;
    EXPECT_EQ(t.table, c.table) << c.name;
  }
}

}  // namespace
}  // namespace qzr::palisade
