// The main window's browse over FUNC against SQLite on the same entries, at
// 10000 and 100000 entries: what the user waits for when the window opens,
// pages, sorts by a header and finds.
//
//   OpenToFirstPage     the browse made, its view opened and the first page
//                       filled, in the file's own order; SQLite prepares
//                       and runs "... LIMIT 20"
//   PageDown            one page further (from the top again at the end);
//                       SQLite "... LIMIT 20 OFFSET k" for the same page
//   HeaderClickToFirstPage  the order by the upper-cased title (ascending and
//                       descending in turn, so each click sorts anew) and the
//                       first page in it; SQLite "ORDER BY upper(name), id
//                       LIMIT 20" without an index (the view has none either)
//   NextPageSorted      a page further in the title order; SQLite the same
//                       ORDER BY with OFFSET
//   FindRefill          the quick find on (a text in the code of 1% of the
//                       entries, case ignored, the code searched) and the
//                       list refilled from the top; SQLite instr(upper(...))
//                       over the text columns and the code, LIMIT 20
//
// Entries: a title of 8-30 characters, a description of 150-250, a link, a
// poster and about 500 bytes of code. The list shows 20 rows. Each case
// reports browse_us, sqlite_us and ratio_vs_sqlite = browse / SQLite (below
// 1: the browse is faster), and the records the browse read per operation
// (counted by a driver in front of Palisade).

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/func_file.h"
#include "app/quick_find.h"
#include "data/file_driver.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "drivers/palisade/driver.h"
#include "framework/browse_manager.h"
#include "framework/counting_driver.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/queue.h"
#include "runtime/values/ufo.h"
#include "ui/event.h"

namespace {

using namespace qzr;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kListRows = 20;
constexpr char kNeedle[] = "QzrNeedle";

double Micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

struct Entry {
  int32_t id;
  std::string name, description, link, user, code;
  uint8_t fullcode;
};

std::vector<Entry> MakeEntries(int n) {
  std::mt19937 rng(11);
  auto word = [&rng](size_t lo, size_t hi) {
    std::string s(lo + rng() % (hi - lo + 1), ' ');
    for (char& c : s) c = static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26);
    return s;
  };
  std::vector<Entry> entries;
  entries.reserve(static_cast<size_t>(n));
  for (int i = 1; i <= n; ++i) {
    std::string code = word(400, 600);
    if (i % 100 == 37) code.replace(200, std::strlen(kNeedle), kNeedle);
    entries.push_back({i, word(8, 30), word(150, 250),
                       "http://forum.example/t/" + std::to_string(i), word(4, 12), code,
                       static_cast<uint8_t>(rng() % 2)});
  }
  return entries;
}

// A catalogue of n entries in FUNC (Palisade) and in SQLite.
class DataSet {
 public:
  explicit DataSet(int n) : n_(n) {
    RegisterPalisadeDriver();
    counter_ = CountingDriver::Install(kPalisadeDriverName);
    CreateEvaluator();
    dir_ = fs::temp_directory_path() /
           ("bench_browse_" + std::to_string(::getpid()) + "_" + std::to_string(n));
    fs::create_directories(dir_);
    file_ = FuncDeclaration();
    file_.name = (dir_ / "FUNC.PLX").string();
    file_.open_mode = kOpenReadWriteDenyNone;
    if (DoFileOp(FileOp::OPEN, file_) != 0) std::abort();
    const std::vector<Entry> entries = MakeEntries(n);
    DoFileOp(FileOp::LOGOUT, file_);
    for (const Entry& e : entries) {
      WriteFuncEntry(&file_, {e.id, e.name, e.description, e.code, e.fullcode != 0, e.link, e.user},
                     true);
      if (DoFileOp(FileOp::ADD, file_) != 0) std::abort();
    }
    if (DoFileOp(FileOp::COMMIT, file_) != 0) std::abort();
    // The program finds the catalogue made by an earlier run: open afresh.
    DoFileOp(FileOp::CLOSE, file_);
    if (DoFileOp(FileOp::OPEN, file_) != 0) std::abort();

    sqlite3_open((dir_ / "func.db").string().c_str(), &db_);
    Exec("PRAGMA journal_mode=WAL");
    Exec(
        "CREATE TABLE func(id INTEGER PRIMARY KEY, name TEXT, description TEXT,"
        " fullcode INTEGER, forumlink TEXT, user TEXT, examplecode TEXT)");
    Exec("BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO func VALUES(?,?,?,?,?,?,?)", -1, &ins, nullptr);
    for (const Entry& e : entries) {
      sqlite3_bind_int(ins, 1, e.id);
      sqlite3_bind_text(ins, 2, e.name.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 3, e.description.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(ins, 4, e.fullcode);
      sqlite3_bind_text(ins, 5, e.link.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 6, e.user.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 7, e.code.c_str(), -1, SQLITE_STATIC);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    Exec("COMMIT");
    if (BuildView() != 0) std::abort();
  }
  ~DataSet() {
    sqlite3_close(db_);
    DoFileOp(FileOp::CLOSE, file_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  int BuildView() {
    return ViewBuilder(&file_)
        .Project({"FUN:FULLCODE", "FUN:NAME", "FUN:DESCRIPTION"})
        .ProjectMemo("FUN:EXAMPLECODE")
        .Project({"FUN:ID", "FUN:FORUMLINK"})
        .Build(&view_);
  }
  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) std::abort();
    return s;
  }

  int n_;
  fs::path dir_;
  FileDescriptor file_;
  View view_;
  sqlite3* db_ = nullptr;
  CountingDriver* counter_ = nullptr;
};

DataSet& Data(int n) {
  static std::map<int, std::unique_ptr<DataSet>> sets;
  auto& slot = sets[n];
  if (!slot) slot = std::make_unique<DataSet>(n);
  return *slot;
}

// The main window's list: its row layout, a list 20 rows high.
struct ListRow {
  uint8_t FULLCODE;
  int32_t FULLCODE_ICON;
  char NAME[100];
  char DESCRIPTION[1024];
  char EXAMPLECODE[64000];
  char FORUMLINK[255];
  int32_t ID;
  uint8_t MARK;
  char VIEWPOSITION[1024];
};

class BenchList : public BrowseListControl {
 public:
  int32_t Choice() override { return choice_; }
  void SetChoice(int32_t row) override { choice_ = row; }
  int32_t Items() override { return kListRows; }
  bool Visible() override { return true; }

 private:
  int32_t choice_ = 0;
};

// The browse with the quick find as its record filter.
class FindBrowse : public BrowseManager {
 public:
  RecordStatus ValidateRecord() override {
    RecordStatus s = BrowseManager::ValidateRecord();
    if (s != RecordStatus::kOk) return s;
    return QuickFindPasses(*PrimaryDescriptor(), find) ? RecordStatus::kOk
                                                       : RecordStatus::kFiltered;
  }
  QuickFindSettings find;
};

struct Browser {
  explicit Browser(DataSet& d)
      : engine(&d.view_),
        queue(std::make_unique<Queue<ListRow>>()),
        rows(queue.get(), 9, {&d.file_}) {
    Queue<ListRow>& q = *queue;
    q.Field("FUN:FULLCODE", &ListRow::FULLCODE);
    q.Field("FUN:FULLCODE_ICON", &ListRow::FULLCODE_ICON);
    q.Field("FUN:NAME", &ListRow::NAME, TypeCode::CSTRING);
    q.Field("FUN:DESCRIPTION", &ListRow::DESCRIPTION, TypeCode::CSTRING);
    q.Field("FUN:EXAMPLECODE", &ListRow::EXAMPLECODE);
    q.Field("FUN:FORUMLINK", &ListRow::FORUMLINK, TypeCode::CSTRING);
    q.Field("FUN:ID", &ListRow::ID);
    q.Field("MARK", &ListRow::MARK);
    q.Field("VIEWPOSITION", &ListRow::VIEWPOSITION);
    rows.AddField(&d.file_, kFunFullCode, 1);
    rows.AddField(&d.file_, kFunName, 3);
    rows.AddField(&d.file_, kFunDescription, 4);
    rows.AddMemo(&d.file_, kFunExampleCode, 5);
    rows.AddField(&d.file_, kFunForumLink, 6);
    rows.AddField(&d.file_, kFunId, 7);
    browse.Init(&list, &engine, &rows, static_cast<RelationManager*>(nullptr), &d.view_);
    browse.AddSortOrder(-1);
    if (browse.Open() != SeverityNone) std::abort();
  }
  ViewEngine engine;
  std::unique_ptr<Queue<ListRow>> queue;
  BrowseListRows rows;
  BenchList list;
  FindBrowse browse;
};

// Reads a page of a SQLite statement, touching every column.
int Drain(sqlite3_stmt* s) {
  int rows = 0;
  while (rows < kListRows && sqlite3_step(s) == SQLITE_ROW) {
    for (int c = 0; c < sqlite3_column_count(s); ++c) {
      benchmark::DoNotOptimize(sqlite3_column_text(s, c));
    }
    ++rows;
  }
  sqlite3_reset(s);
  return rows;
}

constexpr char kColumns[] =
    "SELECT fullcode, name, description, examplecode, forumlink, id FROM func";

void Report(benchmark::State& state, double browse_us, double sqlite_us, int64_t reads) {
  const double n = static_cast<double>(state.iterations());
  state.counters["browse_us"] = browse_us / n;
  state.counters["sqlite_us"] = sqlite_us / n;
  state.counters["ratio_vs_sqlite"] = sqlite_us > 0 ? browse_us / sqlite_us : 0;
  state.counters["records_read"] = static_cast<double>(reads) / n;
}

void BM_OpenToFirstPage(benchmark::State& state) {
  DataSet& d = Data(static_cast<int>(state.range(0)));
  double browse_us = 0, sqlite_us = 0;
  int64_t reads = 0;
  for (auto _ : state) {
    d.counter_->Reset();
    auto t0 = Clock::now();
    {
      Browser b(d);
      b.browse.ResetBrowse(false);
      if (b.rows.Records() != kListRows) state.SkipWithError("short first page");
    }
    auto t1 = Clock::now();
    reads += d.counter_->reads();
    sqlite3_stmt* s = d.Prepare(std::string(kColumns) + " LIMIT 20");
    const int got = Drain(s);
    sqlite3_finalize(s);
    auto t2 = Clock::now();
    if (got != kListRows) state.SkipWithError("short SQLite page");
    browse_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  Report(state, browse_us, sqlite_us, reads);
}
BENCHMARK(BM_OpenToFirstPage)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Pages through the whole catalogue, a page per iteration, from the top
// again at the end; SQLite runs the same page by OFFSET.
void Paging(benchmark::State& state, const char* order, const char* sql_order) {
  DataSet& d = Data(static_cast<int>(state.range(0)));
  Browser b(d);
  if (order[0] != '\0') b.browse.SelectOrderText(order);
  b.browse.ResetBrowse(false);
  sqlite3_stmt* s = d.Prepare(std::string(kColumns) + sql_order + " LIMIT 20 OFFSET ?1");
  double browse_us = 0, sqlite_us = 0;
  int64_t reads = 0;
  int page = 0;
  const int pages = d.n_ / kListRows;
  for (auto _ : state) {
    if (++page >= pages) {
      page = 0;
      b.browse.HandleScroll(EVENT::ScrollTop, 0);  // untimed
    }
    d.counter_->Reset();
    auto t0 = Clock::now();
    if (page > 0) b.browse.HandleScroll(EVENT::PageDown, 0);
    auto t1 = Clock::now();
    reads += d.counter_->reads();
    sqlite3_bind_int(s, 1, page * kListRows);
    const int got = Drain(s);
    auto t2 = Clock::now();
    if (got != kListRows) state.SkipWithError("short SQLite page");
    browse_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  sqlite3_finalize(s);
  Report(state, browse_us, sqlite_us, reads);
}

void BM_PageDown(benchmark::State& state) {
  Paging(state, "", "");
}
BENCHMARK(BM_PageDown)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_NextPageSorted(benchmark::State& state) {
  Paging(state, "+UPPER(FUN:NAME),+FUN:ID", " ORDER BY upper(name), id");
}
BENCHMARK(BM_NextPageSorted)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_HeaderClickToFirstPage(benchmark::State& state) {
  DataSet& d = Data(static_cast<int>(state.range(0)));
  Browser b(d);
  b.browse.ResetBrowse(false);
  sqlite3_stmt* up = d.Prepare(std::string(kColumns) + " ORDER BY upper(name), id LIMIT 20");
  sqlite3_stmt* down = d.Prepare(std::string(kColumns) + " ORDER BY upper(name) DESC, id LIMIT 20");
  double browse_us = 0, sqlite_us = 0;
  int64_t reads = 0;
  bool ascending = false;
  for (auto _ : state) {
    ascending = !ascending;
    d.counter_->Reset();
    auto t0 = Clock::now();
    b.browse.SelectOrderText(ascending ? "+UPPER(FUN:NAME),+FUN:ID" : "-UPPER(FUN:NAME),+FUN:ID");
    b.browse.RefillList(kRefillFromStart);
    auto t1 = Clock::now();
    reads += d.counter_->reads();
    const int got = Drain(ascending ? up : down);
    auto t2 = Clock::now();
    if (got != kListRows || b.rows.Records() != kListRows) state.SkipWithError("short page");
    browse_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  sqlite3_finalize(up);
  sqlite3_finalize(down);
  Report(state, browse_us, sqlite_us, reads);
}
BENCHMARK(BM_HeaderClickToFirstPage)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FindRefill(benchmark::State& state) {
  DataSet& d = Data(static_cast<int>(state.range(0)));
  Browser b(d);
  b.browse.ResetBrowse(false);
  sqlite3_stmt* s = d.Prepare(
      std::string(kColumns) +
      " WHERE instr(upper(name || ' ' || description || ' ' || forumlink || ' ' || user ||"
      " ' ' || id || ' ' || fullcode), upper(?1)) > 0 OR instr(upper(examplecode), upper(?1)) > 0"
      " LIMIT 20");
  sqlite3_bind_text(s, 1, kNeedle, -1, SQLITE_STATIC);
  double browse_us = 0, sqlite_us = 0;
  int64_t reads = 0;
  for (auto _ : state) {
    d.counter_->Reset();
    auto t0 = Clock::now();
    b.browse.find = MakeQuickFind(kNeedle, true, true);
    b.browse.RefillList(kRefillFromStart);
    auto t1 = Clock::now();
    reads += d.counter_->reads();
    const int got = Drain(s);
    auto t2 = Clock::now();
    if (got != kListRows || b.rows.Records() != kListRows) state.SkipWithError("short page");
    browse_us += Micros(t0, t1);
    sqlite_us += Micros(t1, t2);
  }
  sqlite3_finalize(s);
  Report(state, browse_us, sqlite_us, reads);
}
BENCHMARK(BM_FindRefill)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
