// A file driver that passes every call to another driver and counts the
// records read (for tests and measures of how much a browse reads).
//
// A record counts when a reading operation (NEXT, PREVIOUS, any GET or
// REGET) returns a record; a read that finds nothing (end of data, a record
// that is gone) does not. Install() puts the counter in front of the driver
// registered under a name, under that same name, so that files declared
// for it are counted without changing their declarations.
//
// Threads: the count is atomic; the wrapped driver serialises itself. The
// fault setting is for single-threaded tests.

#ifndef QZR_FRAMEWORK_COUNTING_DRIVER_H_
#define QZR_FRAMEWORK_COUNTING_DRIVER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "data/file_driver.h"

namespace qzr {

class CountingDriver : public FileDriver {
 public:
  explicit CountingDriver(FileDriver* inner) : inner_(inner) {}

  int Call(FileOp op, FileDescriptor& file, FileArgs& args) override {
    if (ReadsRecordIntoBuffer(op) && fail_after_ >= 0 &&
        reads_.load(std::memory_order_relaxed) >= fail_after_) {
      return fail_code_;
    }
    const int rc = inner_->Call(op, file, args);
    if (rc == 0 && ReadsRecordIntoBuffer(op)) reads_.fetch_add(1, std::memory_order_relaxed);
    return rc;
  }
  const DriverInfo& Info() const override { return inner_->Info(); }

  int64_t reads() const { return reads_.load(std::memory_order_relaxed); }
  void Reset() {
    reads_.store(0, std::memory_order_relaxed);
    fail_after_ = -1;
  }
  // Fault injection: once `reads` records have been read (counted from the
  // last Reset), every further read fails with `code` without reaching the
  // wrapped driver. Reset ends it.
  void FailReadsAfter(int64_t reads, int code) {
    fail_after_ = reads;
    fail_code_ = code;
  }

  // Wraps the driver registered under `name` (once: a counter already in
  // front of it is returned as it is). nullptr when there is no such driver.
  static CountingDriver* Install(std::string_view name) {
    FileDriver* current = FindDriver(name);
    if (current == nullptr) return nullptr;
    if (auto* counting = dynamic_cast<CountingDriver*>(current)) return counting;
    auto wrapper = std::make_unique<CountingDriver>(current);
    CountingDriver* raw = wrapper.get();
    RegisterDriver(std::move(wrapper));
    return raw;
  }

 private:
  FileDriver* inner_;
  std::atomic<int64_t> reads_{0};
  int64_t fail_after_ = -1;
  int fail_code_ = 0;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_COUNTING_DRIVER_H_
