// Tests of the exchange formats: JSON, CSV and Markdown out and back.

#include "app/entry_formats.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qzr {
namespace {

const std::vector<FuncEntry> kEntries = {
    {1, "comma, \"quote\"", "two\nlines", "a,b\r\n\"c\"", true, "http://x/?a=1,2", "Zoë"},
    {5, "", "", "", false, "", ""},
};

// The entries as an export writes them in `format`.
std::string Written(ExportFormat format, const std::vector<FuncEntry>& entries) {
  std::ostringstream out;
  EntryWriter writer(format, &out);
  writer.Begin();
  for (const FuncEntry& e : entries) writer.Write(e);
  writer.End();
  return out.str();
}

std::vector<FuncEntry> Apply(const std::vector<EntryFields>& fields) {
  std::vector<FuncEntry> out;
  for (const EntryFields& f : fields) {
    FuncEntry e;
    ApplyEntryFields(f, &e);
    e.id = static_cast<int32_t>(f.id.value_or(0));
    out.push_back(e);
  }
  return out;
}

TEST(EntryFormatsTest, JsonArrayAndJsonLinesReadBackTheSameEntries) {
  std::string array = Written(ExportFormat::kJson, kEntries);
  std::string lines = EntryToJson(kEntries[0]) + "\n\n" + EntryToJson(kEntries[1]) + "\n";
  for (const std::string& text : {array, lines}) {
    std::vector<EntryFields> fields;
    std::string error;
    ASSERT_TRUE(ParseJsonEntries(text, &fields, &error)) << error;
    EXPECT_EQ(Apply(fields), kEntries);
  }
  EXPECT_EQ(
      EntryToJson(kEntries[1]),
      R"({"id":5,"title":"","description":"","code":"","complete":0,"link":"","postedBy":""})");
}

TEST(EntryFormatsTest, CsvQuotesWhatItMustAndReadsBack) {
  std::string csv = Written(ExportFormat::kCsv, kEntries);
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")), "id,title,description,code,complete,link,postedBy");
  EXPECT_NE(csv.find("\"comma, \"\"quote\"\"\""), std::string::npos);
  std::vector<EntryFields> fields;
  std::string error;
  ASSERT_TRUE(ParseCsvEntries(csv, &fields, &error)) << error;
  EXPECT_EQ(Apply(fields), kEntries);
}

TEST(EntryFormatsTest, CsvColumnsMayComeInAnyOrderAndBeLeftOut) {
  std::vector<EntryFields> fields;
  std::string error;
  ASSERT_TRUE(ParseCsvEntries("title,complete\nabc,yes\n", &fields, &error)) << error;
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(*fields[0].title, "abc");
  EXPECT_TRUE(*fields[0].complete);
  EXPECT_FALSE(fields[0].code.has_value());
}

TEST(EntryFormatsTest, BadInputIsRefusedWithTheEntryAndTheReason) {
  struct Case {
    bool csv;
    const char* text;
    const char* reason;
  };
  const Case cases[] = {
      {false, R"([{"title":"a"},{"titel":"b"}])", "entry 2: unknown field \"titel\""},
      {false, R"([{"title":1}])", "entry 1: \"title\" must be a string"},
      {false, R"([{"complete":2}])", "entry 1: \"complete\" must be 0, 1, true or false"},
      {false, "{\"title\":\"a\"}\n{oops\n", "line 2: not valid JSON"},
      {false, "42", "expected an array of objects"},
      {true, "title,bogus\na,b\n", "header: unknown column \"bogus\""},
      {true, "title\n\"open\n", "line 2: a quoted field is never closed"},
      {true, "title,code\na\n", "entry 1: has 1 fields, the header 2"},
      {true, "complete\nmaybe\n", "entry 1: \"complete\" must be"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<EntryFields> fields;
    std::string error;
    bool ok = c.csv ? ParseCsvEntries(c.text, &fields, &error)
                    : ParseJsonEntries(c.text, &fields, &error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_TRUE(fields.empty());
  }
}

TEST(EntryFormatsTest, EveryShapeOfAWellFormedEntryReadsAsItsFields) {
  // Each accepted way of giving a field, as an array, as one object and as
  // one object a line; a field named twice keeps its last value.
  struct Case {
    const char* object;
    EntryFields expected;
  };
  auto text = [](const char* t) { return std::optional<std::string>(t); };
  const Case cases[] = {
      {R"({})", {}},
      {R"({"id":7,"title":"t","description":"d","code":"c","link":"l","postedBy":"p",)"
       R"("complete":1})",
       {7, text("t"), text("d"), text("c"), true, text("l"), text("p")}},
      {R"({"id":null,"title":null,"code":null,"complete":null})",
       {std::nullopt, text(""), std::nullopt, text(""), false, std::nullopt, std::nullopt}},
      {R"({"complete":true,"id":-3})", {-3, {}, {}, {}, true, {}, {}}},
      {R"({"complete":false,"id":18446744073709551615})", {-1, {}, {}, {}, false, {}, {}}},
      {R"({"complete":0,"title":"\u00e9\n\"x\"","link":""})",
       {std::nullopt, text("\xC3\xA9\n\"x\""), {}, {}, false, text(""), {}}},
      {R"({"title":"a","title":"b"})", {std::nullopt, text("b"), {}, {}, {}, {}, {}}},
  };
  auto same = [](const EntryFields& a, const EntryFields& b) {
    return a.id == b.id && a.title == b.title && a.description == b.description &&
           a.code == b.code && a.complete == b.complete && a.link == b.link &&
           a.posted_by == b.posted_by;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object);
    const std::string forms[] = {std::string("[") + c.object + "," + c.object + "]",
                                 std::string(c.object) + "\n" + c.object + "\n"};
    for (const std::string& form : forms) {
      std::vector<EntryFields> fields;
      std::string error;
      ASSERT_TRUE(ParseJsonEntries(form, &fields, &error)) << form << ": " << error;
      ASSERT_EQ(fields.size(), 2u) << form;
      EXPECT_TRUE(same(fields[0], c.expected) && same(fields[1], c.expected)) << form;
    }
    std::vector<EntryFields> one;
    std::string error;
    ASSERT_TRUE(ParseJsonEntries(c.object, &one, &error)) << error;
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(same(one[0], c.expected));
  }
  std::vector<EntryFields> none;
  std::string error;
  EXPECT_TRUE(ParseJsonEntries(" [ ] ", &none, &error)) << error;
  EXPECT_TRUE(none.empty());
}

TEST(EntryFormatsTest, EntriesReadAsOneObjectIsReadAlone) {
  // A list of entries is read in one quick pass; one object alone goes
  // through the document. Both take and refuse the same texts alike.
  const std::string cases[] = {
      R"({"title":"a\/b\\c\b\f\r\t\n\"q\""})",
      R"({"title":"ends in a backslash \\","code":"\\\"x\\\\"})",
      R"({"title":"\ud83d\ude00 \u0041\u00E9\u20ac \u0000"})",
      R"({"title":"\ud83d"})",
      R"({"title":"\ude00"})",
      R"({"title":"\ud83dx"})",
      R"({"title":"\ud83d\u0041"})",
      R"({"title":"\u12G4"})",
      R"({"title":"\x"})",
      "{\"title\":\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 long enough to be read eight at a time\"}",
      "{\"title\":\"\xC0\xAF\"}",
      "{\"title\":\"\xED\xA0\x80\"}",
      "{\"title\":\"\xF4\x90\x80\x80\"}",
      "{\"title\":\"\xE2\x82\"}",
      "{\"title\":\"abcdefghijklm\x80\"}",
      "{\"title\":\"abcdefghij\x01klm\"}",
      "{\"title\":\"abcdefghij\tklm\"}",
      "{\"title\":\"abcdefgh\\\"ijklmnopqrstuvwxyz\x7F\"}",
      "\r\n\t {\r\n\t \"title\" \r\n:\t \"a\" \r\n}\r\n\t ",
      R"({"id":0,"complete":0})",
      R"({"id":-0})",
      R"({"id":01})",
      R"({"id":123456789012345678})",
      R"({"id":-1234567890123456789})",
      R"({"id":9223372036854775807})",
      R"({"id":-})",
      R"({"id":1e2})",
      R"({"id":1.})",
      R"({"complete":2})",
      R"({"complete":truex})",
      R"({"complete":nul})",
      R"({"title":"a",})",
      R"({"title":"a" "code":"b"})",
      R"({"ti\u0074le":"x"})",
      R"({"title":"a"} x)",
      R"({"title":"a"}{"title":"b"})",
      R"({"title":"unterminated)",
      R"({"title")",
      R"({)",
  };
  auto same = [](const EntryFields& a, const EntryFields& b) {
    return a.id == b.id && a.title == b.title && a.description == b.description &&
           a.code == b.code && a.complete == b.complete && a.link == b.link &&
           a.posted_by == b.posted_by;
  };
  for (const std::string& c : cases) {
    SCOPED_TRACE(c);
    EntryFields alone;
    std::string error;
    const bool alone_ok = ParseJsonEntry(c, &alone, &error);
    for (const std::string& form : {c, "[" + c + "]", "[{}, " + c + "]"}) {
      std::vector<EntryFields> list;
      EXPECT_EQ(ParseJsonEntries(form, &list, &error), alone_ok) << form << ": " << error;
      if (alone_ok) {
        ASSERT_FALSE(list.empty());
        EXPECT_TRUE(same(list.back(), alone)) << form;
      } else {
        EXPECT_TRUE(list.empty());
      }
    }
  }
}

TEST(EntryFormatsTest, ValuesOfTheWrongShapeAreRefusedForTheirField) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {R"([{"title":"a"},{"code":["x"]}])", "entry 2: \"code\" must be a string"},
      {R"([{"title":{"a":1}}])", "entry 1: \"title\" must be a string"},
      {R"([{"id":1.0}])", "entry 1: \"id\" must be a whole number"},
      {R"([{"id":true}])", "entry 1: \"id\" must be a whole number"},
      {R"([{"complete":"1"}])", "entry 1: \"complete\" must be 0, 1, true or false"},
      {R"([{"title":"a"},[]])", "entry 2: not a JSON object"},
      {R"([{"title":"a"},"b"])", "entry 2: not a JSON object"},
      {R"([[{"title":"a"}]])", "entry 1: not a JSON object"},
      {R"("title")", "expected an array of objects, an object, or one object per line"},
      {R"([{"title":"a","zeta":1,"code":2}])", "entry 1: \"code\" must be a string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<EntryFields> fields;
    std::string error;
    EXPECT_FALSE(ParseJsonEntries(c.text, &fields, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(fields.empty());
  }
}

TEST(EntryFormatsTest, AJsonErrorNamesItsRealLineAndColumn) {
  struct Case {
    const char* text;
    const char* where;
  } cases[] = {
      {"[\n  {\"title\":\"a\"},\n  {\"title\" \"b\"}\n]\n", "line 3: not valid JSON at column 14"},
      {"{\"title\":\"a\"}\n{\"title\":\"b\"}\n{\"title\":}\n",
       "line 3: not valid JSON at column 10"},
      {"{\n  \"title\": \"a\",\n  \"code\": tru\n}", "line 3: not valid JSON at column"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<EntryFields> fields;
    std::string error;
    EXPECT_FALSE(ParseJsonEntries(c.text, &fields, &error));
    EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
    EXPECT_EQ(error.find("line 1"), std::string::npos) << error;
  }
}

TEST(EntryFormatsTest, NumbersPastADoubleAreRefusedNotThrown) {
  for (const char* text : {R"([{"title":"x","complete":1e400}])", R"([123123e100000])",
                           R"([{"id":-1e400}])", R"({"title":"x","id":1.5e99999})"}) {
    SCOPED_TRACE(text);
    std::vector<EntryFields> fields;
    std::string error;
    EXPECT_FALSE(ParseJsonEntries(text, &fields, &error));
    EXPECT_NE(error.find("not valid JSON"), std::string::npos) << error;
    EntryFields one;
    EXPECT_FALSE(ParseJsonEntry(text, &one, &error));
  }
}

TEST(EntryFormatsTest, AByteOrderMarkIsSkippedInCsvAsInJson) {
  std::vector<EntryFields> fields;
  std::string error;
  ASSERT_TRUE(ParseCsvEntries("\xEF\xBB\xBFtitle,postedBy\r\nx,me\r\n", &fields, &error)) << error;
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(*fields[0].title, "x");
  ASSERT_TRUE(ParseJsonEntries("\xEF\xBB\xBF[{\"title\":\"y\"}]", &fields, &error)) << error;
  EXPECT_EQ(*fields[0].title, "y");
  ASSERT_TRUE(
      ParseJsonEntries("\xEF\xBB\xBF{\"title\":\"a\"}\n{\"title\":\"b\"}\n", &fields, &error))
      << error;
  EXPECT_EQ(fields.size(), 2u);
}

TEST(EntryFormatsTest, InvalidUtf8IsFoundAtItsFirstBadByte) {
  struct Case {
    std::string text;
    size_t at;
  } cases[] = {
      {"plain", std::string::npos},
      {"café ☕ 𝄞", std::string::npos},
      {"ab\xFF", 2},
      {"\xC3", 0},              // cut short
      {"x\xC0\xAF", 1},         // overlong
      {"\xED\xA0\x80", 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0},  // past U+10FFFF
      {"é\x80", 2},             // a stray continuation byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InvalidUtf8At(c.text), c.at) << c.text;
  }
}

TEST(EntryFormatsTest, MarkdownFencesCodeWithMoreBackticksThanItHolds) {
  FuncEntry e{3, "t", "d", "x = ```y```\n", true, "", ""};
  std::string md = Written(ExportFormat::kMarkdown, {e});
  EXPECT_NE(md.find("## 3. t"), std::string::npos);
  EXPECT_NE(md.find("\n````\nx = ```y```\n````\n"), std::string::npos) << md;
}

TEST(EntryFormatsTest, EachFormatIsNamedAndFramesAnEmptyExport) {
  const struct {
    const char* name;
    ExportFormat format;
    const char* empty;
  } cases[] = {
      {"json", ExportFormat::kJson, "[]\n"},
      {"csv", ExportFormat::kCsv, "id,title,description,code,complete,link,postedBy\r\n"},
      {"markdown", ExportFormat::kMarkdown, "# QZR Functions Database\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExportFormat named = ExportFormat::kJson;
    ASSERT_TRUE(ExportFormatNamed(c.name, &named));
    EXPECT_EQ(named, c.format);
    EXPECT_EQ(Written(c.format, {}), c.empty);
  }
  ExportFormat unchanged = ExportFormat::kCsv;
  for (const char* name : {"", "xml", "JSON", "md", "json "}) {
    EXPECT_FALSE(ExportFormatNamed(name, &unchanged)) << name;
  }
  EXPECT_EQ(unchanged, ExportFormat::kCsv);
  EXPECT_EQ(Written(ExportFormat::kJson, {kEntries[1]}),
            "[\n" + EntryToJson(kEntries[1]) + "\n]\n");
}

}  // namespace
}  // namespace qzr
