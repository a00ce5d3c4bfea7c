// TransactionFrame: the transaction of one framework operation over one or
// more files. Each file is enlisted with LOGOUT; the frame ends with one
// COMMIT or ROLLBACK per driver among the enlisted files (a driver's
// transaction takes in every file of that driver enlisted on the thread).
//
// A frame made while another is open on the same thread (a trigger hook
// that updates a related file during an Update, say) joins it: its files
// are enlisted in the open frame, and committing is left to the frame that
// began it. A frame that began the transaction and is destroyed without a
// successful Commit rolls back, keeping the thread's runtime error (the
// failure being reported stays the one ERRORCODE gives).
//
//   (none) --Enlist ok--> active --Commit ok--> ended
//                            |  \--Commit fails: the others rolled back--> ended
//                            \--Enlist fails / Rollback / destructor--> ended (rolled back)
//
// Threads: a frame belongs to the thread that made it; each thread has at
// most one open frame.

#ifndef QZR_FRAMEWORK_TRANSACTION_FRAME_H_
#define QZR_FRAMEWORK_TRANSACTION_FRAME_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "data/file_descriptor.h"

namespace qzr {

class RelationManager;

class TransactionFrame {
 public:
  // Begins a frame, or joins the one open on this thread.
  TransactionFrame();
  // Rolls back a frame this object began and did not commit.
  ~TransactionFrame();
  TransactionFrame(const TransactionFrame&) = delete;
  TransactionFrame& operator=(const TransactionFrame&) = delete;

  // Enlists `file` with LOGOUT, waiting at most `timeout` seconds for its
  // lock; `owner` (may be nullptr) is handed back by Commit when this
  // file's driver fails to commit. A file already enlisted is left as it
  // is. Returns 0 when the file is in the transaction or stays out of it
  // because its driver has none (80), or is already in one (56); any other
  // error rolls back what was enlisted, ends the frame and is returned.
  [[nodiscard]] int Enlist(FileDescriptor* file, uint32_t timeout,
                           RelationManager* owner = nullptr);

  // True while a transaction frames the operation (its own or the one it
  // joined): at least one file is enlisted and it has not ended.
  bool Transactional() const;

  // True iff this frame joined one begun elsewhere on the thread.
  bool joined() const { return outer_ != nullptr; }

  // Commits a frame this object began; a joined frame, or one with nothing
  // enlisted, is left alone and gives 0. On failure the drivers that had
  // not committed are rolled back, *failed (if given) is the owner of the
  // file whose driver failed, and the runtime error code is returned.
  [[nodiscard]] int Commit(RelationManager** failed = nullptr);

  // Rolls back a frame this object began (nothing for a joined frame or
  // one already ended), keeping the thread's runtime error.
  void Rollback();

  // Rolls back the frame open on this thread, whoever began it (a hook that
  // gives up the whole operation); its Commit then does nothing.
  static void RollbackOpenFrame();

 private:
  struct Open {
    std::vector<std::pair<RelationManager*, FileDescriptor*>> enlisted;
    bool active = false;
  };
  Open& open() { return outer_ != nullptr ? *outer_ : own_; }

  Open* outer_;
  Open own_;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_TRANSACTION_FRAME_H_
