// Replay driver for the fuzz targets in the test build.
//
// Runs LLVMFuzzerTestOneInput over every file of the corpus folder given as
// the first argument (missing folder: none), then over a fixed number of
// pseudo-random inputs from a fixed seed, so that CI runs a short, repeatable
// version of each fuzz campaign. A fatal error raised for bad input is the
// target's answer, not a failure: the throwing handler turns it into an
// exception that is caught here.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "testing/fatal_guard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunOne(const std::vector<uint8_t>& input) {
  try {
    LLVMFuzzerTestOneInput(input.data(), input.size());
  } catch (const qzr::testing::FatalErrorThrown&) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  qzr::testing::InstallThrowingFatalHandler();
  size_t files = 0;
  if (argc > 1 && std::filesystem::is_directory(argv[1])) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
      RunOne(input);
      ++files;
    }
  }
  std::mt19937 rng(20261210);
  const int kRandomRuns = argc > 2 ? std::atoi(argv[2]) : 2000;
  for (int i = 0; i < kRandomRuns; ++i) {
    std::vector<uint8_t> input(rng() % 512);
    for (auto& b : input) b = static_cast<uint8_t>(rng());
    RunOne(input);
  }
  std::printf("replayed %zu kept inputs and %d generated ones\n", files, kRandomRuns);
  return 0;
}
