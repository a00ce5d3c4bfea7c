// Helpers shared by the storage engine's tests: temporary files, the number
// of the corruption check a statement ends in, byte-string shorthands.
//
// Test-only; each test owns its own temporary directory.

#ifndef QZR_DRIVERS_PALISADE_TEST_SUPPORT_H_
#define QZR_DRIVERS_PALISADE_TEST_SUPPORT_H_

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "drivers/palisade/record.h"

namespace qzr::palisade::test {

// The check number of the corruption report `fn` ends in: the "(n)" at the
// end of the fatal text; 0 when `fn` returns normally. Fatal errors reach
// tests as exceptions (the test binaries install a throwing handler).
inline int CheckNumberOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::runtime_error& e) {
    std::string text = e.what();
    size_t open = text.rfind('(');
    size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return -1;
    return std::stoi(text.substr(open + 1, close - open - 1));
  }
  return 0;
}

// A fresh directory under the system's temporary folder, removed on exit.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "plx_test_XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> B(std::initializer_list<int> bytes) {
  std::vector<uint8_t> out;
  for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
  return out;
}

inline std::vector<uint8_t> S(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

inline Bytes V(const std::vector<uint8_t>& v) {
  return Bytes(v.data(), v.size());
}

}  // namespace qzr::palisade::test

#endif  // QZR_DRIVERS_PALISADE_TEST_SUPPORT_H_
