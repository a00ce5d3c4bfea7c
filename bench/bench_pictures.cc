// FORMAT per call with @N12.2 and @D6, next to snprintf producing the same
// text from the same values in the same run. Compare the ns/op of each pair:
// BM_FormatNumber_N12_2 against BM_Snprintf_12_2f, BM_FormatDate_D6 against
// BM_Snprintf_Date. The picture is compiled once, as a control compiles its
// picture once; BM_FORMAT_N12_2 also compiles it on every call.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "runtime/pictures/picture.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/date_time.h"

namespace {

constexpr const char* kNumbers[] = {"1234.5", "-98765.432", "0.005", "123456789.99",
                                    "-0.5",   "42",         "7.125", "-31415.9265"};
constexpr double kDoubles[] = {1234.5, -98765.432, 0.005, 123456789.99,
                               -0.5,   42,         7.125, -31415.9265};
constexpr int kCount = 8;

void BM_FormatNumber_N12_2(benchmark::State& state) {
  const qzr::CompiledPicture pic = qzr::CompilePicture("@N12.2");
  int i = 0;
  for (auto _ : state) {
    std::string s = qzr::FormatNumber(pic, kNumbers[i++ & (kCount - 1)]);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_FormatNumber_N12_2);

void BM_FORMAT_N12_2(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    std::string s = qzr::FORMAT(kNumbers[i++ & (kCount - 1)], "@N12.2");
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_FORMAT_N12_2);

void BM_Snprintf_12_2f(benchmark::State& state) {
  int i = 0;
  char buf[64];
  for (auto _ : state) {
    const int n = std::snprintf(buf, sizeof buf, "%12.2f", kDoubles[i++ & (kCount - 1)]);
    std::string s(buf, static_cast<size_t>(n));
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_Snprintf_12_2f);

void BM_FormatDate_D6(benchmark::State& state) {
  (void)qzr::Locale();
  const qzr::CompiledPicture pic = qzr::CompilePicture("@D6");
  int32_t date = qzr::DateFromParts(1, 1, 2000);
  for (auto _ : state) {
    std::string s = qzr::FormatDate(pic, date);
    benchmark::DoNotOptimize(s);
    date = date >= qzr::kLastDate ? qzr::kFirstDate : date + 37;
  }
}
BENCHMARK(BM_FormatDate_D6);

// The same text (" 4/07/2026": day without a leading zero, then month and
// year) from the same standard date: the split into parts, then snprintf.
void BM_Snprintf_Date(benchmark::State& state) {
  int32_t date = qzr::DateFromParts(1, 1, 2000);
  char buf[32];
  for (auto _ : state) {
    int y, m, d;
    qzr::DateToParts(date, &y, &m, &d);
    const int n = std::snprintf(buf, sizeof buf, "%2d/%02d/%04d", d, m, y);
    std::string s(buf, static_cast<size_t>(n));
    benchmark::DoNotOptimize(s);
    date = date >= qzr::kLastDate ? qzr::kFirstDate : date + 37;
  }
}
BENCHMARK(BM_Snprintf_Date);

}  // namespace

BENCHMARK_MAIN();
