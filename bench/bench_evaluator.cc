// Parsed filter against a hand-written predicate.
//
// A quick-find / query-by-example filter over a catalogue record (LONG id,
// CSTRING(100) title, CSTRING(1024) description) is parsed once and
// evaluated once per record, as a view does, and the same logic written
// directly in C++ runs over the same records. Each benchmark reports
// evaluations per second; the evaluator's also reports its time per record
// as a multiple of the C++ predicate's (ratio_vs_cpp, measured in the same
// run, over CPU time) and the heap allocations per evaluation (allocs_per_eval, counted by
// a replaced global operator new; it should be 0).

#include <benchmark/benchmark.h>

#include <atomic>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "runtime/evaluator/evaluator.h"
#include "runtime/values/ufo.h"

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

void* operator new(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

// This thread's CPU time in nanoseconds: the machine is shared, so the ratio
// is taken over CPU time rather than wall time.
double ThreadCpuNanos() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

struct Record {
  int32_t id;
  char title[100];
  char description[1024];
};

const char* const kWords[] = {"quick", "sort",   "merge", "string", "parse", "file",  "queue",
                              "tree",  "binary", "hash",  "window", "print", "date",  "time",
                              "field", "record", "index", "search", "list",  "Sorted"};

std::vector<Record> MakeRecords(size_t n) {
  std::mt19937 rng(12345);
  std::vector<Record> records(n);
  for (size_t i = 0; i < n; ++i) {
    Record& r = records[i];
    std::memset(&r, 0, sizeof r);
    r.id = static_cast<int32_t>(i + 1);
    std::string title, description;
    for (int w = 0, words = 2 + static_cast<int>(rng() % 6); w < words; ++w) {
      if (w) title += ' ';
      title += kWords[rng() % 20];
    }
    while (description.size() < 150 + rng() % 600) {
      description += kWords[rng() % 20];
      description += ' ';
    }
    std::strncpy(r.title, title.c_str(), sizeof r.title - 1);
    std::strncpy(r.description, description.c_str(), sizeof r.description - 1);
  }
  return records;
}

// The filter: what the quick find builds for "sort" over title and
// description, narrowed by an id range and a title prefix test as query by
// example adds them.
constexpr const char* kFilter =
    "(INSTRING('SORT', UPPER(FUN:Title), 1, 1) OR INSTRING('SORT', UPPER(FUN:Description), 1, 1))"
    " AND FUN:ID >= 100 AND FUN:ID <= 900000 AND SUB(FUN:Title, 1, 1) <> 'z'";

// The same logic by hand.
bool CppPredicate(const Record& r) {
  auto contains_upper = [](const char* text, size_t cap, const char* needle) {
    char upper[1024];
    size_t n = strnlen(text, cap);
    for (size_t i = 0; i < n; ++i) {
      char c = text[i];
      upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    return std::string_view(upper, n).find(needle) != std::string_view::npos;
  };
  bool found = contains_upper(r.title, sizeof r.title, "SORT") ||
               contains_upper(r.description, sizeof r.description, "SORT");
  return found && r.id >= 100 && r.id <= 900000 && r.title[0] != 'z';
}

const std::vector<Record>& Records() {
  static const std::vector<Record> records = MakeRecords(20000);
  return records;
}

// Nanoseconds per record of the C++ predicate, measured over a few passes.
double CppNanosPerRecord() {
  const auto& records = Records();
  Record buffer;
  long hits = 0;
  double start = ThreadCpuNanos();
  const int kPasses = 20;
  for (int p = 0; p < kPasses; ++p) {
    for (const Record& r : records) {
      std::memcpy(&buffer, &r, sizeof buffer);
      hits += CppPredicate(buffer);
    }
  }
  benchmark::DoNotOptimize(hits);
  return (ThreadCpuNanos() - start) / (static_cast<double>(records.size()) * kPasses);
}

void BM_CppPredicate(benchmark::State& state) {
  const auto& records = Records();
  Record buffer;
  long hits = 0;
  for (auto _ : state) {
    for (const Record& r : records) {
      std::memcpy(&buffer, &r, sizeof buffer);
      hits += CppPredicate(buffer);
    }
  }
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(records.size()));
}
BENCHMARK(BM_CppPredicate)->Unit(benchmark::kMillisecond);

void BM_EvaluatorFilter(benchmark::State& state) {
  const auto& records = Records();
  Record buffer;
  std::memset(&buffer, 0, sizeof buffer);
  qzr::CreateEvaluator();
  qzr::UfoLong id(&buffer.id);
  qzr::UfoCString title(buffer.title, sizeof buffer.title);
  qzr::UfoCString description(buffer.description, sizeof buffer.description);
  qzr::BIND("FUN:ID", &id);
  qzr::BIND("FUN:Title", &title);
  qzr::BIND("FUN:Description", &description);
  auto filter = qzr::Expression::Parse(kFilter);
  if (!filter) {
    state.SkipWithError("filter did not parse");
    return;
  }
  // Both predicates must agree on every record.
  long evaluator_hits = 0, cpp_hits = 0;
  for (const Record& r : records) {
    std::memcpy(&buffer, &r, sizeof buffer);
    evaluator_hits += filter->EvaluateBool();
    cpp_hits += CppPredicate(buffer);
  }
  if (evaluator_hits != cpp_hits) {
    state.SkipWithError("the filter and the C++ predicate disagree");
    return;
  }
  double cpp_ns = CppNanosPerRecord();

  long allocations_before = g_allocations.load();
  long hits = 0;
  double start = ThreadCpuNanos();
  for (auto _ : state) {
    for (const Record& r : records) {
      std::memcpy(&buffer, &r, sizeof buffer);
      hits += filter->EvaluateBool();
    }
  }
  double elapsed = ThreadCpuNanos() - start;
  long allocations = g_allocations.load() - allocations_before;
  benchmark::DoNotOptimize(hits);

  double evaluations = static_cast<double>(state.iterations()) * static_cast<double>(records.size());
  state.SetItemsProcessed(static_cast<int64_t>(evaluations));
  state.counters["allocs_per_eval"] = static_cast<double>(allocations) / evaluations;
  state.counters["ratio_vs_cpp"] = elapsed / evaluations / cpp_ns;
  state.counters["matches"] = static_cast<double>(cpp_hits);
  filter.reset();
  qzr::DestroyEvaluator();
}
BENCHMARK(BM_EvaluatorFilter)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
