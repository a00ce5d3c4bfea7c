// The program's globals and its module: the process-wide AppErrors, AppIni
// and AppMatcher, the per-thread request globals, the application module's
// start-up and shut-down hooks, and the program's module table.
//
// AppMatcher, AppErrors and AppIni are built (in that order) by the
// application module's global construction and destroyed by its global
// destruction (AppIni, then AppErrors, then AppMatcher); they are null
// outside that span. The main procedure initialises them.
//
// Per-thread globals, zero when a thread starts: PendingRequest (the
// request a caller hands to the next procedure), LastResponse (the response
// of the last procedure that ran) and NavRequest (navigation between a
// browse and its form).
//
// Threads: the three managers are shared by every thread and guard their
// own state; the request globals are per thread.

#ifndef QZR_APP_APP_GLOBALS_H_
#define QZR_APP_APP_GLOBALS_H_

#include <cstdint>
#include <span>
#include <string>

#include "app/fuzzy_matcher.h"
#include "app/module_table.h"
#include "framework/error_manager.h"
#include "framework/ini_manager.h"

namespace qzr {

inline constexpr char kAppIniFile[] = "qzrfunctions.INI";
inline constexpr char kAppIcon[] = "AutoformatDoc.ico";
inline constexpr uint8_t kAppModulePriority = 5;

extern ErrorManager* AppErrors;
extern IniManager* AppIni;
extern FuzzyMatcher* AppMatcher;

extern thread_local uint8_t PendingRequest;
extern thread_local uint8_t LastResponse;
extern thread_local int32_t NavRequest;

// The application module's hooks.
void AppRegisterFiles();
void AppGlobalConstruct();
void AppGlobalDestruct();
void AppThreadConstruct();
void AppThreadDestruct();

// The program's module table: the runtime and framework modules with
// hooks, then the application module (the first of priority 5).
std::span<const ModuleInitRecord> ProgramModules();

// The default icon of every window of the program ("" until the main
// procedure sets it).
std::string DefaultWindowIcon();
void SetDefaultWindowIcon(const std::string& icon);

}  // namespace qzr

#endif  // QZR_APP_APP_GLOBALS_H_
