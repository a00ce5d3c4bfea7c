// Tests of the plx tool as a user meets it: the built program run on small
// files, its output, its messages and its exit codes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/test_support.h"

namespace qzr::palisade {
namespace {

struct PlxRun {
  int code = -1;
  std::string out, err;
};

PlxRun Plx(const std::vector<std::string>& args, const std::string& dir) {
  const std::string out_path = dir + "/plx.out", err_path = dir + "/plx.err";
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(dir.c_str()) != 0) _exit(126);
    std::vector<char*> argv = {const_cast<char*>(QZR_PLX_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QZR_PLX_EXE, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  PlxRun r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  auto bytes = test::ReadAll(out_path);
  r.out.assign(bytes.begin(), bytes.end());
  bytes = test::ReadAll(err_path);
  r.err.assign(bytes.begin(), bytes.end());
  return r;
}

// A file holding one row whose text is UTF-8, then renamed to `path`.
void MakeFile(const std::string& path) {
  RegisterPalisadeDriver();
  FileDescriptor f = FileDeclaration("D", "D")
                         .Driver("PALISADE")
                         .Name(path + ".PLX")
                         .Attributes(kFileCreate)
                         .Field("ID", TypeCode::LONG)
                         .String("NAME", TypeCode::CSTRING, 20)
                         .Key("P", {{"ID"}})
                         .Build();
  f.open_mode = kOpenReadWriteDenyNone;
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0);
  int32_t id = 1;
  std::memcpy(f.record.data(), &id, 4);
  std::memcpy(f.record.data() + 4, "CAF\xC3\x89", 6);
  ASSERT_EQ(DoFileOp(FileOp::ADD, f), 0);
  ASSERT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
  std::filesystem::rename(path + ".PLX", path);
}

TEST(PlxToolTest, OpensTheFileAsNamedAndDumpsUtf8TextOnce) {
  test::TempDir dir;
  // A file named without an extension: the tool opens that file, not
  // DATA.PLX.
  MakeFile(dir.File("DATA"));
  PlxRun dump = Plx({"dump", "DATA"}, dir.path().string());
  EXPECT_EQ(dump.code, 0) << dump.err;
  EXPECT_NE(dump.out.find("\"CAF\xC3\x89\""), std::string::npos) << dump.out;
  EXPECT_EQ(dump.out.find("\xC3\x83"), std::string::npos) << dump.out;  // not encoded twice
  EXPECT_EQ(Plx({"check", "DATA"}, dir.path().string()).out, "ok\n");
}

TEST(PlxToolTest, CannotOpenIsOneExitCodeWithTheTextOfItsNumber) {
  test::TempDir dir;
  test::WriteAll(dir.File("junk.plx"), std::vector<uint8_t>(1024, 'j'));
  for (const std::string& command : std::vector<std::string>{"check", "tables", "dump", "stat"}) {
    SCOPED_TRACE(command);
    PlxRun missing = Plx({command, "NOPE"}, dir.path().string());
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.err, "plx: cannot open NOPE: File Not Found (2)\n");
    PlxRun junk = Plx({command, "junk.plx"}, dir.path().string());
    EXPECT_EQ(junk.code, 2);
    EXPECT_EQ(junk.err, "plx: cannot open junk.plx: Invalid Data File (36)\n");
  }
}

}  // namespace
}  // namespace qzr::palisade
