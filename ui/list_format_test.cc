#include "ui/list_format.h"

#include <gtest/gtest.h>

#include <cstring>

#include "runtime/values/queue.h"

namespace qzr {
namespace {

// One column, written as the parser should read it.
struct Col {
  int width;
  char align;
  int indent;
  const char* picture;
  const char* header;  // nullptr: none
  const char* flags;   // "|" border, "M" resizable, "F" fixed, "I" icon
  int value_field;
  int icon_field;
};

std::string Flags(const ListColumn& c) {
  std::string f;
  if (c.right_border) f += '|';
  if (c.resizable) f += 'M';
  if (c.fixed) f += 'F';
  if (c.icon) f += 'I';
  return f;
}

TEST(ListFormatTest, ParsesTheFormatsOfTheProgramsWindows) {
  struct Case {
    const char* text;
    std::vector<Col> columns;
  };
  const Case kCases[] = {
      {"12L(2)I@p p@396L(2)|M@s99@1020L(2)|M@s255@1020L(2)|M@s255@1016L(2)|M@s254@",
       {{12, 'L', 2, "@p p", nullptr, "I", 1, 2},
        {396, 'L', 2, "@s99", nullptr, "|M", 3, 0},
        {1020, 'L', 2, "@s255", nullptr, "|M", 4, 0},
        {1020, 'L', 2, "@s255", nullptr, "|M", 5, 0},
        {1016, 'L', 2, "@s254", nullptr, "|M", 6, 0}}},
      {"217L(2)|M~Message~S(255)@s255@42L(2)|M~Category~L(1)@s255@",
       {{217, 'L', 2, "@s255", "Message", "|M", 1, 0},
        {42, 'L', 2, "@s255", "Category", "|M", 2, 0}}},
      {"120L(1)|F@s30@", {{120, 'L', 1, "@s30", nullptr, "|F", 1, 0}}},
      {"117L(1)|F~Name~L(2)@s40@16C|FI~On~@s3@",
       {{117, 'L', 1, "@s40", "Name", "|F", 1, 0}, {16, 'C', 0, "@s3", "On", "|FI", 2, 3}}},
      {"40R(-1)#3#@n5@20L",
       {{40, 'R', -1, "@n5", nullptr, "", 3, 0}, {20, 'L', 0, "", nullptr, "", 4, 0}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    ListFormat format;
    std::string error;
    ASSERT_TRUE(ParseListFormat(c.text, &format, &error)) << error;
    ASSERT_EQ(format.columns.size(), c.columns.size());
    for (size_t i = 0; i < c.columns.size(); ++i) {
      const ListColumn& got = format.columns[i];
      const Col& want = c.columns[i];
      SCOPED_TRACE("column " + std::to_string(i + 1));
      EXPECT_EQ(got.width, want.width);
      EXPECT_EQ(static_cast<char>(got.align), want.align);
      EXPECT_EQ(got.indent, want.indent);
      EXPECT_EQ(got.picture, want.picture);
      EXPECT_EQ(got.has_header, want.header != nullptr);
      if (want.header) {
        EXPECT_EQ(got.header, want.header);
      }
      EXPECT_EQ(Flags(got), want.flags);
      EXPECT_EQ(got.value_field, want.value_field);
      EXPECT_EQ(got.icon_field, want.icon_field);
    }
  }
}

TEST(ListFormatTest, ReadsHeaderAlignmentAndScrollWidth) {
  ListFormat format;
  std::string error;
  ASSERT_TRUE(ParseListFormat("42L(2)|M~Category~R(1)S(80)@s255@", &format, &error)) << error;
  const ListColumn& c = format.columns[0];
  EXPECT_EQ(c.header_align, ColumnAlign::kRight);
  EXPECT_EQ(c.header_indent, 1);
  EXPECT_EQ(c.scroll_width, 80);
  EXPECT_TRUE(format.has_headers());
}

TEST(ListFormatTest, ReportsWhatIsWrongAndWhere) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case kCases[] = {
      {"", "offset 0: the format is empty"},
      {"L(2)@s5@", "offset 0: expected a column width"},
      {"12X@s5@", "offset 2: expected an alignment (L, R, C or D) after the width"},
      {"12L(2@s5@", "offset 5: expected \")\" after an indent"},
      {"12L@s5", "offset 4: the picture is not closed with \"@\""},
      {"12L@x9@", "offset 4: the picture \"@x9\" is not valid"},
      {"12L~Name@s5@", "offset 4: the header text is not closed with \"~\""},
      {"12L%@s5@", "offset 3: unexpected \"%\""},
      {"[12L@s5@]", "offset 0: column groups are not supported"},
      {"12L@p##@", "offset 4: the picture is not closed with \"P@\""},
  };
  for (const Case& c : kCases) {
    ListFormat format;
    std::string error;
    EXPECT_FALSE(ParseListFormat(c.text, &format, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

struct Row {
  uint8_t FULLCODE;
  int32_t ICON;
  char NAME[10];
  char NOTE[8];
};

TEST(ListFormatTest, FormatsQueueEntriesThroughTheColumnsPictures) {
  Queue<Row> q;
  q.Field("FULLCODE", &Row::FULLCODE);
  q.Field("ICON", &Row::ICON);
  q.Field("NAME", &Row::NAME);
  q.Field("NOTE", &Row::NOTE);
  auto add = [&](uint8_t full, int32_t icon, const char* name, const char* note) {
    q.record.FULLCODE = full;
    q.record.ICON = icon;
    std::memset(q.record.NAME, ' ', sizeof q.record.NAME);
    std::memcpy(q.record.NAME, name, std::strlen(name));
    std::memset(q.record.NOTE, ' ', sizeof q.record.NOTE);
    std::memcpy(q.record.NOTE, note, std::strlen(note));
    ADD(&q);
  };
  add(1, 1, "Quicksort", "fast");
  add(0, 2, "Bubble", "slow sort");  // cut to the field's 8 bytes
  ListFormat format;
  ASSERT_TRUE(ParseListFormat("12L(2)I@p p@40L(2)|M@s5@30L", &format, nullptr));

  // The buffer holds something else; formatting puts it back.
  std::memcpy(q.record.NAME, "untouched ", 10);
  const std::vector<ListRow> rows = FormatListRows(format, &q);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].text, "");
  EXPECT_EQ(rows[0][0].icon, 1);
  EXPECT_EQ(rows[0][1].text, "Quick");
  EXPECT_EQ(rows[0][2].text, "fast");
  EXPECT_EQ(rows[1][0].icon, 2);
  EXPECT_EQ(rows[1][1].text, "Bubbl");
  EXPECT_EQ(rows[1][2].text, "slow sor");
  EXPECT_EQ(std::string(q.record.NAME, 10), "untouched ");
}

}  // namespace
}  // namespace qzr
