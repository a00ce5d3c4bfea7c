// The file manager over real Palisade files: automatic numbering across
// reopening, a file shared by two threads through one opener, a record
// changed by another process, and failures as the user sees them.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <barrier>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "drivers/palisade/driver.h"
#include "drivers/palisade/plx_file_check.h"
#include "drivers/palisade/test_support.h"
#include "framework/file_manager.h"
#include "framework/file_manager_internal.h"
#include "framework/func_test_declaration.h"
#include "ui/headless_backend.h"
#include "ui/message.h"

namespace qzr {
namespace {

// The catalogue's file, at `path`.
FileDescriptor Func(const std::string& path, uint32_t attributes = kFileThread) {
  return FuncTestDeclaration(path, kPalisadeDriverName, attributes).Build();
}

int32_t GetLong(FileDescriptor& f, const char* label) {
  UfoSlot s;
  return s.Make(TypeCode::LONG, f.FieldData(f.FieldIndex(label)))->GetLong();
}
void SetLong(FileDescriptor& f, const char* label, int32_t v) {
  UfoSlot s;
  s.Make(TypeCode::LONG, f.FieldData(f.FieldIndex(label)))->SetLong(v);
}
std::string GetText(FileDescriptor& f, const char* label) {
  int i = f.FieldIndex(label);
  UfoSlot s;
  char buf[1100];
  size_t n = s.Make(TypeCode::CSTRING, f.FieldData(i), f.fields[static_cast<size_t>(i)].size)
                 ->GetText(buf, sizeof buf);
  return std::string(buf, std::min(n, sizeof buf));
}
void SetText(FileDescriptor& f, const char* label, const std::string& v) {
  int i = f.FieldIndex(label);
  UfoSlot s;
  s.Make(TypeCode::CSTRING, f.FieldData(i), f.fields[static_cast<size_t>(i)].size)->SetText(v);
}

class FileManagerPalisadeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPalisadeDriver();
    path_ = dir_.File("FUNC.PLX");
    FileStatus().Clear();
    ClearError();
    errors_.SetHaltHook([this](int code) { halts_.push_back(code); });
    errors_.Init();
    FileRegistry::Instance().SetErrorManager(&errors_);
  }
  void TearDown() override {
    FileRegistry::Instance().SetErrorManager(nullptr);
    errors_.Kill();
    FileStatus().Clear();
  }

  // FuncAccess as the catalogue sets it up.
  void InitFunc(FileManager& m, FileDescriptor& file) {
    m.Init(&file, &errors_);
    m.FILENAMEVALUE = "func";
    m.CREATE = 1;
    m.LOCKRECOVER = 10;
    m.RegisterKey("P_ID", "FUN:P_ID", 1);
  }

  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& m : backend_.Messages()) out.push_back(m.request.text);
    return out;
  }
  void ExpectClean() {
    std::vector<std::string> problems = palisade::CheckPlxFile(path_);
    EXPECT_TRUE(problems.empty()) << problems.front();
  }

  palisade::test::TempDir dir_;
  std::string path_;
  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
  ErrorManager errors_;
  std::vector<int> halts_;
};

TEST_F(FileManagerPalisadeTest, InsertsAreNumberedOneUpAcrossReopening) {
  // Given no file (and a declaration without CREATE: the manager creates it).
  for (int session = 0; session < 2; ++session) {
    FileDescriptor file = Func(path_);
    FileManager m;
    InitFunc(m, file);
    ASSERT_EQ(m.Open(), SeverityNone) << (Texts().empty() ? "" : Texts().back());
    for (int i = 1; i <= 12; ++i) {
      internal::ClearRecord(&file);
      SetText(file, "NAME", "function " + std::to_string(i));
      file.memo_values[0] =
          "int f" + std::to_string(i) + "() { return " + std::to_string(i) + "; }";
      ASSERT_EQ(m.Insert(), SeverityNone);
      EXPECT_EQ(GetLong(file, "ID"), session * 12 + i);
      EXPECT_EQ(GetText(file, "NAME"), "function " + std::to_string(i));
    }
    m.Close();
    EXPECT_FALSE(file.IsOpen());
    m.Kill();
  }
  EXPECT_TRUE(backend_.Messages().empty());
  ExpectClean();

  // The records read back in key order, memos with them.
  FileDescriptor file = Func(path_);
  FileManager m;
  InitFunc(m, file);
  ASSERT_EQ(m.Open(), SeverityNone);
  FileArgs a;
  a.key = 0;
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file, a), 0);
  std::vector<int> ids;
  while (m.ReadNext() == SeverityNone) ids.push_back(GetLong(file, "ID"));
  ASSERT_EQ(ids.size(), 24u);
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ids[i], static_cast<int>(i) + 1);
  EXPECT_EQ(m.ATEOF, 1);
  EXPECT_EQ(file.memo_values[0], "int f12() { return 12; }");
  m.Close();
}

TEST_F(FileManagerPalisadeTest, StartNewRecordThenCancelLeavesNoRecord) {
  FileDescriptor file = Func(path_);
  FileManager m;
  InitFunc(m, file);
  ASSERT_EQ(m.Open(), SeverityNone);
  ASSERT_EQ(m.StartNewRecord(), SeverityNone);
  EXPECT_EQ(GetLong(file, "ID"), 1);
  EXPECT_EQ(m.ReleaseAutoNumber(), SeverityNone);
  ASSERT_EQ(m.StartNewRecord(), SeverityNone);
  EXPECT_EQ(GetLong(file, "ID"), 1);  // the released number is free again
  SetText(file, "NAME", "kept");
  ASSERT_EQ(m.Insert(), SeverityNone);
  FileArgs a;
  ASSERT_EQ(DoFileOp(FileOp::RECORDSfile, file, a), 0);
  EXPECT_EQ(a.result, 1);
  m.Close();
  ExpectClean();
}

TEST_F(FileManagerPalisadeTest, TwoThreadsShareAThreadSharedFile) {
  // One descriptor for the whole process (no THREAD attribute), a manager
  // per thread. Its record buffer is one for both threads, so each
  // thread's use of it is made whole under `buffer`.
  FileDescriptor file = Func(path_, kFileCreate);
  std::mutex buffer;
  std::barrier both_open(2);
  std::barrier one_closed(2);
  std::vector<int32_t> usage_when_both_open(2), open_after_one_close(2);
  std::vector<std::vector<int32_t>> ids(2);
  auto run = [&](int t) {
    FileManager m;
    InitFunc(m, file);
    auto* shared = dynamic_cast<SharedFileOpener*>(m.OPENER);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(m.Open(), SeverityNone);
    both_open.arrive_and_wait();
    usage_when_both_open[static_cast<size_t>(t)] = shared->UsageCount();
    for (int i = 0; i < 10; ++i) {
      std::lock_guard<std::mutex> lock(buffer);
      internal::ClearRecord(&file);
      SetText(file, "NAME", "thread " + std::to_string(t));
      ASSERT_EQ(m.Insert(), SeverityNone);
      ids[static_cast<size_t>(t)].push_back(GetLong(file, "ID"));
    }
    both_open.arrive_and_wait();
    if (t == 0) m.Close();
    one_closed.arrive_and_wait();
    open_after_one_close[static_cast<size_t>(t)] = file.IsOpen();
    one_closed.arrive_and_wait();
    if (t == 1) m.Close();
    m.Kill();
  };
  std::thread a(run, 0), b(run, 1);
  a.join();
  b.join();
  EXPECT_EQ(usage_when_both_open, (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(open_after_one_close, (std::vector<int32_t>{1, 1}));
  EXPECT_FALSE(file.IsOpen());
  std::set<int32_t> all;
  for (const auto& v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 20u);
  EXPECT_EQ(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin(), 20);
  EXPECT_TRUE(backend_.Messages().empty());
  ExpectClean();
}

TEST_F(FileManagerPalisadeTest, AChangeByAnotherProcessShowsError7AndTheirVersion) {
  FileDescriptor file = Func(path_);
  FileManager m;
  InitFunc(m, file);
  ASSERT_EQ(m.Open(), SeverityNone);
  internal::ClearRecord(&file);
  SetText(file, "NAME", "mine");
  ASSERT_EQ(m.Insert(), SeverityNone);

  // We read record 1 watching it.
  ASSERT_EQ(DoFileOp(FileOp::WATCH, file), 0);
  SetLong(file, "ID", 1);
  ASSERT_EQ(m.Fetch(0), SeverityNone);

  // Another station changes it meanwhile.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileDescriptor other = Func(path_);
    other.open_mode = kOpenReadWriteDenyNone;
    int rc = DoFileOp(FileOp::OPEN, other);
    if (rc == 0) {
      SetLong(other, "ID", 1);
      FileArgs g;
      g.key = 0;
      rc = DoFileOp(FileOp::GETfilekey, other, g);
    }
    if (rc == 0) {
      SetText(other, "NAME", "theirs");
      rc = DoFileOp(FileOp::PUT, other);
    }
    if (rc == 0) rc = DoFileOp(FileOp::CLOSE, other);
    ::_exit(rc == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // When we save ours: error 7, and their record in the buffer.
  SetText(file, "NAME", "ours");
  EXPECT_EQ(m.Update(), SeverityInform);
  EXPECT_EQ(m.LASTERROR, 7);
  EXPECT_EQ(Texts(), std::vector<std::string>{"This record was changed by another station."});
  EXPECT_EQ(GetText(file, "NAME"), "theirs");
  EXPECT_EQ(GetLong(file, "ID"), 1);

  // The file is watched again: saving now, over their version, goes through.
  SetText(file, "NAME", "ours after all");
  EXPECT_EQ(m.Update(), SeverityNone);
  SetLong(file, "ID", 1);
  ASSERT_EQ(m.Fetch(0), SeverityNone);
  EXPECT_EQ(GetText(file, "NAME"), "ours after all");
  m.Close();
  ExpectClean();
}

TEST_F(FileManagerPalisadeTest, FailuresReachTheUser) {
  // A missing file that may not be created.
  {
    FileDescriptor file = Func(path_);
    FileManager m;
    InitFunc(m, file);
    m.CREATE = 0;
    EXPECT_EQ(m.Open(), SeverityHalt);
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_EQ(Texts()[0],
              "File func could not be opened.  Error: File Not Found (2).  Press OK to end this "
              "application");
    EXPECT_EQ(halts_.size(), 1u);
  }
  // A duplicate key on insert names the key's description.
  backend_.Clear();
  FileDescriptor file = Func(path_);
  FileManager m;
  m.Init(&file, &errors_);
  m.FILENAMEVALUE = "func";
  m.RegisterKey("P_ID", "FUN:P_ID");  // numbers given by the caller
  ASSERT_EQ(m.Open(), SeverityNone);
  internal::ClearRecord(&file);
  SetLong(file, "ID", 7);
  ASSERT_EQ(m.Insert(), SeverityNone);
  SetText(file, "NAME", "again");
  EXPECT_EQ(m.Insert(), SeverityInform);
  EXPECT_EQ(Texts(), std::vector<std::string>{
                         "Adding this record creates a duplicate entry for the key: FUN:P_ID"});
  EXPECT_EQ(errors_.STATUS().KEYNAME, "FUN:P_ID");
  m.Close();
  ExpectClean();
}

TEST_F(FileManagerPalisadeTest, AFileStateComesBackWithItsPosition) {
  FileDescriptor file = Func(path_);
  FileManager m;
  InitFunc(m, file);
  ASSERT_EQ(m.Open(), SeverityNone);
  for (int i = 1; i <= 5; ++i) {
    internal::ClearRecord(&file);
    ASSERT_EQ(m.Insert(), SeverityNone);
  }
  FileArgs a;
  a.key = 0;
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file, a), 0);
  ASSERT_EQ(m.ReadNext(), SeverityNone);
  ASSERT_EQ(m.ReadNext(), SeverityNone);  // on 2
  uint16_t state = m.SaveFileState();
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file, a), 0);
  ASSERT_EQ(m.ReadPrevious(), SeverityNone);  // on 5, reading backwards
  SetText(file, "NAME", "scribble");
  m.RestoreFileState(state, true);
  EXPECT_EQ(GetLong(file, "ID"), 2);
  EXPECT_EQ(GetText(file, "NAME"), "");
  ASSERT_EQ(m.ReadNext(), SeverityNone);
  EXPECT_EQ(GetLong(file, "ID"), 3);
  m.Close();
}

TEST_F(FileManagerPalisadeTest, LazyOpenTouchesNoFileUntilTheFirstUse) {
  {
    FileDescriptor file = Func(path_);
    FileManager m;
    InitFunc(m, file);
    ASSERT_EQ(m.Open(), SeverityNone);  // creates the file
    m.Close();
  }
  FileDescriptor file = Func(path_);
  FileManager m;
  InitFunc(m, file);
  m.LAZYOPEN = 1;
  ASSERT_EQ(m.Open(), SeverityNone);
  EXPECT_FALSE(file.IsOpen());
  internal::ClearRecord(&file);
  SetText(file, "NAME", "first");
  ASSERT_EQ(m.Insert(), SeverityNone);
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(GetLong(file, "ID"), 1);
  EXPECT_EQ(GetText(file, "NAME"), "first");
  m.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(m.ReadNext(), SeverityHalt);
  EXPECT_EQ(m.LASTERROR, 42);
}

}  // namespace
}  // namespace qzr
