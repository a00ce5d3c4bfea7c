// The entry sequence and the main procedure.

#include "app/program.h"

#include <cfenv>

#include "app/app_globals.h"
#include "app/drag_setting.h"
#include "app/func_managers.h"
#include "app/module_table.h"

namespace qzr {
namespace {

int g_exit_code = 0;

}  // namespace

void ResetFloatingPoint() {
  std::feclearexcept(FE_ALL_EXCEPT);
  std::fesetenv(FE_DFL_ENV);
}

void SetProgramExitCode(int code) {
  g_exit_code = code;
}
int ProgramExitCode() {
  return g_exit_code;
}

void MainProcedure(const TopProcedure& main) {
  AppErrors->Init();
  AppMatcher->Init();
  AppMatcher->SetOption(kMatchOptionNoCase, 1);
  AppMatcher->SetOption(kMatchOptionWordOnly, 0);
  AppIni->Init(kAppIniFile, kIniFile, 0);
  InitFileObjects();
  SetDefaultWindowIcon(kAppIcon);
  DragSetting& drag = CurrentDragSetting();
  bool dragging_was_on = drag.FullWindowDragging();
  if (dragging_was_on) drag.SetFullWindowDragging(false);
  if (main) main();
  AppIni->FinalUpdate();
  if (dragging_was_on) drag.SetFullWindowDragging(true);
  AppIni->Kill();
  AppMatcher->Kill();
}

int RunProgram(const TopProcedure& main) {
  ResetFloatingPoint();
  g_exit_code = 0;
  if (!ModuleRuntime::Init(ProgramModules())) return ModuleRuntime::ExitCode();
  ModuleRuntime::StartUp();
  MainProcedure(main);
  ModuleRuntime::Halt(g_exit_code);
  return ModuleRuntime::ExitCode();
}

}  // namespace qzr
