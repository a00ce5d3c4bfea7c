// The dynamic-file service lookup and the ready-made services.

#include "data/dynamic_file.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "data/declaration_check.h"
#include "data/driver_string.h"
#include "data/file_driver.h"
#include "runtime/core/runtime_error.h"

namespace qzr {
namespace {

struct Services {
  std::mutex mu;
  bool looked_up = false;
  ChangeFileService exported_file = nullptr;
  ChangeDriverService exported_driver = nullptr;
  ChangeFileService change_file = nullptr;
  ChangeDriverService change_driver = nullptr;
};

Services& TheServices() {
  static Services services;
  return services;
}

// The two services, looked up on the first call only.
bool LookUp(ChangeFileService* change_file, ChangeDriverService* change_driver) {
  Services& s = TheServices();
  std::lock_guard<std::mutex> lock(s.mu);
  if (!s.looked_up) {
    s.looked_up = true;
    if (s.exported_file != nullptr && s.exported_driver != nullptr) {
      s.change_file = s.exported_file;
      s.change_driver = s.exported_driver;
    } else {
      // Symbols the program itself exports under the services' names.
      void* f = dlsym(RTLD_DEFAULT, kChangeFileService);
      void* d = dlsym(RTLD_DEFAULT, kChangeDriverService);
      if (f != nullptr && d != nullptr) {
        s.change_file = reinterpret_cast<ChangeFileService>(f);
        s.change_driver = reinterpret_cast<ChangeDriverService>(d);
      }
    }
  }
  *change_file = s.change_file;
  *change_driver = s.change_driver;
  return s.change_file != nullptr && s.change_driver != nullptr;
}

int SupportNotFound() {
  DeclarationProblem p;
  p.level = DeclLevel::kSystem;
  p.item = 1;
  p.message = decl::kDynamicFileSupportNotFound;
  return ReportDeclarationProblem(p);
}

}  // namespace

void ExportDynamicFileServices(ChangeFileService change_file, ChangeDriverService change_driver) {
  Services& s = TheServices();
  std::lock_guard<std::mutex> lock(s.mu);
  s.exported_file = change_file;
  s.exported_driver = change_driver;
}

int ChangeFileDeclaration(FileDescriptor& file, const FileDescriptor& declaration) {
  ChangeFileService change_file;
  ChangeDriverService change_driver;
  if (!LookUp(&change_file, &change_driver)) return SupportNotFound();
  ClearError();
  int code = change_file(file, declaration);
  if (code != 0 && ERRORCODE() != code) PostError(code);
  return code;
}

int ChangeFileDriver(FileDescriptor& file, std::string_view driver, std::string_view driver_string) {
  ChangeFileService change_file;
  ChangeDriverService change_driver;
  if (!LookUp(&change_file, &change_driver)) return SupportNotFound();
  ClearError();
  std::string d(driver), s(driver_string);
  int code = change_driver(file, d.c_str(), s.c_str());
  if (code != 0 && ERRORCODE() != code) PostError(code);
  return code;
}

int DefaultChangeFile(FileDescriptor& file, const FileDescriptor& declaration) {
  if (file.IsOpen()) {
    PostError(kFileAlreadyOpen);
    return kFileAlreadyOpen;
  }
  FileDescriptor next = declaration.CopyDeclaration();
  if (next.driver.empty()) {
    next.driver = file.driver;
    next.driver_string = file.driver_string;
  }
  // A declaration made without a buffer gets one that holds every field; the
  // check refuses the rest (a record over the size limit).
  uint64_t length = next.DeclaredRecordLength();
  if (next.record.size() < length && length <= kMaxRecordSize) next.record.assign(length, 0);
  if (int code = CheckFileDeclaration(next); code != 0) return code;
  file = std::move(next);
  return 0;
}

int DefaultChangeDriver(FileDescriptor& file, const char* driver, const char* driver_string) {
  if (file.IsOpen()) {
    PostError(kFileAlreadyOpen);
    return kFileAlreadyOpen;
  }
  DriverLookup why;
  FileDriver* d = FindDriver(driver != nullptr ? driver : "", &why);
  if (d == nullptr) return ReportDriverLookupFailure(why);
  if (auto p = FindDeclarationProblem(file, &d->Info().capabilities)) {
    return ReportDeclarationProblem(*p);
  }
  std::string options = driver_string != nullptr ? driver_string : "";
  ReportDriverStringWarnings(ParseDriverString(options, d->Info().switches), d->Info().display_name);
  file.driver = d->Info().name;
  file.driver_string = std::move(options);
  return 0;
}

void ResetDynamicFileServicesForTesting() {
  Services& s = TheServices();
  std::lock_guard<std::mutex> lock(s.mu);
  s.looked_up = false;
  s.exported_file = nullptr;
  s.exported_driver = nullptr;
  s.change_file = nullptr;
  s.change_driver = nullptr;
}

}  // namespace qzr
