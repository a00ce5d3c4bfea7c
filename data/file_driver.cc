// The driver registry and the runtime's file-operation entry.

#include "data/file_driver.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <mutex>

#include "data/declaration_check.h"
#include "data/file_trace.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"

namespace qzr {
namespace {

struct Entry {
  FileDriver* driver = nullptr;  // nullptr until a factory has run
  DriverFactory factory;
  bool load_failed = false;
};

struct Registry {
  std::mutex mu;
  std::map<std::string, Entry> entries;
  // Every driver ever registered; replaced ones stay alive so that pointers
  // handed out by FindDriver never dangle.
  std::vector<std::unique_ptr<FileDriver>> owned;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry();  // never destroyed: drivers outlive static teardown
  return *registry;
}

// Moves on at every registration. A thread remembers the driver it found
// last with the count it found it under: every file operation looks its
// driver up by name, and most of a thread's operations go to one driver.
// The remembered pointer stays valid after a registration (replaced drivers
// are kept); the count only makes the next lookup see the registry again.
std::atomic<uint64_t> g_registrations{1};

struct LastFound {
  uint64_t registrations = 0;  // 0: nothing remembered
  std::string name;            // as the caller spelled it
  FileDriver* driver = nullptr;
};
thread_local LastFound t_last_found;

}  // namespace

uint64_t TypeMask(std::initializer_list<TypeCode> types) {
  uint64_t mask = 0;
  for (TypeCode t : types) {
    auto code = static_cast<unsigned>(t);
    if (code < 64) mask |= uint64_t{1} << code;
  }
  return mask;
}

void RegisterDriver(std::unique_ptr<FileDriver> driver) {
  if (!driver) return;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  Entry& e = r.entries[Upper(driver->Info().name)];
  g_registrations.fetch_add(1, std::memory_order_release);
  e.driver = driver.get();
  e.factory = nullptr;
  e.load_failed = false;
  r.owned.push_back(std::move(driver));
}

void RegisterDriverFactory(std::string_view name, DriverFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  Entry& e = r.entries[Upper(name)];
  g_registrations.fetch_add(1, std::memory_order_release);
  e.driver = nullptr;
  e.factory = std::move(factory);
  e.load_failed = false;
}

FileDriver* FindDriver(std::string_view name, DriverLookup* why) {
  DriverLookup dummy;
  if (why == nullptr) why = &dummy;
  if (name.empty()) {
    *why = DriverLookup::kNoDriverSpecified;
    return nullptr;
  }
  LastFound& last = t_last_found;
  if (last.registrations == g_registrations.load(std::memory_order_acquire) && last.name == name) {
    *why = DriverLookup::kFound;
    return last.driver;
  }
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  const uint64_t registrations = g_registrations.load(std::memory_order_relaxed);
  auto it = r.entries.find(Upper(name));
  if (it == r.entries.end()) {
    *why = DriverLookup::kNotDefined;
    return nullptr;
  }
  Entry& e = it->second;
  if (e.driver == nullptr && !e.load_failed && e.factory) {
    // The factory runs once, under the registry lock, so two threads opening
    // their first file never build two drivers.
    std::unique_ptr<FileDriver> built = e.factory();
    if (built) {
      e.driver = built.get();
      r.owned.push_back(std::move(built));
    } else {
      e.load_failed = true;
    }
  }
  if (e.driver == nullptr) {
    *why = DriverLookup::kCouldNotLoad;
    return nullptr;
  }
  *why = DriverLookup::kFound;
  last.registrations = registrations;
  last.name.assign(name);
  last.driver = e.driver;
  return e.driver;
}

std::vector<std::string> RegisteredDrivers() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  std::vector<std::string> names;
  for (const auto& [name, entry] : r.entries) names.push_back(name);
  return names;
}

int SendToDriver(FileDescriptor& file, std::string_view command, std::string* reply) {
  FileArgs args;
  args.driver_string = std::string(command);
  int code = DoFileOp(FileOp::SEND, file, args);
  if (reply != nullptr) *reply = code == 0 ? args.value : std::string();
  return code;
}

int DoFileOp(FileOp op, FileDescriptor& file, FileArgs& args) {
  ClearError();
  DriverLookup why;
  FileDriver* driver = FindDriver(file.driver, &why);
  if (driver == nullptr) return ReportDriverLookupFailure(why);
  if (op == FileOp::OPEN || op == FileOp::CREATE) {
    // A declaration the driver cannot serve (or one whose fields lie outside
    // the record buffer) is refused before the driver touches the buffer.
    if (auto problem = FindDeclarationProblem(file, &driver->Info().capabilities)) {
      return ReportDeclarationProblem(*problem);
    }
    if (args.driver_string.empty()) args.driver_string = file.driver_string;
    ReportDriverStringWarnings(ParseDriverString(args.driver_string, driver->Info().switches),
                               driver->Info().display_name);
  }
  // Untraced (the common case), the call goes straight to the driver,
  // without building the trace settings it would not use.
  int code = TraceMayBeOn(file)
                 ? TraceCall(*driver, TraceModeFor(file, driver->Info()), op, file, args)
                 : driver->Call(op, file, args);
  if (code != 0 && ERRORCODE() != code) PostError(code);
  return code;
}

}  // namespace qzr
