#include "drivers/ascii/ascii_driver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/core/runtime_error.h"
#include "runtime/os/fault_plan.h"

namespace qzr {
namespace {

namespace fs = std::filesystem;

class AsciiDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterAsciiDriver();
    char tmpl[] = "/tmp/qzr_ascii_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/KFWError.Log";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The error log's file: one STRING(size) field TXT.
  FileDescriptor LogFile(const std::string& path, uint32_t size = 1024) {
    FileDescriptor file = FileDeclaration("ERRORLOG", "LOG")
                              .Driver("ascii")
                              .Name(path)
                              .String("TXT", TypeCode::STRING, size)
                              .Build();
    file.open_mode = kOpenReadWriteDenyNone;
    return file;
  }
  static void SetText(FileDescriptor& file, std::string_view text) {
    std::memset(file.record.data(), ' ', file.record.size());
    std::memcpy(file.record.data(), text.data(), std::min(text.size(), file.record.size()));
  }
  std::string Contents() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::string dir_;
  std::string path_;
};

// Given an open log, when the disk is full at a line's write, then ADD
// reports the operating-system error (90, "39" disk full) and the file keeps
// the lines before it, whole; the next line goes in once there is room.
TEST_F(AsciiDriverTest, AFullDiskFailsTheLineAndKeepsTheOthers) {
  FileDescriptor log = LogFile(path_);
  ASSERT_EQ(DoFileOp(FileOp::CREATE, log), 0);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, log), 0);
  SetText(log, "first");
  ASSERT_EQ(DoFileOp(FileOp::ADD, log), 0);
  FaultPlan full;
  full.FailAt(OsCall::kWrite, 1, ENOSPC);
  SetProcessFaultPlan(&full);
  SetText(log, "lost");
  EXPECT_EQ(DoFileOp(FileOp::ADD, log), kFileSystemError);
  EXPECT_EQ(FILEERRORCODE(), "39");
  SetText(log, "third");
  EXPECT_EQ(DoFileOp(FileOp::ADD, log), 0);
  SetProcessFaultPlan(nullptr);
  ASSERT_EQ(DoFileOp(FileOp::CLOSE, log), 0);
  EXPECT_EQ(Contents(), "first\nthird\n");
}

TEST_F(AsciiDriverTest, CreateOpenAppendClose) {
  FileDescriptor log = LogFile(path_);
  EXPECT_EQ(DoFileOp(FileOp::OPEN, log), 2);  // not there yet
  ASSERT_EQ(DoFileOp(FileOp::CREATE, log), 0);
  EXPECT_TRUE(fs::exists(path_));
  ASSERT_EQ(DoFileOp(FileOp::OPEN, log), 0);
  EXPECT_EQ(DoFileOp(FileOp::OPEN, log), kFileAlreadyOpen);

  struct Case {
    std::string_view text;
    std::string_view line;
  } cases[] = {
      {"10/12/2026@ 3:04PM --> Record Retrieval Error",
       "10/12/2026@ 3:04PM --> Record Retrieval Error"},
      {"   leading blanks stay", "   leading blanks stay"},
      {"", ""},
      {"two\nlines\r\njoined", "two lines  joined"},
      {std::string_view("cut\0 after NUL", 14), "cut"},
  };
  std::string expected;
  for (const Case& c : cases) {
    SetText(log, c.text);
    ASSERT_EQ(DoFileOp(FileOp::ADD, log), 0);
    expected += std::string(c.line) + "\n";
  }
  SetText(log, "APPEND too");
  ASSERT_EQ(DoFileOp(FileOp::APPEND, log), 0);
  expected += "APPEND too\n";
  SetText(log, "only the first five");
  FileArgs five;
  five.length = 5;
  ASSERT_EQ(DoFileOp(FileOp::ADDfilelen, log, five), 0);
  expected += "only\n";
  ASSERT_EQ(DoFileOp(FileOp::CLOSE, log), 0);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(Contents(), expected);

  // CREATE on an existing file keeps its lines; a reopened file appends.
  ASSERT_EQ(DoFileOp(FileOp::CREATE, log), 0);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, log), 0);
  SetText(log, "later");
  ASSERT_EQ(DoFileOp(FileOp::ADD, log), 0);
  ASSERT_EQ(DoFileOp(FileOp::CLOSE, log), 0);
  EXPECT_EQ(Contents(), expected + "later\n");
}

TEST_F(AsciiDriverTest, ErrorsAndUnsupportedOperations) {
  FileDescriptor log = LogFile(path_);
  EXPECT_EQ(DoFileOp(FileOp::ADD, log), kFileNotOpen);
  EXPECT_EQ(ERRORCODE(), kFileNotOpen);
  EXPECT_EQ(DoFileOp(FileOp::CLOSE, log), kFileNotOpen);

  FileDescriptor nested = LogFile(dir_ + "/no/such/folder/x.log");
  EXPECT_EQ(DoFileOp(FileOp::OPEN, nested), 3);
  EXPECT_EQ(DoFileOp(FileOp::CREATE, nested), 3);

  FileDescriptor folder = LogFile(dir_);
  EXPECT_EQ(DoFileOp(FileOp::OPEN, folder), 5);

  ASSERT_EQ(DoFileOp(FileOp::CREATE, log), 0);
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  if (::geteuid() != 0) {  // root opens read-only files for writing anyway
    EXPECT_EQ(DoFileOp(FileOp::OPEN, log), 5);
  }
  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);

  // Opened for reading only: adding is refused.
  log.open_mode = 0x40;
  ASSERT_EQ(DoFileOp(FileOp::OPEN, log), 0);
  SetText(log, "x");
  EXPECT_EQ(DoFileOp(FileOp::ADD, log), 5);
  for (FileOp op : {FileOp::NEXT, FileOp::GETfileptr, FileOp::PUT, FileOp::DELETE, FileOp::EMPTY,
                    FileOp::SETfile, FileOp::RECORDSfile, FileOp::REMOVE, FileOp::SEND}) {
    EXPECT_EQ(DoFileOp(op, log), kUnsupportedFunction) << OperationName(op);
  }
  ASSERT_EQ(DoFileOp(FileOp::CLOSE, log), 0);
  EXPECT_EQ(Contents(), "");

  // No NAME: the label is the file name; both empty is an invalid name.
  FileDescriptor nameless = LogFile("");
  nameless.label.clear();
  EXPECT_EQ(DoFileOp(FileOp::CREATE, nameless), 45);

  // OPEN of a missing file with the CREATE attribute creates it.
  FileDescriptor created = LogFile(dir_ + "/new.log");
  created.attributes |= kFileCreate;
  ASSERT_EQ(DoFileOp(FileOp::OPEN, created), 0);
  ASSERT_EQ(DoFileOp(FileOp::CLOSE, created), 0);
  EXPECT_TRUE(fs::exists(dir_ + "/new.log"));
}

TEST_F(AsciiDriverTest, RegistrationIsIdempotent) {
  RegisterAsciiDriver();
  FileDriver* driver = FindDriver("Ascii");
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(driver->Info().name, "ASCII");
  EXPECT_TRUE(driver->Info().capabilities.Stores(TypeCode::STRING));
  EXPECT_FALSE(driver->Info().capabilities.memo);
}

// Real child processes append long lines to one shared file at once; every
// line comes out whole and none is lost.
TEST_F(AsciiDriverTest, AppendsFromSeveralProcessesDoNotInterleave) {
  constexpr int kChildren = 4;
  constexpr int kLines = 100;
  constexpr uint32_t kWidth = 4000;
  FileDescriptor setup = LogFile(path_, kWidth);
  ASSERT_EQ(DoFileOp(FileOp::CREATE, setup), 0);
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      FileDescriptor log = LogFile(path_, kWidth);
      bool ok = DoFileOp(FileOp::OPEN, log) == 0;
      for (int i = 0; ok && i < kLines; ++i) {
        std::string text = std::to_string(c) + ":" + std::to_string(i) + ":";
        text += std::string(kWidth - 100, static_cast<char>('a' + c));
        SetText(log, text);
        ok = DoFileOp(FileOp::ADD, log) == 0;
      }
      ok = ok && DoFileOp(FileOp::CLOSE, log) == 0;
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::istringstream lines(Contents());
  std::map<int, int> per_child;
  int total = 0;
  for (std::string line; std::getline(lines, line); ++total) {
    ASSERT_GE(line.size(), 3u);
    int c = line[0] - '0';
    ASSERT_TRUE(c >= 0 && c < kChildren) << line.substr(0, 20);
    std::string tail = line.substr(line.rfind(':') + 1);
    ASSERT_EQ(tail, std::string(kWidth - 100, static_cast<char>('a' + c)));
    ++per_child[c];
  }
  EXPECT_EQ(total, kChildren * kLines);
  for (int c = 0; c < kChildren; ++c) EXPECT_EQ(per_child[c], kLines);
}

}  // namespace
}  // namespace qzr
