// Fuzz target: the settings registry must read any file contents without a
// crash, an out-of-range read or a fatal error, and answer lookups in it.
//
// The input is written as the registry file of a private configuration
// folder; the lookups then make the registry read and parse it. Nothing is
// written back, so a run costs no disk flushes.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/settings/registry.h"
#include "testing/fatal_guard.h"

namespace {

// Never destroyed, so that the exit handler that removes it can still read it.
const std::string& ConfigFolder() {
  static const std::string* folder = [] {
    char tmpl[] = "/tmp/qzr_registry_fuzz_XXXXXX";
    auto* dir = new std::string(::mkdtemp(tmpl) ? tmpl : "");
    if (!dir->empty()) {
      ::setenv("QZR_CONFIG_DIR", dir->c_str(), 1);
      std::atexit([] { std::filesystem::remove_all(ConfigFolder()); });
    }
    return dir;
  }();
  return *folder;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzr;
  if (ConfigFolder().empty()) return 0;
  {
    // A fresh file each time: rewriting a truncated one makes some file
    // systems flush it on close, which would make each run wait on the disk.
    const std::string path = ConfigFolder() + "/registry.txt";
    ::unlink(path.c_str());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  (void)RegGetString(HKEY_CURRENT_USER, "Software\\QZR", "");
  (void)RegGetDword(HKEY_CURRENT_USER, "a", "b");
  char buffer[200];
  std::int32_t length = sizeof buffer;
  (void)RegQueryValue(HKEY_CLASSES_ROOT, ".htm", buffer, &length);
  HKEY key = 0;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "x\\y", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    std::uint32_t type = 0;
    std::uint32_t need = 0;
    (void)RegQueryValueEx(key, "", nullptr, &type, nullptr, &need);
    RegCloseKey(key);
  }
  return 0;
}
