// FuncAccess and FuncRelate.

#include "app/func_managers.h"

#include "app/app_globals.h"
#include "app/func_file.h"
#include "framework/file_registry.h"

namespace qzr {

thread_local FuncFileManager* FuncAccess = nullptr;
thread_local FuncRelationManager* FuncRelate = nullptr;

void FuncFileManager::Init() {
  FileManager::Init(&FUNC(), AppErrors);
  FILENAMEVALUE = kFuncNameInMessages;
  CREATE = 1;
  LOCKRECOVER = 10;
  RegisterKey(kFunPId, kFuncKeyDescription, 1);
}

Severity FuncFileManager::EnsureUsable(int useKind) {
  if (useKind != kUseOpen) {
    Severity s = EnsureUsable(kUseOpen);
    if (s != SeverityNone) return s;
  } else if (!INITIALIZED) {
    Init();
  }
  return FileManager::EnsureUsable(useKind);
}

void FuncRelationManager::Init() {
  if (FuncAccess != nullptr) FuncAccess->Init();
  RelationManager::Init(FuncAccess);
}

void FuncRelationManager::Kill() {
  RelationManager::Kill();
  if (FuncAccess != nullptr) FuncAccess->Kill();
  FuncAccess = nullptr;
}

void InitFileObjects() {
  if (FuncRelate != nullptr) return;  // this thread has its pair already
  FuncAccess = new FuncFileManager();
  FuncRelate = new FuncRelationManager();
  FuncRelate->Init();
}

void KillFileObjects() {
  FuncFileManager* access = FuncAccess;
  FuncRelationManager* relate = FuncRelate;
  if (relate != nullptr) relate->Kill();
  FuncAccess = nullptr;
  FuncRelate = nullptr;
  delete relate;
  delete access;
}

}  // namespace qzr
