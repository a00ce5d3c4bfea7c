// Sequential reads of a shared file while it changes: rows read ahead in
// batches against a model of the table (another file object of the same
// process changing it between reads), and readers in other processes that
// scan (or read by position, naming the positions ahead) while a writer
// commits, seeing every row whole and the states in commit order, never
// blocking the writer between their reads.
//
// The multi-process tests run the test binary again (fork and exec of
// /proc/self/exe with a filter selecting ReadBatchChild.Run) with the role
// and the pipes to talk over in the environment.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/plx_file_check.h"
#include "drivers/palisade/test_support.h"
#include "gtest/gtest.h"

namespace qzr {
namespace {

constexpr char kRoleEnv[] = "QZR_BATCH_ROLE";
constexpr char kPathEnv[] = "QZR_BATCH_PATH";
constexpr char kToChildEnv[] = "QZR_BATCH_TO_CHILD";
constexpr char kToParentEnv[] = "QZR_BATCH_TO_PARENT";
constexpr int kRows = 150;
constexpr int kLastVersion = 12;  // states the writer process commits

FileDescriptor Table(const std::string& path) {
  FileDescriptor f = FileDeclaration("BATCH", "BAT")
                         .Driver("PALISADE")
                         .Name(path)
                         .Attributes(kFileCreate)
                         .Field("ID", TypeCode::LONG)
                         .String("VAL", TypeCode::CSTRING, 40)
                         .Memo("NOTE", 4000)
                         .Key("P_ID", {{"ID"}}, kKeyPrimary)
                         .Build();
  f.open_mode = kOpenReadWriteDenyNone;
  return f;
}

struct Row {
  std::string val;
  std::string note;
  bool operator==(const Row&) const = default;
};

void SetRow(FileDescriptor& f, int32_t id, const Row& row) {
  std::fill(f.record.begin(), f.record.end(), 0);
  std::memcpy(f.FieldData(0), &id, 4);
  std::memcpy(f.FieldData(1), row.val.data(), std::min<size_t>(row.val.size(), 39));
  f.memo_values[0] = row.note;
}

int32_t IdOf(const FileDescriptor& f) {
  int32_t id;
  std::memcpy(&id, f.record.data(), 4);
  return id;
}

Row RowOf(const FileDescriptor& f) {
  const char* p = reinterpret_cast<const char*>(f.record.data() + 4);
  return Row{std::string(p, strnlen(p, 40)), f.memo_values[0]};
}

// A row of version `v`: its value and its note both say so, the note long
// enough to take several memo pieces.
Row Versioned(int32_t id, int v) {
  const std::string tag = "id" + std::to_string(id) + "v" + std::to_string(v);
  std::string note;
  while (note.size() < 700) note += tag + ";";
  return Row{tag, note};
}

// ---- One process: reads against a model ---------------------------------------

// A writer and a reader (two file objects of one shared file) take turns at
// random; after every read the reader must have what the model says: the
// row after (or before) the one it was on as the table stands now, or 35
// once when that row was deleted meanwhile, or 33 at the end.
TEST(ReadBatchTest, ReadsFollowEveryChangeOfAnotherFileObjectAsTheModelSays) {
  RegisterPalisadeDriver();
  palisade::test::TempDir dir;
  const std::string path = dir.File("MODEL.PLX");
  FileDescriptor writer = Table(path);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, writer), 0) << ERROR();
  FileDescriptor reader = Table(path);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, reader), 0) << ERROR();

  std::map<int32_t, Row> model;
  int32_t next_id = 1;
  {
    ASSERT_EQ(DoFileOp(FileOp::LOGOUT, writer), 0) << ERROR();
    for (; next_id <= 80; ++next_id) {
      model[next_id] = Versioned(next_id, 0);
      SetRow(writer, next_id, model[next_id]);
      ASSERT_EQ(DoFileOp(FileOp::ADD, writer), 0) << ERROR();
    }
    ASSERT_EQ(DoFileOp(FileOp::COMMIT, writer), 0) << ERROR();
  }

  std::mt19937 rng(20240611);
  // The reader's place: before the start (0) or on the row with id `at`,
  // which may have been deleted since it was read.
  int32_t at = 0;
  bool at_deleted = false;
  bool forward = true;
  bool by_key = true;
  auto restart = [&] {
    // The first batch after a positioning: the default, or as long as a
    // reader that reads pages of so many rows asks (0: back to the default).
    static constexpr const char* kPageRows[] = {"0", "1", "2", "5", "21", "500"};
    FileArgs page;
    page.property = kPropertyPageRows;
    page.value = kPageRows[rng() % std::size(kPageRows)];
    ASSERT_EQ(DoFileOp(FileOp::SET_PROPERTY, reader, page), 0);
    FileArgs args;
    args.key = 0;
    by_key = rng() % 2 == 0;
    ASSERT_EQ(DoFileOp(by_key ? FileOp::SETkey : FileOp::SETfile, reader, args), 0);
    at = 0;
    at_deleted = false;
  };
  restart();
  int version = 1;
  for (int step = 0; step < 1500; ++step) {
    const unsigned dice = rng() % 100;
    if (dice < 8) {
      // Rows are added in ascending id order, so the row order is the key's.
      model[next_id] = Versioned(next_id, 0);
      SetRow(writer, next_id, model[next_id]);
      ASSERT_EQ(DoFileOp(FileOp::ADD, writer), 0) << ERROR();
      ++next_id;
    } else if (dice < 16 && !model.empty()) {
      auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
      SetRow(writer, it->first, Row());
      FileArgs by_id;
      by_id.key = 0;
      ASSERT_EQ(DoFileOp(FileOp::GETfilekey, writer, by_id), 0) << ERROR();
      it->second = Versioned(it->first, ++version);
      SetRow(writer, it->first, it->second);
      ASSERT_EQ(DoFileOp(FileOp::PUT, writer), 0) << ERROR();
    } else if (dice < 22 && !model.empty()) {
      auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
      SetRow(writer, it->first, Row());
      FileArgs by_id;
      by_id.key = 0;
      ASSERT_EQ(DoFileOp(FileOp::GETfilekey, writer, by_id), 0) << ERROR();
      ASSERT_EQ(DoFileOp(FileOp::DELETE, writer), 0) << ERROR();
      if (it->first == at) at_deleted = true;
      model.erase(it);
    } else if (dice < 24) {
      restart();
    } else {
      if (dice < 30) forward = !forward;
      FileArgs read;
      const int rc = DoFileOp(forward ? FileOp::NEXT : FileOp::PREVIOUS, reader, read);
      SCOPED_TRACE("step " + std::to_string(step) + (forward ? " NEXT" : " PREVIOUS") +
                   (by_key ? " by key" : " by row") + " from " + std::to_string(at));
      if (at_deleted) {
        // The row the reader stood on has gone: said once, the place kept.
        ASSERT_EQ(rc, 35);
        at_deleted = false;
        continue;
      }
      std::map<int32_t, Row>::iterator want;
      if (at == 0) {
        want = forward ? model.begin() : (model.empty() ? model.end() : std::prev(model.end()));
      } else if (forward) {
        want = model.upper_bound(at);
      } else {
        want = model.lower_bound(at);
        want = want == model.begin() ? model.end() : std::prev(want);
      }
      if (want == model.end()) {
        ASSERT_EQ(rc, 33);
        // Past either end the place is kept: the next read in the other
        // direction gives the row read last (or the first from the start).
        continue;
      }
      ASSERT_EQ(rc, 0) << ERROR();
      ASSERT_EQ(IdOf(reader), want->first);
      ASSERT_EQ(RowOf(reader), want->second);
      // The read tells the row it read, as POINTERfile does after it.
      FileArgs pointer;
      ASSERT_EQ(DoFileOp(FileOp::POINTERfile, reader, pointer), 0);
      ASSERT_NE(read.result, 0);
      ASSERT_EQ(read.result, pointer.result);
      at = want->first;
    }
  }
  EXPECT_EQ(DoFileOp(FileOp::CLOSE, reader), 0);
  EXPECT_EQ(DoFileOp(FileOp::CLOSE, writer), 0);
  const std::vector<std::string> problems = palisade::CheckPlxFile(path);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

// Rows handed out of a batch land in the same memo strings a read from the
// file fills: a caller that keeps the address of a memo value (a window
// control bound to it) sees every row's memo, not the first one's.
TEST(ReadBatchTest, MemoValuesStayTheSameStringsFromRowToRow) {
  RegisterPalisadeDriver();
  palisade::test::TempDir dir;
  FileDescriptor f = Table(dir.File("BOUND.PLX"));
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
  for (int32_t id = 1; id <= 5; ++id) {
    SetRow(f, id, Versioned(id, 0));
    ASSERT_EQ(DoFileOp(FileOp::ADD, f), 0) << ERROR();
  }
  const std::string* bound = &f.memo_values[0];
  FileArgs args;
  args.key = 0;
  ASSERT_EQ(DoFileOp(FileOp::SETkey, f, args), 0);
  for (int32_t id = 1; id <= 5; ++id) {
    ASSERT_EQ(DoFileOp(FileOp::NEXT, f), 0) << ERROR();
    ASSERT_EQ(&f.memo_values[0], bound);
    EXPECT_EQ(*bound, Versioned(id, 0).note) << "row " << id;
  }
  EXPECT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
}

// ---- Other processes -------------------------------------------------------------

void Send(int fd, char c) {
  ASSERT_EQ(::write(fd, &c, 1), 1);
}

// Waits for a byte; 0 when every process that could send one has gone (the
// other side failed or ended early), so neither side waits forever.
char Receive(int fd) {
  char c = 0;
  while (::read(fd, &c, 1) < 0 && errno == EINTR) {
  }
  return c;
}

// A racing child's non-blocking check: the parent says it is done with a
// byte, or by closing its end (it failed or ended early).
bool ParentIsDone(int to_child) {
  char c = 0;
  return ::read(to_child, &c, 1) >= 0;
}

// Every version of rows [1, kRows] as one transaction: a reader sees all of
// a version or none of it.
void WriteVersion(FileDescriptor& f, int v) {
  ASSERT_EQ(DoFileOp(FileOp::LOGOUT, f), 0) << ERROR();
  for (int32_t id = 1; id <= kRows; ++id) {
    SetRow(f, id, Row());
    FileArgs by_id;
    by_id.key = 0;
    ASSERT_EQ(DoFileOp(FileOp::GETfilekey, f, by_id), 0) << ERROR();
    SetRow(f, id, Versioned(id, v));
    ASSERT_EQ(DoFileOp(FileOp::PUT, f), 0) << ERROR();
  }
  ASSERT_EQ(DoFileOp(FileOp::COMMIT, f), 0) << ERROR();
}

// Reads the whole table in key order: every row whole (its value and its
// note of one version), ids 1..kRows in order, versions never going back.
// With `pause_after` > 0 the reader tells the parent after that many rows
// and waits for its word before reading on. Returns the versions read.
std::vector<int> Scan(FileDescriptor& f, int pause_after, int to_parent, int to_child) {
  std::vector<int> versions;
  FileArgs args;
  args.key = 0;
  EXPECT_EQ(DoFileOp(FileOp::SETkey, f, args), 0);
  int last = -1;
  for (int32_t id = 1;; ++id) {
    if (pause_after > 0 && id == pause_after + 1) {
      Send(to_parent, 'R');
      EXPECT_EQ(Receive(to_child), 'G');
    }
    const int rc = DoFileOp(FileOp::NEXT, f);
    if (rc == 33) {
      EXPECT_EQ(id, kRows + 1) << "rows missing";
      break;
    }
    EXPECT_EQ(rc, 0) << ERROR();
    if (rc != 0) break;
    EXPECT_EQ(IdOf(f), id);
    const Row row = RowOf(f);
    const size_t v_at = row.val.find('v');
    const int v = v_at == std::string::npos ? -1 : std::atoi(row.val.c_str() + v_at + 1);
    EXPECT_EQ(row, Versioned(id, v)) << "a torn row";
    EXPECT_GE(v, last) << "an older state after a newer one";
    last = v;
    versions.push_back(v);
  }
  return versions;
}

// The row positions of ids 1..kRows, in an order of their own (shuffled
// with a fixed seed), as a view over a sorted list would name them.
std::vector<uint32_t> ShuffledPositions(FileDescriptor& f) {
  std::vector<uint32_t> positions(kRows + 1, 0);
  FileArgs args;
  args.key = 0;
  EXPECT_EQ(DoFileOp(FileOp::SETkey, f, args), 0);
  while (DoFileOp(FileOp::NEXT, f) == 0) {
    FileArgs pointer;
    EXPECT_EQ(DoFileOp(FileOp::POINTERfile, f, pointer), 0);
    const int32_t id = IdOf(f);
    if (id >= 1 && id <= kRows)
      positions[static_cast<size_t>(id)] = static_cast<uint32_t>(pointer.result);
  }
  positions.erase(positions.begin());
  std::shuffle(positions.begin(), positions.end(), std::mt19937(77));
  return positions;
}

// Reads every row by position in `positions`' order, naming the next 32
// positions ahead (kPropertyRowsAhead) before every 32nd read: every row
// whole, versions never going back. With `pause_after` > 0 the reader tells
// the parent after that many rows (in the middle of a batch) and waits for
// its word. Returns the versions read.
std::vector<int> ReadByPosition(FileDescriptor& f, const std::vector<uint32_t>& positions,
                                int pause_after, int to_parent, int to_child) {
  constexpr size_t kAhead = 32;
  std::vector<int> versions;
  int last = -1;
  for (size_t i = 0; i < positions.size(); ++i) {
    if (pause_after > 0 && i == static_cast<size_t>(pause_after)) {
      Send(to_parent, 'R');
      EXPECT_EQ(Receive(to_child), 'G');
    }
    if (i % kAhead == 0) {
      FileArgs ahead;
      ahead.property = kPropertyRowsAhead;
      ahead.length = 1;  // with their memos
      for (size_t j = i; j < std::min(positions.size(), i + kAhead); ++j) {
        const uint32_t p = positions[j];
        const char bytes[4] = {static_cast<char>(p >> 24), static_cast<char>(p >> 16),
                               static_cast<char>(p >> 8), static_cast<char>(p)};
        ahead.value.append(bytes, 4);
      }
      EXPECT_EQ(DoFileOp(FileOp::DO_PROPERTY, f, ahead), 0) << ERROR();
    }
    FileArgs get;
    get.position = positions[i];
    const int rc = DoFileOp(FileOp::GETfileptr, f, get);
    EXPECT_EQ(rc, 0) << ERROR();
    if (rc != 0) break;
    const Row row = RowOf(f);
    const size_t v_at = row.val.find('v');
    const int v = v_at == std::string::npos ? -1 : std::atoi(row.val.c_str() + v_at + 1);
    EXPECT_EQ(row, Versioned(IdOf(f), v)) << "a torn row";
    EXPECT_GE(v, last) << "an older state after a newer one";
    last = v;
    versions.push_back(v);
  }
  return versions;
}

void RunChild() {
  const std::string role = std::getenv(kRoleEnv);
  const int to_parent = std::atoi(std::getenv(kToParentEnv));
  const int to_child = std::atoi(std::getenv(kToChildEnv));
  RegisterPalisadeDriver();
  FileDescriptor f = Table(std::getenv(kPathEnv));
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
  if (role == "paused-reader") {
    // A whole scan first: every page of the file is in this process's cache
    // as state 0. The parent then commits state 1 and, when the reader is
    // 10 rows into its next scan, state 2.
    EXPECT_EQ(Scan(f, 0, to_parent, to_child), std::vector<int>(kRows, 0));
    Send(to_parent, 'R');
    ASSERT_EQ(Receive(to_child), 'G');
    const std::vector<int> versions = Scan(f, 10, to_parent, to_child);
    ASSERT_EQ(versions.size(), static_cast<size_t>(kRows));
    // Read after the first commit and before the second: state 1, not the
    // cached pages of state 0. Once the batch read before the second commit
    // is used up, the reader must have noticed that one too.
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(versions[i], 1) << "row " << i + 1 << " stale";
    }
    EXPECT_EQ(versions.back(), 2);
  } else if (role == "reader") {
    // Scans until the writer says it is done, then once more: that scan
    // began after the last commit and must show it in every row.
    for (bool done = false; !done;) {
      done = ParentIsDone(to_child);
      const std::vector<int> versions = Scan(f, 0, to_parent, to_child);
      EXPECT_EQ(versions.size(), static_cast<size_t>(kRows));
      if (done) {
        EXPECT_EQ(versions, std::vector<int>(kRows, kLastVersion)) << "a stale scan";
      }
      if (::testing::Test::HasFailure()) break;
    }
  } else if (role == "paused-ahead-reader") {
    // Finding the positions scans the whole file: every page is in this
    // process's cache as state 0. The parent then commits state 1 and,
    // when the reader is 10 rows into its first batch, state 2.
    const std::vector<uint32_t> positions = ShuffledPositions(f);
    ASSERT_EQ(positions.size(), static_cast<size_t>(kRows));
    Send(to_parent, 'R');
    ASSERT_EQ(Receive(to_child), 'G');
    const std::vector<int> versions = ReadByPosition(f, positions, 10, to_parent, to_child);
    ASSERT_EQ(versions.size(), static_cast<size_t>(kRows));
    // The first batch was named after the first commit: state 1, not the
    // cached pages of state 0. Its rows not handed out before the second
    // commit may still be state 1; every position named after it (from the
    // second batch on) must show state 2.
    for (size_t i = 0; i < versions.size(); ++i) {
      if (i < 10) {
        EXPECT_EQ(versions[i], 1) << "position " << i << " stale";
      } else if (i >= 32) {
        EXPECT_EQ(versions[i], 2) << "position " << i << " stale";
      }
    }
  } else if (role == "ahead-reader") {
    const std::vector<uint32_t> positions = ShuffledPositions(f);
    ASSERT_EQ(positions.size(), static_cast<size_t>(kRows));
    for (bool done = false; !done;) {
      done = ParentIsDone(to_child);
      const std::vector<int> versions = ReadByPosition(f, positions, 0, to_parent, to_child);
      EXPECT_EQ(versions.size(), static_cast<size_t>(kRows));
      if (done) {
        EXPECT_EQ(versions, std::vector<int>(kRows, kLastVersion)) << "a stale pass";
      }
      if (::testing::Test::HasFailure()) break;
    }
  } else if (role == "writer") {
    for (int v = 1; v <= kLastVersion; ++v) WriteVersion(f, v);
  }
  EXPECT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
}

TEST(ReadBatchChild, Run) {
  if (std::getenv(kRoleEnv) == nullptr) GTEST_SKIP() << "runs only as a read batch test's child";
  RunChild();
  // The parent learns of a failure from the exit status.
  if (::testing::Test::HasFailure()) ::_exit(3);
}

pid_t Spawn(const std::string& role, const std::string& path, int to_parent, int to_child) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::unsetenv("GTEST_OUTPUT");
    ::setenv(kRoleEnv, role.c_str(), 1);
    ::setenv(kPathEnv, path.c_str(), 1);
    ::setenv(kToParentEnv, std::to_string(to_parent).c_str(), 1);
    ::setenv(kToChildEnv, std::to_string(to_child).c_str(), 1);
    ::execl("/proc/self/exe", "/proc/self/exe", "--gtest_filter=ReadBatchChild.Run",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

bool ExitedCleanly(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class ReadBatchProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPalisadeDriver();
    path_ = dir_.File("SHARED.PLX");
    FileDescriptor f = Table(path_);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    ASSERT_EQ(DoFileOp(FileOp::LOGOUT, f), 0) << ERROR();
    for (int32_t id = 1; id <= kRows; ++id) {
      SetRow(f, id, Versioned(id, 0));
      ASSERT_EQ(DoFileOp(FileOp::ADD, f), 0) << ERROR();
    }
    ASSERT_EQ(DoFileOp(FileOp::COMMIT, f), 0) << ERROR();
    ASSERT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
    ASSERT_EQ(::pipe(to_parent_), 0);
    ASSERT_EQ(::pipe(to_child_), 0);
    // The children get only their own ends: when the parent closes its end
    // of `to_child`, a child reads the end of the pipe, not a wait.
    for (int fd : {to_parent_[0], to_child_[1]}) ASSERT_EQ(::fcntl(fd, F_SETFD, FD_CLOEXEC), 0);
  }
  // Called once every child is started: the children then hold the only
  // ends of `to_parent` that can write, so a child that fails before it
  // sends is an end of the pipe to the parent, not a wait.
  void Started() {
    ::close(to_parent_[1]);
    to_parent_[1] = -1;
  }
  void TearDown() override {
    for (int fd : {to_parent_[0], to_parent_[1], to_child_[0], to_child_[1]}) ::close(fd);
    const std::vector<std::string> problems = palisade::CheckPlxFile(path_);
    EXPECT_TRUE(problems.empty()) << problems.front();
  }

  // Runs a reader of `role` and commits state 1 at its first pause (after a
  // whole read of the file, with every page in its cache) and state 2 at
  // its second (in the middle of a batch), each without waiting for it.
  void CommitAtTheReadersPauses(const std::string& role) {
    const pid_t reader = Spawn(role, path_, to_parent_[1], to_child_[0]);
    Started();
    FileDescriptor f = Table(path_);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    for (int v = 1; v <= 2; ++v) {
      ASSERT_EQ(Receive(to_parent_[0]), 'R');
      WriteVersion(f, v);
      Send(to_child_[1], 'G');
    }
    ASSERT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
    EXPECT_TRUE(ExitedCleanly(reader)) << "the reader saw a torn or stale state";
  }

  palisade::test::TempDir dir_;
  std::string path_;
  int to_parent_[2] = {-1, -1};
  int to_child_[2] = {-1, -1};
};

// A reader that has scanned the whole file (every page in its cache) waits
// while a writer of this process commits a new state of every row, then
// stops in the middle of its next scan, between two reads, while the writer
// commits another. The writer is not kept waiting (the reader holds no lock
// between reads); the reader's scan starts with the first new state, not
// its cached pages, and goes on with whole rows of it and then of the
// second once the batch it had read is used up.
TEST_F(ReadBatchProcessTest, AWriterCommitsWhileAReaderOfAnotherProcessIsMidScan) {
  CommitAtTheReadersPauses("paused-reader");
}

// A writer process commits twelve states of every row while two reader
// processes scan again and again: every scan sees every row whole and the
// states in the order they were committed.
TEST_F(ReadBatchProcessTest, ReadersScanWhileAWriterOfAnotherProcessCommits) {
  // The readers' end of `to_child` is non-blocking: a byte there means the
  // writer is done.
  ASSERT_EQ(::fcntl(to_child_[0], F_SETFL, O_NONBLOCK), 0);
  const pid_t r1 = Spawn("reader", path_, to_parent_[1], to_child_[0]);
  const pid_t r2 = Spawn("reader", path_, to_parent_[1], to_child_[0]);
  const pid_t writer = Spawn("writer", path_, to_parent_[1], to_child_[0]);
  Started();
  EXPECT_TRUE(ExitedCleanly(writer)) << "the writer failed";
  Send(to_child_[1], 'D');
  Send(to_child_[1], 'D');
  EXPECT_TRUE(ExitedCleanly(r1)) << "a reader saw a torn or stale state";
  EXPECT_TRUE(ExitedCleanly(r2)) << "a reader saw a torn or stale state";
}

// The same with rows read by position, named ahead in batches (as a view
// over a sorted list reads): the first batch named after a commit has its
// state, not the cached pages of the state before; a writer of this process
// commits while the reader is in the middle of a batch, without waiting for
// it, and the reader's next batch has the new state.
TEST_F(ReadBatchProcessTest, AWriterCommitsWhileAReaderOfAnotherProcessReadsAheadByPosition) {
  CommitAtTheReadersPauses("paused-ahead-reader");
}

TEST_F(ReadBatchProcessTest, ReadersReadAheadByPositionWhileAWriterOfAnotherProcessCommits) {
  ASSERT_EQ(::fcntl(to_child_[0], F_SETFL, O_NONBLOCK), 0);
  const pid_t r1 = Spawn("ahead-reader", path_, to_parent_[1], to_child_[0]);
  const pid_t r2 = Spawn("ahead-reader", path_, to_parent_[1], to_child_[0]);
  const pid_t writer = Spawn("writer", path_, to_parent_[1], to_child_[0]);
  Started();
  EXPECT_TRUE(ExitedCleanly(writer)) << "the writer failed";
  Send(to_child_[1], 'D');
  Send(to_child_[1], 'D');
  EXPECT_TRUE(ExitedCleanly(r1)) << "a reader saw a torn or stale state";
  EXPECT_TRUE(ExitedCleanly(r2)) << "a reader saw a torn or stale state";
}

}  // namespace
}  // namespace qzr
