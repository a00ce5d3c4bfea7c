// Fuzz target: profile reads must take any file contents without a crash or
// an out-of-range read.
//
// The first two bytes pick the section and key looked up (one of a few
// likely names, or a piece of the input itself); the rest is the file. Only
// reads run, so a run costs no disk flushes; the editing code shares the
// parser that every read exercises.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/settings/profile.h"
#include "testing/fatal_guard.h"

namespace {

// Never destroyed, so that the exit handler that removes it can still read it.
const std::string& FilePath() {
  static const std::string* path = [] {
    char tmpl[] = "/tmp/qzr_profile_fuzz_XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) return new std::string();
    std::atexit(
        [] { std::filesystem::remove_all(std::filesystem::path(FilePath()).parent_path()); });
    return new std::string(std::string(tmpl) + "/fuzz.ini");
  }();
  return *path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzr;
  if (size < 2 || FilePath().empty()) return 0;
  static const char* kNames[] = {"S", "intl", "__Dont_Touch_Me__", "Sectors", "k", ""};
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  {
    // A fresh file each time: rewriting a truncated one makes some file
    // systems flush it on close, which would make each run wait on the disk.
    ::unlink(FilePath().c_str());
    std::ofstream out(FilePath(), std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  std::string section = kNames[data[0] % 6];
  std::string key = kNames[data[1] % 6];
  if (size_t open = text.find('['); data[0] >= 128 && open != std::string_view::npos) {
    section = std::string(text.substr(open + 1, 8));
  }
  if (size_t eq = text.find('='); data[1] >= 128 && eq != std::string_view::npos) {
    key = std::string(text.substr(eq >= 8 ? eq - 8 : 0, eq >= 8 ? 8 : eq));
  }
  (void)GetPrivateProfileString(section, key, "default ", FilePath());
  (void)GetPrivateProfileInt(section, key, 7, FilePath());
  return 0;
}
