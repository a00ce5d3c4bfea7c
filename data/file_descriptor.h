// The file descriptor: everything a driver and the trace know about one
// declared file.
//
// A FileDescriptor carries the declaration (driver, names, attributes, the
// record's field list, the memo and BLOB list, the key list), the record
// buffer and memo values the program reads and writes, and the driver's
// per-file state. A program declares a file once, as an aggregate or through
// FileDeclaration (below), and hands the descriptor to every operation.
//
// Indexes are 0-based positions in the descriptor's lists throughout: a
// key component's `field`, a field's `over`. Sizes are in bytes.
//
// Threads: a descriptor belongs to one thread at a time (a THREAD file has
// one descriptor per thread, made with CopyDeclaration()); nothing here
// locks.

#ifndef QZR_DATA_FILE_DESCRIPTOR_H_
#define QZR_DATA_FILE_DESCRIPTOR_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/values/types.h"

namespace qzr {

// File attribute flags (FileDescriptor::attributes).
inline constexpr uint32_t kFileCreate = 0x0001;   // CREATE: create on open when missing
inline constexpr uint32_t kFileEncrypt = 0x0002;  // ENCRYPT: encipher with the OWNER password
inline constexpr uint32_t kFileReclaim = 0x0004;  // RECLAIM: reuse the space of deleted records
inline constexpr uint32_t kFileThread = 0x0008;   // THREAD: one instance of the file per thread
inline constexpr uint32_t kFileOem = 0x0010;      // OEM: text kept in the OEM character set

// Memo and BLOB flags (MemoDesc::flags), the bits a table definition stores.
inline constexpr uint16_t kMemoBinary = 0x0002;  // BINARY: the bytes are not text
inline constexpr uint16_t kMemoBlob = 0x0004;    // the entry is a BLOB, not a MEMO

// Key flags (KeyDesc::flags). A key without kKeyIndex is a KEY, maintained
// on every change; with it, an INDEX, built on request.
inline constexpr uint16_t kKeyDup = 0x0001;      // DUP: equal values allowed
inline constexpr uint16_t kKeyOpt = 0x0002;      // OPT: rows with an empty key get no entry
inline constexpr uint16_t kKeyNocase = 0x0004;   // NOCASE: strings compare folded
inline constexpr uint16_t kKeyPrimary = 0x0010;  // PRIMARY
inline constexpr uint16_t kKeyIndex = 0x4000;    // INDEX rather than KEY

// Open modes: the low two bits are the access (0 read-only, 1 write-only,
// 2 read/write), the next four the sharing (0x10 deny all, 0x20 deny write,
// 0x30 deny read, 0x40 deny none).
inline constexpr uint32_t kOpenReadWriteDenyNone = 0x42;

// "No field": the value of FieldDesc::over for a field that overlays none.
inline constexpr int kNoField = -1;

// One field of the record.
struct FieldDesc {
  std::string label;  // with the file's prefix: "FUN:ID"
  TypeCode type = TypeCode::END;
  uint32_t offset = 0;         // position in the record buffer
  uint32_t size = 0;           // bytes of one element (DECIMAL: digits / 2 + 1)
  std::vector<uint32_t> dims;  // DIM element counts, outermost first; empty when none
  int over = kNoField;         // index of the field this one overlays (OVER)
  uint8_t digits = 0;          // DECIMAL and PDECIMAL: declared digits
  uint8_t places = 0;          // DECIMAL and PDECIMAL: decimal places
  std::string picture;         // display picture without its "@" ("s20", "D6"); "" when none
  std::string name;            // external name (NAME attribute); "" when none
  uint16_t group_fields = 0;   // GROUP: the number of fields that follow it as members
  uint16_t extra = 0;          // a further descriptor word, carried unchanged by drivers

  // Number of elements: the product of the DIM counts, 1 without DIM.
  uint32_t ElementCount() const;
  // Bytes the field takes in the record: size * ElementCount().
  uint64_t TotalSize() const;
};

// One MEMO or BLOB of the file.
struct MemoDesc {
  std::string label;   // "FUN:EXAMPLECODE"
  std::string name;    // external name (NAME attribute); "" when none
  uint32_t size = 0;   // MEMO: the declared maximum; BLOB: 0
  uint16_t flags = 0;  // kMemoBinary, kMemoBlob

  bool IsBlob() const { return (flags & kMemoBlob) != 0; }
  bool IsBinary() const { return (flags & kMemoBinary) != 0; }
};

// One component of a key.
struct KeyComponent {
  int field = 0;            // index in FileDescriptor::fields
  bool descending = false;  // "-" in the declaration
};

// One KEY or INDEX of the file.
struct KeyDesc {
  std::string label;   // "FUN:P_ID"
  std::string name;    // external name (NAME attribute); "" when none
  uint16_t flags = 0;  // kKeyDup, kKeyOpt, kKeyNocase, kKeyPrimary, kKeyIndex
  std::vector<KeyComponent> components;

  bool IsIndex() const { return (flags & kKeyIndex) != 0; }
};

// What a driver keeps for an open file. The driver derives its own state
// from this, stores it in FileDescriptor::state at OPEN or CREATE and
// releases it at CLOSE; a descriptor destroyed while open releases it too.
struct DriverFileState {
  virtual ~DriverFileState() = default;
};

struct FileDescriptor {
  // The declaration.
  std::string label;          // "FUNC"
  std::string prefix;         // "FUN"
  std::string driver;         // DRIVER attribute, matched without regard to case: "PALISADE"
  std::string driver_string;  // the driver's options; "" when none
  std::string name;           // physical name (NAME attribute); "" means the label
  std::string owner;          // OWNER password; "" when none. Never printed.
  uint32_t attributes = 0;    // kFileCreate, kFileEncrypt, kFileReclaim, kFileThread, kFileOem
  std::vector<FieldDesc> fields;
  std::vector<MemoDesc> memos;
  std::vector<KeyDesc> keys;

  // Run-time state.
  uint32_t open_mode = 0;                  // mode of the last OPEN
  std::vector<uint8_t> record;             // the record buffer; its size is the record length
  std::vector<std::string> memo_values;    // current value of each memo/BLOB, parallel to `memos`
  std::unique_ptr<DriverFileState> state;  // the driver's, from OPEN/CREATE until CLOSE

  // The name the driver opens: `name`, or the label when no name is given.
  const std::string& PhysicalName() const { return name.empty() ? label : name; }
  uint32_t RecordLength() const { return static_cast<uint32_t>(record.size()); }
  // The bytes the field list spans: the largest offset + TotalSize().
  uint64_t DeclaredRecordLength() const;
  bool Has(uint32_t attribute) const { return (attributes & attribute) != 0; }
  bool IsOpen() const { return state != nullptr; }

  // The declaration and a cleared record buffer and memo values, without the
  // driver state: a fresh instance of the same file (for a THREAD file, the
  // next thread's copy).
  FileDescriptor CopyDeclaration() const;

  // Index of the field, memo or key labelled `label` (without regard to case;
  // with or without the prefix), or -1.
  int FieldIndex(std::string_view label) const;
  int MemoIndex(std::string_view label) const;
  int KeyIndex(std::string_view label) const;

  // Pointer to field `index`'s bytes in the record buffer.
  // REQUIRES: 0 <= index < fields.size() and the field lies inside the buffer.
  uint8_t* FieldData(int index) {
    return record.data() + fields[static_cast<size_t>(index)].offset;
  }
  const uint8_t* FieldData(int index) const {
    return record.data() + fields[static_cast<size_t>(index)].offset;
  }
};

// A small builder for declaring a file in C++. Fields are laid out back to
// back in declaration order (a field with an OVER shares its target's offset
// and does not advance the layout); Build() sizes the record buffer and the
// memo values. Labels given without a colon get the prefix.
//
//   FileDescriptor func = FileDeclaration("FUNC", "FUN")
//       .Driver("PALISADE").Attributes(kFileCreate | kFileThread)
//       .Field("ID", TypeCode::LONG)
//       .String("NAME", TypeCode::CSTRING, 100)
//       .Memo("EXAMPLECODE", 64000)
//       .Key("P_ID", {{"ID"}}, kKeyPrimary | kKeyNocase | kKeyOpt)
//       .Build();
class FileDeclaration {
 public:
  struct Component {
    std::string field;  // label of the component's field
    bool descending = false;
  };

  FileDeclaration(std::string label, std::string prefix);

  FileDeclaration& Driver(std::string driver, std::string driver_string = {});
  FileDeclaration& Name(std::string name);
  FileDeclaration& Owner(std::string owner);
  FileDeclaration& Attributes(uint32_t attributes);

  // A field of a fixed-size type (BYTE, SHORT, USHORT, DATE, TIME, LONG,
  // ULONG, SREAL, REAL, BFLOAT4, BFLOAT8) or any type with an explicit size.
  FileDeclaration& Field(std::string label, TypeCode type, uint32_t size = 0);
  // STRING, CSTRING or PSTRING of `size` bytes, with an optional picture.
  FileDeclaration& String(std::string label, TypeCode type, uint32_t size,
                          std::string picture = {});
  // DECIMAL or PDECIMAL(digits, places).
  FileDeclaration& Decimal(std::string label, TypeCode type, uint8_t digits, uint8_t places);
  // A GROUP whose `members` fields are declared next.
  FileDeclaration& Group(std::string label, uint16_t members);
  // Modifiers of the field declared last.
  FileDeclaration& Dim(std::vector<uint32_t> dims);
  FileDeclaration& Over(std::string target_label);
  FileDeclaration& Picture(std::string picture);
  FileDeclaration& ExternalName(std::string name);

  FileDeclaration& Memo(std::string label, uint32_t size, uint16_t flags = 0,
                        std::string name = {});
  FileDeclaration& Blob(std::string label, uint16_t flags = 0, std::string name = {});
  FileDeclaration& Key(std::string label, std::vector<Component> components, uint16_t flags = 0,
                       std::string name = {});

  // The finished descriptor. Unknown labels named by Over() or a key
  // component leave the reference out of range, which the declaration check
  // reports; the builder itself never fails.
  FileDescriptor Build() const;

 private:
  std::string Qualify(std::string label) const;

  FileDescriptor file_;
  std::vector<std::string> over_labels_;                // parallel to file_.fields
  std::vector<std::vector<Component>> key_components_;  // parallel to file_.keys
};

}  // namespace qzr

#endif  // QZR_DATA_FILE_DESCRIPTOR_H_
