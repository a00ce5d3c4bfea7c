// VIEW declarations: the compact descriptor of a view, the walker over it,
// the questions the runtime answers from it (files, fields, joins), the
// view's text for the driver trace, and a builder to declare a view in C++.
//
// Descriptor layout: one level per file, the primary file first, joined
// files nested depth-first. All 16-bit values little-endian.
//
//   SIZE     MEANING
//   1        join: 0 for the primary file; for a joined file either 255
//            followed by a zero-terminated join expression, or the number J
//            (0..254) of linking fields followed by J u16 field numbers of
//            the parent (1-based), in the order of the secondary key's
//            components
//   1        flags: bit 0 (kViewJoinInner) INNER
//   2        projected-field count; 0xFFFF (kViewNoProject) means no PROJECT:
//            every field of the file is in the view
//   2 each   projected entries: a u16 field number (1-based), or 0xFFFF
//            (kViewMemoEntry) followed by a u16 memo number (1-based)
//   1        number of joined files at this level, then that many levels
//
// The descriptor does not name the key of a JOIN; the view object keeps it
// beside each file (ViewFile::join_key).
//
// File and field numbers handed out are 1-based; 0 means "none" (a number
// beyond the counts). Memo numbers come back negated so that one int tells a
// field from a memo.
//
// Threads: a View is built once and then only read; reading it from several
// threads is safe. The files it points at belong to the thread that owns the
// view.

#ifndef QZR_DATA_VIEW_H_
#define QZR_DATA_VIEW_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/file_descriptor.h"

namespace qzr {

inline constexpr uint8_t kViewJoinByExpression = 255;
inline constexpr uint8_t kViewJoinInner = 0x01;
inline constexpr uint16_t kViewNoProject = 0xFFFF;
inline constexpr uint16_t kViewMemoEntry = 0xFFFF;
// The walker keeps the start of at most this many enclosing levels.
inline constexpr int kViewMaxLevels = 20;
// The view text is built in a buffer of this many bytes unless the caller
// gives one.
inline constexpr size_t kViewTextBufferSize = 64000;

// One level of the descriptor, as the walker decodes it.
struct ViewLevel {
  int file = 0;    // 1-based number in descriptor order
  int depth = 0;   // 0 for the primary file
  int parent = 0;  // file number of the parent level; 0 for the primary
  bool join_by_expression = false;
  std::string join_expression;
  std::vector<uint16_t> link_fields;  // parent field numbers, 1-based
  bool inner = false;
  bool projected = false;           // false: no PROJECT, every field
  std::vector<int32_t> projection;  // field numbers; memo numbers negated
  int joined = 0;                   // joined files directly below this level
};

// Walks a descriptor depth-first, one level per call. Never reads past the
// end of the bytes: a truncated or malformed descriptor, or one nested more
// than kViewMaxLevels deep, ends the walk with failed() true.
class ViewWalker {
 public:
  explicit ViewWalker(std::span<const uint8_t> descriptor) : bytes_(descriptor) {}

  // Decodes the next level into *level; false at the end or on failure.
  bool Next(ViewLevel* level);
  bool failed() const { return failed_; }
  // True once every level was read and no bytes are left over.
  bool complete() const { return done_ && !failed_; }

 private:
  bool Fail() {
    failed_ = true;
    return false;
  }
  bool ReadU8(uint8_t* v);
  bool ReadU16(uint16_t* v);

  struct Enclosing {
    size_t start = 0;  // where the enclosing level began
    int file = 0;
    int remaining = 0;  // joined files of it still to walk
  };

  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
  int files_ = 0;
  Enclosing stack_[kViewMaxLevels];
  int depth_ = 0;  // entries in stack_
  bool started_ = false;
  bool done_ = false;
  bool failed_ = false;
};

// One file of a view: its descriptor and, for a joined file linked by key,
// the index of that key in the file's key list.
struct ViewFile {
  FileDescriptor* file = nullptr;
  int join_key = -1;
};

// A field of the view: the file (1-based, 0 for none) and the field number
// (1-based), or the memo number negated.
struct ViewFieldRef {
  int file = 0;
  int field = 0;
  bool operator==(const ViewFieldRef&) const = default;
};

class View {
 public:
  View() = default;

  // Decodes `descriptor` against `files` (descriptor order, primary first).
  // Returns 0, or 47 ("Invalid Record Declaration") when the descriptor is
  // malformed or nested too deep, names more or fewer files than given,
  // names a field or memo the file lacks, links a key join to a key that is
  // missing or has fewer components than linking fields, or the same file
  // twice. On failure the view stays empty.
  int Init(std::vector<uint8_t> descriptor, std::vector<ViewFile> files);

  const std::vector<uint8_t>& descriptor() const { return descriptor_; }

  // Files: the primary plus every nested join.
  int FileCount() const { return static_cast<int>(levels_.size()); }
  // The n-th file (1-based), or nullptr beyond the count.
  FileDescriptor* File(int n) const;
  // The key of the n-th file's join, or -1 (primary, expression join, none).
  int JoinKey(int n) const;
  bool IsInner(int n) const;
  // The n-th level; nullptr beyond the count.
  const ViewLevel* Level(int n) const;
  // The view-file number of `file`, or 0.
  int FileNumber(const FileDescriptor* file) const;

  // Fields: per level its projected count, or all its file's record fields
  // without PROJECT (memos are not counted then).
  int FieldCount() const { return field_count_; }
  // The n-th field of the view; {0, 0} beyond the count.
  ViewFieldRef Field(int n) const;

  // Writes the view text into `buffer` and terminates it; text that does not
  // fit in capacity - 1 bytes is cut there (*truncated set). Returns the
  // bytes written, terminator excluded.
  size_t WriteText(char* buffer, size_t capacity, bool* truncated = nullptr) const;
  // The text built in a buffer of kViewTextBufferSize bytes.
  std::string Text() const;

 private:
  std::vector<uint8_t> descriptor_;
  std::vector<ViewFile> files_;
  std::vector<ViewLevel> levels_;
  int field_count_ = 0;
};

// Builds a view in declaration order. Fields, memos and keys are named by
// label (with or without the file's prefix) or by 1-based number.
//
//   View view;
//   int rc = ViewBuilder(&orders)
//                .Project({"ORD:ID", "ORD:CUSTOMER"})
//                .Join(&customers, "CUS:BYID", {"ORD:CUSTOMER"}).Inner()
//                    .Project({"CUS:NAME"})
//                .EndJoin()
//                .Build(&view);
//
// Errors (an unknown label, EndJoin without Join, more than 254 linking
// fields, nesting deeper than kViewMaxLevels) are remembered and returned by
// Build() as 47, with a note in error_text().
class ViewBuilder {
 public:
  explicit ViewBuilder(FileDescriptor* primary);

  // PROJECT entries of the current level.
  ViewBuilder& Project(std::initializer_list<std::string_view> fields);
  ViewBuilder& ProjectField(int field_number);
  ViewBuilder& ProjectMemo(std::string_view memo);
  ViewBuilder& ProjectMemo(int memo_number);
  // Opens a joined level under the current one, linked by `key` of `file`
  // with the parent's `link_fields`.
  ViewBuilder& Join(FileDescriptor* file, std::string_view key,
                    std::initializer_list<std::string_view> link_fields);
  // Opens a joined level linked by an expression over the bound fields.
  ViewBuilder& JoinExpression(FileDescriptor* file, std::string_view expression);
  // Marks the current (joined) level INNER.
  ViewBuilder& Inner();
  ViewBuilder& EndJoin();

  // The descriptor bytes and the files; 0 or 47.
  int Build(View* view);
  int Build(std::vector<uint8_t>* descriptor, std::vector<ViewFile>* files);
  const std::string& error_text() const { return error_; }

 private:
  struct Node {
    FileDescriptor* file = nullptr;
    int join_key = -1;
    bool by_expression = false;
    std::string expression;
    std::vector<uint16_t> links;
    bool inner = false;
    bool projected = false;
    std::vector<int32_t> projection;
    std::vector<size_t> children;
  };
  void Error(std::string text);
  void Emit(size_t node, std::vector<uint8_t>* out, std::vector<ViewFile>* files) const;

  std::vector<Node> nodes_;
  std::vector<size_t> open_;  // path from the primary to the current level
  std::string error_;
};

}  // namespace qzr

#endif  // QZR_DATA_VIEW_H_
