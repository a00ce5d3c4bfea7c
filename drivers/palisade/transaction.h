// Transactions over several Palisade files: LOGOUT, COMMIT and ROLLBACK.
//
// LOGOUT names the files taking part; from then on their changes stay in
// memory (Pager::HoldChanges) until COMMIT writes them out as one atomic
// update, or ROLLBACK drops them. COMMIT:
//
//   1. Files that did not change are left alone. When exactly one changed,
//      it commits as a single file (Pager::Flush).
//   2. The control file: the one set by the "TCF" command or switch
//      (process-wide), else "palisade.tcf" beside the first changed file.
//   3. The transaction id: the clock (milliseconds, 32 bits), raised by 1
//      while the control file already holds it; the id is entered in the
//      control file and committed there.
//   4. Each changed file gets its transaction record (key 0xFF: the id and
//      the control file's name) and is prepared: shadows, mark, synced
//      (Pager::PrepareCommit). If one fails, those already prepared are
//      abandoned, the failing one is rolled back, the id is removed, and
//      COMMIT returns 48.
//   5. The id is deleted from the control file and that file committed:
//      this is the COMMIT POINT. A crash before it leaves every file's
//      update to be discarded at its next open; a crash after it, applied.
//   6. Each file applies its update (Pager::ApplyCommit).
//
// Invariants:
//   1. At most one transaction is active in the process.
//   2. A file of the active transaction holds its changes (HoldChanges)
//      until COMMIT or ROLLBACK ends the transaction.
//   3. One control file decides a transaction: every record of it names
//      the same control file, so the commit point is a single commit there.
//
//   idle --TransactionBegin--> active --TransactionCommit--> idle
//                              active --TransactionRollback--> idle
//
// Between processes the caller holds each file's writer byte from its
// first change until COMMIT or ROLLBACK returns (lock order: data files'
// writer bytes, then a control file's); the control file is locked here.
// Threads: the transaction state is process-wide and guarded by a mutex;
// the driver serialises the calls that reach the files.

#ifndef QZR_DRIVERS_PALISADE_TRANSACTION_H_
#define QZR_DRIVERS_PALISADE_TRANSACTION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "drivers/palisade/pager.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {

// The entry points answer with the runtime's codes (runtime_error.h):
// kUnableToLogTransaction 48, kLogoutAlreadyActive 56, kUnableToRollback
// 65, kLogoutNotActive 91.

// LOGOUT over `files` (not owned; they must stay open until the transaction
// ends or TransactionForget). Changes a file holds already are committed
// first, on their own. Returns 0; 56 when a transaction is active; 48 when
// a file cannot take part (read-only, or its earlier changes failed to
// commit). Codes are posted.
int TransactionBegin(const std::vector<Pager*>& files);
// Adds a file to the active transaction (a file opened after LOGOUT).
// Returns 0, 91 without a transaction, 48 as above.
int TransactionAdd(Pager* file);
// COMMIT. Returns 0; 91 without a transaction; 48 when the transaction
// could not be committed (every file is then as last committed). Once the
// commit point is passed COMMIT returns 0: a file that then fails to write
// its update home is completed at its next open.
int TransactionCommit();
// ROLLBACK: every file as its last committed header describes. Returns 0;
// 91 without a transaction; 65 when a file could not be read back.
int TransactionRollback();
// Takes a file out of the active transaction (it is being closed), dropping
// its uncommitted changes.
void TransactionForget(Pager* file);

bool TransactionActive();
bool InTransaction(const Pager* file);

// The "TCF" setting: the control file used for every transaction of the
// process; "" restores the default (palisade.tcf beside the data). Names
// are kept as given; a relative name is made absolute when a transaction
// stores it.
void SetControlFileName(const std::string& name);
std::string ControlFileName();

// The id of the last transaction committed through a control file (0 when
// none); for tests.
uint32_t LastTransactionId();

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_TRANSACTION_H_
