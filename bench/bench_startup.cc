// Start-up of the program, in this process: what each start does from
// nothing (no toolkit, no runtime, the catalogue closed). The locale tables
// are built on first use, once per process; each start here forgets them
// first, so that it pays for them as a new process would.
//
//   StartupToFirstPaint   the main window built, shown and painted over its
//                         first page, on the Qt toolkit offscreen, over a
//                         catalogue of 10000 and of 100000 entries (in turn,
//                         so both see the same machine); the window closes
//                         at its first wait for input. The first page does
//                         not depend on the catalogue's size, so the two
//                         should be close. Reports startup_10k_ms,
//                         startup_100k_ms and ratio_100k_to_10k.
//   CommandStart          the command line's `eval 1+1` (the program's start
//                         and end with nothing opened) and `show ID --json`
//                         over the 10000 entries (start, FUNC opened, one
//                         entry read by key and printed, end), against
//                         SQLite opening a database of the same entries,
//                         reading the row by key into the same JSON and
//                         closing. Reports eval_ms, show_ms, sqlite_show_ms
//                         and show_to_sqlite. What a whole process adds
//                         (loading, its first touch of every page) is not
//                         here: scripts/bench-commands times that.
//
// Entries: a title of 8-30 characters, a description of 150-250, a link, a
// poster and about 500 bytes of code.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/commands.h"
#include "app/entry_formats.h"
#include "app/main_browse.h"
#include "app/program.h"
#include "runtime/settings/locale_data.h"
#include "ui/qt/screenshots.h"

namespace {

using namespace qzr;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::vector<FuncEntry> MakeEntries(int n) {
  std::mt19937 rng(5);
  auto word = [&rng](size_t lo, size_t hi) {
    std::string s(lo + rng() % (hi - lo + 1), ' ');
    for (char& c : s) c = static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26);
    return s;
  };
  std::vector<FuncEntry> entries;
  entries.reserve(static_cast<size_t>(n));
  for (int i = 1; i <= n; ++i) {
    FuncEntry e;
    e.title = word(8, 30);
    e.description = word(150, 250);
    e.code = word(400, 600);
    e.complete = rng() % 2 == 0;
    e.link = "http://forum.example/t/" + std::to_string(i);
    e.posted_by = word(4, 12);
    entries.push_back(std::move(e));
  }
  return entries;
}

// A folder holding a catalogue of n entries and the program's settings.
class CatalogueDir {
 public:
  explicit CatalogueDir(int n)
      : dir_(fs::temp_directory_path() /
             ("bench_startup_" + std::to_string(::getpid()) + "_" + std::to_string(n))) {
    fs::create_directories(dir_);
    Enter enter(dir_);
    entries_ = MakeEntries(n);
    const std::vector<FuncEntry>& entries = entries_;
    bool made = false;
    RunProgram([&] {
      Catalogue c;
      CatalogueError error;
      std::vector<int32_t> ids;
      made = c.Import(entries, true, &ids, &error);
    });
    if (!made) std::abort();
  }
  ~CatalogueDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts the program in the folder and returns the milliseconds to the
  // main window's first wait for input.
  double StartToFirstPaint() {
    Enter enter(dir_);
    ScreenshotRun run;
    run.output_dir = (dir_ / "shots").string();
    Clock::time_point shown;
    run.steps = {[&shown](ScreenshotUser& user) {
      shown = Clock::now();
      user.Close();
    }};
    char name[] = "bench_startup";
    char* argv[] = {name, nullptr};
    int argc = 1;
    ResetLocaleForTesting();
    const Clock::time_point start = Clock::now();
    if (RunScreenshots(argc, argv, run, [] { return RunProgram(Main); }) != 0) std::abort();
    return std::chrono::duration<double, std::milli>(shown - start).count();
  }

  // Runs the command line's `args` in the folder as the program would
  // (output discarded) and returns its milliseconds.
  double Command(const std::vector<std::string>& args) {
    Enter enter(dir_);
    NullTextOut out, err;
    StringTextIn in;
    CommandIo io;
    io.in = &in;
    io.out = &out;
    io.err = &err;
    ResetLocaleForTesting();
    const Clock::time_point start = Clock::now();
    if (RunCommandLine(args, io) != 0) std::abort();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

  // The same entries in an SQLite database (made on first use).
  const std::string& SqlitePath() {
    if (!sqlite_path_.empty()) return sqlite_path_;
    sqlite_path_ = (dir_ / "func.sqlite").string();
    sqlite3* db = nullptr;
    sqlite3_open(sqlite_path_.c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE func(id INTEGER PRIMARY KEY, name TEXT, description TEXT, "
                 "fullcode INTEGER, forumlink TEXT, user TEXT, examplecode TEXT); BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO func VALUES (?, ?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
    int id = 0;
    for (const FuncEntry& e : entries_) {
      sqlite3_bind_int(insert, 1, ++id);
      sqlite3_bind_text(insert, 2, e.title.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(insert, 3, e.description.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(insert, 4, e.complete ? 1 : 0);
      sqlite3_bind_text(insert, 5, e.link.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(insert, 6, e.posted_by.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(insert, 7, e.code.c_str(), -1, SQLITE_STATIC);
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return sqlite_path_;
  }

  size_t size() const { return entries_.size(); }

 private:
  class NullTextOut : public TextOut {
   protected:
    bool Write(const char*, size_t) override { return true; }
  };

  // The program finds its catalogue and settings in the working folder.
  struct Enter {
    explicit Enter(const fs::path& dir) : old(fs::current_path()) {
      fs::current_path(dir);
      ::setenv("QZR_CONFIG_DIR", dir.c_str(), 1);
    }
    ~Enter() { fs::current_path(old); }
    fs::path old;
  };

  fs::path dir_;
  std::vector<FuncEntry> entries_;
  std::string sqlite_path_;
};

// SQLite's side of `show ID --json`: open, read the row by key into the
// command's JSON, close. Returns the milliseconds.
double SqliteShow(const std::string& path, int id) {
  const Clock::time_point start = Clock::now();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    std::abort();
  }
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM func WHERE id = ?1", -1, &s, nullptr);
  sqlite3_bind_int(s, 1, id);
  if (sqlite3_step(s) != SQLITE_ROW) std::abort();
  auto text = [s](int i) {
    const unsigned char* t = sqlite3_column_text(s, i);
    return t == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(t));
  };
  FuncEntry e;
  e.id = sqlite3_column_int(s, 0);
  e.title = text(1);
  e.description = text(2);
  e.complete = sqlite3_column_int(s, 3) == 1;
  e.link = text(4);
  e.posted_by = text(5);
  e.code = text(6);
  const std::string json = EntryToJson(e) + "\n";
  benchmark::DoNotOptimize(json.data());
  sqlite3_finalize(s);
  sqlite3_close(db);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void StartupToFirstPaint(benchmark::State& state) {
  static CatalogueDir small(10000);
  static CatalogueDir large(100000);
  double small_ms = 0;
  double large_ms = 0;
  for (auto _ : state) {
    const double a = small.StartToFirstPaint();
    const double b = large.StartToFirstPaint();
    small_ms += a;
    large_ms += b;
    state.SetIterationTime((a + b) / 1000.0);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["startup_10k_ms"] = small_ms / n;
  state.counters["startup_100k_ms"] = large_ms / n;
  state.counters["ratio_100k_to_10k"] = large_ms / small_ms;
}
BENCHMARK(StartupToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void CommandStart(benchmark::State& state) {
  static CatalogueDir small(10000);
  const int id = static_cast<int>(small.size() / 2);
  const std::string& db = small.SqlitePath();
  double eval_ms = 0;
  double show_ms = 0;
  double sqlite_ms = 0;
  for (auto _ : state) {
    const double a = small.Command({"eval", "1+1"});
    const double b = small.Command({"show", std::to_string(id), "--json"});
    const double c = SqliteShow(db, id);
    eval_ms += a;
    show_ms += b;
    sqlite_ms += c;
    state.SetIterationTime((a + b + c) / 1000.0);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["eval_ms"] = eval_ms / n;
  state.counters["show_ms"] = show_ms / n;
  state.counters["sqlite_show_ms"] = sqlite_ms / n;
  state.counters["show_to_sqlite"] = show_ms / sqlite_ms;
}
BENCHMARK(CommandStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
