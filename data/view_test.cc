// Tests of view descriptors: the byte layout the builder writes, the walker
// (depth limit, malformed streams), counts, the n-th file and field, and the
// view text.

#include "data/view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/file_driver.h"

namespace qzr {
namespace {

FileDescriptor Orders() {
  return FileDeclaration("ORDERS", "ORD")
      .Field("ID", TypeCode::LONG)
      .Field("CUSTOMER", TypeCode::LONG)
      .String("NOTE", TypeCode::CSTRING, 20)
      .Field("DAY", TypeCode::DATE)
      .Field("REGION", TypeCode::LONG)
      .Memo("TEXT", 100)
      .Key("BYID", {{"ID"}}, kKeyPrimary)
      .Build();
}

FileDescriptor Customers() {
  return FileDeclaration("CUSTOMERS", "CUS")
      .Field("ID", TypeCode::LONG)
      .Field("REGION", TypeCode::LONG)
      .String("NAME", TypeCode::CSTRING, 20)
      .Key("BYID", {{"ID"}, {"REGION"}}, kKeyDup)
      .Build();
}

std::string Lines(std::initializer_list<const char*> lines) {
  std::string out;
  for (const char* l : lines) out += std::string(l) + "\r\n";
  return out;
}

TEST(ViewTest, PrimaryOnlyWithoutProjectCountsEveryField) {
  FileDescriptor orders = Orders();
  View view;
  ASSERT_EQ(ViewBuilder(&orders).Build(&view), 0);
  EXPECT_EQ(view.descriptor(), (std::vector<uint8_t>{0, 0, 0xFF, 0xFF, 0}));
  EXPECT_EQ(view.Text(), Lines({"VIEW(FILE)", "END"}));
  EXPECT_EQ(view.FileCount(), 1);
  EXPECT_EQ(view.File(1), &orders);
  EXPECT_EQ(view.FieldCount(), 5);  // record fields; the memo is not one
  EXPECT_EQ(view.Field(1), (ViewFieldRef{1, 1}));
  EXPECT_EQ(view.Field(5), (ViewFieldRef{1, 5}));
  EXPECT_EQ(view.Field(6), (ViewFieldRef{0, 0}));
  EXPECT_EQ(view.Field(0), (ViewFieldRef{0, 0}));
  EXPECT_EQ(view.File(2), nullptr);
  EXPECT_EQ(view.File(0), nullptr);
}

TEST(ViewTest, KeyJoinWritesLinkingFieldsWithoutSpacesAndInnerAfterParenthesis) {
  FileDescriptor orders = Orders();
  FileDescriptor customers = Customers();
  View view;
  ASSERT_EQ(ViewBuilder(&orders)
                .ProjectField(1)
                .ProjectMemo("ORD:TEXT")
                .Join(&customers, "CUS:BYID", {"ORD:CUSTOMER", "ORD:REGION"})
                .Inner()
                .Project({"CUS:NAME"})
                .EndJoin()
                .Build(&view),
            0);
  // Primary: join 0, flags 0, 2 entries (field 1, memo 1), 1 join. Joined:
  // 2 links (2, 5), INNER, 1 entry (field 3), no joins.
  EXPECT_EQ(view.descriptor(), (std::vector<uint8_t>{0, 0, 2, 0, 1, 0, 0xFF, 0xFF, 1, 0, 1,  //
                                                     2, 2, 0, 5, 0, 1, 1,    0,    3, 0, 0}));
  EXPECT_EQ(view.Text(), Lines({"VIEW(FILE)", "  PROJECT(FIELD(1),MEMO(1))",
                                "  JOIN(KEY,FIELD(2),FIELD(5)),INNER", "    PROJECT(FIELD(3))",
                                "  END", "END"}));
  EXPECT_EQ(view.FileCount(), 2);
  EXPECT_TRUE(view.IsInner(2));
  EXPECT_FALSE(view.IsInner(1));
  EXPECT_EQ(view.JoinKey(2), 0);
  EXPECT_EQ(view.FieldCount(), 3);  // the memo counts as one view field
  EXPECT_EQ(view.Field(2), (ViewFieldRef{1, -1}));
  EXPECT_EQ(view.Field(3), (ViewFieldRef{2, 3}));
  EXPECT_EQ(view.Level(2)->link_fields, (std::vector<uint16_t>{2, 5}));
}

TEST(ViewTest, ExpressionJoinsNestAndIndentByTwoColumns) {
  FileDescriptor orders = Orders();
  FileDescriptor customers = Customers();
  FileDescriptor third = FileDeclaration("THIRD", "THI").Field("X", TypeCode::LONG).Build();
  View view;
  ASSERT_EQ(ViewBuilder(&orders)
                .JoinExpression(&customers, "CUS:ID = ORD:CUSTOMER")
                .JoinExpression(&third, "THI:X = CUS:REGION")
                .Inner()
                .EndJoin()
                .EndJoin()
                .Build(&view),
            0);
  EXPECT_EQ(view.Text(), Lines({"VIEW(FILE)", "  JOIN(CUS:ID = ORD:CUSTOMER)",
                                "    JOIN(THI:X = CUS:REGION),INNER", "    END", "  END", "END"}));
  EXPECT_EQ(view.FileCount(), 3);
  EXPECT_EQ(view.File(3), &third);
  EXPECT_EQ(view.Level(3)->parent, 2);
  EXPECT_EQ(view.Level(2)->join_expression, "CUS:ID = ORD:CUSTOMER");
  EXPECT_EQ(view.FieldCount(), 5 + 3 + 1);
  EXPECT_EQ(view.Field(9), (ViewFieldRef{3, 1}));
  EXPECT_EQ(view.Field(6), (ViewFieldRef{2, 1}));
}

TEST(ViewTest, TextIsCutAtTheCallersBufferWithoutOverflow) {
  FileDescriptor orders = Orders();
  FileDescriptor customers = Customers();
  View view;
  ASSERT_EQ(ViewBuilder(&orders)
                .JoinExpression(&customers, std::string(70000, 'x'))
                .EndJoin()
                .Build(&view),
            0);
  const std::string full = view.Text();
  EXPECT_EQ(full.size(), kViewTextBufferSize - 1);
  char small[16];
  bool cut = false;
  EXPECT_EQ(view.WriteText(small, sizeof small, &cut), 15u);
  EXPECT_TRUE(cut);
  EXPECT_EQ(std::string(small), "VIEW(FILE)\r\n  J");
}

// A chain of `levels` files, each joined to the previous one by expression.
std::vector<uint8_t> Chain(int levels) {
  std::vector<uint8_t> d;
  for (int i = 0; i < levels; ++i) {
    if (i == 0) {
      d.push_back(0);
    } else {
      d.push_back(kViewJoinByExpression);
      d.push_back('1');
      d.push_back(0);
    }
    d.insert(d.end(), {0, 0xFF, 0xFF, static_cast<uint8_t>(i + 1 < levels ? 1 : 0)});
  }
  return d;
}

TEST(ViewTest, WalkerKeepsAtMostTwentyLevels) {
  for (int levels : {1, 2, kViewMaxLevels, kViewMaxLevels + 1}) {
    std::vector<uint8_t> d = Chain(levels);
    ViewWalker walker(d);
    ViewLevel level;
    int seen = 0;
    while (walker.Next(&level)) {
      EXPECT_EQ(level.depth, seen);
      ++seen;
    }
    EXPECT_EQ(walker.complete(), levels <= kViewMaxLevels) << levels;
  }
}

TEST(ViewTest, MalformedDescriptorsAreRejectedAtEveryTruncation) {
  FileDescriptor orders = Orders();
  FileDescriptor customers = Customers();
  std::vector<uint8_t> good;
  std::vector<ViewFile> files;
  ASSERT_EQ(ViewBuilder(&orders)
                .Project({"ORD:ID"})
                .ProjectMemo(1)
                .JoinExpression(&customers, "CUS:ID = 1")
                .EndJoin()
                .Build(&good, &files),
            0);
  for (size_t n = 0; n < good.size(); ++n) {
    View view;
    EXPECT_EQ(view.Init(std::vector<uint8_t>(good.begin(), good.begin() + n), files),
              kInvalidRecordDeclaration)
        << n;
    EXPECT_EQ(view.FileCount(), 0);
  }
  std::vector<uint8_t> trailing = good;
  trailing.push_back(7);
  View view;
  EXPECT_EQ(view.Init(trailing, files), kInvalidRecordDeclaration);
  EXPECT_EQ(view.Init(good, files), 0);
}

TEST(ViewTest, InitChecksNumbersAgainstTheFiles) {
  FileDescriptor orders = Orders();
  FileDescriptor customers = Customers();
  struct Case {
    const char* what;
    std::vector<uint8_t> descriptor;
    std::vector<ViewFile> files;
  };
  const std::vector<Case> cases = {
      {"field beyond the file", {0, 0, 1, 0, 6, 0, 0}, {{&orders}}},
      {"field zero", {0, 0, 1, 0, 0, 0, 0}, {{&orders}}},
      {"memo beyond the file", {0, 0, 1, 0, 0xFF, 0xFF, 2, 0, 0}, {{&orders}}},
      {"primary with a join", {1, 1, 0, 0, 0xFF, 0xFF, 0}, {{&orders}}},
      {"fewer files than levels", {0, 0, 0xFF, 0xFF, 1, 0, 0, 0xFF, 0xFF, 0}, {{&orders}}},
      {"same file twice", {0, 0, 0xFF, 0xFF, 1, 0, 0, 0xFF, 0xFF, 0}, {{&orders}, {&orders, 0}}},
      {"key join without key",
       {0, 0, 0xFF, 0xFF, 1, 1, 2, 0, 0, 0xFF, 0xFF, 0},
       {{&orders}, {&customers, -1}}},
      {"more links than key components",
       {0, 0, 0xFF, 0xFF, 1, 3, 1, 0, 2, 0, 5, 0, 0, 0xFF, 0xFF, 0},
       {{&orders}, {&customers, 0}}},
      {"link beyond the parent",
       {0, 0, 0xFF, 0xFF, 1, 1, 9, 0, 0, 0xFF, 0xFF, 0},
       {{&orders}, {&customers, 0}}},
      {"no file", {0, 0, 0xFF, 0xFF, 0}, {{nullptr}}},
  };
  for (const Case& c : cases) {
    View view;
    EXPECT_EQ(view.Init(c.descriptor, c.files), kInvalidRecordDeclaration) << c.what;
  }
}

TEST(ViewTest, BuilderReportsUnknownNamesAndUnbalancedJoins) {
  FileDescriptor orders = Orders();
  FileDescriptor customers = Customers();
  View view;
  ViewBuilder unknown(&orders);
  EXPECT_EQ(unknown.Project({"ORD:NOPE"}).Build(&view), kInvalidRecordDeclaration);
  EXPECT_NE(unknown.error_text().find("ORD:NOPE"), std::string::npos);
  EXPECT_EQ(ViewBuilder(&orders).Join(&customers, "CUS:BYID", {"ORD:ID"}).Build(&view),
            kInvalidRecordDeclaration);
  EXPECT_EQ(ViewBuilder(&orders).EndJoin().Build(&view), kInvalidRecordDeclaration);
  EXPECT_EQ(ViewBuilder(&orders).Join(&customers, "CUS:NOKEY", {}).EndJoin().Build(&view),
            kInvalidRecordDeclaration);
  EXPECT_EQ(ViewBuilder(&orders).Inner().Build(&view), kInvalidRecordDeclaration);
}

}  // namespace
}  // namespace qzr
