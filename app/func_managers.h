// The managers of FUNC: FuncAccess (its file manager) and FuncRelate (its
// relation manager), one pair per thread, made by InitFileObjects and
// disposed of by KillFileObjects.
//
// FuncAccess serves the calling thread's FUNC with the error manager
// AppErrors, the name "func" in messages, CREATE 1, LOCKRECOVER 10 and the
// key FUN:P_ID ("FUN:P_ID") numbered automatically on its one component.
// It initialises itself on its first use when nobody has yet (any use
// first makes a use of kind 5, which does so). FuncRelate manages
// FuncAccess and has no relations.
//
// Threads: the references are per thread; each thread's pair serves that
// thread's FUNC only.

#ifndef QZR_APP_FUNC_MANAGERS_H_
#define QZR_APP_FUNC_MANAGERS_H_

#include "framework/file_manager.h"
#include "framework/relation_manager.h"

namespace qzr {

inline constexpr char kFuncNameInMessages[] = "func";
inline constexpr char kFuncKeyDescription[] = "FUN:P_ID";

class FuncFileManager : public FileManager {
 public:
  using FileManager::Init;
  // The thread's FUNC with AppErrors and the settings above.
  virtual void Init();
  // Any use first makes a use of kind 5; a use of kind 5 before Init runs
  // Init on the spot.
  Severity EnsureUsable(int useKind) override;
};

class FuncRelationManager : public RelationManager {
 public:
  using RelationManager::Init;
  // Initialises FuncAccess, then this manager over it.
  virtual void Init();
  // Kills FuncAccess too and clears the FuncAccess reference.
  void Kill() override;
};

// The calling thread's managers; null outside InitFileObjects ..
// KillFileObjects.
extern thread_local FuncFileManager* FuncAccess;
extern thread_local FuncRelationManager* FuncRelate;

// Makes and initialises the calling thread's FuncAccess and FuncRelate.
void InitFileObjects();
// Kills FuncRelate (and with it FuncAccess), clears both references and
// disposes of both objects.
void KillFileObjects();

}  // namespace qzr

#endif  // QZR_APP_FUNC_MANAGERS_H_
