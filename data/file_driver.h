// The file-driver interface: the one entry through which the runtime asks a
// storage driver to do a file operation, the argument block it passes, and
// the process-wide registry of drivers.
//
// A driver implements FileDriver::Call(op, file, args) and returns a runtime
// error code (0 for success); an operation it does not implement returns
// kUnsupportedFunction (80). DoFileOp() is the runtime's side: it finds the
// driver named by the descriptor, routes the call through the trace when the
// trace is on for the file, and posts the result on the calling thread's
// error state (ERRORCODE and companions).
//
// Threads: the registry is guarded by a process-wide lock; registration may
// happen from any thread at any time, and a registered driver stays
// registered (its pointer stays valid) until the process ends or the same
// name is registered again. A driver serialises its own calls.

#ifndef QZR_DATA_FILE_DRIVER_H_
#define QZR_DATA_FILE_DRIVER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/driver_string.h"
#include "data/file_descriptor.h"
#include "data/file_ops.h"
#include "runtime/core/runtime_error.h"
#include "runtime/values/types.h"

namespace qzr {

// File properties the framework reads and sets through GET_PROPERTY and
// SET_PROPERTY (FileArgs::property; the value travels in FileArgs::value as
// decimal text). Their meaning is the driver's; what the framework relies on:
inline constexpr uint32_t kPropertyReadAhead = 0x7355;  // records fetched per sequential read; 0 = off
inline constexpr uint32_t kPropertyThread = 0x7C95;     // "1" for a THREAD file (one instance per thread)
inline constexpr uint32_t kPropertyBlobCount = 0x7311;  // number of BLOBs of the file
// A count that moves whenever the file changes, in this process or another
// (the storage engine answers its committed change count). Readers that keep
// derived data, such as a view's sorted row list, compare it to know when to
// rebuild.
inline constexpr uint32_t kPropertyChangeCount = 0x7C96;
// DO_PROPERTY: reads the memos of the record read last, which a NOMEMO read
// left out, into the memo values, as if that read had read them: not a
// second record read. A reader that decides on the record alone (a view's
// filter) reads the memos of the records it keeps only. When the record
// changed or went since it was read, the record buffer is read again with
// its memos and args.result is 1 (0 otherwise), so that the reader decides
// again; 35 when it is gone. A driver without it answers 80.
inline constexpr uint32_t kPropertyReadMemos = 0x7C97;
// DO_PROPERTY: makes the record at args.position the current record (the
// one PUT and DELETE act on) without reading it: a reader whose reads passed
// other records through the buffer puts back the one it handed out last.
// Position 0 leaves no current record. 35 when the record is gone (and then
// there is no current record either). A driver without it answers 80.
inline constexpr uint32_t kPropertyCurrentRecord = 0x7C98;
// DO_PROPERTY: the reader is about to read the records at these positions,
// in this order, by GETfileptr (args.value: each position as 4 bytes, most
// significant first; args.length: 1 when those reads take the memos, 0 when
// each comes after a NOMEMO). A driver may read them now, together, and
// answer those reads from what it read, as long as nothing else happens on
// the descriptor in between; what a read answers is the same either way,
// as of some moment between this call and the read. It changes no position
// and no buffer. A driver without it answers 80, and the reads go on as
// before.
inline constexpr uint32_t kPropertyRowsAhead = 0x7C99;
// DO_PROPERTY: the transaction under way loads many records at once (an
// import). A driver may hold more of its changes in memory before it writes
// any of them, until the transaction ends: fewer writes of pages that the
// load changes again, for more memory. What is stored and what the
// transaction guarantees are the same either way. A driver without it
// answers 80.
inline constexpr uint32_t kPropertyBulkLoad = 0x7C9A;
// SET_PROPERTY: the records a reader usually reads after it positions a
// file (a browse's page; args.value in decimal, "0" for no such habit). A
// driver that reads records ahead in batches may make its first batch after
// a positioning that long, so that a page is one batch, and grow the batches
// from there while the reading goes on. What each read answers is the same
// either way. A driver without it answers 80.
inline constexpr uint32_t kPropertyPageRows = 0x7C9B;

// The runtime error codes the interface itself returns (kRecordNotAvailable,
// kRecordNotFound, kFileNotOpen, kInvalidRecordDeclaration, kFileAlreadyOpen,
// kUnsupportedFunction) are named in runtime/runtime_error.h.

// A test a reader applies to the record in a file's record buffer (its
// memos and other files aside): Keep() false means the reader would drop it.
class RecordCheck {
 public:
  virtual bool Keep() = 0;

 protected:
  ~RecordCheck() = default;
};

// The arguments of one operation. Which members an operation reads follows
// its name's suffix: `key` forms read `key`, `ptr` forms `position`, `len`
// forms `length`, `sec` forms `timeout`; OPEN and CREATE read
// `driver_string` (the file's own when empty), SEND reads its command there.
// Results come back in `result` (counts, positions, sizes) and `value`
// (replies, property values).
struct FileArgs {
  int key = -1;                // index in FileDescriptor::keys; -1 for none
  uint32_t position = 0;       // a 4-byte record position
  uint32_t length = 0;         // a length in bytes; SKIP: the count
  uint32_t timeout = 0;        // a time-out in seconds
  std::string driver_string;   // OPEN/CREATE options, SEND command
  uint32_t property = 0;       // property number for the *PROPERTY* operations (0x7355 ...)
  int index = 0;               // property index; memo/BLOB index for BLOB_*
  uint32_t view = 0;           // identity of the view making the call, 0 when none
  std::string value;           // in: property value to set; out: reply, property value
  int64_t result = 0;          // out: RECORDS, POINTER, BYTES, BLOB_SIZE, ...
                               // NEXT, PREVIOUS: the position of the record
                               // read, when the driver tells it (else left 0)
  // NEXT, PREVIOUS, GETfileptr: the read leaves the memos out, as a NOMEMO
  // just before it would. Read only by a driver whose capabilities say
  // nomemo_with_read; a caller asks the others with NOMEMO.
  bool nomemo = false;
  // NEXT, PREVIOUS: the driver may pass over the records `skip` drops and
  // read on, so that the record read is one it keeps, or the last one it
  // looked at before it stopped looking (the caller checks it again). The
  // records passed over are read as any read reads them, so when the read
  // ends (33) the record buffer and the current record may be the last of
  // them. Read only by a driver whose capabilities say skip_with_read, and
  // only given with NOMEMO armed (or no memos declared).
  RecordCheck* skip = nullptr;
};

// What a driver can store. The declaration check reports the declarations
// that ask for more. A maximum of 0 means no limit; the type mask starts
// empty, so a driver lists every type it stores.
struct DriverCapabilities {
  // Bit n set: type code n can be a field of a record.
  uint64_t types = 0;
  bool memo = false;             // MEMO
  bool blob = false;             // BLOB
  bool binary_memo = false;      // BINARY memos and BLOBs
  bool descending_keys = false;  // descending key components
  bool mixed_keys = false;       // ascending and descending components in one key
  uint32_t max_memos = 0;        // memos and BLOBs together
  uint32_t max_keys = 0;
  uint32_t max_dimensions = 4;   // DIM counts per field
  uint64_t max_field_size = 0;   // bytes of one field, all elements
  uint64_t max_memo_size = 0;    // bytes of one MEMO
  // A read takes FileArgs::nomemo, so a caller need not call NOMEMO first.
  bool nomemo_with_read = false;
  // A sequential read takes FileArgs::skip.
  bool skip_with_read = false;

  bool Stores(TypeCode type) const {
    auto code = static_cast<unsigned>(type);
    return code < 64 && ((types >> code) & 1u) != 0;
  }
};

// The type mask of a list of type codes.
uint64_t TypeMask(std::initializer_list<TypeCode> types);

// A driver's identity.
struct DriverInfo {
  std::string name;          // upper case, the DRIVER attribute's text: "PALISADE"
  std::string display_name;  // "Palisade (PLX)"
  std::string default_extension;  // added to a physical name without one: ".PLX"; "" for none
  DriverCapabilities capabilities;
  std::vector<SwitchSpec> switches;  // the driver string switches it knows
};

class FileDriver {
 public:
  virtual ~FileDriver() = default;

  // Performs `op` on `file` and returns a runtime error code, 0 on success.
  // Operating-system failures return 90 after PostErrno/PostOsError.
  // Unsupported operations return kUnsupportedFunction.
  virtual int Call(FileOp op, FileDescriptor& file, FileArgs& args) = 0;

  virtual const DriverInfo& Info() const = 0;
};

// Builds a driver when it is first needed; may return nullptr when the
// driver cannot be loaded.
using DriverFactory = std::function<std::unique_ptr<FileDriver>()>;

// Registers `driver` under driver->Info().name (upper-cased). Replaces a
// driver of the same name; the replaced one is kept alive until the process
// ends so that pointers handed out stay valid.
void RegisterDriver(std::unique_ptr<FileDriver> driver);
// Registers a factory, run once on the first lookup of `name`.
void RegisterDriverFactory(std::string_view name, DriverFactory factory);

// Why a lookup failed; each maps to a FILE-level declaration message.
enum class DriverLookup {
  kFound,
  kNoDriverSpecified,  // the name is empty: "No File Driver Specified"
  kCouldNotLoad,       // the factory returned nullptr: "File Driver could not be loaded"
  kNotDefined,         // nothing registered: "File Driver not defined"
};

// The driver registered under `name` (without regard to case), or nullptr
// with the reason in *why.
FileDriver* FindDriver(std::string_view name, DriverLookup* why = nullptr);

// The names of the registered drivers, sorted.
std::vector<std::string> RegisteredDrivers();

// The runtime's file operation: finds the file's driver (a missing one is
// reported at FILE level and gives kInvalidRecordDeclaration), calls it
// through the trace when the trace is on for the file, and posts the result:
// ERRORCODE becomes the returned code (cleared on success; a code the driver
// posted itself, with its FILEERRORCODE, is kept).
//
// OPEN and CREATE first check the declaration against the driver's
// capabilities (a problem is reported and gives kInvalidRecordDeclaration
// without calling the driver), fill an empty args.driver_string from the
// file, and show the driver-string warnings against the driver's switch
// table. Drivers therefore read their switches (ParseDriverString and the
// Switch* reads) without reporting warnings again.
int DoFileOp(FileOp op, FileDescriptor& file, FileArgs& args);
inline int DoFileOp(FileOp op, FileDescriptor& file) {
  FileArgs args;
  return DoFileOp(op, file, args);
}

// SEND: hands `command` ("Recover=10", "QUICKSCAN=on", a driver's own
// command) to the file's driver; the driver's reply goes to *reply.
int SendToDriver(FileDescriptor& file, std::string_view command, std::string* reply = nullptr);

}  // namespace qzr

#endif  // QZR_DATA_FILE_DRIVER_H_
