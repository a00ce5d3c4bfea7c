// Benchmarks of the qzrfunctions commands against SQLite on the same data:
// the demo catalogue (the Python standard library's functions, from
// scripts/demo-data) and 100k entries made by repeating it.
//
// Each qzrfunctions case runs the whole command in this process as a user
// runs it (program start-up, opening FUNC, the work, shut-down) with its
// output going to a discarding stream; each SQLite case opens its database,
// does the equivalent work (the same JSON written for every row it returns)
// and closes it. Compare the pairs:
//   Import/...          import FILE               INSERTs in one transaction
//   FindFrequent/...    find return --json       instr(upper(...)) over the
//   FindAbsent/...      find zqxjzqxj --json     text columns and the code
//   Show/...            show ID --json           SELECT by primary key
// The counters give the data file sizes.
//
// Run: build with -DQZR_BENCH=ON (Release) and run bench_app; the data is
// made once per run in a temporary directory (needs python3) and removed at
// the end.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/entry_formats.h"
#include "app/func_file.h"

namespace qzr {
namespace {

namespace fs = std::filesystem;

constexpr size_t kBigCount = 100000;
constexpr char kFrequent[] = "return";
constexpr char kAbsent[] = "zqxjzqxj";

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct DataSet {
  std::string name;
  std::string json_path;
  std::vector<FuncEntry> entries;
  std::string palisade_dir;  // holds FUNC.PLX with the entries
  std::string sqlite_path;
};

struct Data {
  std::string root;
  DataSet demo, big;
};

// Output of a command, discarded.
class NullTextOut : public TextOut {
 protected:
  bool Write(const char*, size_t) override { return true; }
};

int Command(const std::vector<std::string>& args, const std::string& dir) {
  NullTextOut out, err;
  StringTextIn in;
  CommandIo io;
  io.in = &in;
  io.out = &out;
  io.err = &err;
  fs::path old = fs::current_path();
  fs::current_path(dir);
  int code = RunCommandLine(args, io);
  fs::current_path(old);
  return code;
}

void Sql(sqlite3* db, const char* text) {
  char* error = nullptr;
  if (sqlite3_exec(db, text, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error);
    std::abort();
  }
}

// The SQLite side of an import: parse the JSON as the command does, insert
// every entry in one transaction.
void SqliteImport(const std::string& json_path, const std::string& db_path) {
  std::ifstream in(json_path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  std::vector<EntryFields> fields;
  std::string error;
  if (!ParseJsonEntries(all.str(), &fields, &error)) std::abort();
  fs::remove(db_path);
  sqlite3* db = nullptr;
  sqlite3_open(db_path.c_str(), &db);
  Sql(db,
      "CREATE TABLE func(id INTEGER PRIMARY KEY, name TEXT, description TEXT, fullcode "
      "INTEGER, forumlink TEXT, user TEXT, examplecode TEXT)");
  Sql(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO func(name, description, fullcode, forumlink, user, "
                     "examplecode) VALUES (?, ?, ?, ?, ?, ?)",
                     -1, &insert, nullptr);
  for (const EntryFields& f : fields) {
    FuncEntry e;
    ApplyEntryFields(f, &e);
    sqlite3_bind_text(insert, 1, e.title.data(), static_cast<int>(e.title.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 2, e.description.data(), static_cast<int>(e.description.size()),
                      SQLITE_STATIC);
    sqlite3_bind_int(insert, 3, e.complete ? 1 : 0);
    sqlite3_bind_text(insert, 4, e.link.data(), static_cast<int>(e.link.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 5, e.posted_by.data(), static_cast<int>(e.posted_by.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(insert, 6, e.code.data(), static_cast<int>(e.code.size()), SQLITE_STATIC);
    if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Sql(db, "COMMIT");
  sqlite3_close(db);
}

std::string Column(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t == nullptr ? std::string()
                      : std::string(reinterpret_cast<const char*>(t),
                                    static_cast<size_t>(sqlite3_column_bytes(s, i)));
}

// Runs `query` (with `text` bound to ?1 when given, or `id` to ?1) and
// writes each row as the command's JSON line; returns the rows.
size_t SqliteRows(const std::string& db_path, const char* query, const std::string* text, int id) {
  NullBuffer null;
  std::ostream out(&null);
  sqlite3* db = nullptr;
  sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, query, -1, &s, nullptr);
  if (text != nullptr) {
    sqlite3_bind_text(s, 1, text->data(), static_cast<int>(text->size()), SQLITE_STATIC);
  } else {
    sqlite3_bind_int(s, 1, id);
  }
  size_t rows = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    FuncEntry e;
    e.id = sqlite3_column_int(s, 0);
    e.title = Column(s, 1);
    e.description = Column(s, 2);
    e.complete = sqlite3_column_int(s, 3) == 1;
    e.link = Column(s, 4);
    e.posted_by = Column(s, 5);
    e.code = Column(s, 6);
    out << EntryToJson(e) << "\n";
    ++rows;
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rows;
}

constexpr char kFindQuery[] =
    "SELECT id, name, description, fullcode, forumlink, user, examplecode FROM func WHERE "
    "instr(upper(name), ?1) OR instr(upper(description), ?1) OR instr(upper(forumlink), ?1) OR "
    "instr(upper(user), ?1) OR instr(upper(examplecode), ?1) ORDER BY id";
constexpr char kShowQuery[] =
    "SELECT id, name, description, fullcode, forumlink, user, examplecode FROM func WHERE id = ?1";

void Prepare(DataSet* set, const std::string& root) {
  set->palisade_dir = root + "/" + set->name + "_plx";
  set->sqlite_path = root + "/" + set->name + ".sqlite";
  fs::create_directories(set->palisade_dir);
  if (Command({"import", set->json_path}, set->palisade_dir) != 0) {
    std::fprintf(stderr, "bench_app: importing %s failed\n", set->json_path.c_str());
    std::abort();
  }
  SqliteImport(set->json_path, set->sqlite_path);
}

Data& TheData() {
  static Data* data = [] {
    auto* d = new Data;
    char tmpl[] = "/tmp/qzr_bench_app_XXXXXX";
    d->root = mkdtemp(tmpl);
    std::string script = fs::path(QZR_SOURCE_DIR) / "scripts/demo-data";
    d->demo.name = "demo";
    d->demo.json_path = d->root + "/demo.json";
    std::string cmd = "python3 '" + script + "' > '" + d->demo.json_path + "' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "bench_app: %s failed\n", cmd.c_str());
      std::abort();
    }
    std::ifstream in(d->demo.json_path);
    std::stringstream all;
    all << in.rdbuf();
    std::vector<EntryFields> fields;
    std::string error;
    if (!ParseJsonEntries(all.str(), &fields, &error)) std::abort();
    for (const EntryFields& f : fields) {
      FuncEntry e;
      ApplyEntryFields(f, &e);
      d->demo.entries.push_back(e);
    }
    d->big.name = "big";
    d->big.json_path = d->root + "/big.json";
    {
      std::ofstream big(d->big.json_path, std::ios::binary);
      big << "[\n";
      for (size_t i = 0; i < kBigCount; ++i) {
        FuncEntry e = d->demo.entries[i % d->demo.entries.size()];
        e.id = static_cast<int32_t>(i + 1);
        big << (i ? ",\n" : "") << EntryToJson(e);
        d->big.entries.push_back(std::move(e));
      }
      big << "\n]\n";
    }
    Prepare(&d->demo, d->root);
    Prepare(&d->big, d->root);
    // About 400 MB of data for the 100k set: gone when the run ends.
    std::atexit([] { fs::remove_all(TheData().root); });
    return d;
  }();
  return *data;
}

DataSet& Set(const benchmark::State& state) {
  return state.range(0) == 0 ? TheData().demo : TheData().big;
}

void Sizes(benchmark::State& state, const DataSet& set) {
  state.counters["entries"] = static_cast<double>(set.entries.size());
  state.counters["plx_bytes"] = static_cast<double>(fs::file_size(set.palisade_dir + "/FUNC.PLX"));
  state.counters["sqlite_bytes"] = static_cast<double>(fs::file_size(set.sqlite_path));
  state.counters["json_bytes"] = static_cast<double>(fs::file_size(set.json_path));
}

void BM_Import(benchmark::State& state) {
  DataSet& set = Set(state);
  std::string dir = TheData().root + "/import_" + set.name;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(dir);
    fs::create_directories(dir);
    state.ResumeTiming();
    if (Command({"import", set.json_path}, dir) != 0) state.SkipWithError("import failed");
  }
  Sizes(state, set);
}

void BM_SqliteImport(benchmark::State& state) {
  DataSet& set = Set(state);
  std::string db = TheData().root + "/import_" + set.name + ".sqlite";
  for (auto _ : state) SqliteImport(set.json_path, db);
  Sizes(state, set);
}

void BM_FindFrequent(benchmark::State& state) {
  DataSet& set = Set(state);
  for (auto _ : state) Command({"find", kFrequent, "--json"}, set.palisade_dir);
  Sizes(state, set);
}

void BM_SqliteFindFrequent(benchmark::State& state) {
  DataSet& set = Set(state);
  std::string text = "RETURN";
  size_t rows = 0;
  for (auto _ : state) rows = SqliteRows(set.sqlite_path, kFindQuery, &text, 0);
  state.counters["rows"] = static_cast<double>(rows);
}

void BM_FindAbsent(benchmark::State& state) {
  DataSet& set = Set(state);
  for (auto _ : state) Command({"find", kAbsent, "--json"}, set.palisade_dir);
}

void BM_SqliteFindAbsent(benchmark::State& state) {
  DataSet& set = Set(state);
  std::string text = "ZQXJZQXJ";
  for (auto _ : state) SqliteRows(set.sqlite_path, kFindQuery, &text, 0);
}

void BM_Show(benchmark::State& state) {
  DataSet& set = Set(state);
  std::string id = std::to_string(set.entries.size() / 2);
  for (auto _ : state) Command({"show", id, "--json"}, set.palisade_dir);
}

void BM_SqliteShow(benchmark::State& state) {
  DataSet& set = Set(state);
  int id = static_cast<int>(set.entries.size() / 2);
  for (auto _ : state) SqliteRows(set.sqlite_path, kShowQuery, nullptr, id);
}

// Argument 0: the demo catalogue; 1: 100k entries.
BENCHMARK(BM_Import)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SqliteImport)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Import)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SqliteImport)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FindFrequent)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteFindFrequent)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindAbsent)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteFindAbsent)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Show)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteShow)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qzr

BENCHMARK_MAIN();
