// The program's globals and module table.

#include "app/app_globals.h"

#include <mutex>

#include "app/func_file.h"
#include "app/func_managers.h"
#include "app/quick_find.h"
#include "drivers/palisade/driver.h"
#include "framework/file_registry.h"
#include "runtime/evaluator/evaluator.h"

namespace qzr {

ErrorManager* AppErrors = nullptr;
IniManager* AppIni = nullptr;
FuzzyMatcher* AppMatcher = nullptr;

thread_local uint8_t PendingRequest = 0;
thread_local uint8_t LastResponse = 0;
thread_local int32_t NavRequest = 0;

namespace {

std::mutex g_icon_mu;
std::string g_icon;

// The runtime core: each thread evaluates expressions in its own context.
void RuntimeThreadConstruct() {
  CreateEvaluator();
}
void RuntimeThreadDestruct() {
  DestroyEvaluator();
}
// Storage drivers are known before any file is registered.
void DriversEarly() {
  RegisterPalisadeDriver();
}
// The framework's file registry exists before any manager registers.
void FrameworkGlobalConstruct() {
  FileRegistry::Instance();
}

constexpr ModuleInitRecord kModules[] = {
    {"runtime", 200, nullptr, nullptr, nullptr, nullptr, RuntimeThreadConstruct,
     RuntimeThreadDestruct},
    {"drivers", 30, DriversEarly, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"framework", 28, nullptr, nullptr, FrameworkGlobalConstruct, nullptr, nullptr, nullptr},
    {"qzrfunctions", kAppModulePriority, nullptr, AppRegisterFiles, AppGlobalConstruct,
     AppGlobalDestruct, AppThreadConstruct, AppThreadDestruct},
};

}  // namespace

void AppRegisterFiles() {
  RegisterFuncFile();
}

void AppGlobalConstruct() {
  ClearGlobalQuickFind();
  AppMatcher = new FuzzyMatcher();
  AppErrors = new ErrorManager();
  AppIni = new IniManager();
}

void AppGlobalDestruct() {
  delete AppIni;
  AppIni = nullptr;
  delete AppErrors;
  AppErrors = nullptr;
  delete AppMatcher;
  AppMatcher = nullptr;
}

void AppThreadConstruct() {
  FileStatus().Clear();
  PendingRequest = 0;
  LastResponse = 0;
  NavRequest = 0;
  RegisterFuncFile();
  // The first thread makes its managers in the main procedure.
  if (!ModuleRuntime::IsMainThread()) InitFileObjects();
}

void AppThreadDestruct() {
  KillFileObjects();
  FileStatus().Clear();
  ReleaseFuncFile();
}

std::span<const ModuleInitRecord> ProgramModules() {
  return kModules;
}

std::string DefaultWindowIcon() {
  std::lock_guard<std::mutex> lock(g_icon_mu);
  return g_icon;
}

void SetDefaultWindowIcon(const std::string& icon) {
  std::lock_guard<std::mutex> lock(g_icon_mu);
  g_icon = icon;
}

}  // namespace qzr
