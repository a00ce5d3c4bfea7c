// Start-up of the program's window: the time from nothing (no toolkit, no
// runtime, the catalogue closed) to the main window built, shown and
// painted over its first page, on the Qt toolkit offscreen, over a
// catalogue of 10000 and of 100000 entries. The first page does not
// depend on the catalogue's size, so the two should be close.
//
//   StartupToFirstPaint   each iteration starts the program twice, over
//                         10000 entries and over 100000 (in turn, so both
//                         see the same machine), and closes the window at
//                         its first wait for input (by then the toolkit has
//                         exposed and painted it). Reports startup_10k_ms,
//                         startup_100k_ms and ratio_100k_to_10k.
//
// Entries: a title of 8-30 characters, a description of 150-250, a link, a
// poster and about 500 bytes of code.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/main_browse.h"
#include "app/program.h"
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
    const std::vector<FuncEntry> entries = MakeEntries(n);
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
    const Clock::time_point start = Clock::now();
    if (RunScreenshots(argc, argv, run, [] { return RunProgram(Main); }) != 0) std::abort();
    return std::chrono::duration<double, std::milli>(shown - start).count();
  }

 private:
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
};

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

}  // namespace

BENCHMARK_MAIN();
