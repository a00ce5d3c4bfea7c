// Palisade page layer against SQLite: inserting, finding and iterating 100k
// records of 1.5 KB (a 9-byte row key, 120 bytes of text, zero padding), the
// page decoder's throughput next to memcpy of the same bytes, and the stored
// size against the raw size.
//
// Each storage benchmark runs the same work on a SQLite table (the row
// number as INTEGER PRIMARY KEY, the payload as a BLOB, one transaction) in the same process and
// reports ratio_vs_sqlite = Palisade time / SQLite time (below 1: Palisade is faster). The decode
// benchmark reports ratio_vs_memcpy for the bytes it produces. The leaf lookup
// benchmark reads one record (or one row's memo pieces) from a stored leaf by
// searching it in place, against decoding the leaf into a reused node.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "drivers/palisade/format.h"
#include "drivers/palisade/leaf_search.h"
#include "drivers/palisade/page.h"
#include "drivers/palisade/page_tree.h"
#include "drivers/palisade/pager.h"

namespace {

using namespace qzr::palisade;
using Clock = std::chrono::steady_clock;

constexpr int kRecords = 100000;
constexpr size_t kPayload = 1500;
constexpr size_t kText = 120;

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("bench_plx_") + std::to_string(::getpid()) + "_" + name))
      .string();
}

std::vector<uint8_t> Key(uint32_t row) {
  std::vector<uint8_t> key(9, 0);
  StoreBigU32(key.data(), 1);
  key[4] = kKindRow;
  StoreBigU32(key.data() + 5, row);
  return key;
}

std::vector<uint8_t> Payload(uint32_t row) {
  std::vector<uint8_t> p(kPayload, 0);
  std::mt19937 rng(row);
  for (size_t i = 0; i < kText; ++i) p[i] = static_cast<uint8_t>('a' + rng() % 26);
  return p;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// ---- SQLite peer ----------------------------------------------------------

struct Sqlite {
  sqlite3* db = nullptr;
  explicit Sqlite(const std::string& path) {
    std::remove(path.c_str());
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB)", nullptr, nullptr, nullptr);
  }
  ~Sqlite() { sqlite3_close(db); }

  void Load(int n) {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?)", -1, &st, nullptr);
    for (int i = 0; i < n; ++i) {
      std::vector<uint8_t> v = Payload(static_cast<uint32_t>(i));
      sqlite3_bind_int64(st, 1, i);
      sqlite3_bind_blob(st, 2, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }

  size_t Find(const std::vector<uint32_t>& rows) {
    sqlite3_stmt* st;
    sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k=?", -1, &st, nullptr);
    size_t bytes = 0;
    for (uint32_t r : rows) {
      sqlite3_bind_int64(st, 1, r);
      if (sqlite3_step(st) == SQLITE_ROW) bytes += static_cast<size_t>(sqlite3_column_bytes(st, 0));
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    return bytes;
  }

  size_t Scan() {
    sqlite3_stmt* st;
    sqlite3_prepare_v2(db, "SELECT k, v FROM t ORDER BY k", -1, &st, nullptr);
    size_t bytes = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
      bytes += static_cast<size_t>(sqlite3_column_bytes(st, 1));
    sqlite3_finalize(st);
    return bytes;
  }
};

// ---- Palisade -------------------------------------------------------------

struct Plx {
  std::unique_ptr<Pager> pager;
  std::unique_ptr<PageTree> tree;
  explicit Plx(const std::string& path, bool fresh) {
    if (fresh) std::remove(path.c_str());
    Pager::Open(path, true, true, PagerOptions(), &pager);
    tree = std::make_unique<PageTree>(pager.get());
  }

  void Load(int n) {
    for (int i = 0; i < n; ++i) {
      std::vector<uint8_t> k = Key(static_cast<uint32_t>(i)), v = Payload(static_cast<uint32_t>(i));
      tree->Insert(MakeRecord(Bytes(k.data(), k.size()), Bytes(v.data(), v.size())));
      pager->MaybeSpill();
    }
    pager->Flush();
  }

  size_t Find(const std::vector<uint32_t>& rows) {
    size_t bytes = 0;
    for (uint32_t r : rows) {
      std::vector<uint8_t> k = Key(r);
      if (const RecordView* rec = tree->Find(Bytes(k.data(), k.size())))
        bytes += rec->payload().size();
    }
    return bytes;
  }

  size_t Scan() {
    size_t bytes = 0;
    TreeCursor cursor(tree.get());
    for (bool ok = cursor.SeekFirst(); ok; ok = cursor.Next())
      bytes += cursor.record().payload().size();
    return bytes;
  }
};

std::vector<uint32_t> RandomRows(int n) {
  std::vector<uint32_t> rows(static_cast<size_t>(n));
  std::mt19937 rng(99);
  for (auto& r : rows) r = static_cast<uint32_t>(rng() % kRecords);
  return rows;
}

void Report(benchmark::State& state, double plx, double sqlite, int items) {
  state.counters["records_per_s"] = items / plx;
  state.counters["sqlite_records_per_s"] = items / sqlite;
  state.counters["ratio_vs_sqlite"] = plx / sqlite;
}

void BM_Insert100k(benchmark::State& state) {
  const std::string plx_path = TempPath("insert.plx"), sql_path = TempPath("insert.db");
  for (auto _ : state) {
    auto t0 = Clock::now();
    { Plx(plx_path, true).Load(kRecords); }
    auto t1 = Clock::now();
    { Sqlite(sql_path).Load(kRecords); }
    auto t2 = Clock::now();
    state.SetIterationTime(Seconds(t0, t1));
    Report(state, Seconds(t0, t1), Seconds(t1, t2), kRecords);
    const double raw = double(kRecords) * (9 + kPayload);
    state.counters["plx_bytes_per_raw_byte"] = std::filesystem::file_size(plx_path) / raw;
    state.counters["sqlite_bytes_per_raw_byte"] = std::filesystem::file_size(sql_path) / raw;
  }
  std::remove(plx_path.c_str());
  std::remove(sql_path.c_str());
}
BENCHMARK(BM_Insert100k)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FindAndIterate100k(benchmark::State& state) {
  const std::string plx_path = TempPath("read.plx"), sql_path = TempPath("read.db");
  { Plx(plx_path, true).Load(kRecords); }
  Sqlite sql(sql_path);
  sql.Load(kRecords);
  const std::vector<uint32_t> rows = RandomRows(kRecords);
  Plx plx(plx_path, false);
  for (auto _ : state) {
    auto t0 = Clock::now();
    size_t a = plx.Find(rows);
    auto t1 = Clock::now();
    size_t b = sql.Find(rows);
    auto t2 = Clock::now();
    size_t c = plx.Scan();
    auto t3 = Clock::now();
    size_t d = sql.Scan();
    auto t4 = Clock::now();
    benchmark::DoNotOptimize(a + b + c + d);
    state.SetIterationTime(Seconds(t0, t1) + Seconds(t2, t3));
    state.counters["find_per_s"] = kRecords / Seconds(t0, t1);
    state.counters["find_ratio_vs_sqlite"] = Seconds(t0, t1) / Seconds(t1, t2);
    state.counters["iterate_per_s"] = kRecords / Seconds(t2, t3);
    state.counters["iterate_ratio_vs_sqlite"] = Seconds(t2, t3) / Seconds(t3, t4);
  }
  std::remove(plx_path.c_str());
  std::remove(sql_path.c_str());
}
BENCHMARK(BM_FindAndIterate100k)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PageDecode(benchmark::State& state) {
  // A full leaf of these records, as stored.
  PageNode page;
  for (uint32_t i = 0; page.PlainSize() + kPayload + 20 < kMaxPageBytes; ++i) {
    std::vector<uint8_t> k = Key(i), v = Payload(i);
    page.Insert(page.RecordCount(),
                MakeRecord(Bytes(k.data(), k.size()), Bytes(v.data(), v.size())));
  }
  EncodePage(&page);
  const std::vector<uint8_t> block = page.Image;
  const size_t plain = page.PlainSize();
  std::vector<uint8_t> src(plain, 1), dst(plain);
  double decode_s = 0, copy_s = 0;
  int64_t pages = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    PageNode node;
    DecodePage(block.data(), block.size(), &node);
    benchmark::DoNotOptimize(node.KeyAt(0).data());
    auto t1 = Clock::now();
    std::memcpy(dst.data(), src.data(), plain);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
    auto t2 = Clock::now();
    decode_s += Seconds(t0, t1);
    copy_s += Seconds(t1, t2);
    ++pages;
  }
  state.counters["decode_MB_per_s"] = pages * double(plain) / decode_s / 1e6;
  state.counters["memcpy_MB_per_s"] = pages * double(plain) / copy_s / 1e6;
  state.counters["ratio_vs_memcpy"] = decode_s / copy_s;
  state.counters["stored_bytes_per_plain_byte"] = double(block.size()) / double(plain);
}
BENCHMARK(BM_PageDecode);

// A full stored leaf: shape 0 of the rows above (they compress), shape 1 of
// memo pieces (a 12-byte key: table, kind, row, memo, piece; 256 bytes of
// text that does not compress, three pieces a row).
std::vector<uint8_t> LeafBlock(int shape, std::vector<std::vector<uint8_t>>* keys) {
  PageNode page;
  std::mt19937 rng(5);
  for (uint32_t i = 0;; ++i) {
    std::vector<uint8_t> k, v;
    if (shape == 0) {
      k = Key(i);
      v = Payload(i);
    } else {
      k.assign(12, 0);
      StoreBigU32(k.data(), 1);
      k[4] = kKindMemo;
      StoreBigU32(k.data() + 5, i / 3);
      StoreBigU16(k.data() + 10, static_cast<uint16_t>(i % 3));
      v.resize(256);
      for (uint8_t& b : v) b = static_cast<uint8_t>('A' + rng() % 50);
    }
    if (page.PlainSize() + k.size() + v.size() + 5 > kMaxPageBytes) break;
    page.Insert(page.RecordCount(),
                MakeRecord(Bytes(k.data(), k.size()), Bytes(v.data(), v.size())));
    keys->push_back(k);
  }
  EncodePage(&page);
  return page.Image;
}

void BM_LeafLookup(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  std::vector<std::vector<uint8_t>> keys;
  const std::vector<uint8_t> block = LeafBlock(shape, &keys);
  // The row's key (shape 0), or the row's part of its pieces' keys.
  const size_t prefix = shape == 0 ? 9 : 9;
  std::mt19937 rng(3);
  PageNode node;
  LeafSearch search;
  LeafRun run;
  run.prefix = prefix;
  double decode_s = 0, search_s = 0;
  for (auto _ : state) {
    const std::vector<uint8_t>& k = keys[rng() % keys.size()];
    const Bytes key(k.data(), prefix);
    auto t0 = Clock::now();
    DecodePage(block.data(), block.size(), &node);
    benchmark::DoNotOptimize(node.At(node.LowerBound(key)).payload().data());
    auto t1 = Clock::now();
    if (!FindInLeafBlock(block.data(), block.size(), key, &search, &run)) std::abort();
    benchmark::DoNotOptimize(run.At(0).payload().data());
    auto t2 = Clock::now();
    decode_s += Seconds(t0, t1);
    search_s += Seconds(t1, t2);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["records"] = static_cast<double>(keys.size());
  state.counters["decode_ns"] = decode_s / n * 1e9;
  state.counters["search_ns"] = search_s / n * 1e9;
  state.counters["ratio_search_vs_decode"] = search_s / decode_s;
}
BENCHMARK(BM_LeafLookup)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
