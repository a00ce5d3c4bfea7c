// Queue benchmarks: ADD, SORT and GET by key on a queue of 10000 records,
// each next to the same work done directly on a std::vector of the records
// (push_back, std::stable_sort, std::lower_bound) in the same run. The
// queue compares through field objects, the peer with memcmp and integer
// comparison; the ratio is the price of the field objects and of keeping
// entries as separate copies.
//
// Single-threaded.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/values/queue.h"

namespace qzr {
namespace {

constexpr int kRows = 10000;

struct Row {
  int32_t ID;
  char NAME[20];
  double AMOUNT;
};

std::vector<Row> MakeRows() {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> letter(0, 25), len(1, 12);
  std::vector<Row> rows(kRows);
  for (int i = 0; i < kRows; ++i) {
    Row& r = rows[static_cast<size_t>(i)];
    r.ID = i;
    std::memset(r.NAME, ' ', sizeof r.NAME);
    for (int k = len(rng) - 1; k >= 0; --k) r.NAME[k] = static_cast<char>('A' + letter(rng));
    r.AMOUNT = i * 0.25;
  }
  return rows;
}

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = MakeRows();
  return rows;
}

struct RowQueue : Queue<Row> {
  RowQueue() {
    Field("ID", &Row::ID);
    Field("NAME", &Row::NAME);
    Field("AMOUNT", &Row::AMOUNT);
  }
  void Fill() {
    for (const Row& r : Rows()) {
      record = r;
      ADD(this);
    }
  }
};

bool PeerLess(const Row* a, const Row* b) {
  int c = std::memcmp(a->NAME, b->NAME, sizeof a->NAME);
  if (c != 0) return c < 0;
  return a->ID > b->ID;
}

void BM_QueueAdd(benchmark::State& state) {
  for (auto _ : state) {
    RowQueue q;
    q.Fill();
    benchmark::DoNotOptimize(RECORDS(&q));
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_QueueAdd);

void BM_PeerVectorAdd(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Row*> v;
    for (const Row& r : Rows()) v.push_back(new Row(r));
    benchmark::DoNotOptimize(v.data());
    for (Row* p : v) delete p;
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_PeerVectorAdd);

void BM_QueueSort(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto q = std::make_unique<RowQueue>();
    q->Fill();
    state.ResumeTiming();
    SORT(q.get(), "NAME,-ID");
    benchmark::DoNotOptimize(POINTER(q.get()));
    state.PauseTiming();
    q.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_QueueSort)->Unit(benchmark::kMillisecond);

void BM_PeerStableSort(benchmark::State& state) {
  std::vector<const Row*> base;
  for (const Row& r : Rows()) base.push_back(&r);
  for (auto _ : state) {
    std::vector<const Row*> v = base;
    std::stable_sort(v.begin(), v.end(), PeerLess);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_PeerStableSort)->Unit(benchmark::kMillisecond);

void BM_QueueGetByKeySorted(benchmark::State& state) {
  RowQueue q;
  q.Fill();
  SORT(&q, "NAME");
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(q.record.NAME, Rows()[i++ % kRows].NAME, sizeof q.record.NAME);
    GET(&q, "NAME");
    benchmark::DoNotOptimize(q.record.ID);
  }
}
BENCHMARK(BM_QueueGetByKeySorted);

void BM_PeerLowerBound(benchmark::State& state) {
  std::vector<const Row*> v;
  for (const Row& r : Rows()) v.push_back(&r);
  auto by_name = [](const Row* a, const Row* b) {
    return std::memcmp(a->NAME, b->NAME, sizeof a->NAME) < 0;
  };
  std::stable_sort(v.begin(), v.end(), by_name);
  size_t i = 0;
  for (auto _ : state) {
    const Row* key = &Rows()[i++ % kRows];
    auto it = std::lower_bound(v.begin(), v.end(), key, by_name);
    benchmark::DoNotOptimize((*it)->ID);
  }
}
BENCHMARK(BM_PeerLowerBound);

}  // namespace
}  // namespace qzr

BENCHMARK_MAIN();
