#include "runtime/core/runtime_error.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <thread>

#include "runtime/core/fatal.h"
#include "runtime/settings/locale_data.h"
#include "testing/fatal_guard.h"

namespace qzr {
namespace {

TEST(RuntimeErrorTest, PostedCodeCarriesItsText) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {
      {2, "File Not Found"},
      {33, "Record Not Available"},
      {40, "Creates Duplicate Key"},
      {90, "File System Error"},
      {1010, "Invalid expression for EVALUATE"},
      {0, ""},
  };
  for (const Case& c : cases) {
    PostError(c.code);
    EXPECT_EQ(ERRORCODE(), c.code);
    EXPECT_EQ(ERROR(), c.text) << c.code;
  }
  ClearError();
}

TEST(RuntimeErrorTest, OsErrorFillsFileErrorFields) {
  PostErrno(ENOSPC);
  EXPECT_EQ(ERRORCODE(), 90);
  EXPECT_EQ(FILEERRORCODE(), "39");
  EXPECT_EQ(FILEERROR(), "Handle Disk Full");
  PostErrno(EEXIST);
  EXPECT_EQ(FILEERROR(), "File Already Exists");
  PostErrno(12345);
  EXPECT_EQ(FILEERRORCODE(), "91");
  EXPECT_EQ(FILEERROR(), "Unknown Error");
  // A code other than 90 carries the driver's own detail and no OS text.
  PostError(35, "", "row 7");
  EXPECT_EQ(FILEERRORCODE(), "row 7");
  EXPECT_EQ(FILEERROR(), "");
  ClearError();
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(FILEERRORCODE(), "");
}

// Every open of a file maps its errno the same way; what has no code of its
// own is an operating-system error (90) naming the system's error.
TEST(RuntimeErrorTest, AFailedOpenMapsItsErrnoToOneCode) {
  const struct {
    int err;
    int code;
  } cases[] = {
      {ENOENT, kFileNotFound},     {ENOTDIR, kPathNotFound},  {EMFILE, kTooManyOpenFiles},
      {ENFILE, kTooManyOpenFiles}, {EACCES, kAccessDenied},   {EPERM, kAccessDenied},
      {EROFS, kAccessDenied},      {EISDIR, kAccessDenied},   {EIO, kFileSystemError},
      {ENOSPC, kFileSystemError},  {ELOOP, kFileSystemError}, {ENAMETOOLONG, kFileSystemError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(OpenErrorCode(OsStatus::Error(c.err)), c.code == kFileSystemError ? 0 : c.code);
    ClearError();
    EXPECT_EQ(PostOpenError(OsStatus::Error(c.err)), c.code);
    EXPECT_EQ(ERRORCODE(), c.code);
    if (c.code == kFileSystemError) {
      EXPECT_EQ(FILEERRORCODE(), std::to_string(OsErrorFromErrno(c.err)));
    }
  }
  // EIO and "Access Denied" share the number 5 only on the operating
  // system's side: an EIO at open is 90 with the system's 31, never 5.
  EXPECT_NE(PostOpenError(OsStatus::Error(EIO)), kAccessDenied);
}

TEST(RuntimeErrorTest, PostedStateIsPerThread) {
  PostError(1011, "X");
  std::thread other([] {
    EXPECT_EQ(ERRORCODE(), 0);
    PostError(30);
  });
  other.join();
  EXPECT_EQ(ERRORCODE(), 1011);
  EXPECT_EQ(ERRORDETAIL(), "X");
  ClearError();
}

TEST(RuntimeErrorTest, EnvironmentFileReplacesMessageTexts) {
  const std::string path =
      ::testing::TempDir() + "runtime_error_test_" + std::to_string(getpid()) + ".ENV";
  {
    std::ofstream out(path, std::ios::binary);
    out << "MORMSG35=Satz nicht gefunden\r\n";
  }
  InitLocaleForTesting(IntlSettings{}, path);
  PostError(35);
  EXPECT_EQ(ERROR(), "Satz nicht gefunden");
  EXPECT_EQ(RuntimeString(33), "Record Not Available");
  InitLocaleForTesting(IntlSettings{}, "/nonexistent/none.ENV");
  EXPECT_EQ(ERROR(), "Record Not Found");
  std::remove(path.c_str());
  ClearError();
}

TEST(FatalTest, HandlerReceivesCodeAndComposedText) {
  try {
    Fatal(kMakeUfoError, "Make UFO Error");
    FAIL() << "Fatal returned";
  } catch (const testing::FatalErrorThrown& e) {
    EXPECT_EQ(e.code, 501);
    EXPECT_STREQ(e.what(), "Internal error 01 : Make UFO Error");
  }
  EXPECT_EQ(FatalText(410, ""), "Pure Virtual Function Called");
  EXPECT_FATAL(Corruption(17), kDataCorruption);
  try {
    Corruption(17);
  } catch (const testing::FatalErrorThrown& e) {
    EXPECT_NE(std::string(e.what()).find("Possible data corruption in file (17)"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace qzr
