// Tests of the declaration check: every report's exact text and number, the
// driver-lookup failures, and what the report leaves behind (message,
// ERRORCODE 47, last problem).

#include "data/declaration_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "data/file_descriptor.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/runtime_message.h"

namespace qzr {
namespace {

struct CapturedMessage {
  std::string caption;
  std::string text;
};

class MessageCapture {
 public:
  MessageCapture() {
    previous_ = SetRuntimeMessageHook([this](std::string_view caption, std::string_view text) {
      messages.push_back({std::string(caption), std::string(text)});
    });
  }
  ~MessageCapture() { SetRuntimeMessageHook(std::move(previous_)); }
  std::vector<CapturedMessage> messages;

 private:
  RuntimeMessageHook previous_;
};

FileDescriptor Func(std::string driver = "PALISADE") {
  return FileDeclaration("FUNC", "FUN")
      .Driver(std::move(driver))
      .Attributes(kFileCreate | kFileThread)
      .Field("ID", TypeCode::LONG)
      .String("NAME", TypeCode::CSTRING, 100)
      .String("DESCRIPTION", TypeCode::CSTRING, 1024)
      .Field("FULLCODE", TypeCode::BYTE)
      .String("FORUMLINK", TypeCode::CSTRING, 255)
      .String("USER", TypeCode::CSTRING, 30)
      .Memo("EXAMPLECODE", 64000)
      .Key("P_ID", {{"ID"}}, kKeyPrimary | kKeyNocase | kKeyOpt)
      .Build();
}

DriverCapabilities FullCaps() {
  DriverCapabilities caps;
  caps.types = ~uint64_t{0};
  caps.memo = caps.blob = caps.binary_memo = caps.descending_keys = caps.mixed_keys = true;
  return caps;
}

TEST(DeclarationCheck, BuilderLaysOutTheCatalogueRecord) {
  FileDescriptor f = Func();
  ASSERT_EQ(f.fields.size(), 6u);
  EXPECT_EQ(f.RecordLength(), 1414u);
  std::vector<uint32_t> offsets;
  for (const FieldDesc& field : f.fields) offsets.push_back(field.offset);
  EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 4, 104, 1128, 1129, 1384}));
  EXPECT_EQ(f.fields[0].label, "FUN:ID");
  EXPECT_EQ(f.keys[0].components.size(), 1u);
  EXPECT_EQ(f.keys[0].components[0].field, 0);
  EXPECT_EQ(f.memo_values.size(), 1u);
  EXPECT_EQ(f.FieldIndex("user"), 5);
  EXPECT_EQ(f.FieldIndex("FUN:Name"), 1);
  EXPECT_EQ(f.KeyIndex("P_ID"), 0);
  EXPECT_FALSE(FindDeclarationProblem(f, nullptr).has_value());
  DriverCapabilities caps = FullCaps();
  EXPECT_FALSE(FindDeclarationProblem(f, &caps).has_value());
}

TEST(DeclarationCheck, BuilderLaysOutGroupsDimsAndOver) {
  FileDescriptor f = FileDeclaration("T", "T")
                         .Driver("X")
                         .Field("A", TypeCode::LONG)
                         .Group("G", 2).Dim({3})
                         .Field("G1", TypeCode::SHORT)
                         .String("G2", TypeCode::STRING, 6)
                         .String("S", TypeCode::STRING, 10)
                         .String("SO", TypeCode::STRING, 4).Over("S")
                         .Decimal("D", TypeCode::DECIMAL, 7, 2)
                         .Build();
  // A 4, G 4..28 (3 x 8), S 28..38, SO over S, D 38..42.
  EXPECT_EQ(f.fields[1].size, 8u);
  EXPECT_EQ(f.fields[1].TotalSize(), 24u);
  EXPECT_EQ(f.fields[2].offset, 4u);
  EXPECT_EQ(f.fields[3].offset, 6u);
  EXPECT_EQ(f.fields[4].offset, 28u);
  EXPECT_EQ(f.fields[5].offset, 28u);
  EXPECT_EQ(f.fields[5].over, 4);
  EXPECT_EQ(f.fields[6].offset, 38u);
  EXPECT_EQ(f.fields[6].size, 4u);
  EXPECT_EQ(f.RecordLength(), 42u);
  EXPECT_FALSE(FindDeclarationProblem(f, nullptr).has_value());
}

struct Case {
  const char* what;
  std::function<void(FileDescriptor&, DriverCapabilities&)> change;
  bool with_caps;
  const char* report;
  const char* text;
  int number;
};

TEST(DeclarationCheck, ReportsEachProblemWithItsTextAndNumber) {
  const std::vector<Case> cases = {
      {"label", [](FileDescriptor& f, DriverCapabilities&) { f.fields[1].label = "FUN:1NAME"; }, false,
       "FIELD : 2 : LABEL : S00001", "Not a Valid Morwain Label", 120001},
      {"duplicate", [](FileDescriptor& f, DriverCapabilities&) { f.fields[2].label = "fun:name"; }, false,
       "FIELD : 3 : LABEL : S00002", "Duplicate Label", 120002},
      {"no type", [](FileDescriptor& f, DriverCapabilities&) { f.fields[3].type = TypeCode::END; }, false,
       "FIELD : 4 : TYPE : S00003", "No Type Specified", 120003},
      {"no size", [](FileDescriptor& f, DriverCapabilities&) { f.fields[4].size = 0; }, false,
       "FIELD : 5 : SIZE : S00004", "Type requires a size and no size specified", 120004},
      {"group members",
       [](FileDescriptor& f, DriverCapabilities&) {
         f.fields[4].type = TypeCode::GROUP;
         f.fields[4].group_fields = 2;
       },
       false, "FIELD : 5 : FIELDS : S00005", "The Group has more fields than has been defined", 120005},
      {"places",
       [](FileDescriptor& f, DriverCapabilities&) {
         f.fields[0].type = TypeCode::DECIMAL;
         f.fields[0].digits = 7;
         f.fields[0].places = 8;
       },
       false, "FIELD : 1 : PLACES : S00006", "More Decimal Places than specified size", 120006},
      {"digits",
       [](FileDescriptor& f, DriverCapabilities&) {
         f.fields[0].type = TypeCode::DECIMAL;
         f.fields[0].digits = 33;
       },
       false, "FIELD : 1 : SIZE : S00007", "Size is too big", 120007},
      {"group count",
       [](FileDescriptor& f, DriverCapabilities&) {
         f.fields[3].type = TypeCode::GROUP;
         f.fields[3].group_fields = 0;
       },
       false, "FIELD : 4 : FIELDS : S00008", "Field Count not specified for a GROUP field", 120008},
      {"over later", [](FileDescriptor& f, DriverCapabilities&) { f.fields[1].over = 2; }, false,
       "FIELD : 2 : OVER : S00009", "Field must be over a field defined before the field", 120009},
      {"group size",
       [](FileDescriptor& f, DriverCapabilities&) {
         f.fields[4].type = TypeCode::GROUP;
         f.fields[4].group_fields = 1;
         f.fields[4].size = 300;
         f.fields[4].dims = {20000};
       },
       false, "FIELD : 5 : SIZE : S00010", "The Group is greater than 4,194,304 bytes in size", 120010},
      {"field size", [](FileDescriptor& f, DriverCapabilities&) { f.fields[5].size = 4190209; }, false,
       "FIELD : 6 : SIZE : S00011", "The Field is greater than 4,190,208 bytes in size", 120011},
      {"over smaller", [](FileDescriptor& f, DriverCapabilities&) { f.fields[1].over = 0; }, false,
       "FIELD : 2 : OVER : S00012", "Field is larger than the field that it is over", 120012},
      {"picture", [](FileDescriptor& f, DriverCapabilities&) { f.fields[1].picture = "Q12"; }, false,
       "FIELD : 2 : PICTURE : S00013", "Invalid Picture", 120013},
      {"over into group",
       [](FileDescriptor& f, DriverCapabilities&) {
         f.fields[2].type = TypeCode::GROUP;
         f.fields[2].group_fields = 1;
         f.fields[2].size = 1;
         f.fields[4].size = 1;
         f.fields[4].over = 3;
       },
       false, "FIELD : 5 : OVER : S00014", "Field cannot be over a field inside another GROUP", 120014},
      {"record size",
       [](FileDescriptor& f, DriverCapabilities&) {
         f.fields[4].size = 4190000;
         f.fields[5].offset = 4190000;
         f.fields[5].size = 4190000;
       },
       false, "FILE : 1 : SIZE : S00005", "The record structure is greater than 4,194,304 bytes in size",
       110005},
      {"outside buffer", [](FileDescriptor& f, DriverCapabilities&) { f.record.resize(1000); }, false,
       "FIELD : 3 : SIZE : S00007", "Size is too big", 120007},
      {"memo size", [](FileDescriptor& f, DriverCapabilities&) { f.memos[0].size = 0; }, false,
       "MEMO : 1 : SIZE : S00003", "No Size Specified for a MEMO", 130003},
      {"memo label", [](FileDescriptor& f, DriverCapabilities&) { f.memos[0].label = "FUN:USER"; }, false,
       "MEMO : 1 : LABEL : S00002", "Duplicate Label", 130002},
      {"key fields", [](FileDescriptor& f, DriverCapabilities&) { f.keys[0].components.clear(); }, false,
       "KEY : 1 : FIELDS : S00003", "Type set to \u2018KEY\u2019, but no fields specified", 140003},
      {"primary dup", [](FileDescriptor& f, DriverCapabilities&) { f.keys[0].flags |= kKeyDup; }, false,
       "KEY : 1 : ATTRIBUTE : S00004", "Key is defined as PRIMARY and DUP", 140004},
      {"component range", [](FileDescriptor& f, DriverCapabilities&) { f.keys[0].components[0].field = 6; },
       false, "COMPONENT : 1 : FIELD : S00001",
       "Component number is greater than the number of fields in the file structure", 150001},
      {"component dim", [](FileDescriptor& f, DriverCapabilities&) { f.fields[0].dims = {1}; }, false,
       "COMPONENT : 1 : DIM : S00002", "Component is a dimmensioned field", 150002},
      // Driver capability problems.
      {"no label",
       [](FileDescriptor& f, DriverCapabilities&) {
         f.fields[0].label.clear();
         f.keys[0].components.clear();
         f.keys[0].flags |= kKeyIndex;
       },
       true, "FIELD : 1 : LABEL : D00001", "No Name or Label Specified", 220001},
      {"type", [](FileDescriptor&, DriverCapabilities& c) { c.types = TypeMask({TypeCode::LONG}); }, true,
       "FIELD : 2 : TYPE : D00002", "Data type not supported", 220002},
      {"dims",
       [](FileDescriptor& f, DriverCapabilities& c) {
         c.max_dimensions = 1;
         f.fields[3].dims = {1, 1};
       },
       true, "FIELD : 4 : DIM : D00003",
       "Number of dimensions is greater than that supported by the file driver", 220003},
      {"field max", [](FileDescriptor&, DriverCapabilities& c) { c.max_field_size = 255; }, true,
       "FIELD : 3 : SIZE : D00004", "Field is larger than the maximum supported by the file driver", 220004},
      {"memos",
       [](FileDescriptor& f, DriverCapabilities& c) {
         c.max_memos = 1;
         f.memos.push_back({"FUN:MORE", "", 10, 0});
       },
       true, "MEMO : 2 : MEMOS : D00002", "Too Many Memos defined", 230002},
      {"memo max", [](FileDescriptor&, DriverCapabilities& c) { c.max_memo_size = 65535 - 1536; }, true,
       "MEMO : 1 : SIZE : D00003", "Memo is larger than the maximum size supported by the file driver",
       230003},
      {"blob",
       [](FileDescriptor& f, DriverCapabilities& c) {
         c.blob = false;
         f.memos[0].flags = kMemoBlob;
       },
       true, "BLOB : 1 : BLOB : D00004", "Driver does not support BLOBs", 230004},
      {"memo", [](FileDescriptor&, DriverCapabilities& c) { c.memo = false; }, true,
       "MEMO : 1 : MEMO : D00005", "Driver does not support MEMOs", 230005},
      {"binary",
       [](FileDescriptor& f, DriverCapabilities& c) {
         c.binary_memo = false;
         f.memos[0].flags = kMemoBinary;
       },
       true, "MEMO : 1 : BINARY : D00006", "Driver does not support BINARY memos or blobs", 230006},
      {"keys",
       [](FileDescriptor& f, DriverCapabilities& c) {
         c.max_keys = 1;
         f.keys.push_back({"FUN:K2", "", 0, {{1, false}}});
       },
       true, "KEY : 2 : KEYS : D00002", "Too Many Keys defined", 240002},
      {"descending",
       [](FileDescriptor& f, DriverCapabilities& c) {
         c.descending_keys = false;
         f.keys[0].components[0].descending = true;
       },
       true, "COMPONENT : 1 : ASCENDING : D00001", "Driver does not support Descending Key Components",
       250001},
      {"mixed",
       [](FileDescriptor& f, DriverCapabilities& c) {
         c.mixed_keys = false;
         f.keys[0].components.push_back({1, true});
       },
       true, "COMPONENT : 2 : ASCENDING : D00002",
       "Driver does not support mixed Ascending and Descending Key Components", 250002},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FileDescriptor f = Func();
    DriverCapabilities caps = FullCaps();
    c.change(f, caps);
    auto problem = FindDeclarationProblem(f, c.with_caps ? &caps : nullptr);
    ASSERT_TRUE(problem.has_value());
    EXPECT_EQ(problem->Report(), c.report);
    EXPECT_EQ(problem->Text(), c.text);
    EXPECT_EQ(problem->Number(), c.number);
  }
}

TEST(DeclarationCheck, ReportShowsTheMessageAndPostsErrorCode47) {
  MessageCapture capture;
  ClearLastDeclarationProblem();
  FileDescriptor f = Func();
  f.keys[0].flags |= kKeyDup;
  auto problem = FindDeclarationProblem(f, nullptr);
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(ReportDeclarationProblem(*problem), 47);
  ASSERT_EQ(capture.messages.size(), 1u);
  EXPECT_EQ(capture.messages[0].caption, "KEY : 1 : ATTRIBUTE : S00004");
  EXPECT_EQ(capture.messages[0].text, "Key is defined as PRIMARY and DUP");
  EXPECT_EQ(ERRORCODE(), 47);
  EXPECT_EQ(ERROR(), "Invalid Record Declaration");
  EXPECT_EQ(ERRORDETAIL(), "KEY : 1 : ATTRIBUTE : S00004");
  EXPECT_EQ(FILEERRORCODE(), "ATTRIBUTE");
  ASSERT_TRUE(LastDeclarationProblem().has_value());
  EXPECT_EQ(LastDeclarationProblem()->attribute, "ATTRIBUTE");
}

TEST(DeclarationCheck, DriverTextOverridesAndUnknownAttribute) {
  DeclarationProblem p;
  p.level = DeclLevel::kSystem;
  p.message = decl::kDynamicFileSupportNotFound;
  EXPECT_EQ(p.Report(), "SYSTEM : 1 : UNKNOWN : S00002");
  EXPECT_EQ(p.Text(), "Dynamic File Support Not Found");
  EXPECT_EQ(p.Number(), 100002);
  p.level = DeclLevel::kField;
  p.item = 12;
  p.attribute = "VERSION";
  p.text = "You are attempting to open a newer format";
  EXPECT_EQ(p.Text(), "You are attempting to open a newer format");
  EXPECT_EQ(BuiltInDeclarationText(DeclLevel::kFile, DeclSource::kDeclaration, 99), "");
}

TEST(DeclarationCheck, MissingDriversAreReportedAtFileLevel) {
  MessageCapture capture;
  RegisterDriverFactory("BROKENDRV", [] { return std::unique_ptr<FileDriver>(); });
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "FILE : 1 : DRIVER : S00001|No File Driver Specified"},
      {"NOSUCHDRIVER", "FILE : 1 : DRIVER : S00004|File Driver not defined"},
      {"brokendrv", "FILE : 1 : DRIVER : S00002|File Driver could not be loaded"},
  };
  for (const auto& [driver, expected] : cases) {
    SCOPED_TRACE(driver);
    capture.messages.clear();
    EXPECT_EQ(CheckFileDeclaration(Func(driver)), 47);
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0].caption + "|" + capture.messages[0].text, expected);
    EXPECT_EQ(ERRORCODE(), 47);
  }
}

}  // namespace
}  // namespace qzr
