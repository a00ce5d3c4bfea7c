// Stress test: several processes add and change rows of one shared
// Palisade file at the same time, through the driver entry (deny none, so
// every changing operation takes the file's writer byte and every write-out
// all reader slots). At the end every row each process added is present
// with the value it last wrote, the counters agree, and the checks are
// clean.
//
// The test binary runs itself again (fork and exec of /proc/self/exe with a
// filter selecting StressChild.Run) once per process. QZR_STRESS_ROWS sets
// the rows per process (the campaign raises it).

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/plx_file_check.h"
#include "drivers/palisade/test_support.h"
#include "gtest/gtest.h"

namespace qzr {
namespace {

constexpr char kRoleEnv[] = "QZR_STRESS_ROLE";
constexpr char kPathEnv[] = "QZR_STRESS_PATH";
constexpr char kRowsEnv[] = "QZR_STRESS_ROWS";
constexpr int kProcesses = 4;

FileDescriptor Shared(const std::string& path) {
  FileDescriptor f = FileDeclaration("SHARED", "SHR")
                         .Driver("PALISADE")
                         .Name(path)
                         .Attributes(kFileCreate)
                         .Field("ID", TypeCode::LONG)
                         .Field("OWNER", TypeCode::LONG)
                         .String("VAL", TypeCode::CSTRING, 64)
                         .Key("P_ID", {{"ID"}}, kKeyPrimary)
                         .Key("K_OWNER", {{"OWNER"}}, kKeyDup)
                         .Build();
  f.open_mode = kOpenReadWriteDenyNone;
  return f;
}

void SetRow(FileDescriptor& f, int32_t id, int32_t owner, const std::string& value) {
  std::fill(f.record.begin(), f.record.end(), 0);
  std::memcpy(f.FieldData(0), &id, 4);
  std::memcpy(f.FieldData(1), &owner, 4);
  std::memcpy(f.FieldData(2), value.data(), std::min<size_t>(value.size(), 63));
}

std::string ValueFor(int32_t id, int version) {
  return "row" + std::to_string(id) + "v" + std::to_string(version);
}

int Rows() {
  const char* v = std::getenv(kRowsEnv);
  return v != nullptr ? std::atoi(v) : 24;
}

// One process: adds its rows, changing every third one again right after
// the next is added, so adds and changes of all processes interleave.
void RunStressChild() {
  const int me = std::atoi(std::getenv(kRoleEnv));
  RegisterPalisadeDriver();
  FileDescriptor f = Shared(std::getenv(kPathEnv));
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
  const int rows = Rows();
  for (int n = 0; n < rows; ++n) {
    const int32_t id = me * 100000 + n;
    SetRow(f, id, me, ValueFor(id, 0));
    ASSERT_EQ(DoFileOp(FileOp::ADD, f), 0) << ERROR();
    if (n % 3 == 1) {
      const int32_t earlier = id - 1;
      SetRow(f, earlier, me, "");
      FileArgs by_id;
      by_id.key = 0;
      ASSERT_EQ(DoFileOp(FileOp::GETfilekey, f, by_id), 0) << ERROR();
      SetRow(f, earlier, me, ValueFor(earlier, 1));
      ASSERT_EQ(DoFileOp(FileOp::PUT, f), 0) << ERROR();
    }
  }
  ASSERT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
}

TEST(StressChild, Run) {
  if (std::getenv(kRoleEnv) == nullptr) GTEST_SKIP() << "runs only as the stress test's child";
  RunStressChild();
  // The parent learns of a failure from the exit status.
  if (::testing::Test::HasFailure()) ::_exit(3);
}

pid_t SpawnStress(int index, const std::string& path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 1);
    ::unsetenv("GTEST_OUTPUT");
    ::setenv(kRoleEnv, std::to_string(index).c_str(), 1);
    ::setenv(kPathEnv, path.c_str(), 1);
    ::execl("/proc/self/exe", "/proc/self/exe", "--gtest_filter=StressChild.Run",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

TEST(StressTest, FourProcessesChangeOneSharedFile) {
  RegisterPalisadeDriver();
  palisade::test::TempDir dir;
  const std::string path = dir.File("SHARED.PLX");
  {
    // Created up front, so that the processes only open it.
    FileDescriptor f = Shared(path);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    ASSERT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
  }
  std::vector<pid_t> children;
  for (int i = 1; i <= kProcesses; ++i) children.push_back(SpawnStress(i, path));
  for (pid_t pid : children) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed: " << status;
  }
  std::map<int32_t, std::string> expected;
  const int rows = Rows();
  for (int me = 1; me <= kProcesses; ++me) {
    for (int n = 0; n < rows; ++n) {
      const int32_t id = me * 100000 + n;
      // Every third row (n % 3 == 0, followed by another) was changed again.
      expected[id] = ValueFor(id, n % 3 == 0 && n + 1 < rows ? 1 : 0);
    }
  }
  FileDescriptor f = Shared(path);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
  std::map<int32_t, std::string> found;
  ASSERT_EQ(DoFileOp(FileOp::SETfile, f), 0);
  for (int rc; (rc = DoFileOp(FileOp::NEXT, f)) != 33;) {
    ASSERT_EQ(rc, 0) << ERROR();
    int32_t id;
    std::memcpy(&id, f.FieldData(0), 4);
    const char* p = reinterpret_cast<const char*>(f.FieldData(2));
    found[id] = std::string(p, strnlen(p, 64));
  }
  FileArgs count;
  ASSERT_EQ(DoFileOp(FileOp::RECORDSfile, f, count), 0);
  EXPECT_EQ(count.result, static_cast<int64_t>(expected.size()));
  ASSERT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
  EXPECT_EQ(found, expected);
  const std::vector<std::string> problems = palisade::CheckPlxFile(path);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

}  // namespace
}  // namespace qzr
