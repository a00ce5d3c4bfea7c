// The transaction control file: a Palisade file that records which
// multi-file transactions are between their start and their commit point,
// and the transaction record each data file of such a transaction carries.
//
// CONTROL FILE RECORDS
//
//   KEY                          PAYLOAD   MEANING
//   transaction id (u32, BE)     none      the transaction has not committed
//
// TRANSACTION RECORD in a data file (key: the single byte 0xFF, after every
// table's records)
//
//   OFFSET  SIZE   MEANING
//   0       u32    transaction id, big-endian (as in the control file's key)
//   4       ...    the control file's name, zero-terminated; the marker
//                  "C:\paliSadE.TCF" stands for "palisade.tcf" in the data
//                  file's own directory
//
// A data file whose interrupted update carries a transaction record is
// completed only when its control file no longer holds the id.
//
// Every access to a control file runs under its writer byte (waiting), so
// that processes committing, and processes recovering, see it whole; a
// control file interrupted in its own update is recovered (always applied)
// when it is opened. Threads: a ControlFile object belongs to one thread;
// the free functions are safe from any thread.

#ifndef QZR_DRIVERS_PALISADE_TCF_H_
#define QZR_DRIVERS_PALISADE_TCF_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drivers/palisade/lock_map.h"
#include "drivers/palisade/pager.h"
#include "drivers/palisade/record.h"
#include "runtime/os/file_io.h"

namespace qzr::palisade {

inline constexpr char kDefaultControlFile[] = "C:\\paliSadE.TCF";
inline constexpr char kControlFileLeaf[] = "palisade.tcf";

struct TxnRecord {
  uint32_t id = 0;
  std::string control_file;  // as stored (possibly the default marker)
};

// The transaction record's payload, and its parse (nullopt when malformed:
// shorter than 5 bytes or without the terminating zero).
std::vector<uint8_t> TxnRecordPayload(uint32_t id, const std::string& control_file);
std::optional<TxnRecord> ParseTxnRecord(Bytes payload);
// The transaction record of a data file (key 0xFF).
PlxRecord MakeTxnRecord(uint32_t id, const std::string& control_file);

// The control file a stored name designates for the data file at
// `data_path`: the default marker means "palisade.tcf" beside the data file
// (matched without regard to case); any other name is used as it is.
std::string ResolveControlFile(const std::string& stored, const std::string& data_path);

enum class TcfVerdict {
  kCommitted,    // the id is gone: the transaction reached its commit point
  kPending,      // the id is present: it never did
  kUnavailable,  // the control file cannot be opened or read
};

// Asks the control file at `path` about transaction `id`. Waits while
// another process holds the control file.
TcfVerdict AskControlFile(const std::string& path, uint32_t id);

// One open control file.
class ControlFile {
 public:
  // Opens `path`, creating it (and flushing its directory) when missing.
  // Returns 0 or a posted runtime error (as Pager::Open).
  static int Open(const std::string& path, bool create, std::unique_ptr<ControlFile>* out);
  ~ControlFile();
  ControlFile(const ControlFile&) = delete;
  ControlFile& operator=(const ControlFile&) = delete;

  // Records `*id`, first raising it by 1 for as long as the file already
  // holds it, and commits. Returns 0 or a posted 90.
  int Enter(uint32_t* id);
  // Deletes `id` and commits: for a transaction, its commit point. Returns
  // 0 or a posted 90.
  int Leave(uint32_t id);
  // Whether `id` is recorded (read under the lock).
  bool Holds(uint32_t id);

  const std::string& path() const { return path_; }
  Pager* pager() { return pager_.get(); }

 private:
  ControlFile() = default;
  int Lock();
  void Unlock();

  std::string path_;
  std::unique_ptr<OsFile> lock_file_;
  std::unique_ptr<LockMap> locks_;
  std::unique_ptr<Pager> pager_;
};

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_TCF_H_
