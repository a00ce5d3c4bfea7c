// One open operating-system Palisade file as the driver uses it: the pager
// and page tree over it, the tables, the page cipher of a password-protected
// file, the lock map, and the open's sharing.
//
// Sharing: the sharing part of the open mode is kept between file objects
// (in this process and others) with four lock bytes far past any data, next
// to a gate byte that makes the check and the taking of them one step:
//
//   OFFSET               MEANING (each 1 byte, held shared while open)
//   kShareBase + 0       gate: held exclusively during an open's check
//   kShareBase + 1       some open reads the file
//   kShareBase + 2       some open writes the file
//   kShareBase + 3       some open denies reading to others
//   kShareBase + 4       some open denies writing to others
//
// An open that would read where another denies reading (or write where
// another denies writing), or deny what another already does, is refused
// with 5 ("Access Denied"), as a sharing violation is.
//
// Operations: on a shared (deny none) file every operation runs between
// BeginOperation and EndOperation: the reader slot for a reading one, the
// writer byte for a changing one, and the header is re-read (the pager drops
// its cached pages when the file's ChangeCount moved). Changes go out through
// WriteOut, which on a shared or deny-write file first takes every reader
// slot, so that no reader of another file object is inside an operation
// while pages are written. While changes are kept over several operations
// (STREAM, a transaction) the writer byte stays held from the first change
// until they are written out or dropped (KeepWriter).
//
// Lock order: reader slot or writer byte -> all reader slots -> hold and
// lock bytes.
//
// Threads: a PlxFile belongs to one descriptor; the driver serialises calls.

#ifndef QZR_DRIVERS_PALISADE_PLX_FILE_H_
#define QZR_DRIVERS_PALISADE_PLX_FILE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "drivers/palisade/cipher.h"
#include "drivers/palisade/lock_map.h"
#include "drivers/palisade/page_tree.h"
#include "drivers/palisade/pager.h"
#include "drivers/palisade/tables.h"
#include "runtime/os/file_io.h"

namespace qzr::palisade {

inline constexpr uint64_t kShareBase = 0x100000000000ull;

// The sharing part of an open mode (after a mode below 0x10 became + 0x40).
inline constexpr uint32_t kShareDenyAll = 0x10;
inline constexpr uint32_t kShareDenyWrite = 0x20;
inline constexpr uint32_t kShareDenyRead = 0x30;
inline constexpr uint32_t kShareDenyNone = 0x40;

struct PlxOpenOptions {
  bool writable = true;
  bool create = false;  // create the operating-system file when missing
  uint32_t share = kShareDenyNone;
  std::string password;  // "" for a file without one
  PagerOptions pager;    // the cipher is set by Open
  // How long a changing operation waits for the writer byte before it gives
  // up with 5; reading operations wait the same for their slot.
  int lock_wait_ms = 30000;
};

class PlxFile {
 public:
  // Opens `path`. Returns 0, or a posted runtime error: 2, 3, 4, 5 (also for
  // a sharing conflict), 36 (not a Palisade file), 90 with FILEERRORCODE 86
  // for a wrong password, 90 for another operating-system failure.
  static int Open(const std::string& path, const PlxOpenOptions& options,
                  std::unique_ptr<PlxFile>* out);
  ~PlxFile();
  PlxFile(const PlxFile&) = delete;
  PlxFile& operator=(const PlxFile&) = delete;

  Pager* pager() { return pager_.get(); }
  PageTree* tree() { return tree_.get(); }
  PlxTables* tables() { return tables_.get(); }
  LockMap* locks() { return locks_.get(); }
  const std::string& path() const { return path_; }
  bool read_only() const { return !options_.writable; }
  bool shared() const { return options_.share == kShareDenyNone; }
  bool deny_write() const { return options_.share == kShareDenyWrite; }
  bool encrypted() const { return cipher_ != nullptr; }
  // The page cipher of an encrypted file; nullptr for a plain file.
  const PageCipher* cipher() const { return cipher_.get(); }
  const PlxOpenOptions& options() const { return options_; }

  // Starts an operation (see the file comment). Returns 0, 5 when the lock
  // could not be had, 36 when the header is no longer valid, or 90.
  [[nodiscard]] int BeginOperation(bool changing);
  void EndOperation();
  // Keeps the writer byte over operations while changes wait to be written;
  // KeepWriter(false) lets it go (at once when no operation is open).
  void KeepWriter(bool keep);

  // Writes every change out and commits the header. Returns 0 or a posted
  // error (then the changes are dropped: the file is as last committed).
  [[nodiscard]] int WriteOut();
  // Drops every change not written out.
  void Rollback();

  // Commits made to this file by any file object of this process so far
  // (another process's commits show through the header's ChangeCount).
  uint64_t local_commits() const { return commit_counter_->load(); }

 private:
  PlxFile() = default;
  int TakeShare(uint32_t access_bits);
  int WaitFor(bool changing);
  int RecoveryGuard(bool begin);

  std::string path_;
  PlxOpenOptions options_;
  std::unique_ptr<OsFile> lock_file_;                // the object's own open file description
  std::atomic<uint64_t>* commit_counter_ = nullptr;  // shared per file; not owned
  std::unique_ptr<PageCipher> cipher_;
  std::unique_ptr<LockMap> locks_;
  std::unique_ptr<Pager> pager_;
  std::unique_ptr<PageTree> tree_;
  std::unique_ptr<PlxTables> tables_;
  bool in_operation_ = false;
  bool keep_writer_ = false;
  bool recovery_writer_ = false;  // the writer byte taken for a recovery
};

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_PLX_FILE_H_
