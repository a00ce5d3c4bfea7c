// Views over a Palisade file with a filter: every row a filtered view hands
// out carries its own memos, in both directions, from a shared open (rows
// read in batches) and an exclusive one, and stays whole while another file
// object changes rows during the scan. A filter decides on the record
// alone: the memos of the rows it drops are never read, and no record is
// read twice for them.

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/test_support.h"
#include "gtest/gtest.h"
#include "runtime/evaluator/evaluator.h"

namespace qzr {
namespace {

constexpr int kRows = 120;

// Passes every call to the Palisade driver, under a name of its own, and
// counts the records read, the NOMEMO calls and the records whose memos
// were read: a read with no NOMEMO before it or in its args, or a later
// read of the memos of a kept record. `nomemo_with_read` false: the driver
// says it does not take NOMEMO with a read, so a caller must call NOMEMO
// (its args never carry it).
class MemoCountingDriver : public FileDriver {
 public:
  MemoCountingDriver(FileDriver* inner, const char* name, bool nomemo_with_read)
      : inner_(inner), info_(inner->Info()) {
    info_.name = name;
    info_.capabilities.nomemo_with_read = nomemo_with_read;
  }
  int Call(FileOp op, FileDescriptor& file, FileArgs& args) override {
    if (!info_.capabilities.nomemo_with_read) args.nomemo = false;
    const int rc = inner_->Call(op, file, args);
    switch (op) {
      case FileOp::NOMEMO:
        nomemo_ = rc == 0;
        ++nomemo_calls;
        break;
      case FileOp::NEXT:
      case FileOp::PREVIOUS:
      case FileOp::GETfileptr:
      case FileOp::GETfilekey:
        if (rc == 0) {
          ++reads;
          if (!nomemo_ && !args.nomemo) ++memo_reads;
        }
        if (args.skip != nullptr) ++skip_reads;
        nomemo_ = false;
        break;
      case FileOp::DO_PROPERTY:
        if (rc == 0 && args.property == kPropertyReadMemos) ++memo_reads;
        break;
      default:
        break;
    }
    return rc;
  }
  const DriverInfo& Info() const override { return info_; }

  int reads = 0;
  int memo_reads = 0;
  int nomemo_calls = 0;
  int skip_reads = 0;  // reads told to pass over the records the filter drops

 private:
  FileDriver* inner_;
  DriverInfo info_;
  bool nomemo_ = false;
};

MemoCountingDriver* Register(const char* name, bool nomemo_with_read) {
  auto owned = std::make_unique<MemoCountingDriver>(FindDriver("PALISADE"), name, nomemo_with_read);
  MemoCountingDriver* raw = owned.get();
  RegisterDriver(std::move(owned));
  return raw;
}

// "MEMOCOUNT" takes NOMEMO with the read, as Palisade does.
MemoCountingDriver* Counter() {
  static MemoCountingDriver* counter = Register("MEMOCOUNT", true);
  return counter;
}

// "MEMOCALL" must be told NOMEMO by a call before each read.
MemoCountingDriver* CallingCounter() {
  static MemoCountingDriver* counter = Register("MEMOCALL", false);
  return counter;
}

FileDescriptor Table(const std::string& path, uint32_t open_mode, const char* driver = "PALISADE") {
  FileDescriptor f = FileDeclaration("VIEWED", "VW")
                         .Driver(driver)
                         .Name(path)
                         .Attributes(kFileCreate)
                         .Field("ID", TypeCode::LONG)
                         .String("VAL", TypeCode::CSTRING, 40)
                         .Memo("NOTE", 4000)
                         .Key("P_ID", {{"ID"}}, kKeyPrimary)
                         .Build();
  f.open_mode = open_mode;
  return f;
}

// Row `id` at version `v`: its value and its note (several memo pieces
// long) both name the id and the version.
std::string Tag(int32_t id, int v) {
  return "id" + std::to_string(id) + "v" + std::to_string(v);
}
std::string Note(const std::string& tag) {
  std::string note;
  while (note.size() < 900) note += tag + ";";
  return note;
}

void SetRow(FileDescriptor& f, int32_t id, int v) {
  std::fill(f.record.begin(), f.record.end(), 0);
  std::memcpy(f.FieldData(0), &id, 4);
  const std::string tag = Tag(id, v);
  std::memcpy(f.FieldData(1), tag.data(), tag.size());
  f.memo_values[0] = Note(tag);
}

int32_t IdOf(const FileDescriptor& f) {
  int32_t id;
  std::memcpy(&id, f.record.data(), 4);
  return id;
}

std::string ValOf(const FileDescriptor& f) {
  const char* p = reinterpret_cast<const char*>(f.FieldData(1));
  return std::string(p, strnlen(p, 40));
}

class ViewReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPalisadeDriver();
    CreateEvaluator();
    path_ = dir_.File("VIEWED.PLX");
    FileDescriptor f = Table(path_, kOpenReadWriteDenyNone);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    ASSERT_EQ(DoFileOp(FileOp::LOGOUT, f), 0) << ERROR();
    for (int32_t id = 1; id <= kRows; ++id) {
      SetRow(f, id, 0);
      ASSERT_EQ(DoFileOp(FileOp::ADD, f), 0) << ERROR();
    }
    ASSERT_EQ(DoFileOp(FileOp::COMMIT, f), 0) << ERROR();
    DoFileOp(FileOp::CLOSE, f);
  }

  palisade::test::TempDir dir_;
  std::string path_;
};

TEST_F(ViewReadTest, EveryRowAFilteredViewHandsOutCarriesItsOwnMemos) {
  const struct {
    const char* name;
    uint32_t open_mode;
    const char* order;
    bool forward;
  } cases[] = {
      {"shared, key order, forwards", kOpenReadWriteDenyNone, "+VW:ID", true},
      {"shared, key order, backwards", kOpenReadWriteDenyNone, "+VW:ID", false},
      {"shared, record order", kOpenReadWriteDenyNone, "", true},
      {"exclusive, key order, forwards", 0x12, "+VW:ID", true},
      {"exclusive, descending, forwards", 0x12, "-VW:ID", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileDescriptor f = Table(path_, c.open_mode);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    View view;
    ASSERT_EQ(ViewBuilder(&f).Build(&view), 0);
    ViewEngine v(&view);
    ASSERT_EQ(v.Open(), 0);
    ASSERT_EQ(v.SetOrder(c.order), 0);
    ASSERT_EQ(v.SetFilter("VW:ID % 7 = 3"), 0);
    std::vector<int32_t> got;
    while ((c.forward ? v.Next() : v.Previous()) == 0) {
      const int32_t id = IdOf(f);
      got.push_back(id);
      EXPECT_EQ(ValOf(f), Tag(id, 0));
      EXPECT_EQ(f.memo_values[0], Note(Tag(id, 0))) << "row " << id;
    }
    std::vector<int32_t> want;
    for (int32_t id = 1; id <= kRows; ++id) {
      if (id % 7 == 3) want.push_back(id);
    }
    const bool descending = (c.order[0] == '-') == c.forward;
    if (descending) std::reverse(want.begin(), want.end());
    EXPECT_EQ(got, want);
    v.Close();
    DoFileOp(FileOp::CLOSE, f);
  }
}

// The filter decides on the record buffer alone: only the rows it keeps
// have their memos read, each row is read once (a record-order or key-order
// view) and every row handed out carries its own memos.
TEST_F(ViewReadTest, AFilteredViewReadsTheMemosOfTheRowsItKeepsOnly) {
  const struct {
    const char* name;
    uint32_t open_mode;
    const char* order;
    bool forward;
    int reads;  // records read, a sorted list's pass included
  } cases[] = {
      {"shared, key order, forwards", kOpenReadWriteDenyNone, "+VW:ID", true, kRows},
      {"shared, key order, backwards", kOpenReadWriteDenyNone, "+VW:ID", false, kRows},
      {"shared, record order", kOpenReadWriteDenyNone, "", true, kRows},
      {"exclusive, key order", 0x12, "+VW:ID", true, kRows},
      // No key serves this order: a pass builds the sorted list, then the
      // rows kept are read by position.
      {"shared, sorted list", kOpenReadWriteDenyNone, "-VW:VAL", true, kRows + kRows / 7},
  };
  int kept = 0;
  for (int32_t id = 1; id <= kRows; ++id) kept += id % 7 == 3 ? 1 : 0;
  for (const bool with_read : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) +
                   (with_read ? ", NOMEMO with the read" : ", NOMEMO called"));
      MemoCountingDriver* counter = with_read ? Counter() : CallingCounter();
      FileDescriptor f = Table(path_, c.open_mode, with_read ? "MEMOCOUNT" : "MEMOCALL");
      ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
      View view;
      ASSERT_EQ(ViewBuilder(&f).Build(&view), 0);
      ViewEngine v(&view);
      ASSERT_EQ(v.Open(), 0);
      ASSERT_EQ(v.SetOrder(c.order), 0);
      ASSERT_EQ(v.SetFilter("VW:ID % 7 = 3"), 0);
      counter->reads = counter->memo_reads = counter->nomemo_calls = 0;
      int got = 0;
      while ((c.forward ? v.Next() : v.Previous()) == 0) {
        const int32_t id = IdOf(f);
        EXPECT_EQ(id % 7, 3);
        EXPECT_EQ(f.memo_values[0], Note(Tag(id, 0))) << "row " << id;
        ++got;
      }
      EXPECT_EQ(got, kept);
      EXPECT_EQ(counter->memo_reads, kept);
      EXPECT_LE(counter->reads, c.reads);
      // Told with each read, NOMEMO costs no call of its own.
      if (with_read) {
        EXPECT_EQ(counter->nomemo_calls, 0);
      } else {
        EXPECT_GE(counter->nomemo_calls, counter->reads - kept);
      }
      v.Close();
      DoFileOp(FileOp::CLOSE, f);
    }
  }
}

// A filter that drops the rows at the end: the read that reports 33 leaves
// the buffer holding the last row the view handed out, its record and its
// own memos, as a file's read past its end leaves its last record; with no
// row handed out, the buffer keeps what it held.
TEST_F(ViewReadTest, AtTheEndTheBufferHoldsTheLastRowHandedOutWithItsMemos) {
  const struct {
    const char* name;
    uint32_t open_mode;
    const char* order;
    const char* filter;
    bool forward;
  } cases[] = {
      {"shared, key order, forwards", kOpenReadWriteDenyNone, "+VW:ID", "VW:ID % 7 = 3", true},
      {"shared, key order, backwards", kOpenReadWriteDenyNone, "+VW:ID", "VW:ID % 7 = 3", false},
      {"shared, record order", kOpenReadWriteDenyNone, "", "VW:ID % 7 = 3", true},
      {"shared, sorted list", kOpenReadWriteDenyNone, "+VW:VAL", "VW:ID % 7 = 3", true},
      {"exclusive, key order", 0x12, "+VW:ID", "VW:ID % 7 = 3", true},
      {"shared, one row at the start", kOpenReadWriteDenyNone, "+VW:ID", "VW:ID = 1", true},
      {"shared, no row", kOpenReadWriteDenyNone, "+VW:ID", "VW:ID < 0", true},
      {"exclusive, no row", 0x12, "-VW:ID", "VW:ID < 0", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileDescriptor f = Table(path_, c.open_mode);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    View view;
    ASSERT_EQ(ViewBuilder(&f).Build(&view), 0);
    ViewEngine v(&view);
    ASSERT_EQ(v.Open(), 0);
    ASSERT_EQ(v.SetOrder(c.order), 0);
    ASSERT_EQ(v.SetFilter(c.filter), 0);
    // What the buffer held before the view read anything.
    SetRow(f, 0, 9);
    int32_t last = 0;
    int rc = 0;
    while ((rc = c.forward ? v.Next() : v.Previous()) == 0) last = IdOf(f);
    EXPECT_EQ(rc, kRecordNotAvailable);
    EXPECT_EQ(IdOf(f), last);
    const std::string tag = Tag(last, last == 0 ? 9 : 0);
    EXPECT_EQ(ValOf(f), tag);
    EXPECT_EQ(f.memo_values[0], Note(tag));
    // Reading back from the end still works.
    if (last != 0) {
      ASSERT_EQ(c.forward ? v.Previous() : v.Next(), 0);
      EXPECT_EQ(IdOf(f), last);
      EXPECT_EQ(f.memo_values[0], Note(tag));
    }
    v.Close();
    DoFileOp(FileOp::CLOSE, f);
  }
}

// A view joining the file to itself by its key: the joined record of each
// row carries its own memos, and the records read only to find the ones
// that join (the domain) have no memos read.
TEST_F(ViewReadTest, AJoinReadsTheMemosOfTheRecordsThatJoinOnly) {
  MemoCountingDriver* counter = Counter();
  FileDescriptor f = Table(path_, kOpenReadWriteDenyNone, "MEMOCOUNT");
  FileDescriptor joined = FileDeclaration("VIEWED", "VJ")
                              .Driver("MEMOCOUNT")
                              .Name(path_)
                              .Field("ID", TypeCode::LONG)
                              .String("VAL", TypeCode::CSTRING, 40)
                              .Memo("NOTE", 4000)
                              .Key("P_ID", {{"ID"}}, kKeyPrimary)
                              .Build();
  joined.open_mode = kOpenReadWriteDenyNone;
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
  ASSERT_EQ(DoFileOp(FileOp::OPEN, joined), 0) << ERROR();
  View view;
  ASSERT_EQ(ViewBuilder(&f).Join(&joined, "VJ:P_ID", {"VW:ID"}).EndJoin().Build(&view), 0);
  ViewEngine v(&view);
  ASSERT_EQ(v.Open(), 0);
  ASSERT_EQ(v.SetOrder("+VW:ID"), 0);
  counter->reads = counter->memo_reads = 0;
  int32_t expected = 0;
  while (v.Next() == 0) {
    ++expected;
    ASSERT_EQ(IdOf(f), expected);
    ASSERT_EQ(IdOf(joined), expected);
    EXPECT_EQ(ValOf(joined), Tag(expected, 0));
    EXPECT_EQ(joined.memo_values[0], Note(Tag(expected, 0))) << "row " << expected;
    EXPECT_EQ(f.memo_values[0], Note(Tag(expected, 0))) << "row " << expected;
  }
  EXPECT_EQ(expected, kRows);
  // Each row's primary record and its joined record, and nothing more.
  EXPECT_EQ(counter->memo_reads, 2 * kRows);
  v.Close();
  DoFileOp(FileOp::CLOSE, joined);
  DoFileOp(FileOp::CLOSE, f);
}

// A PUT on the file after a filtered view's read ended at 33 writes the
// row the view handed out last, never a row the filter dropped after it
// (whose record went through the buffer); with no row handed out there is
// no record to write, and the PUT is refused as on a file with none read.
TEST_F(ViewReadTest, APutAfterTheEndWritesTheLastRowHandedOutOnly) {
  const struct {
    const char* name;
    uint32_t open_mode;
    const char* order;
    const char* filter;
    bool forward;
  } cases[] = {
      {"shared, key order, forwards", kOpenReadWriteDenyNone, "+VW:ID", "VW:ID % 7 = 3", true},
      {"shared, key order, backwards", kOpenReadWriteDenyNone, "+VW:ID", "VW:ID % 7 = 3", false},
      {"shared, record order", kOpenReadWriteDenyNone, "", "VW:ID % 7 = 3", true},
      {"shared, sorted list", kOpenReadWriteDenyNone, "+VW:VAL", "VW:ID % 7 = 3", true},
      {"exclusive, key order, forwards", 0x12, "+VW:ID", "VW:ID % 7 = 3", true},
      {"exclusive, key order, backwards", 0x12, "+VW:ID", "VW:ID % 7 = 3", false},
      {"shared, no row", kOpenReadWriteDenyNone, "+VW:ID", "VW:ID < 0", true},
      {"exclusive, no row", 0x12, "-VW:ID", "VW:ID < 0", true},
  };
  std::vector<int> version(kRows + 1, 0);  // what each row should hold
  int next_version = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileDescriptor f = Table(path_, c.open_mode);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    {
      // The driver's last read, before the view: a row the view drops.
      FileArgs args;
      args.key = 0;
      SetRow(f, 2, 0);
      ASSERT_EQ(DoFileOp(FileOp::GETfilekey, f, args), 0) << ERROR();
    }
    View view;
    ASSERT_EQ(ViewBuilder(&f).Build(&view), 0);
    ViewEngine v(&view);
    ASSERT_EQ(v.Open(), 0);
    ASSERT_EQ(v.SetOrder(c.order), 0);
    ASSERT_EQ(v.SetFilter(c.filter), 0);
    int32_t last = 0;
    int rc = 0;
    while ((rc = c.forward ? v.Next() : v.Previous()) == 0) last = IdOf(f);
    ASSERT_EQ(rc, kRecordNotAvailable);
    const int v_new = next_version++;
    SetRow(f, last, v_new);
    if (last == 0) {
      EXPECT_EQ(DoFileOp(FileOp::PUT, f), kRecordNotAvailable);
    } else {
      ASSERT_EQ(DoFileOp(FileOp::PUT, f), 0) << ERROR();
      version[static_cast<size_t>(last)] = v_new;
    }
    v.Close();
    DoFileOp(FileOp::CLOSE, f);
    // Every row holds what it should, by key.
    FileDescriptor check = Table(path_, kOpenReadWriteDenyNone);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, check), 0) << ERROR();
    for (int32_t id = 1; id <= kRows; ++id) {
      SetRow(check, id, 0);
      FileArgs args;
      args.key = 0;
      ASSERT_EQ(DoFileOp(FileOp::GETfilekey, check, args), 0) << "row " << id;
      const std::string tag = Tag(id, version[static_cast<size_t>(id)]);
      EXPECT_EQ(IdOf(check), id);
      EXPECT_EQ(ValOf(check), tag) << "row " << id;
      EXPECT_EQ(check.memo_values[0], Note(tag)) << "row " << id;
    }
    DoFileOp(FileOp::CLOSE, check);
  }
}

// The memos of a row read without them are read afterwards from the row
// read; a row that another file object changed in between is read again
// whole, and the reader is told so.
TEST_F(ViewReadTest, MemosReadAfterTheRowAreThoseOfTheRowAsItIsThen) {
  FileDescriptor writer = Table(path_, kOpenReadWriteDenyNone);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, writer), 0) << ERROR();
  FileDescriptor f = Table(path_, kOpenReadWriteDenyNone);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
  FileArgs memos;
  memos.property = kPropertyReadMemos;
  // Nothing read yet.
  EXPECT_EQ(DoFileOp(FileOp::DO_PROPERTY, f, memos), kRecordNotAvailable);
  ASSERT_EQ(DoFileOp(FileOp::SETfile, f), 0) << ERROR();
  f.memo_values[0] = "left alone";
  ASSERT_EQ(DoFileOp(FileOp::NOMEMO, f), 0) << ERROR();
  ASSERT_EQ(DoFileOp(FileOp::NEXT, f), 0) << ERROR();
  EXPECT_EQ(f.memo_values[0], "left alone");
  ASSERT_EQ(DoFileOp(FileOp::DO_PROPERTY, f, memos), 0) << ERROR();
  EXPECT_EQ(memos.result, 0);
  EXPECT_EQ(f.memo_values[0], Note(Tag(IdOf(f), 0)));

  // The next row, read from the batch; then another file object rewrites it.
  ASSERT_EQ(DoFileOp(FileOp::NOMEMO, f), 0) << ERROR();
  ASSERT_EQ(DoFileOp(FileOp::NEXT, f), 0) << ERROR();
  const int32_t id = IdOf(f);
  EXPECT_EQ(ValOf(f), Tag(id, 0));
  FileArgs by_id;
  by_id.key = 0;
  SetRow(writer, id, 1);
  ASSERT_EQ(DoFileOp(FileOp::GETfilekey, writer, by_id), 0) << ERROR();
  SetRow(writer, id, 1);
  ASSERT_EQ(DoFileOp(FileOp::PUT, writer), 0) << ERROR();
  ASSERT_EQ(DoFileOp(FileOp::DO_PROPERTY, f, memos), 0) << ERROR();
  EXPECT_EQ(memos.result, 1);
  EXPECT_EQ(ValOf(f), Tag(id, 1));
  EXPECT_EQ(f.memo_values[0], Note(Tag(id, 1)));

  // Once the row is gone, 35.
  ASSERT_EQ(DoFileOp(FileOp::GETfilekey, writer, by_id), 0) << ERROR();
  ASSERT_EQ(DoFileOp(FileOp::DELETE, writer), 0) << ERROR();
  EXPECT_EQ(DoFileOp(FileOp::DO_PROPERTY, f, memos), kRecordNotFound);
  DoFileOp(FileOp::CLOSE, f);
  DoFileOp(FileOp::CLOSE, writer);
}

// Another file object rewrites rows at random while the view reads on: each
// row handed out is whole (its value and note of one version), passes the
// filter, and comes after the one before it.
TEST_F(ViewReadTest, RowsChangedDuringAFilteredScanComeOutWhole) {
  FileDescriptor writer = Table(path_, kOpenReadWriteDenyNone);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, writer), 0) << ERROR();
  FileDescriptor f = Table(path_, kOpenReadWriteDenyNone);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
  View view;
  ASSERT_EQ(ViewBuilder(&f).Build(&view), 0);
  ViewEngine v(&view);
  ASSERT_EQ(v.Open(), 0);
  ASSERT_EQ(v.SetOrder("+VW:ID"), 0);
  ASSERT_EQ(v.SetFilter("VW:ID % 3 = 0"), 0);
  std::mt19937 rng(1207);
  int version = 1;
  int32_t last = 0;
  int rows = 0;
  while (v.Next() == 0) {
    const int32_t id = IdOf(f);
    EXPECT_EQ(id % 3, 0);
    EXPECT_GT(id, last);
    last = id;
    const std::string val = ValOf(f);
    EXPECT_EQ(val.rfind("id" + std::to_string(id) + "v", 0), 0u) << val;
    EXPECT_EQ(f.memo_values[0], Note(val)) << "row " << id;
    ++rows;
    // Rewrite a few rows, ahead of the view and behind it.
    for (int n = 0; n < 3; ++n) {
      const int32_t target = static_cast<int32_t>(rng() % kRows) + 1;
      SetRow(writer, target, version++);
      FileArgs by_id;
      by_id.key = 0;
      ASSERT_EQ(DoFileOp(FileOp::GETfilekey, writer, by_id), 0) << ERROR();
      SetRow(writer, target, version++);
      ASSERT_EQ(DoFileOp(FileOp::PUT, writer), 0) << ERROR();
    }
  }
  EXPECT_EQ(rows, kRows / 3);
  // Past the end the buffer holds the last row handed out, still whole.
  EXPECT_EQ(IdOf(f), last);
  EXPECT_EQ(f.memo_values[0], Note(ValOf(f)));
  v.Close();
  DoFileOp(FileOp::CLOSE, f);
  DoFileOp(FileOp::CLOSE, writer);
}

// A view read by position through its sorted list (rows read ahead
// together) while another file object of this process changes and deletes
// rows between its reads: every row it hands out is the row as it stands
// now, whole, never one read before the change; a deleted row is passed
// over; no row comes twice.
TEST_F(ViewReadTest, RowsReadAheadByPositionAreTheRowsAsTheyStandNow) {
  FileDescriptor writer = Table(path_, kOpenReadWriteDenyNone);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, writer), 0) << ERROR();
  FileDescriptor f = Table(path_, kOpenReadWriteDenyNone);
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
  View view;
  ASSERT_EQ(ViewBuilder(&f).Build(&view), 0);
  for (const bool forward : {true, false}) {
    ViewEngine v(&view);
    ASSERT_EQ(v.Open(), 0);
    // No key serves this order: the view reads a sorted list by position.
    ASSERT_EQ(v.SetOrder("-VW:VAL"), 0);
    std::map<int32_t, int> version;  // the model: the rows as they stand
    for (int32_t id = 1; id <= kRows; ++id) {
      FileArgs by_id;
      by_id.key = 0;
      SetRow(writer, id, 0);
      ASSERT_EQ(DoFileOp(FileOp::GETfilekey, writer, by_id), 0) << ERROR();
      SetRow(writer, id, 0);
      ASSERT_EQ(DoFileOp(FileOp::PUT, writer), 0) << ERROR();
      version[id] = 0;
    }
    std::mt19937 rng(forward ? 31 : 32);
    int next_version = 1;
    std::set<int32_t> seen;
    int rows = 0;
    v.Set();
    while ((forward ? v.Next() : v.Previous()) == 0) {
      const int32_t id = IdOf(f);
      ASSERT_TRUE(version.count(id)) << "row " << id << " was deleted";
      EXPECT_TRUE(seen.insert(id).second) << "row " << id << " twice";
      EXPECT_EQ(ValOf(f), Tag(id, version[id]));
      EXPECT_EQ(f.memo_values[0], Note(Tag(id, version[id]))) << "row " << id;
      ++rows;
      // Every few rows, change some rows (read or not) and delete one.
      if (rows % 3 != 0) continue;
      for (int n = 0; n < 2; ++n) {
        auto it = version.begin();
        std::advance(it, static_cast<long>(rng() % version.size()));
        FileArgs by_id;
        by_id.key = 0;
        SetRow(writer, it->first, 0);
        ASSERT_EQ(DoFileOp(FileOp::GETfilekey, writer, by_id), 0) << ERROR();
        it->second = next_version++;
        SetRow(writer, it->first, it->second);
        ASSERT_EQ(DoFileOp(FileOp::PUT, writer), 0) << ERROR();
      }
      auto gone = version.begin();
      std::advance(gone, static_cast<long>(rng() % version.size()));
      if (seen.count(gone->first) == 0) {
        FileArgs by_id;
        by_id.key = 0;
        SetRow(writer, gone->first, 0);
        ASSERT_EQ(DoFileOp(FileOp::GETfilekey, writer, by_id), 0) << ERROR();
        ASSERT_EQ(DoFileOp(FileOp::DELETE, writer), 0) << ERROR();
        version.erase(gone);
      }
    }
    // Every row still there was handed out.
    EXPECT_EQ(static_cast<size_t>(rows), version.size());
    v.Close();
    // Put back the rows deleted, for the other direction.
    for (int32_t id = 1; id <= kRows; ++id) {
      if (version.count(id)) continue;
      SetRow(writer, id, 0);
      ASSERT_EQ(DoFileOp(FileOp::ADD, writer), 0) << ERROR();
    }
  }
  DoFileOp(FileOp::CLOSE, f);
  DoFileOp(FileOp::CLOSE, writer);
}

// Keeps the rows whose ID % 7 is 3, reading the record buffer only.
class SevenCheck : public RecordCheck {
 public:
  explicit SevenCheck(const FileDescriptor* f) : f_(f) {}
  bool Keep() override { return IdOf(*f_) % 7 == 3; }

 private:
  const FileDescriptor* f_;
};

// Sequential reads told to pass over the rows a check drops hand out every
// row it keeps, in order, and only those (but for a row the driver stopped
// looking at, which the reader checks again); a read without the check then
// goes on from the last row handed out, not from where the driver stopped.
TEST_F(ViewReadTest, ReadsPassOverTheRowsTheirCheckDropsAndNoOthers) {
  const struct {
    const char* name;
    uint32_t open_mode;
    bool forward;
  } cases[] = {
      {"shared, forwards", kOpenReadWriteDenyNone, true},
      {"shared, backwards", kOpenReadWriteDenyNone, false},
      {"exclusive, forwards", 0x12, true},
      {"exclusive, backwards", 0x12, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileDescriptor f = Table(path_, c.open_mode);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    SevenCheck check(&f);
    const FileOp step = c.forward ? FileOp::NEXT : FileOp::PREVIOUS;
    auto read = [&](bool skip) {
      FileArgs args;
      args.nomemo = true;
      args.skip = skip ? &check : nullptr;
      return DoFileOp(step, f, args);
    };
    std::vector<int32_t> want;
    for (int32_t id = 1; id <= kRows; ++id) {
      if (id % 7 == 3) want.push_back(id);
    }
    if (!c.forward) std::reverse(want.begin(), want.end());

    // Given a key-order read from the start with the check,
    FileArgs set;
    set.key = 0;
    ASSERT_EQ(DoFileOp(FileOp::SETkey, f, set), 0) << ERROR();
    std::vector<int32_t> got;
    int reads = 0;
    int rc = 0;
    while ((rc = read(true)) == 0) {
      ++reads;
      f.memo_values[0] = "untouched";
      if (check.Keep()) got.push_back(IdOf(f));
    }
    // then every kept row came out, and most others were passed over.
    EXPECT_EQ(rc, kRecordNotAvailable);
    EXPECT_EQ(got, want);
    EXPECT_LT(reads, kRows / 2);
    EXPECT_EQ(f.memo_values[0], "untouched");

    // When three kept rows were handed out, a read without the check reads
    // the row right after the third.
    ASSERT_EQ(DoFileOp(FileOp::SETkey, f, set), 0) << ERROR();
    int kept = 0;
    while (kept < 3) {
      ASSERT_EQ(read(true), 0) << ERROR();
      if (check.Keep()) ++kept;
    }
    const int32_t third = IdOf(f);
    ASSERT_EQ(third, want[2]);
    ASSERT_EQ(read(false), 0) << ERROR();
    EXPECT_EQ(IdOf(f), c.forward ? third + 1 : third - 1);
    DoFileOp(FileOp::CLOSE, f);
  }
}

// A filter that calls a bound procedure is never run inside the driver's
// read (the procedure might use a file), nor one that draws a random number
// (a record the driver keeps is checked again, and the draw must be made
// once); one that does neither is. Either way the rows kept are the same.
TEST_F(ViewReadTest, AFilterThatCannotBeRepeatedStaysOutOfTheDriversRead) {
  BoundProcedure seven;
  seven.result = ResultKind::Long;
  seven.min_args = 1;
  seven.max_args = 1;
  seven.fn = [](const EvalValue* args, int, std::string*) {
    return EvalValue::Long(AsLong(args[0]) % 7);
  };
  ASSERT_TRUE(BIND("SEVEN", std::move(seven)));
  MemoCountingDriver* counter = Counter();
  const struct {
    const char* filter;
    bool in_read;
  } cases[] = {
      {"VW:ID % 7 = 3", true},
      {"SEVEN(VW:ID) = 3", false},
      {"VW:ID % 7 = 3 AND RANDOM(1, 1) = 1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    FileDescriptor f = Table(path_, kOpenReadWriteDenyNone, "MEMOCOUNT");
    ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    View view;
    ASSERT_EQ(ViewBuilder(&f).Build(&view), 0);
    ViewEngine v(&view);
    ASSERT_EQ(v.Open(), 0);
    ASSERT_EQ(v.SetOrder("+VW:ID"), 0);
    ASSERT_EQ(v.SetFilter(c.filter), 0) << ERROR();
    counter->skip_reads = 0;
    std::vector<int32_t> got;
    while (v.Next() == 0) got.push_back(IdOf(f));
    std::vector<int32_t> want;
    for (int32_t id = 1; id <= kRows; ++id) {
      if (id % 7 == 3) want.push_back(id);
    }
    EXPECT_EQ(got, want);
    if (c.in_read) {
      EXPECT_GT(counter->skip_reads, 0);
    } else {
      EXPECT_EQ(counter->skip_reads, 0);
    }
    v.Close();
    DoFileOp(FileOp::CLOSE, f);
  }
}

}  // namespace
}  // namespace qzr
