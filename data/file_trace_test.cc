// Tests of the file-operation trace: the line of a call, the declaration and
// field-value details, and the settings and per-file switches that turn it
// on.

#include "data/file_trace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/core/runtime_error.h"
#include "runtime/values/date_time.h"

namespace qzr {
namespace {

FileDescriptor Orders(const std::string& driver_string = {}) {
  return FileDeclaration("ORD", "ORD")
      .Driver("TRACEDRV", driver_string)
      .Name("orders.dat")
      .Owner("secret")
      .Attributes(kFileCreate | kFileEncrypt | kFileThread)
      .Field("ID", TypeCode::LONG)
      .String("CUST", TypeCode::STRING, 8)
      .Decimal("TOTAL", TypeCode::DECIMAL, 9, 2)
      .Field("DAY", TypeCode::DATE)
      .Group("G", 2)
      .Field("AT", TypeCode::TIME)
      .String("B", TypeCode::CSTRING, 11, "s10")
      .Field("N", TypeCode::LONG).Over("ID")
      .String("TAGS", TypeCode::PSTRING, 3).Dim({2}).ExternalName("tags")
      .Field("SHIPPED", TypeCode::LONG).Picture("D6")
      .Memo("NOTES", 1000, 0, "notes")
      .Blob("PIC", kMemoBinary)
      .Key("K1", {{"ID"}}, kKeyPrimary)
      .Key("K2", {{"CUST"}, {"TOTAL", true}}, kKeyDup | kKeyNocase, "cust_idx")
      .Key("IX", {{"DAY"}}, kKeyIndex | kKeyOpt)
      .Build();
}

// Answers OPEN, CLOSE and the record reads; anything else is unsupported.
class TraceDriver : public FileDriver {
 public:
  TraceDriver() { info_.name = "TRACEDRV"; }
  int Call(FileOp op, FileDescriptor& file, FileArgs&) override {
    switch (op) {
      case FileOp::OPEN:
      case FileOp::CLOSE:
      case FileOp::NEXT:
        return 0;
      case FileOp::CREATE:
        PostErrno(ENOENT);
        return kFileSystemError;
      default:
        return kUnsupportedFunction;
    }
  }
  const DriverInfo& Info() const override { return info_; }

 private:
  DriverInfo info_;
};

void PutU32(FileDescriptor& f, int field, uint32_t v) {
  uint8_t* p = f.FieldData(field);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_trace_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    saved_ = GetTraceSettings();
  }
  void TearDown() override {
    SetTraceSettings(saved_);
    CloseTraceLogs();
    std::filesystem::remove_all(dir_);
  }
  std::vector<std::string> ReadLog(const std::string& name) {
    CloseTraceLogs();
    std::ifstream in(dir_ + "/" + name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string dir_;
  TraceSettings saved_;
};

TEST_F(TraceTest, LineShowsOperationFileArgumentsErrorAndTime) {
  FileDescriptor f = Orders();
  FileArgs args;
  EXPECT_EQ(TraceLine(FileOp::ADD, f, args, 0, 0, false), "ADD(orders.dat)");
  EXPECT_EQ(TraceLine(FileOp::ADD, f, args, 40, 123, true),
            "ADD(orders.dat)  Error: 40 Creates Duplicate Key  Time Taken: 1.23 secs");
  EXPECT_EQ(TraceLine(FileOp::OPEN, f, args, 0, 5, true), "OPEN(orders.dat)  Time Taken: 0.05 secs");
  args.view = 0x1A2B;
  EXPECT_EQ(TraceLine(FileOp::NEXT, f, args, 0, 0, false), "VIEW:1A2B:NEXT(orders.dat)");
  args = FileArgs();
  args.key = 1;
  args.position = 7;
  EXPECT_EQ(TraceLine(FileOp::GETkeyptr, f, args, 35, 0, false),
            "GETkeyptr(orders.dat)  Key: ORD:K2  Pos: 7  Error: 35 Record Not Found");
  args = FileArgs();
  args.timeout = 3;
  EXPECT_EQ(TraceLine(FileOp::HOLDfilesec, f, args, 0, 0, false), "HOLDfilesec(orders.dat)  Secs: 3");
  PostErrno(ENOENT);
  EXPECT_EQ(TraceLine(FileOp::OPEN, f, FileArgs(), 90, 0, false),
            "OPEN(orders.dat)  Error: 90 File System Error (2 File Not Found)");
  f.name.clear();
  EXPECT_EQ(TraceLine(FileOp::CLOSE, f, FileArgs(), 0, 0, false), "CLOSE(ORD)");
}

TEST_F(TraceTest, DeclarationIsWrittenInTheLanguageSyntax) {
  const std::vector<std::string> expected = {
      "ORD FILE,DRIVER('TRACEDRV'),OWNER(******),NAME('orders.dat'),CREATE,ENCRYPT,THREAD",
      "ORD:K1 KEY(+ORD:ID),PRIMARY",
      "ORD:K2 KEY(+ORD:CUST,-ORD:TOTAL),DUP,NOCASE,NAME('cust_idx')",
      "ORD:IX INDEX(+ORD:DAY),OPT",
      "ORD:NOTES MEMO(1000),NAME('notes')",
      "ORD:PIC BLOB,BINARY",
      "RECORD",
      "ORD:ID LONG",
      "ORD:CUST STRING(8)",
      "ORD:TOTAL DECIMAL(9,2)",
      "ORD:DAY DATE",
      "ORD:G GROUP",
      "ORD:AT TIME",
      "ORD:B CSTRING(@s10)",
      "END",
      "ORD:N LONG, OVER(ORD:ID)",
      "ORD:TAGS PSTRING(3), DIM(2), NAME('tags')",
      "ORD:SHIPPED LONG",
      "END",
      "END",
  };
  EXPECT_EQ(DeclarationLines(Orders()), expected);
}

TEST_F(TraceTest, FieldValuesShowDatesTimesAndUnprintableBytes) {
  FileDescriptor f = Orders();
  PutU32(f, 0, 42);
  std::memcpy(f.FieldData(1), "Sm\x01th   ", 8);
  const uint8_t total[] = {0xF0, 0x00, 0x12, 0x34, 0x56};  // -1234.56
  std::memcpy(f.FieldData(2), total, sizeof total);
  const uint8_t day[] = {25, 12, 0xE7, 0x07};  // 25 December 2023
  std::memcpy(f.FieldData(3), day, sizeof day);
  const uint8_t at[] = {7, 9, 5, 13};  // 13:05:09.07
  std::memcpy(f.FieldData(5), at, sizeof at);
  std::memcpy(f.FieldData(6), "ab\tc", 5);
  const int32_t shipped = DateFromParts(2, 29, 2000);
  PutU32(f, 9, static_cast<uint32_t>(shipped));

  const int32_t serial = DateFromParts(12, 25, 2023);
  ASSERT_GT(serial, 0);
  EXPECT_EQ(FieldValueText(f, 0), "42");
  EXPECT_EQ(FieldValueText(f, 1), "'Sm01Hth'");
  EXPECT_EQ(FieldValueText(f, 2), "-1234.56");
  EXPECT_EQ(FieldValueText(f, 3), "25 Dec 2023 (" + std::to_string(serial) + ")");
  EXPECT_EQ(FieldValueText(f, 5),
            "13:05:09.07 (" + std::to_string(TimeFromParts(13, 5, 9, 7)) + ")");
  EXPECT_EQ(FieldValueText(f, 6), "'ab09Hc'");
  EXPECT_EQ(FieldValueText(f, 9), "29 Feb 2000 (" + std::to_string(shipped) + ")");

  // Values that are no date or time show their raw number.
  const uint8_t bad_day[] = {1, 13, 0xD0, 0x07};
  std::memcpy(f.FieldData(3), bad_day, sizeof bad_day);
  EXPECT_EQ(FieldValueText(f, 3), "Invalid date (" + std::to_string(0x07D00D01) + ")");
  const uint8_t bad_time[] = {0, 0, 0, 25};
  std::memcpy(f.FieldData(5), bad_time, sizeof bad_time);
  EXPECT_EQ(FieldValueText(f, 5), "Invalid time (" + std::to_string(25 << 24) + ")");
  PutU32(f, 9, 0);
  EXPECT_EQ(FieldValueText(f, 9), "Invalid date (0)");

  // PSTRING elements and a length byte that claims too much.
  uint8_t* tags = f.FieldData(8);
  tags[0] = 2; tags[1] = 'h'; tags[2] = 'i';
  tags[3] = 200; tags[4] = 'x'; tags[5] = 'y';
  EXPECT_EQ(FieldValueText(f, 8, 0), "'hi'");
  EXPECT_EQ(FieldValueText(f, 8, 1), "'xy'");
}

TEST_F(TraceTest, SettingsTraceEveryFileWithDetails) {
  TraceDriver driver;
  TraceSettings s;
  s.trace = true;
  s.details = true;
  s.trace_file = dir_ + "/all.log";
  SetTraceSettings(s);

  FileDescriptor f = Orders();
  FileArgs args;
  TracingDriver tracing(driver);
  EXPECT_EQ(tracing.Call(FileOp::OPEN, f, args), 0);
  PutU32(f, 0, 7);
  f.memo_values[0] = "note";
  f.memo_values[1] = std::string(3, '\0');
  EXPECT_EQ(tracing.Call(FileOp::NEXT, f, args), 0);
  EXPECT_EQ(tracing.Call(FileOp::PACK, f, args), 80);
  EXPECT_EQ(ERRORCODE(), 80);

  std::vector<std::string> log = ReadLog("all.log");
  ASSERT_GE(log.size(), 25u);
  EXPECT_EQ(log[0], "OPEN(orders.dat)");
  EXPECT_EQ(log[1], "  ORD FILE,DRIVER('TRACEDRV'),OWNER(******),NAME('orders.dat'),CREATE,ENCRYPT,THREAD");
  EXPECT_EQ(log[20], "  END");
  EXPECT_EQ(log[21], "NEXT(orders.dat)");
  EXPECT_EQ(log[22], "  ORD:ID = 7");
  EXPECT_EQ(log[log.size() - 3], "  ORD:NOTES = 'note'");
  EXPECT_EQ(log[log.size() - 2], "  ORD:PIC = <3 bytes>");
  EXPECT_EQ(log.back(), "PACK(orders.dat)  Error: 80 Unsupported File Driver Function");
  // The owner's password never reaches the log.
  for (const std::string& line : log) EXPECT_EQ(line.find("secret"), std::string::npos);
}

TEST_F(TraceTest, DriverStringSwitchesTraceOneFile) {
  TraceDriver driver;
  SetTraceSettings(TraceSettings());
  TracingDriver tracing(driver);
  FileArgs args;

  // Trace off and no switch: nothing is written.
  FileDescriptor quiet = Orders();
  EXPECT_EQ(tracing.Call(FileOp::OPEN, quiet, args), 0);
  EXPECT_FALSE(std::filesystem::exists("TRACEDRV.LOG"));

  // LOGFILE: this file's calls, without details.
  FileDescriptor logged = Orders("/LOGFILE=" + dir_ + "/one.log");
  EXPECT_EQ(tracing.Call(FileOp::OPEN, logged, args), 0);
  EXPECT_EQ(tracing.Call(FileOp::CREATE, logged, args), 90);
  EXPECT_EQ(ReadLog("one.log"),
            (std::vector<std::string>{"OPEN(orders.dat)",
                                      "CREATE(orders.dat)  Error: 90 File System Error (2 File Not Found)"}));

  // ALLOWDETAILS with LOGFILE: details too.
  FileDescriptor detailed = Orders("LOGFILE=" + dir_ + "/two.log ALLOWDETAILS");
  EXPECT_EQ(tracing.Call(FileOp::NEXT, detailed, args), 0);
  std::vector<std::string> log = ReadLog("two.log");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "NEXT(orders.dat)");
  EXPECT_EQ(log[1], "  ORD:ID = 0");
}

TEST_F(TraceTest, ProfileAddsTheTimeTaken) {
  TraceDriver driver;
  TraceSettings s;
  s.trace = true;
  s.profile = true;
  s.flush = true;
  s.trace_file = dir_ + "/p.log";
  SetTraceSettings(s);
  FileDescriptor f = Orders();
  FileArgs args;
  TracingDriver(driver).Call(FileOp::CLOSE, f, args);
  TraceNote(f, driver.Info(), "LockFile failed with error 33");
  std::vector<std::string> log = ReadLog("p.log");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "LockFile failed with error 33");
  EXPECT_EQ(log[0].rfind("CLOSE(orders.dat)  Time Taken: ", 0), 0u) << log[0];
  EXPECT_EQ(log[0].substr(log[0].size() - 5), " secs");
}

}  // namespace
}  // namespace qzr
