// The view manager over a Palisade file of the catalogue's shape against
// SQLite on the same rows: every row in key order, a filter that keeps 1%,
// the first page of 20 rows ordered by the upper-cased title, and the page
// after it (from the last row shown, as a browse pages), on a key and on an
// order no key serves (the sorted list the view keeps).
//
// 100000 rows: ID, NAME CSTRING(100), DESCRIPTION CSTRING(1024), FULLCODE,
// FORUMLINK CSTRING(255), USER CSTRING(30) and a code memo of about 500
// bytes. SQLite holds the same rows (code as TEXT) in one table with an
// index for the ordering a key serves, in the same process. Each benchmark
// times both sides itself and reports view_us and sqlite_us per operation
// and ratio_vs_sqlite = view / SQLite (below 1: the view manager is faster).

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "drivers/palisade/driver.h"
#include "framework/view_manager.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/ufo.h"

namespace {

using namespace qzr;
using Clock = std::chrono::steady_clock;

constexpr int kRows = 100000;
constexpr int kPage = 20;
constexpr char kNeedle[] = "qzrneedle";

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("bench_fw_views_") + std::to_string(::getpid()) + "_" + name))
      .string();
}

double Micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

struct Row {
  int32_t id;
  std::string name, description, link, user, code;
  uint8_t fullcode;
};

std::vector<Row> MakeRows() {
  std::mt19937 rng(7);
  auto word = [&rng](size_t lo, size_t hi) {
    std::string s(lo + rng() % (hi - lo + 1), ' ');
    for (char& c : s) c = static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26);
    return s;
  };
  std::vector<std::string> users;
  for (int i = 0; i < 200; ++i) users.push_back(word(4, 12));
  std::vector<Row> rows;
  rows.reserve(kRows);
  for (int i = 1; i <= kRows; ++i) {
    std::string description = word(150, 250);
    // One row in a hundred carries the needle the filter looks for.
    if (i % 100 == 37) description.replace(40, std::strlen(kNeedle), kNeedle);
    rows.push_back({i, word(8, 30), description, "http://forum.example/t/" + std::to_string(i),
                    users[rng() % users.size()], word(400, 600), static_cast<uint8_t>(rng() % 2)});
  }
  return rows;
}

class Fixture {
 public:
  Fixture() : rows_(MakeRows()) {
    RegisterPalisadeDriver();
    CreateEvaluator();
    plx_path_ = TempPath("FUNC.PLX");
    db_path_ = TempPath("func.db");
    file_ = FileDeclaration("FUNC", "FUN")
                .Driver(kPalisadeDriverName)
                .Name(plx_path_)
                .Attributes(kFileCreate)
                .Field("ID", TypeCode::LONG)
                .String("NAME", TypeCode::CSTRING, 100)
                .String("DESCRIPTION", TypeCode::CSTRING, 1024)
                .Field("FULLCODE", TypeCode::BYTE)
                .String("FORUMLINK", TypeCode::CSTRING, 255)
                .String("USER", TypeCode::CSTRING, 30)
                .Memo("EXAMPLECODE", 64000)
                .Key("P_ID", {{"ID"}}, kKeyPrimary)
                .Key("K_NAME", {{"NAME"}}, kKeyDup | kKeyNocase)
                .Build();
    file_.open_mode = kOpenReadWriteDenyNone;
    if (DoFileOp(FileOp::OPEN, file_) != 0) std::abort();
    DoFileOp(FileOp::LOGOUT, file_);
    for (const Row& r : rows_) {
      std::fill(file_.record.begin(), file_.record.end(), 0);
      UfoLong(file_.FieldData(0)).SetLong(r.id);
      UfoCString(file_.FieldData(1), 100).SetText(r.name);
      UfoCString(file_.FieldData(2), 1024).SetText(r.description);
      UfoByte(file_.FieldData(3)).SetLong(r.fullcode);
      UfoCString(file_.FieldData(4), 255).SetText(r.link);
      UfoCString(file_.FieldData(5), 30).SetText(r.user);
      file_.memo_values[0] = r.code;
      if (DoFileOp(FileOp::ADD, file_) != 0) std::abort();
    }
    if (DoFileOp(FileOp::COMMIT, file_) != 0) std::abort();

    sqlite3_open(db_path_.c_str(), &db_);
    Exec("PRAGMA journal_mode=WAL");
    Exec(
        "CREATE TABLE func(id INTEGER PRIMARY KEY, name TEXT, description TEXT,"
        " fullcode INTEGER, forumlink TEXT, user TEXT, examplecode TEXT)");
    Exec("BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO func VALUES(?,?,?,?,?,?,?)", -1, &ins, nullptr);
    for (const Row& r : rows_) {
      sqlite3_bind_int(ins, 1, r.id);
      sqlite3_bind_text(ins, 2, r.name.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 3, r.description.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(ins, 4, r.fullcode);
      sqlite3_bind_text(ins, 5, r.link.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 6, r.user.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 7, r.code.c_str(), -1, SQLITE_STATIC);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    Exec("COMMIT");
    Exec("CREATE INDEX by_name ON func(upper(name), id)");

    if (ViewBuilder(&file_).Build(&view_) != 0) std::abort();
  }
  ~Fixture() {
    sqlite3_close(db_);
    DoFileOp(FileOp::CLOSE, file_);
    std::filesystem::remove(plx_path_);
    std::filesystem::remove(db_path_);
    std::filesystem::remove(db_path_ + "-wal");
    std::filesystem::remove(db_path_ + "-shm");
  }

  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }

  std::vector<Row> rows_;
  std::string plx_path_, db_path_;
  FileDescriptor file_;
  View view_;
  sqlite3* db_ = nullptr;
};

Fixture* g_fixture = nullptr;

// Made at first use; closed, and its files removed, when the process ends.
Fixture& TheFixture() {
  if (g_fixture == nullptr) {
    g_fixture = new Fixture();
    std::atexit([] { delete g_fixture; });
  }
  return *g_fixture;
}

// A view manager over the fixture's view in the order `order`.
struct Manager {
  explicit Manager(const char* order) : engine(&TheFixture().view_) {
    vm.Init(&engine, static_cast<FileManager*>(nullptr), nullptr, &TheFixture().view_);
    vm.AddSortOrder();
    vm.SetOrder(order);
    if (vm.Open() != SeverityNone) std::abort();
  }
  ViewEngine engine;
  ViewManager vm;
};

// Reads up to `n` rows of a SQLite statement, touching every column.
int Drain(sqlite3_stmt* s, int n) {
  int rows = 0;
  while (rows < n && sqlite3_step(s) == SQLITE_ROW) {
    for (int c = 0; c < sqlite3_column_count(s); ++c)
      benchmark::DoNotOptimize(sqlite3_column_text(s, c));
    ++rows;
  }
  sqlite3_reset(s);
  return rows;
}

sqlite3_stmt* Prepare(const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(TheFixture().db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) std::abort();
  return s;
}

void Report(benchmark::State& state, double view_us, double sqlite_us) {
  const double n = static_cast<double>(state.iterations());
  state.counters["view_us"] = view_us / n;
  state.counters["sqlite_us"] = sqlite_us / n;
  state.counters["ratio_vs_sqlite"] = sqlite_us > 0 ? view_us / sqlite_us : 0;
}

// The driver alone reading every row in key order (SETkey, then NEXT and
// POINTERfile per row, as the view does underneath): what the view and the
// manager add is the rest.
double DriverScanMicros(FileDescriptor& file, int key) {
  auto t0 = Clock::now();
  FileArgs set;
  set.key = key;
  DoFileOp(FileOp::SETkey, file, set);
  FileArgs args;
  while (DoFileOp(FileOp::NEXT, file, args) == 0) DoFileOp(FileOp::POINTERfile, file, args);
  return Micros(t0, Clock::now());
}

// Every row in primary-key order.
void BM_KeyOrderRead(benchmark::State& state) {
  Manager m("+FUN:ID");
  sqlite3_stmt* s = Prepare("SELECT * FROM func ORDER BY id");
  double view_us = 0, sqlite_us = 0, driver_us = 0;
  for (auto _ : state) {
    driver_us += DriverScanMicros(TheFixture().file_, 0);
    auto t0 = Clock::now();
    m.vm.PositionAtStart();
    int got = 0;
    while (m.vm.Next() == SeverityNone) ++got;
    auto t1 = Clock::now();
    const int sql_rows = Drain(s, kRows);
    auto t2 = Clock::now();
    if (got != kRows || sql_rows != kRows) state.SkipWithError("row counts differ");
    view_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  sqlite3_finalize(s);
  Report(state, view_us, sqlite_us);
  state.counters["driver_scan_us"] = driver_us / static_cast<double>(state.iterations());
  state.counters["ratio_vs_driver_scan"] = driver_us > 0 ? view_us / driver_us : 0;
}
BENCHMARK(BM_KeyOrderRead)->Unit(benchmark::kMillisecond);

// Every row through a named filter that keeps 1%, in primary-key order.
void BM_FilterOnePercent(benchmark::State& state) {
  Manager m("+FUN:ID");
  m.vm.SetFilter(std::string("INSTRING('") + kNeedle + "', FUN:DESCRIPTION, 1, 1)", "find");
  sqlite3_stmt* s = Prepare(std::string("SELECT * FROM func WHERE instr(description, '") + kNeedle +
                            "') > 0 ORDER BY id");
  double view_us = 0, sqlite_us = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    m.vm.PositionAtStart();
    int got = 0;
    while (m.vm.Next() == SeverityNone) ++got;
    auto t1 = Clock::now();
    const int sql_rows = Drain(s, kRows);
    auto t2 = Clock::now();
    if (got != kRows / 100 || sql_rows != got) state.SkipWithError("row counts differ");
    view_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  sqlite3_finalize(s);
  Report(state, view_us, sqlite_us);
}
BENCHMARK(BM_FilterOnePercent)->Unit(benchmark::kMillisecond);

// The same 1% kept by a record filter (the hook a procedure overrides)
// instead of the view's filter: the hook reads the record buffer only, and
// says so, so the rows it drops have no memos read.
class NeedleView : public ViewManager {
 public:
  NeedleView() { SetRecordFilterReadsMemos(false); }
  RecordStatus ValidateRecord() override {
    const FileDescriptor* f = PrimaryDescriptor();
    const char* text = reinterpret_cast<const char*>(f->FieldData(2));
    std::string_view description(text, ::strnlen(text, 1024));
    return description.find(kNeedle) != std::string_view::npos ? RecordStatus::kOk
                                                               : RecordStatus::kFiltered;
  }
};

void BM_RecordFilterOnePercent(benchmark::State& state) {
  ViewEngine engine(&TheFixture().view_);
  NeedleView vm;
  vm.Init(&engine, static_cast<FileManager*>(nullptr), nullptr, &TheFixture().view_);
  vm.AddSortOrder();
  vm.SetOrder("+FUN:ID");
  if (vm.Open() != SeverityNone) std::abort();
  sqlite3_stmt* s = Prepare(std::string("SELECT * FROM func WHERE instr(description, '") + kNeedle +
                            "') > 0 ORDER BY id");
  double view_us = 0, sqlite_us = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    vm.PositionAtStart();
    int got = 0;
    while (vm.Next() == SeverityNone) ++got;
    auto t1 = Clock::now();
    const int sql_rows = Drain(s, kRows);
    auto t2 = Clock::now();
    if (got != kRows / 100 || sql_rows != got) state.SkipWithError("row counts differ");
    view_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  sqlite3_finalize(s);
  Report(state, view_us, sqlite_us);
}
BENCHMARK(BM_RecordFilterOnePercent)->Unit(benchmark::kMillisecond);

// The first page, and the page after it, in `order`. The next page starts
// from the last row shown, as a browse does: the view is put back on that
// row's position and reads on past it. SQLite runs LIMIT 20 OFFSET k.
void Pages(benchmark::State& state, const char* order, const char* sql_order, bool next) {
  Manager m(order);
  sqlite3_stmt* s =
      Prepare(std::string("SELECT * FROM func ORDER BY ") + sql_order + " LIMIT 20 OFFSET ?1");
  // The position of the last row of the first page.
  m.vm.PositionAtStart();
  for (int i = 0; i < kPage; ++i) m.vm.Next();
  const std::string last = m.vm.Position();
  double view_us = 0, sqlite_us = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    int got = 0;
    if (next) {
      m.vm.PositionAt(last);
      // The first row read is the one the view was put back on.
      if (m.vm.Next() != SeverityNone) state.SkipWithError("edge row gone");
    } else {
      m.vm.PositionAtStart();
    }
    while (got < kPage && m.vm.Next() == SeverityNone) ++got;
    auto t1 = Clock::now();
    sqlite3_bind_int(s, 1, next ? kPage : 0);
    const int sql_rows = Drain(s, kPage);
    auto t2 = Clock::now();
    if (got != kPage || sql_rows != kPage) state.SkipWithError("short page");
    view_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  sqlite3_finalize(s);
  Report(state, view_us, sqlite_us);
}

// A NOCASE key on the title serves the order; SQLite has the matching index.
void BM_FirstPageByUpperTitle(benchmark::State& state) {
  Pages(state, "+UPPER(FUN:NAME)", "upper(name), id", false);
}
BENCHMARK(BM_FirstPageByUpperTitle);

void BM_NextPageByUpperTitle(benchmark::State& state) {
  Pages(state, "+UPPER(FUN:NAME)", "upper(name), id", true);
}
BENCHMARK(BM_NextPageByUpperTitle);

// No key serves the poster's name (as when a column header asks for an
// order of its own): the view keeps a sorted list once built; SQLite sorts
// for each query (it has no index on that column either).
void BM_FirstPageByUpperUser(benchmark::State& state) {
  Pages(state, "+UPPER(FUN:USER),+FUN:ID", "upper(user), id", false);
}
BENCHMARK(BM_FirstPageByUpperUser);

void BM_NextPageByUpperUser(benchmark::State& state) {
  Pages(state, "+UPPER(FUN:USER),+FUN:ID", "upper(user), id", true);
}
BENCHMARK(BM_NextPageByUpperUser);

}  // namespace

BENCHMARK_MAIN();
