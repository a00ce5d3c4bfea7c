// View engine over a Palisade file against SQLite: a page of 20 rows read
// from a remembered row in an order a key serves and in one the sorted list
// serves, building that list, and a full read through a filter that keeps 1%
// of the rows.
//
// The table has the catalogue's shape (ID, NAME, DESCRIPTION, LINK, POSTER,
// WORKING and a code memo of about 500 bytes), 20000 rows. SQLite holds the
// same rows (memo as TEXT) with an index for each order it is asked for, in
// the same process. Each benchmark times both sides itself and reports
// view_us and sqlite_us per operation and ratio_vs_sqlite = view / SQLite
// (below 1: the view is faster).

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
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/ufo.h"

namespace {

using namespace qzr;
using Clock = std::chrono::steady_clock;

constexpr int kRows = 20000;
constexpr int kPage = 20;

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("bench_views_") + std::to_string(::getpid()) + "_" + name))
      .string();
}

double Micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

struct Row {
  int32_t id;
  std::string name, description, link, poster, code;
};

std::vector<Row> MakeRows() {
  std::mt19937 rng(7);
  auto word = [&rng](size_t lo, size_t hi) {
    std::string s(lo + rng() % (hi - lo + 1), ' ');
    for (char& c : s) c = static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26);
    return s;
  };
  std::vector<std::string> posters;
  for (int i = 0; i < 200; ++i) posters.push_back(word(4, 12));
  std::vector<Row> rows;
  for (int i = 1; i <= kRows; ++i) {
    rows.push_back({i, word(8, 30), word(150, 250), "http://example.org/t/" + std::to_string(i),
                    posters[rng() % posters.size()], word(400, 600)});
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
                .Driver("PALISADE")
                .Name(plx_path_)
                .Attributes(kFileCreate)
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
    file_.open_mode = kOpenReadWriteDenyNone;
    if (DoFileOp(FileOp::OPEN, file_) != 0) std::abort();
    DoFileOp(FileOp::LOGOUT, file_);
    for (const Row& r : rows_) {
      std::fill(file_.record.begin(), file_.record.end(), 0);
      UfoLong(file_.FieldData(0)).SetLong(r.id);
      UfoCString(file_.FieldData(1), 100).SetText(r.name);
      UfoCString(file_.FieldData(2), 1024).SetText(r.description);
      UfoCString(file_.FieldData(3), 255).SetText(r.link);
      UfoCString(file_.FieldData(4), 30).SetText(r.poster);
      file_.memo_values[0] = r.code;
      if (DoFileOp(FileOp::ADD, file_) != 0) std::abort();
    }
    if (DoFileOp(FileOp::COMMIT, file_) != 0) std::abort();

    sqlite3_open(db_path_.c_str(), &db_);
    Exec("PRAGMA journal_mode=WAL");
    Exec(
        "CREATE TABLE func(id INTEGER PRIMARY KEY, name TEXT, description TEXT, link TEXT,"
        " poster TEXT, working INTEGER, code TEXT)");
    Exec("BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO func VALUES(?,?,?,?,?,0,?)", -1, &ins, nullptr);
    for (const Row& r : rows_) {
      sqlite3_bind_int(ins, 1, r.id);
      sqlite3_bind_text(ins, 2, r.name.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 3, r.description.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 4, r.link.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 5, r.poster.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 6, r.code.c_str(), -1, SQLITE_STATIC);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    Exec("COMMIT");
    Exec("CREATE INDEX by_name ON func(upper(name), id)");
    Exec("CREATE INDEX by_poster ON func(upper(poster), id)");

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

  // The view positions of every row in the order, for random starts.
  std::vector<std::string> Positions(ViewEngine* v) {
    std::vector<std::string> out;
    v->Set();
    while (v->Next() == 0) out.push_back(v->Position());
    return out;
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

// Reads `n` rows of a SQLite statement, touching every column.
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

void Report(benchmark::State& state, double view_us, double sqlite_us) {
  const double n = static_cast<double>(state.iterations());
  state.counters["view_us"] = view_us / n;
  state.counters["sqlite_us"] = sqlite_us / n;
  state.counters["ratio_vs_sqlite"] = sqlite_us > 0 ? view_us / sqlite_us : 0;
}

// A page of 20 rows from a remembered row: the view's Reset and 20 Next
// against a prepared range query on an index. `order` picks the access.
void PageFrom(benchmark::State& state, const char* order, const char* column) {
  Fixture& f = TheFixture();
  ViewEngine v(&f.view_);
  v.Open();
  if (v.SetOrder(order) != 0) std::abort();
  const std::vector<std::string> positions = f.Positions(&v);
  // Written so that SQLite searches its expression index from the start
  // value (a row-value comparison over expressions would scan it).
  const std::string col = std::string("upper(") + column + ")";
  const std::string sql = "SELECT * FROM func WHERE " + col + " >= upper(?1) AND (" + col +
                          " > upper(?1) OR id >= ?2) ORDER BY " + col + ", id LIMIT 20";
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(f.db_, sql.c_str(), -1, &s, nullptr);
  std::mt19937 rng(11);
  double view_us = 0, sqlite_us = 0;
  for (auto _ : state) {
    const size_t start = rng() % (positions.size() - kPage);
    auto t0 = Clock::now();
    v.Reset(positions[start]);
    int got = 0;
    while (got < kPage && v.Next() == 0) ++got;
    auto t1 = Clock::now();
    if (got != kPage) state.SkipWithError("short page");
    // The SQLite side starts from the same record's values.
    const Row& r = f.rows_[static_cast<size_t>(UfoLong(f.file_.FieldData(0)).GetLong() - 1)];
    const std::string& key = std::strcmp(column, "name") == 0 ? r.name : r.poster;
    auto t2 = Clock::now();
    sqlite3_bind_text(s, 1, key.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(s, 2, r.id);
    benchmark::DoNotOptimize(Drain(s, kPage));
    auto t3 = Clock::now();
    view_us += Micros(t0, t1);
    sqlite_us += Micros(t2, t3);
  }
  sqlite3_finalize(s);
  Report(state, view_us, sqlite_us);
}

void BM_PageInKeyOrder(benchmark::State& state) {
  PageFrom(state, "+UPPER(FUN:NAME)", "name");
}
BENCHMARK(BM_PageInKeyOrder);

void BM_PageInSortedListOrder(benchmark::State& state) {
  PageFrom(state, "+UPPER(FUN:POSTER),+FUN:ID", "poster");
}
BENCHMARK(BM_PageInSortedListOrder);

// Building the sorted list (one pass and a sort) against SQLite sorting the
// same order without an index and stepping through the result.
void BM_BuildSortedList(benchmark::State& state) {
  Fixture& f = TheFixture();
  ViewEngine v(&f.view_);
  v.Open();
  v.SetOrder("+UPPER(FUN:POSTER),+FUN:ID");
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(f.db_, "SELECT id FROM func NOT INDEXED ORDER BY upper(poster) || '', id", -1,
                     &s, nullptr);
  double view_us = 0, sqlite_us = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    v.Flush();
    v.Set();
    auto t1 = Clock::now();
    benchmark::DoNotOptimize(Drain(s, kRows));
    auto t2 = Clock::now();
    view_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  sqlite3_finalize(s);
  Report(state, view_us, sqlite_us);
}
BENCHMARK(BM_BuildSortedList)->Unit(benchmark::kMillisecond);

// The driver alone reading every row in key order (SETkey, then NEXT and
// POINTERfile per row, as the engine does): what the engine adds is the rest.
double DriverScanMicros(FileDescriptor& file, int key) {
  auto t0 = Clock::now();
  FileArgs set;
  set.key = key;
  DoFileOp(FileOp::SETkey, file, set);
  FileArgs args;
  while (DoFileOp(FileOp::NEXT, file, args) == 0) DoFileOp(FileOp::POINTERfile, file, args);
  return Micros(t0, Clock::now());
}

// Every row through a filter that keeps 1%, in primary-key order.
void BM_FilterOnePercent(benchmark::State& state) {
  Fixture& f = TheFixture();
  ViewEngine v(&f.view_);
  v.Open();
  v.SetOrder("+FUN:ID");
  v.SetFilter("FUN:ID % 100 = 0");
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(f.db_, "SELECT * FROM func WHERE id % 100 = 0 ORDER BY id", -1, &s, nullptr);
  double view_us = 0, sqlite_us = 0, driver_us = 0;
  for (auto _ : state) {
    driver_us += DriverScanMicros(f.file_, 1);
    auto t0 = Clock::now();
    v.Set();
    int got = 0;
    while (v.Next() == 0) ++got;
    auto t1 = Clock::now();
    const int sql_rows = Drain(s, kRows);
    auto t2 = Clock::now();
    if (got != kRows / 100 || sql_rows != got) state.SkipWithError("row counts differ");
    view_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  sqlite3_finalize(s);
  Report(state, view_us, sqlite_us);
  state.counters["driver_scan_us"] = driver_us / static_cast<double>(state.iterations());
  state.counters["ratio_vs_driver_scan"] = driver_us > 0 ? view_us / driver_us : 0;
}
BENCHMARK(BM_FilterOnePercent)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
