#include "framework/standard_error_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qzr {
namespace {

namespace fs = std::filesystem;

class StandardErrorLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_errlog_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/" + kErrorLogFileName;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Contents() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::string dir_;
  std::string path_;
};

TEST_F(StandardErrorLogTest, CreatesOpensWritesAndCloses) {
  StandardErrorLog log(path_);
  EXPECT_EQ(log.WriteLog("before open"), SeverityInform);
  EXPECT_FALSE(fs::exists(path_));

  ASSERT_EQ(log.OpenLog(false), SeverityNone);
  EXPECT_TRUE(fs::exists(path_));
  EXPECT_EQ(log.USAGE, 1);
  EXPECT_EQ(log.WriteLog("first line   "), SeverityNone);
  EXPECT_EQ(log.CloseLog(false), SeverityNone);
  EXPECT_EQ(log.USAGE, 0);
  EXPECT_EQ(log.WriteLog("after close"), SeverityInform);

  // A second open appends to what is there.
  ASSERT_EQ(log.OpenLog(false), SeverityNone);
  EXPECT_EQ(log.WriteLog("second line"), SeverityNone);
  EXPECT_EQ(log.CloseLog(false), SeverityNone);
  EXPECT_EQ(Contents(), "first line\nsecond line\n");
}

TEST_F(StandardErrorLogTest, UsageCountsNestedOpens) {
  StandardErrorLog log(path_);
  ASSERT_EQ(log.OpenLog(false), SeverityNone);
  ASSERT_EQ(log.OpenLog(false), SeverityNone);  // counted only
  EXPECT_EQ(log.USAGE, 2);
  EXPECT_EQ(log.CloseLog(false), SeverityNone);  // still open
  EXPECT_EQ(log.USAGE, 1);
  EXPECT_EQ(log.WriteLog("still open"), SeverityNone);
  EXPECT_EQ(log.CloseLog(false), SeverityNone);
  EXPECT_EQ(log.USAGE, 0);

  // More closes than opens leave the count at zero, so the next open
  // really opens.
  EXPECT_EQ(log.CloseLog(false), SeverityNone);
  EXPECT_EQ(log.USAGE, 0);
  ASSERT_EQ(log.OpenLog(false), SeverityNone);
  EXPECT_EQ(log.WriteLog("reopened"), SeverityNone);

  // Forced: an open of an open log counts; a forced close closes at once.
  EXPECT_EQ(log.OpenLog(true), SeverityNone);
  EXPECT_EQ(log.USAGE, 2);
  EXPECT_EQ(log.CloseLog(true), SeverityNone);
  EXPECT_EQ(log.USAGE, 0);
  EXPECT_EQ(log.WriteLog("closed"), SeverityInform);
  EXPECT_EQ(Contents(), "still open\nreopened\n");
}

TEST_F(StandardErrorLogTest, LongLinesAreCutAt1024Bytes) {
  StandardErrorLog log(path_);
  ASSERT_EQ(log.OpenLog(false), SeverityNone);
  std::string line(1023, 'a');
  line += "\xC3\xA9tail";  // a two-byte character across the limit
  EXPECT_EQ(log.WriteLog(line), SeverityNone);
  EXPECT_EQ(log.WriteLog(std::string(2000, 'b')), SeverityNone);
  log.CloseLog(false);
  EXPECT_EQ(Contents(), std::string(1023, 'a') + "\n" + std::string(1024, 'b') + "\n");
}

TEST_F(StandardErrorLogTest, FailuresReturnInform) {
  // The log's place is taken by a folder: neither create nor open works.
  fs::create_directory(path_);
  StandardErrorLog log(path_);
  EXPECT_EQ(log.OpenLog(false), SeverityInform);
  EXPECT_EQ(log.USAGE, 0);
  // A folder that does not exist: the create fails.
  StandardErrorLog nowhere(dir_ + "/missing/" + kErrorLogFileName);
  EXPECT_EQ(nowhere.OpenLog(false), SeverityInform);
  EXPECT_EQ(nowhere.USAGE, 0);
}

}  // namespace
}  // namespace qzr
