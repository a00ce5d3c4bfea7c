// Tests of the Palisade driver through the runtime's file-operation entry:
// the catalogue's record shape and a few others (DUP, OPT, NOCASE,
// descending keys), key maintenance and its undo, sequential reads, holds
// and locks across file objects and processes, STREAM and transactions,
// commands, properties, passwords and whole-file operations. Every test
// that writes ends with the file check clean.

#include "drivers/palisade/driver.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "data/file_driver.h"
#include "drivers/palisade/crypto_library.h"
#include "drivers/palisade/file_io.h"
#include "drivers/palisade/plx_file.h"
#include "drivers/palisade/plx_file_check.h"
#include "drivers/palisade/test_support.h"
#include "gtest/gtest.h"
#include "runtime/core/runtime_error.h"

namespace qzr {
namespace {

using palisade::CheckPlxFile;

using palisade::test::ReadAll;
using palisade::test::TempDir;

// The catalogue's shape: a LONG key numbered by the caller, four CSTRINGs,
// a BYTE and a 64000-byte memo (1414-byte record). Key 0 is a DUP NOCASE
// key on the name, key 1 the unique primary key, so a duplicate ID is found
// after key 0 has changed and must be undone.
FileDescriptor Catalogue(const std::string& path, uint32_t attributes = kFileCreate) {
  return FileDeclaration("FUNC", "FUN")
      .Driver("PALISADE")
      .Name(path)
      .Attributes(attributes)
      .Field("ID", TypeCode::LONG)
      .String("NAME", TypeCode::CSTRING, 100)
      .String("DESCRIPTION", TypeCode::CSTRING, 1024)
      .String("LINK", TypeCode::CSTRING, 255)
      .String("POSTER", TypeCode::CSTRING, 30)
      .Field("WORKING", TypeCode::BYTE)
      .Memo("CODE", 64000)
      .Key("K_NAME", {{"NAME"}}, kKeyDup | kKeyNocase)
      .Key("P_ID", {{"ID"}}, kKeyPrimary)
      .Build();
}

void SetLong(FileDescriptor& f, const char* label, int32_t v) {
  std::memcpy(f.FieldData(f.FieldIndex(label)), &v, 4);
}
int32_t GetLong(FileDescriptor& f, const char* label) {
  int32_t v;
  std::memcpy(&v, f.FieldData(f.FieldIndex(label)), 4);
  return v;
}
void SetText(FileDescriptor& f, const char* label, const std::string& s) {
  const int i = f.FieldIndex(label);
  uint8_t* p = f.FieldData(i);
  const size_t size = f.fields[static_cast<size_t>(i)].size;
  std::memset(p, f.fields[static_cast<size_t>(i)].type == TypeCode::STRING ? ' ' : 0, size);
  std::memcpy(p, s.data(), std::min(s.size(), size));
}
std::string GetText(FileDescriptor& f, const char* label) {
  const int i = f.FieldIndex(label);
  const char* p = reinterpret_cast<const char*>(f.FieldData(i));
  return std::string(p, strnlen(p, f.fields[static_cast<size_t>(i)].size));
}

int Op(FileOp op, FileDescriptor& f, FileArgs args = {}) {
  return DoFileOp(op, f, args);
}
int OpKey(FileOp op, FileDescriptor& f, int key) {
  FileArgs args;
  args.key = key;
  return DoFileOp(op, f, args);
}
int OpPtr(FileOp op, FileDescriptor& f, uint32_t position, int key = -1) {
  FileArgs args;
  args.position = position;
  args.key = key;
  return DoFileOp(op, f, args);
}
int64_t Result(FileOp op, FileDescriptor& f, int key = -1) {
  FileArgs args;
  args.key = key;
  EXPECT_EQ(DoFileOp(op, f, args), 0) << OperationName(op);
  return args.result;
}

class PalisadeDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPalisadeDriver();
    path_ = dir_.File("FUNC.PLX");
  }
  void TearDown() override { ResetPalisadeTestOptions(); }

  // Creates and opens the catalogue with `mode`.
  FileDescriptor OpenCatalogue(uint32_t mode = kOpenReadWriteDenyNone) {
    FileDescriptor f = Catalogue(path_);
    f.open_mode = mode;
    EXPECT_EQ(Op(FileOp::OPEN, f), 0) << ERROR();
    return f;
  }

  int AddEntry(FileDescriptor& f, int32_t id, const std::string& name,
               const std::string& code = {}) {
    std::fill(f.record.begin(), f.record.end(), 0);
    SetLong(f, "ID", id);
    SetText(f, "NAME", name);
    SetText(f, "DESCRIPTION", "about " + name);
    f.memo_values[0] = code;
    return Op(FileOp::ADD, f);
  }

  void ExpectClean() {
    std::vector<std::string> problems = CheckPlxFile(path_);
    EXPECT_TRUE(problems.empty()) << problems.front();
  }

  // The IDs read by NEXT (or PREVIOUS) until 33.
  std::vector<int32_t> ReadAllIds(FileDescriptor& f, bool forward = true) {
    std::vector<int32_t> ids;
    for (int rc; (rc = Op(forward ? FileOp::NEXT : FileOp::PREVIOUS, f)) == 0;) {
      ids.push_back(GetLong(f, "ID"));
    }
    return ids;
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(PalisadeDriverTest, AddedRowsReadBackByKeyAndAfterReopen) {
  FileDescriptor f = OpenCatalogue();
  const std::string code(3000, 'x');
  ASSERT_EQ(AddEntry(f, 1, "Alpha", "short"), 0);
  ASSERT_EQ(AddEntry(f, 2, "beta", code), 0);
  ASSERT_EQ(AddEntry(f, 3, "Gamma"), 0);
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 3);
  EXPECT_EQ(Result(FileOp::RECORDSkey, f, 1), 3);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);

  f = OpenCatalogue();
  SetLong(f, "ID", 2);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);
  EXPECT_EQ(GetText(f, "NAME"), "beta");
  EXPECT_EQ(GetText(f, "DESCRIPTION"), "about beta");
  EXPECT_EQ(f.memo_values[0], code);
  SetLong(f, "ID", 9);
  EXPECT_EQ(OpKey(FileOp::GETfilekey, f, 1), 35);
  EXPECT_EQ(ERRORCODE(), 35);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, DuplicateKeyStoresNothingAndUndoesEarlierKeys) {
  FileDescriptor f = OpenCatalogue();
  ASSERT_EQ(AddEntry(f, 1, "One"), 0);
  // Key 0 (DUP) takes the entry before key 1 finds the duplicate ID.
  EXPECT_EQ(AddEntry(f, 1, "Other"), 40);
  EXPECT_EQ(ERROR(), "Creates Duplicate Key");
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 1);
  EXPECT_EQ(Result(FileOp::RECORDSkey, f, 0), 1);
  // A PUT onto another row's ID is refused and leaves the row as it was.
  ASSERT_EQ(AddEntry(f, 2, "Two"), 0);
  SetLong(f, "ID", 1);
  SetText(f, "NAME", "Changed");
  EXPECT_EQ(Op(FileOp::PUT, f), 40);
  SetLong(f, "ID", 2);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);
  EXPECT_EQ(GetText(f, "NAME"), "Two");
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, PutAndDeleteKeepKeysAndMemosInStep) {
  FileDescriptor f = OpenCatalogue();
  for (int i = 1; i <= 5; ++i) ASSERT_EQ(AddEntry(f, i, "n" + std::to_string(i), "code"), 0);
  SetLong(f, "ID", 3);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);
  SetText(f, "NAME", "AAA");
  f.memo_values[0] = std::string(600, 'm');
  ASSERT_EQ(Op(FileOp::PUT, f), 0);
  // Key order by name (NOCASE): AAA first.
  ASSERT_EQ(OpKey(FileOp::SETkey, f, 0), 0);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  EXPECT_EQ(GetLong(f, "ID"), 3);
  EXPECT_EQ(f.memo_values[0].size(), 600u);
  ASSERT_EQ(Op(FileOp::DELETE, f), 0);
  EXPECT_EQ(Op(FileOp::DELETE, f), 33);  // no current row any more
  // Reading on from the deleted row continues with the next one.
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  EXPECT_EQ(GetText(f, "NAME"), "n1");
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 4);
  EXPECT_EQ(Result(FileOp::RECORDSkey, f, 0), 4);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, SequentialReadsInRowAndKeyOrder) {
  FileDescriptor f = OpenCatalogue();
  const char* names[] = {"delta", "Alpha", "charlie", "BRAVO"};
  for (int i = 0; i < 4; ++i) ASSERT_EQ(AddEntry(f, 10 - i, names[i]), 0);

  ASSERT_EQ(Op(FileOp::SETfile, f), 0);
  EXPECT_EQ(ReadAllIds(f), (std::vector<int32_t>{10, 9, 8, 7}));
  EXPECT_EQ(Op(FileOp::NEXT, f), 33);
  ASSERT_EQ(Op(FileOp::SETfile, f), 0);
  EXPECT_EQ(ReadAllIds(f, false), (std::vector<int32_t>{7, 8, 9, 10}));

  ASSERT_EQ(OpKey(FileOp::SETkey, f, 1), 0);
  EXPECT_EQ(ReadAllIds(f), (std::vector<int32_t>{7, 8, 9, 10}));
  ASSERT_EQ(OpKey(FileOp::SETkey, f, 0), 0);  // names without regard to case
  EXPECT_EQ(ReadAllIds(f), (std::vector<int32_t>{9, 7, 8, 10}));

  // SET(key, key): NEXT from the value, PREVIOUS from at or below it.
  SetText(f, "NAME", "C");
  ASSERT_EQ(OpKey(FileOp::SETkeykey, f, 0), 0);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  EXPECT_EQ(GetText(f, "NAME"), "charlie");
  SetText(f, "NAME", "charlie");
  ASSERT_EQ(OpKey(FileOp::SETkeykey, f, 0), 0);
  ASSERT_EQ(Op(FileOp::PREVIOUS, f), 0);
  EXPECT_EQ(GetText(f, "NAME"), "charlie");
  ASSERT_EQ(Op(FileOp::PREVIOUS, f), 0);
  EXPECT_EQ(GetText(f, "NAME"), "BRAVO");

  // SKIP moves without reading; NEXT after PREVIOUS reads the row after.
  ASSERT_EQ(OpKey(FileOp::SETkey, f, 1), 0);
  FileArgs skip;
  skip.length = 2;
  ASSERT_EQ(DoFileOp(FileOp::SKIP, f, skip), 0);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  EXPECT_EQ(GetLong(f, "ID"), 9);
  ASSERT_EQ(Op(FileOp::PREVIOUS, f), 0);
  EXPECT_EQ(GetLong(f, "ID"), 8);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  EXPECT_EQ(GetLong(f, "ID"), 9);
  skip.length = static_cast<uint32_t>(-100);
  ASSERT_EQ(DoFileOp(FileOp::SKIP, f, skip), 0);
  EXPECT_EQ(Op(FileOp::PREVIOUS, f), 33);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, PositionRegetAndResetRoundTrip) {
  FileDescriptor f = OpenCatalogue();
  for (int i = 1; i <= 4; ++i) ASSERT_EQ(AddEntry(f, i, "n" + std::to_string(i)), 0);
  SetLong(f, "ID", 3);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);
  FileArgs pos;
  pos.key = 1;
  ASSERT_EQ(DoFileOp(FileOp::POSITIONkey, f, pos), 0);
  FileArgs file_pos;
  ASSERT_EQ(DoFileOp(FileOp::POSITIONfile, f, file_pos), 0);
  const int64_t pointer = Result(FileOp::POINTERfile, f);

  SetLong(f, "ID", 1);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);
  ASSERT_EQ(DoFileOp(FileOp::REGETkey, f, pos), 0);
  EXPECT_EQ(GetLong(f, "ID"), 3);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);  // REGET(key) positions the key order
  EXPECT_EQ(GetLong(f, "ID"), 4);
  ASSERT_EQ(DoFileOp(FileOp::RESETkey, f, pos), 0);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  EXPECT_EQ(GetLong(f, "ID"), 3);
  ASSERT_EQ(DoFileOp(FileOp::REGETfile, f, file_pos), 0);
  EXPECT_EQ(GetLong(f, "ID"), 3);
  ASSERT_EQ(OpPtr(FileOp::GETfileptr, f, static_cast<uint32_t>(pointer)), 0);
  EXPECT_EQ(GetLong(f, "ID"), 3);
  EXPECT_EQ(OpPtr(FileOp::GETfileptr, f, 999999), 35);

  // A saved state brings the position back.
  ASSERT_EQ(OpKey(FileOp::SETkey, f, 1), 0);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  const int64_t handle = Result(FileOp::GETSTATE, f);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  ASSERT_EQ(OpPtr(FileOp::RESTORESTATE, f, static_cast<uint32_t>(handle)), 0);
  ASSERT_EQ(Op(FileOp::NEXT, f), 0);
  EXPECT_EQ(GetLong(f, "ID"), 2);
  ASSERT_EQ(OpPtr(FileOp::FREESTATE, f, static_cast<uint32_t>(handle)), 0);
  EXPECT_EQ(OpPtr(FileOp::RESTORESTATE, f, static_cast<uint32_t>(handle)), 33);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, RowDeletedByAnotherFileObjectIsReportedOnce) {
  FileDescriptor a = OpenCatalogue();
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(AddEntry(a, i, "n" + std::to_string(i)), 0);
  FileDescriptor b = OpenCatalogue();
  ASSERT_EQ(OpKey(FileOp::SETkey, a, 1), 0);
  ASSERT_EQ(Op(FileOp::NEXT, a), 0);
  ASSERT_EQ(Op(FileOp::NEXT, a), 0);  // on ID 2
  SetLong(b, "ID", 2);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, b, 1), 0);
  ASSERT_EQ(Op(FileOp::DELETE, b), 0);
  EXPECT_EQ(Op(FileOp::NEXT, a), 35);
  ASSERT_EQ(Op(FileOp::NEXT, a), 0);
  EXPECT_EQ(GetLong(a, "ID"), 3);
  // B's added row is seen by A at its next operation.
  ASSERT_EQ(AddEntry(b, 4, "n4"), 0);
  EXPECT_EQ(Result(FileOp::RECORDSfile, a), 3);
  ASSERT_EQ(Op(FileOp::CLOSE, a), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, b), 0);
  ExpectClean();
}

// Given two file objects on one catalogue, when either one commits a change,
// then the change count both of them read moves; reading alone moves nothing.
TEST_F(PalisadeDriverTest, ChangeCountMovesWithEveryCommittedChange) {
  FileDescriptor a = OpenCatalogue();
  FileDescriptor b = OpenCatalogue();
  auto count = [](FileDescriptor& f) {
    FileArgs args;
    args.property = kPropertyChangeCount;
    EXPECT_EQ(DoFileOp(FileOp::GET_PROPERTY, f, args), 0);
    return std::stoll(args.value);
  };
  const int64_t start = count(a);
  ASSERT_EQ(AddEntry(a, 1, "n1"), 0);
  const int64_t after_add = count(b);
  EXPECT_GT(after_add, start);
  EXPECT_EQ(Result(FileOp::RECORDSfile, b), 1);
  EXPECT_EQ(count(a), after_add);
  ASSERT_EQ(AddEntry(b, 2, "n2"), 0);
  EXPECT_GT(count(a), after_add);
  ASSERT_EQ(Op(FileOp::CLOSE, a), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, b), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, HoldAndLockConflictBetweenFileObjects) {
  FileDescriptor a = OpenCatalogue();
  ASSERT_EQ(AddEntry(a, 1, "one"), 0);
  FileDescriptor b = OpenCatalogue();
  ASSERT_EQ(Op(FileOp::HOLDfile, a), 0);  // holds the row just added
  SetLong(b, "ID", 1);
  ASSERT_EQ(Op(FileOp::HOLDfile, b), 0);  // arms held reads
  EXPECT_EQ(OpKey(FileOp::GETfilekey, b, 1), 43);
  EXPECT_EQ(ERROR(), "Record Is Already Held");
  ASSERT_EQ(Op(FileOp::RELEASE, a), 0);
  EXPECT_EQ(OpKey(FileOp::GETfilekey, b, 1), 0);
  ASSERT_EQ(Op(FileOp::RELEASE, b), 0);

  ASSERT_EQ(Op(FileOp::LOCKfile, a), 0);
  ASSERT_EQ(Op(FileOp::LOCKfile, a), 0);  // counted
  EXPECT_EQ(Op(FileOp::LOCKfile, b), 32);
  ASSERT_EQ(Op(FileOp::UNLOCK, a), 0);
  EXPECT_EQ(Op(FileOp::LOCKfile, b), 32);
  ASSERT_EQ(Op(FileOp::UNLOCK, a), 0);
  EXPECT_EQ(Op(FileOp::LOCKfile, b), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, a), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, b), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, HoldOfARowHeldByAnotherProcessAnswers43) {
  {
    FileDescriptor f = OpenCatalogue();
    ASSERT_EQ(AddEntry(f, 1, "one"), 0);
    ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  }
  int ready[2];
  int done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child holds row ID 1 until the parent is done.
    FileDescriptor f = Catalogue(path_);
    f.open_mode = kOpenReadWriteDenyNone;
    char c = 'x';
    if (DoFileOp(FileOp::OPEN, f) == 0 && Op(FileOp::HOLDfile, f) == 0) {
      SetLong(f, "ID", 1);
      if (OpKey(FileOp::GETfilekey, f, 1) == 0) c = 'h';
    }
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'h');
  FileDescriptor f = OpenCatalogue();
  SetLong(f, "ID", 1);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);  // reading without HOLD is allowed
  EXPECT_EQ(Op(FileOp::HOLDfile, f), 43);
  EXPECT_EQ(OpKey(FileOp::GETfilekey, f, 1), 43);
  (void)!::write(done[1], &c, 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);  // the child's hold ended with it
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, SharingModesConflictAsDeclared) {
  FileDescriptor a = OpenCatalogue(0x12);  // read/write, deny all
  FileDescriptor b = Catalogue(path_);
  b.open_mode = 0x40;  // read only, deny none
  EXPECT_EQ(Op(FileOp::OPEN, b), 5);
  ASSERT_EQ(Op(FileOp::CLOSE, a), 0);
  a = OpenCatalogue(0x22);  // deny write: readers may come, writers not
  EXPECT_EQ(Op(FileOp::OPEN, b), 0);
  FileDescriptor c = Catalogue(path_);
  c.open_mode = 0x42;
  EXPECT_EQ(Op(FileOp::OPEN, c), 5);
  EXPECT_EQ(AddEntry(b, 1, "x"), 5);  // b is read-only
  ASSERT_EQ(Op(FileOp::CLOSE, a), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, b), 0);
}

TEST_F(PalisadeDriverTest, TransactionCommitsOrRollsBackEveryFile) {
  FileDescriptor f = OpenCatalogue();
  FileDescriptor g = Catalogue(dir_.File("OTHER.PLX"));
  g.open_mode = kOpenReadWriteDenyNone;
  ASSERT_EQ(Op(FileOp::OPEN, g), 0);
  EXPECT_EQ(Op(FileOp::COMMIT, f), 91);
  ASSERT_EQ(Op(FileOp::LOGOUT, f), 0);
  EXPECT_EQ(Op(FileOp::LOGOUT, f), 56);
  ASSERT_EQ(Op(FileOp::LOGOUT, g), 0);
  ASSERT_EQ(AddEntry(f, 1, "f1"), 0);
  ASSERT_EQ(AddEntry(g, 1, "g1"), 0);
  ASSERT_EQ(Op(FileOp::ROLLBACK, f), 0);
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 0);
  EXPECT_EQ(Result(FileOp::RECORDSfile, g), 0);

  ASSERT_EQ(Op(FileOp::LOGOUT, f), 0);
  ASSERT_EQ(Op(FileOp::LOGOUT, g), 0);
  ASSERT_EQ(AddEntry(f, 2, "f2"), 0);
  ASSERT_EQ(AddEntry(g, 2, "g2"), 0);
  ASSERT_EQ(Op(FileOp::COMMIT, g), 0);
  EXPECT_EQ(Op(FileOp::ROLLBACK, f), 91);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, g), 0);
  f = OpenCatalogue();
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 1);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

// A large transaction writes changed pages early, past the committed end
// (the file grows before its COMMIT), declared a bulk load or not. Either way
// the COMMIT stores every row, and a ROLLBACK leaves the file as it was.
TEST_F(PalisadeDriverTest, ALargeTransactionWritesEarlyAndItsCommitStoresEveryRow) {
  struct Case {
    bool bulk;
    bool commit;
  };
  for (const Case c : {Case{false, true}, Case{true, true}, Case{true, false}}) {
    SCOPED_TRACE(std::string(c.bulk ? "bulk load" : "plain") +
                 (c.commit ? ", commit" : ", rollback"));
    std::filesystem::remove(path_);
    FileDescriptor f = OpenCatalogue();
    ASSERT_EQ(AddEntry(f, 1, "first"), 0);
    const auto before = std::filesystem::file_size(path_);
    ASSERT_EQ(Op(FileOp::LOGOUT, f), 0);
    FileArgs bulk;
    bulk.property = kPropertyBulkLoad;
    if (c.bulk) {
      ASSERT_EQ(Op(FileOp::DO_PROPERTY, f, bulk), 0);
    }
    // Code that does not compress: a page per row or two.
    uint32_t seed = 7;
    constexpr int kRows = 1500;
    for (int i = 2; i <= kRows; ++i) {
      std::string code(3000, ' ');
      for (char& ch : code) {
        seed = seed * 1103515245u + 12345u;
        ch = static_cast<char>('a' + (seed >> 16) % 26);
      }
      ASSERT_EQ(AddEntry(f, i, "row" + std::to_string(i), code), 0);
    }
    EXPECT_GT(std::filesystem::file_size(path_), before);
    ASSERT_EQ(Op(c.commit ? FileOp::COMMIT : FileOp::ROLLBACK, f), 0);
    ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
    f = OpenCatalogue();
    EXPECT_EQ(Result(FileOp::RECORDSfile, f), c.commit ? kRows : 1);
    // Outside a transaction there is nothing to hold: the property is a no-op.
    EXPECT_EQ(Op(FileOp::DO_PROPERTY, f, bulk), 0);
    ASSERT_EQ(AddEntry(f, kRows + 1, "after"), 0);
    ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
    ExpectClean();
  }
}

TEST_F(PalisadeDriverTest, StreamedChangesAreWrittenAtFlushAndClose) {
  FileDescriptor f = OpenCatalogue();
  ASSERT_EQ(Op(FileOp::STREAM, f), 0);
  for (int i = 1; i <= 50; ++i) ASSERT_EQ(AddEntry(f, i, "s" + std::to_string(i)), 0);
  ASSERT_EQ(Op(FileOp::FLUSH, f), 0);
  ASSERT_EQ(Op(FileOp::STREAM, f), 0);
  ASSERT_EQ(AddEntry(f, 51, "last"), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  f = OpenCatalogue();
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 51);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, AppendLeavesKeysToBuild) {
  FileDescriptor f = OpenCatalogue();
  ASSERT_EQ(AddEntry(f, 1, "kept"), 0);
  for (int i = 2; i <= 4; ++i) {
    std::fill(f.record.begin(), f.record.end(), 0);
    SetLong(f, "ID", i);
    SetText(f, "NAME", "appended");
    ASSERT_EQ(Op(FileOp::APPEND, f), 0);
  }
  ExpectClean();  // rows from the build mark on may lack entries
  ASSERT_EQ(OpKey(FileOp::SETkey, f, 1), 0);
  EXPECT_EQ(Op(FileOp::NEXT, f), 46);
  ASSERT_EQ(Op(FileOp::BUILDfile, f), 0);
  ASSERT_EQ(OpKey(FileOp::SETkey, f, 1), 0);
  EXPECT_EQ(ReadAllIds(f), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(Result(FileOp::RECORDSkey, f, 0), 4);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, EmptyNeedsExclusiveAccess) {
  FileDescriptor f = OpenCatalogue();
  ASSERT_EQ(AddEntry(f, 1, "x", "memo"), 0);
  EXPECT_EQ(Op(FileOp::EMPTY, f), 63);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  f = OpenCatalogue(0x12);
  ASSERT_EQ(Op(FileOp::EMPTY, f), 0);
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 0);
  EXPECT_EQ(Result(FileOp::RECORDSkey, f, 1), 0);
  ASSERT_EQ(AddEntry(f, 1, "again"), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, SendCommandsReplyWithThePreviousSetting) {
  FileDescriptor f = OpenCatalogue();
  struct Case {
    const char* command;
    const char* reply;
  } cases[] = {
      {"DecimalCheck", "ON"},     {"decimalcheck = OFF", "ON"},    {"DECIMALCHECK", "OFF"},
      {"FULLBUILD=ON", "OFF"},    {"FullBuild=x", "ON"},           {"FULLBUILD", "OFF"},
      {"TCF=/tmp/x.tcf", ""},     {"TCF", "/tmp/x.tcf"},           {"TCF=", "/tmp/x.tcf"},
      {"PNM=unnamed", "UNNAMED"}, {"PNMQ=UNNAMED", "\"UNNAMED\""}, {"PNM=none", ""},
      {"Recover=10", ""},
  };
  for (const Case& c : cases) {
    std::string reply;
    ASSERT_EQ(SendToDriver(f, c.command, &reply), 0) << c.command;
    EXPECT_EQ(reply, c.reply) << c.command;
  }
  EXPECT_EQ(PalisadeTransactionFile(), "");
  EXPECT_EQ(SendToDriver(f, "NOSUCH=1"), 80);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, PropertiesTheFileManagerReads) {
  FileDescriptor f = FileDeclaration("T", "T")
                         .Driver("PALISADE")
                         .Name(path_)
                         .Attributes(kFileCreate | kFileThread)
                         .Field("A", TypeCode::LONG)
                         .String("S", TypeCode::STRING, 8)
                         .Blob("B")
                         .Memo("M", 100)
                         .Key("K", {{"S", true}, {"A"}}, kKeyNocase | kKeyPrimary)
                         .Build();
  f.open_mode = kOpenReadWriteDenyNone;
  ASSERT_EQ(Op(FileOp::OPEN, f), 0);
  struct Case {
    uint32_t property;
    int key;
    int index;
    const char* value;
  } cases[] = {
      {kPropertyThread, -1, 0, "1"},       {kPropertyBlobCount, -1, 0, "1"},
      {kKeyPropertyDup, 0, 0, "0"},        {kKeyPropertyNocase, 0, 0, "1"},
      {kKeyPropertyPrimary, 0, 0, "1"},    {kKeyPropertyComponents, 0, 0, "2"},
      {kKeyPropertyComponent, 0, 1, "-2"}, {kKeyPropertyComponent, 0, 2, "1"},
  };
  for (const Case& c : cases) {
    FileArgs args;
    args.property = c.property;
    args.key = c.key;
    args.index = c.index;
    ASSERT_EQ(DoFileOp(c.key < 0 ? FileOp::GET_PROPERTY : FileOp::GETPROPERTYkey, f, args), 0);
    EXPECT_EQ(args.value, c.value) << c.property;
  }
  FileArgs set;
  set.property = kPropertyReadAhead;
  set.value = "20";
  ASSERT_EQ(DoFileOp(FileOp::SET_PROPERTY, f, set), 0);
  FileArgs get;
  get.property = kPropertyReadAhead;
  ASSERT_EQ(DoFileOp(FileOp::GET_PROPERTY, f, get), 0);
  EXPECT_EQ(get.value, "20");
  // A BLOB round trip, binary bytes included.
  std::string blob(70000, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
  f.memo_values[0] = blob;
  f.memo_values[1] = std::string(150, 'm');  // cut to the MEMO's 100 bytes
  ASSERT_EQ(Op(FileOp::ADD, f), 0);
  const int64_t row = Result(FileOp::POINTERfile, f);
  f.memo_values.assign(2, "");
  ASSERT_EQ(OpPtr(FileOp::GETfileptr, f, static_cast<uint32_t>(row)), 0);
  EXPECT_EQ(f.memo_values[0], blob);
  EXPECT_EQ(f.memo_values[1], std::string(100, 'm'));
  FileArgs size;
  size.index = 0;
  ASSERT_EQ(DoFileOp(FileOp::BLOB_SIZE, f, size), 0);
  EXPECT_EQ(size.result, 70000);
  // NOMEMO: the next read leaves the memo values alone.
  f.memo_values[1] = "mine";
  ASSERT_EQ(Op(FileOp::NOMEMO, f), 0);
  ASSERT_EQ(OpPtr(FileOp::GETfileptr, f, static_cast<uint32_t>(row)), 0);
  EXPECT_EQ(f.memo_values[1], "mine");
  // A NOMEMO whose read finds nothing is used up all the same: the next
  // read brings the memos.
  ASSERT_EQ(Op(FileOp::NOMEMO, f), 0);
  EXPECT_NE(OpPtr(FileOp::GETfileptr, f, 999999u), 0);
  ASSERT_EQ(OpPtr(FileOp::GETfileptr, f, static_cast<uint32_t>(row)), 0);
  EXPECT_EQ(f.memo_values[1], std::string(100, 'm'));
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

// Shapes beyond the catalogue: OPT, NOCASE unique, descending components.
TEST_F(PalisadeDriverTest, OptNocaseAndDescendingKeys) {
  FileDescriptor f = FileDeclaration("T", "T")
                         .Driver("PALISADE")
                         .Name(path_)
                         .Attributes(kFileCreate)
                         .Field("N", TypeCode::LONG)
                         .String("S", TypeCode::STRING, 6)
                         .String("U", TypeCode::CSTRING, 6)
                         .Key("K_OPT", {{"S"}}, kKeyOpt | kKeyDup)
                         .Key("K_DESC", {{"N", true}})
                         .Key("K_NOCASE", {{"U"}}, kKeyNocase | kKeyOpt)
                         .Build();
  f.open_mode = kOpenReadWriteDenyNone;
  ASSERT_EQ(Op(FileOp::OPEN, f), 0);
  auto add = [&](int32_t n, const char* s, const char* u) {
    SetLong(f, "N", n);
    SetText(f, "S", s);
    SetText(f, "U", u);
    return Op(FileOp::ADD, f);
  };
  ASSERT_EQ(add(-1, "", "xyz"), 0);  // S all spaces: no OPT entry
  ASSERT_EQ(add(0, "b", ""), 0);     // U empty: no OPT entry
  ASSERT_EQ(add(1, "a", "abc"), 0);
  EXPECT_EQ(add(2, "c", "XYZ"), 40);  // NOCASE: xyz and XYZ collide
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 3);
  EXPECT_EQ(Result(FileOp::RECORDSkey, f, 0), 2);
  EXPECT_EQ(Result(FileOp::RECORDSkey, f, 2), 2);
  ASSERT_EQ(OpKey(FileOp::SETkey, f, 1), 0);
  std::vector<int32_t> ns;
  while (Op(FileOp::NEXT, f) == 0) ns.push_back(GetLong(f, "N"));
  EXPECT_EQ(ns, (std::vector<int32_t>{1, 0, -1}));
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, KeyOf7526BytesIsAcceptedAnd7527Refused) {
  for (uint32_t size : {7526u, 7527u}) {
    FileDescriptor f = FileDeclaration("T", "T")
                           .Driver("PALISADE")
                           .Name(dir_.File("K" + std::to_string(size)))
                           .Attributes(kFileCreate)
                           .String("S", TypeCode::STRING, size)
                           .Key("K", {{"S"}})
                           .Build();
    f.open_mode = kOpenReadWriteDenyNone;
    EXPECT_EQ(Op(FileOp::OPEN, f), size == 7526 ? 0 : 47) << size;
    if (f.IsOpen()) {
      SetText(f, "S", "x");
      EXPECT_EQ(Op(FileOp::ADD, f), 0);
      EXPECT_EQ(Op(FileOp::CLOSE, f), 0);
    }
  }
}

TEST_F(PalisadeDriverTest, DeclarationThatDiffersFromTheFileIsRefused) {
  FileDescriptor f = OpenCatalogue();
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  FileDescriptor other = FileDeclaration("FUNC", "FUN")
                             .Driver("PALISADE")
                             .Name(path_)
                             .Field("ID", TypeCode::SHORT)
                             .Build();
  other.open_mode = kOpenReadWriteDenyNone;
  EXPECT_EQ(Op(FileOp::OPEN, other), 47);
  FileDescriptor missing = Catalogue(dir_.File("NONE"), 0);
  missing.open_mode = kOpenReadWriteDenyNone;
  EXPECT_EQ(Op(FileOp::OPEN, missing), 2);
  EXPECT_EQ(Op(FileOp::NEXT, missing), 37);
}

TEST_F(PalisadeDriverTest, PasswordProtectedFileRefusesTheWrongPassword) {
  FileDescriptor f = Catalogue(path_, kFileCreate | kFileEncrypt);
  f.owner = "secret";
  f.open_mode = kOpenReadWriteDenyNone;
  ASSERT_EQ(Op(FileOp::OPEN, f), 0);
  ASSERT_EQ(AddEntry(f, 1, "Confidential-Name", "hidden code"), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  const std::vector<uint8_t> bytes = ReadAll(path_);
  const std::string raw(bytes.begin(), bytes.end());
  EXPECT_EQ(raw.find("Confidential"), std::string::npos);
  EXPECT_EQ(raw.find("pAlI"), std::string::npos);

  f.owner = "wrong";
  EXPECT_EQ(Op(FileOp::OPEN, f), 90);
  EXPECT_EQ(FILEERRORCODE(), "86");
  f.owner = "";
  EXPECT_EQ(Op(FileOp::OPEN, f), 36);
  f.owner = "secret";
  ASSERT_EQ(Op(FileOp::OPEN, f), 0);
  SetLong(f, "ID", 1);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);
  EXPECT_EQ(GetText(f, "NAME"), "Confidential-Name");
  EXPECT_EQ(f.memo_values[0], "hidden code");
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  EXPECT_TRUE(CheckPlxFile(path_, "secret").empty());
}

// The cipher library is asked for only by a file with a password: a plain
// file is created, written, read and checked without it, and an encrypted
// one still opens and reads.
TEST_F(PalisadeDriverTest, OnlyAnEncryptedFileAsksForTheCipherLibrary) {
  const long before = palisade::CryptoLibraryCalls();
  FileDescriptor plain = OpenCatalogue();
  ASSERT_EQ(AddEntry(plain, 7, "plain", "code"), 0);
  SetLong(plain, "ID", 7);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, plain, 1), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, plain), 0);
  ExpectClean();
  EXPECT_EQ(palisade::CryptoLibraryCalls(), before);

  FileDescriptor secret = Catalogue(dir_.File("SECRET"), kFileCreate | kFileEncrypt);
  secret.owner = "secret";
  secret.open_mode = kOpenReadWriteDenyNone;
  ASSERT_EQ(Op(FileOp::OPEN, secret), 0);
  ASSERT_EQ(AddEntry(secret, 1, "hidden", "code"), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, secret), 0);
  EXPECT_GT(palisade::CryptoLibraryCalls(), before);
  ASSERT_NE(palisade::CryptoLibrary(), nullptr);
  ASSERT_EQ(Op(FileOp::OPEN, secret), 0);
  SetLong(secret, "ID", 1);
  ASSERT_EQ(OpKey(FileOp::GETfilekey, secret, 1), 0);
  EXPECT_EQ(GetText(secret, "NAME"), "hidden");
  ASSERT_EQ(Op(FileOp::CLOSE, secret), 0);
}

TEST_F(PalisadeDriverTest, CopyRenameRemoveAndPackWholeFiles) {
  FileDescriptor f = OpenCatalogue(0x12);
  ASSERT_EQ(Op(FileOp::STREAM, f), 0);
  for (int i = 1; i <= 200; ++i) ASSERT_EQ(AddEntry(f, i, "n" + std::to_string(i), "c"), 0);
  for (int i = 1; i <= 200; i += 2) {
    SetLong(f, "ID", i);
    ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);
    ASSERT_EQ(Op(FileOp::DELETE, f), 0);
  }
  ASSERT_EQ(Op(FileOp::FLUSH, f), 0);
  FileArgs copy;
  copy.value = dir_.File("COPY.PLX");
  EXPECT_EQ(DoFileOp(FileOp::COPY, f, copy), 52);  // needs the file closed
  ASSERT_EQ(Op(FileOp::PACK, f), 0);
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 100);
  ASSERT_EQ(AddEntry(f, 1000, "after pack"), 0);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();

  ASSERT_EQ(DoFileOp(FileOp::COPY, f, copy), 0);
  FileDescriptor c = Catalogue(copy.value);
  c.open_mode = kOpenReadWriteDenyNone;
  ASSERT_EQ(Op(FileOp::OPEN, c), 0);
  EXPECT_EQ(Result(FileOp::RECORDSfile, c), 101);
  ASSERT_EQ(Op(FileOp::CLOSE, c), 0);

  FileArgs rename;
  rename.value = dir_.File("MOVED");
  ASSERT_EQ(DoFileOp(FileOp::RENAME, f, rename), 0);
  EXPECT_NE(::access(dir_.File("MOVED.PLX").c_str(), F_OK), -1);
  EXPECT_EQ(::access(path_.c_str(), F_OK), -1);
  FileArgs again = copy;  // COPY.PLX exists: a rename onto it is refused
  FileDescriptor moved = Catalogue(dir_.File("MOVED"));
  EXPECT_EQ(DoFileOp(FileOp::RENAME, moved, again), 90);
  ASSERT_EQ(Op(FileOp::REMOVE, moved), 0);
  EXPECT_EQ(::access(dir_.File("MOVED.PLX").c_str(), F_OK), -1);
}

// A file the driver creates has a name that must survive a crash as surely
// as its first commit: its folder is synced once, when it is made, and not
// again when it is opened later.
TEST_F(PalisadeDriverTest, CreatingAFileSyncsItsFolderOnce) {
  FaultPlan counter;
  SetProcessFaultPlan(&counter);
  FileDescriptor f = Catalogue(path_);
  f.open_mode = kOpenReadWriteDenyNone;
  ASSERT_EQ(Op(FileOp::OPEN, f), 0) << ERROR();
  EXPECT_EQ(counter.count(OsCall::kDirectorySync), 1);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ASSERT_EQ(Op(FileOp::OPEN, f), 0) << ERROR();
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  SetProcessFaultPlan(nullptr);
  EXPECT_EQ(counter.count(OsCall::kDirectorySync), 1);
}

// Sharing is settled under the gate byte by probing and taking the share
// bytes. When a probe or the gate's release fails (any errno but
// contention), the open fails with the operating-system error instead of
// going ahead past another object's deny, or keeping the gate and so
// shutting every later opener out.
TEST_F(PalisadeDriverTest, AShareCheckThatFailsRefusesTheOpenAndLeavesNoGate) {
  { FileDescriptor created = OpenCatalogue(); }
  FileDescriptor denying = OpenCatalogue(0x22);  // read and write, deny write
  struct Case {
    const char* what;
    OsCall call;
    uint64_t start;
  } cases[] = {
      {"probe", OsCall::kTestLock, palisade::kShareBase + 4},
      {"gate release", OsCall::kUnlock, palisade::kShareBase},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultPlan plan;
    plan.observe = [&](const OsCallInfo& call) {
      return call.call == c.call && call.start == c.start ? EIO : 0;
    };
    SetProcessFaultPlan(&plan);
    FileDescriptor f = Catalogue(path_);
    f.open_mode = kOpenReadWriteDenyNone;
    EXPECT_EQ(Op(FileOp::OPEN, f), 90);
    SetProcessFaultPlan(nullptr);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(FILEERRORCODE(), "31");  // the system's EIO
    // The failed open kept nothing: a reader that the deny allows gets in.
    FileDescriptor reader = Catalogue(path_);
    reader.open_mode = 0x40;  // read only, deny none
    EXPECT_EQ(Op(FileOp::OPEN, reader), 0) << ERROR();
    EXPECT_EQ(Op(FileOp::CLOSE, reader), 0);
  }
  EXPECT_EQ(Op(FileOp::CLOSE, denying), 0);
}

// A PACK whose rename fails leaves the file as it was and open again; when
// even opening it again fails, the table is closed, and a later CLOSE says
// so (37) instead of reaching for a file that is not there.
TEST_F(PalisadeDriverTest, APackWhoseRenameFailsLeavesTheFileAsItWas) {
  FileDescriptor f = OpenCatalogue(0x12);
  for (int i = 1; i <= 20; ++i) ASSERT_EQ(AddEntry(f, i, "n" + std::to_string(i)), 0);
  FaultPlan rename_fails;
  rename_fails.FailAt(OsCall::kRename, 1, EXDEV);
  SetProcessFaultPlan(&rename_fails);
  EXPECT_EQ(Op(FileOp::PACK, f), 90);
  SetProcessFaultPlan(nullptr);
  EXPECT_EQ(rename_fails.count(OsCall::kRename), 1);
  EXPECT_EQ(FILEERRORCODE(), "17");  // the system's "not the same device"
  ASSERT_TRUE(f.IsOpen());
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 20);
  ASSERT_EQ(AddEntry(f, 21, "after"), 0);

  // The opens after the failed rename are the reopen's: fail the last.
  FaultPlan reopen_fails;
  reopen_fails.FailAt(OsCall::kRename, 1);
  reopen_fails.FailAt(OsCall::kOpen, rename_fails.count(OsCall::kOpen));
  SetProcessFaultPlan(&reopen_fails);
  EXPECT_EQ(Op(FileOp::PACK, f), 90);
  SetProcessFaultPlan(nullptr);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(Op(FileOp::CLOSE, f), 37);

  // A process that dies just before the rename does nothing more: the old
  // file and the packed copy stay as the death left them, and the table is
  // closed, so a later CLOSE says so (it once reached for no file and
  // crashed).
  ASSERT_EQ(Op(FileOp::OPEN, f), 0);
  FaultPlan dies;
  dies.stop_at = "pack-before-rename";
  SetProcessFaultPlan(&dies);
  EXPECT_EQ(Op(FileOp::PACK, f), 90);
  SetProcessFaultPlan(nullptr);
  EXPECT_TRUE(dies.stopped);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(Op(FileOp::CLOSE, f), 37);
  EXPECT_EQ(::access((path_ + ".pack").c_str(), F_OK), 0);
  std::filesystem::remove(path_ + ".pack");  // what the dead process left

  // Nothing was lost, and no packed copy is left beside the file.
  ASSERT_EQ(Op(FileOp::OPEN, f), 0);
  EXPECT_EQ(Result(FileOp::RECORDSfile, f), 21);
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
  EXPECT_EQ(::access((path_ + ".pack").c_str(), F_OK), -1);
}

// Given a file with deleted rows, when the process dies before the k-th
// write of a PACK (for every k, first as a killed process, then as a power
// cut that loses unsynced writes), then the file opens clean with every row:
// the old file or the packed one, never neither.
TEST_F(PalisadeDriverTest, DeathAtEveryWriteOfAPackLeavesTheOldOrTheNewFile) {
  {
    FileDescriptor f = OpenCatalogue();
    for (int i = 1; i <= 120; ++i) ASSERT_EQ(AddEntry(f, i, "n" + std::to_string(i), "c"), 0);
    for (int i = 1; i <= 120; i += 3) {
      SetLong(f, "ID", i);
      ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);
      ASSERT_EQ(Op(FileOp::DELETE, f), 0);
    }
    ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  }
  const std::vector<uint8_t> saved = ReadAll(path_);
  int deaths = 0;
  for (bool cut : {false, true}) {
    for (int k = 1;; ++k) {
      SCOPED_TRACE(std::string(cut ? "power cut" : "death") + " before write " + std::to_string(k));
      palisade::test::WriteAll(path_, saved);
      FileDescriptor f = OpenCatalogue(0x12);
      FaultPlan plan;
      plan.stop_before_write = k;
      plan.lose_unsynced = cut;
      plan.loss_seed = static_cast<uint32_t>(k);
      SetProcessFaultPlan(&plan);
      const int rc = Op(FileOp::PACK, f);
      SetProcessFaultPlan(nullptr);
      if (f.IsOpen()) Op(FileOp::CLOSE, f);
      FileDescriptor after = OpenCatalogue();
      EXPECT_EQ(Result(FileOp::RECORDSfile, after), 80);
      ASSERT_EQ(Op(FileOp::CLOSE, after), 0);
      ExpectClean();
      if (HasFailure()) return;
      if (!plan.stopped) {
        EXPECT_EQ(rc, 0);
        break;
      }
      EXPECT_NE(rc, 0);
      ++deaths;
      ASSERT_LT(k, 2000) << "the pack never finished";
    }
  }
  EXPECT_GT(deaths, 0);
}

TEST_F(PalisadeDriverTest, TablesShareOneFileAndRemoveDropsOnlyOne) {
  FileDescriptor a = Catalogue(path_ + "\\!first");
  FileDescriptor b = Catalogue(path_ + "\\!second");
  for (FileDescriptor* f : {&a, &b}) {
    f->open_mode = kOpenReadWriteDenyNone;
    ASSERT_EQ(Op(FileOp::OPEN, *f), 0);
    ASSERT_EQ(AddEntry(*f, 1, "row"), 0);
    ASSERT_EQ(Op(FileOp::CLOSE, *f), 0);
  }
  ExpectClean();
  ASSERT_EQ(Op(FileOp::REMOVE, a), 0);
  EXPECT_EQ(Op(FileOp::OPEN, b), 0);
  EXPECT_EQ(Result(FileOp::RECORDSfile, b), 1);
  ASSERT_EQ(Op(FileOp::CLOSE, b), 0);
  a.attributes = 0;
  EXPECT_EQ(Op(FileOp::OPEN, a), 2);
  ExpectClean();
}

TEST_F(PalisadeDriverTest, ManyRowsWithSmallPagesStayConsistent) {
  palisade::PagerOptions small;
  small.page_limit = 4096;
  small.cache.min_pages = 4;
  small.cache.max_pages = 8;
  SetPalisadeTestOptions(small, 5000);
  FileDescriptor f = OpenCatalogue();
  ASSERT_EQ(Op(FileOp::STREAM, f), 0);
  for (int i = 1; i <= 300; ++i) {
    ASSERT_EQ(AddEntry(f, (i * 37) % 301, "name" + std::to_string(i % 50), std::string(i, 'c')), 0);
  }
  for (int i = 1; i <= 300; i += 3) {
    SetLong(f, "ID", (i * 37) % 301);
    ASSERT_EQ(OpKey(FileOp::GETfilekey, f, 1), 0);
    ASSERT_EQ(Op(FileOp::DELETE, f), 0);
  }
  ASSERT_EQ(Op(FileOp::FLUSH, f), 0);
  ASSERT_EQ(OpKey(FileOp::SETkey, f, 1), 0);
  std::vector<int32_t> ids = ReadAllIds(f);
  EXPECT_EQ(ids.size(), 200u);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  ASSERT_EQ(Op(FileOp::CLOSE, f), 0);
  ExpectClean();
}

}  // namespace
}  // namespace qzr
