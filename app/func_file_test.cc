// Tests of the FUNC declaration and the entry mapping: the record layout,
// the key and memo, texts at and past their fields' limits.

#include "app/func_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "runtime/core/utf8.h"

namespace qzr {
namespace {

TEST(FuncDeclarationTest, RecordKeyAndMemoAreAsDeclared) {
  FileDescriptor f = FuncDeclaration();
  EXPECT_EQ(f.label, "FUNC");
  EXPECT_EQ(f.prefix, "FUN");
  EXPECT_EQ(f.driver, "PALISADE");
  EXPECT_EQ(f.name, "");
  EXPECT_EQ(f.owner, "");
  EXPECT_EQ(f.driver_string, "");
  EXPECT_EQ(f.attributes, kFileCreate | kFileThread);
  EXPECT_EQ(f.RecordLength(), 1414u);

  struct Field {
    const char* label;
    TypeCode type;
    uint32_t offset, size;
  };
  const Field expected[] = {
      {"FUN:ID", TypeCode::LONG, 0, 4},
      {"FUN:NAME", TypeCode::CSTRING, 4, 100},
      {"FUN:DESCRIPTION", TypeCode::CSTRING, 104, 1024},
      {"FUN:FULLCODE", TypeCode::BYTE, 1128, 1},
      {"FUN:FORUMLINK", TypeCode::CSTRING, 1129, 255},
      {"FUN:USER", TypeCode::CSTRING, 1384, 30},
  };
  ASSERT_EQ(f.fields.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(expected[i].label);
    EXPECT_EQ(f.fields[i].label, expected[i].label);
    EXPECT_EQ(f.fields[i].type, expected[i].type);
    EXPECT_EQ(f.fields[i].offset, expected[i].offset);
    EXPECT_EQ(f.fields[i].size, expected[i].size);
  }
  ASSERT_EQ(f.memos.size(), 1u);
  EXPECT_EQ(f.memos[0].label, "FUN:EXAMPLECODE");
  EXPECT_EQ(f.memos[0].size, 64000u);
  EXPECT_FALSE(f.memos[0].IsBinary());
  EXPECT_FALSE(f.memos[0].IsBlob());
  ASSERT_EQ(f.keys.size(), 1u);
  EXPECT_EQ(f.keys[0].label, "FUN:P_ID");
  EXPECT_EQ(f.keys[0].name, "");
  EXPECT_EQ(f.keys[0].flags, kKeyPrimary | kKeyNocase | kKeyOpt);
  ASSERT_EQ(f.keys[0].components.size(), 1u);
  EXPECT_EQ(f.keys[0].components[0].field, kFunId);
  EXPECT_FALSE(f.keys[0].components[0].descending);
}

TEST(FuncEntryTest, WriteThenReadGivesTheEntryBack) {
  FileDescriptor f = FuncDeclaration();
  FuncEntry e{42, std::string(99, 't'), "d", "int main() {}\n", true, "http://x", "someone"};
  WriteFuncEntry(&f, e, true);
  EXPECT_EQ(ReadFuncEntry(f), e);
  EXPECT_EQ(f.record[1128], 1);
}

TEST(FuncEntryTest, AListingReadsTheNumberCompletenessTitleAndPosterOnly) {
  FileDescriptor f = FuncDeclaration();
  FuncEntry e{7, "title", "about it", "int x;", true, "http://f/7", "ann"};
  WriteFuncEntry(&f, e, true);
  FuncEntry listed{7, "title", "", "", true, "", "ann"};
  EXPECT_EQ(ReadFuncListing(f), listed);
}

TEST(FuncEntryTest, ShorterTextLeavesNothingOfTheOldBehindItsTerminator) {
  FileDescriptor f = FuncDeclaration();
  WriteFuncEntry(&f, FuncEntry{1, "a long old title", "", "", false, "", ""}, true);
  WriteFuncEntry(&f, FuncEntry{1, "new", "", "", false, "", ""}, true);
  const uint8_t* name = f.FieldData(kFunName);
  EXPECT_EQ(std::memcmp(name, "new", 4), 0);
  for (uint32_t i = 3; i < kFunNameSize; ++i) EXPECT_EQ(name[i], 0) << i;
}

TEST(FuncEntryTest, CheckNamesTheFirstFieldThatDoesNotFit) {
  struct Case {
    FuncEntry entry;
    bool ok;
    const char* field;
    size_t limit;
  };
  const Case cases[] = {
      {{0, std::string(99, 'a'), std::string(1023, 'b'), std::string(64000, 'c'), false,
        std::string(254, 'd'), std::string(29, 'e')},
       true,
       "",
       0},
      {{0, std::string(100, 'a'), "", "", false, "", ""}, false, "title", 99},
      {{0, "", std::string(1024, 'b'), "", false, "", ""}, false, "description", 1023},
      {{0, "", "", std::string(64001, 'c'), false, "", ""}, false, "code", 64000},
      {{0, "", "", "", false, std::string(255, 'd'), ""}, false, "link", 254},
      {{0, "", "", "", false, "", std::string(30, 'e')}, false, "postedBy", 29},
      {{0, std::string("a\0b", 3), "", "", false, "", ""}, false, "title", 99},
  };
  for (const Case& c : cases) {
    FuncFieldProblem p;
    EXPECT_EQ(CheckFuncEntry(c.entry, &p), c.ok) << c.field;
    if (!c.ok) {
      EXPECT_EQ(p.field, c.field);
      EXPECT_EQ(p.limit, c.limit);
    }
  }
}

TEST(FuncEntryTest, TruncateCutsAtACharacterBoundary) {
  // 98 ASCII bytes and a two-byte character: 100 bytes, one too many; the
  // whole character goes rather than half of it.
  FuncEntry e;
  e.title = std::string(98, 'a') + "\xC3\xA9";
  TruncateFuncEntry(&e);
  EXPECT_EQ(e.title, std::string(98, 'a'));
  FuncFieldProblem p;
  EXPECT_TRUE(CheckFuncEntry(e, &p));

  EXPECT_EQ(Utf8Cut("ab\xE2\x82\xAC", 4), "ab");
  EXPECT_EQ(Utf8Cut("ab\xE2\x82\xAC", 5), "ab\xE2\x82\xAC");
  EXPECT_EQ(Utf8Cut("abc", 0), "");
}

}  // namespace
}  // namespace qzr
