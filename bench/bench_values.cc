// Field-object costs against the same operations written directly in C++:
// STRING(100) comparison, LONG get/set, DECIMAL store. Each pair runs in the
// same binary; the closing table gives the ratio field object / direct.
//
// A counting operator new reports the heap allocations per operation in
// the "allocs/op" counter: reads and writes through field objects must show
// 0.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "runtime/values/decimal.h"
#include "runtime/values/ufo.h"

namespace {
std::atomic<uint64_t> g_allocations{0};
}  // namespace

void* operator new(size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) {
  return operator new(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}

namespace qzr {
namespace {

// Counts the allocations made while the benchmark loop runs.
class AllocationProbe {
 public:
  explicit AllocationProbe(benchmark::State& state) : state_(state), start_(g_allocations.load()) {}
  ~AllocationProbe() {
    const double n = static_cast<double>(g_allocations.load() - start_);
    state_.counters["allocs/op"] =
        benchmark::Counter(n / static_cast<double>(state_.iterations() ? state_.iterations() : 1));
  }

 private:
  benchmark::State& state_;
  uint64_t start_;
};

// ---- STRING(100) comparison: equal up to the last byte.

struct StringPair {
  char a[100];
  char b[100];
  StringPair() {
    std::memset(a, 'x', sizeof a);
    std::memset(b, 'x', sizeof b);
    a[99] = 'A';
    b[99] = 'B';
  }
};

void BM_StringCompare_Ufo(benchmark::State& state) {
  StringPair p;
  UfoSlot sa, sb;
  UFO* a = sa.Make(TypeCode::STRING, p.a, 100);
  UFO* b = sb.Make(TypeCode::STRING, p.b, 100);
  benchmark::DoNotOptimize(a);
  benchmark::DoNotOptimize(b);
  AllocationProbe probe(state);
  for (auto _ : state) {
    int r = a->Compare(*b);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_StringCompare_Ufo);

void BM_StringCompare_Direct(benchmark::State& state) {
  StringPair p;
  const char* a = p.a;
  const char* b = p.b;
  benchmark::DoNotOptimize(a);
  benchmark::DoNotOptimize(b);
  AllocationProbe probe(state);
  for (auto _ : state) {
    int c = std::memcmp(a, b, 100);
    int r = (c > 0) - (c < 0);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_StringCompare_Direct);

// ---- LONG get and set inside a record buffer.

void BM_LongGetSet_Ufo(benchmark::State& state) {
  alignas(8) uint8_t record[64] = {};
  UfoSlot slot;
  UFO* f = slot.Make(TypeCode::LONG, record + 13);
  benchmark::DoNotOptimize(f);
  AllocationProbe probe(state);
  for (auto _ : state) {
    f->SetLong(f->GetLong() + 1);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(record);
}
BENCHMARK(BM_LongGetSet_Ufo);

void BM_LongGetSet_Direct(benchmark::State& state) {
  alignas(8) uint8_t record[64] = {};
  uint8_t* field = record + 13;
  benchmark::DoNotOptimize(field);
  AllocationProbe probe(state);
  for (auto _ : state) {
    int32_t v;
    std::memcpy(&v, field, 4);
    ++v;
    std::memcpy(field, &v, 4);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(record);
}
BENCHMARK(BM_LongGetSet_Direct);

// ---- DECIMAL(11,2) store (6 bytes) of a decimal value.

void BM_DecimalStore_Ufo(benchmark::State& state) {
  uint8_t record[16] = {};
  Decimal values[2];
  (void)Decimal::FromText("-123456789.12", &values[0]);
  (void)Decimal::FromText("987654321.98", &values[1]);
  UfoSlot slot;
  UFO* f = slot.Make(TypeCode::DECIMAL, record, 6, 2);
  benchmark::DoNotOptimize(f);
  AllocationProbe probe(state);
  size_t i = 0;
  for (auto _ : state) {
    f->SetDecimal(values[i++ & 1]);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DecimalStore_Ufo);

// The peer: the same value held as scaled integer cents, packed by hand.
void BM_DecimalStore_Direct(benchmark::State& state) {
  uint8_t record[16] = {};
  int64_t values[2] = {-12345678912, 98765432198};
  uint8_t* field = record;
  benchmark::DoNotOptimize(field);
  AllocationProbe probe(state);
  size_t i = 0;
  for (auto _ : state) {
    int64_t v = values[i++ & 1];
    const bool negative = v < 0;
    uint64_t m = negative ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
    // 11 digits: nibbles 1..11 of 6 bytes, sign in nibble 0.
    for (int nibble = 11; nibble >= 1; --nibble) {
      const auto digit = static_cast<uint8_t>(m % 10);
      m /= 10;
      uint8_t& b = field[nibble / 2];
      b = nibble % 2 ? static_cast<uint8_t>((b & 0xF0) | digit)
                     : static_cast<uint8_t>((b & 0x0F) | digit << 4);
    }
    field[0] = static_cast<uint8_t>((field[0] & 0x0F) | (negative ? 0xF0 : 0x00));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DecimalStore_Direct);

// ---- Allocation checks for the other reads and writes (no peer).

void BM_UfoReadWriteMix(benchmark::State& state) {
  alignas(8) uint8_t record[128] = {};
  UfoSlot s_str, s_cstr, s_dec, s_real, s_date, s_pdec;
  UFO* str = s_str.Make(TypeCode::STRING, record, 20);
  UFO* cstr = s_cstr.Make(TypeCode::CSTRING, record + 20, 20);
  UFO* dec = s_dec.Make(TypeCode::DECIMAL, record + 40, 6, 2);
  UFO* real = s_real.Make(TypeCode::REAL, record + 46);
  UFO* date = s_date.Make(TypeCode::DATE, record + 54);
  UFO* pdec = s_pdec.Make(TypeCode::PDECIMAL, record + 58, 6, 2);
  char buf[64];
  AllocationProbe probe(state);
  for (auto _ : state) {
    str->SetText("12.5");
    cstr->SetUfo(*str);
    dec->SetUfo(*cstr);
    real->SetDecimal(dec->GetDecimal());
    pdec->SetReal(real->GetReal());
    date->SetLong(80000);
    size_t n = dec->GetText(buf, sizeof buf);
    n += real->GetText(buf, sizeof buf);
    n += static_cast<size_t>(str->Compare(*cstr));
    str->PushString();
    pdec->PopString();
    dec->PushDecimal();
    real->PopDecimal();
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_UfoReadWriteMix);

// Prints the usual table, then the field object / direct ratio of each
// pair.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration) ns_[r.benchmark_name()] = r.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-20s %12s %12s %8s\n", "operation (CPU)", "ufo ns/op", "direct ns/op", "ratio");
    for (const char* op : {"StringCompare", "LongGetSet", "DecimalStore"}) {
      auto u = ns_.find(std::string("BM_") + op + "_Ufo");
      auto d = ns_.find(std::string("BM_") + op + "_Direct");
      if (u == ns_.end() || d == ns_.end()) continue;
      std::printf("%-20s %12.2f %12.2f %8.2f\n", op, u->second, d->second,
                  d->second > 0 ? u->second / d->second : 0.0);
    }
  }

 private:
  std::map<std::string, double> ns_;
};

}  // namespace
}  // namespace qzr

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  qzr::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
