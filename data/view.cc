// VIEW descriptors: walking, the view's questions, its text, the builder.
// Built views are read-only; nothing here locks.

#include "data/view.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "data/file_driver.h"

namespace qzr {

// ---------------------------------------------------------------------------
// Walker

bool ViewWalker::ReadU8(uint8_t* v) {
  if (at_ >= bytes_.size()) return false;
  *v = bytes_[at_++];
  return true;
}

bool ViewWalker::ReadU16(uint16_t* v) {
  if (bytes_.size() - at_ < 2 || at_ > bytes_.size()) return false;
  *v = static_cast<uint16_t>(bytes_[at_] | bytes_[at_ + 1] << 8);
  at_ += 2;
  return true;
}

bool ViewWalker::Next(ViewLevel* level) {
  if (done_ || failed_) return false;
  int parent = 0;
  if (!started_) {
    started_ = true;
  } else {
    while (depth_ > 0 && stack_[depth_ - 1].remaining == 0) --depth_;
    if (depth_ == 0) {
      done_ = true;
      // Bytes after the last level mean the counts and the stream disagree.
      if (at_ != bytes_.size()) failed_ = true;
      return false;
    }
    parent = stack_[depth_ - 1].file;
    --stack_[depth_ - 1].remaining;
  }
  if (depth_ >= kViewMaxLevels) return Fail();

  const size_t start = at_;
  *level = ViewLevel();
  level->file = ++files_;
  level->depth = depth_;
  level->parent = parent;

  uint8_t join = 0;
  if (!ReadU8(&join)) return Fail();
  if (parent == 0 && join != 0) return Fail();  // the primary file has no join
  if (join == kViewJoinByExpression) {
    level->join_by_expression = true;
    const auto* begin = bytes_.data() + at_;
    const auto* end = bytes_.data() + bytes_.size();
    const auto* nul = std::find(begin, end, uint8_t{0});
    if (nul == end) return Fail();
    level->join_expression.assign(reinterpret_cast<const char*>(begin),
                                  static_cast<size_t>(nul - begin));
    at_ += static_cast<size_t>(nul - begin) + 1;
  } else {
    level->link_fields.resize(join);
    for (auto& f : level->link_fields) {
      if (!ReadU16(&f)) return Fail();
    }
  }
  uint8_t flags = 0;
  uint16_t count = 0;
  if (!ReadU8(&flags) || !ReadU16(&count)) return Fail();
  level->inner = (flags & kViewJoinInner) != 0;
  if (count != kViewNoProject) {
    level->projected = true;
    level->projection.reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
      uint16_t entry = 0;
      if (!ReadU16(&entry)) return Fail();
      if (entry == kViewMemoEntry) {
        uint16_t memo = 0;
        if (!ReadU16(&memo)) return Fail();
        level->projection.push_back(-static_cast<int32_t>(memo));
      } else {
        level->projection.push_back(entry);
      }
    }
  }
  uint8_t joined = 0;
  if (!ReadU8(&joined)) return Fail();
  level->joined = joined;
  if (joined > 0) {
    stack_[depth_++] = Enclosing{start, level->file, joined};
  }
  return true;
}

// ---------------------------------------------------------------------------
// View

int View::Init(std::vector<uint8_t> descriptor, std::vector<ViewFile> files) {
  descriptor_.clear();
  files_.clear();
  levels_.clear();
  field_count_ = 0;

  std::vector<ViewLevel> levels;
  ViewWalker walker(descriptor);
  ViewLevel level;
  while (walker.Next(&level)) levels.push_back(std::move(level));
  if (!walker.complete() || levels.size() != files.size()) return kInvalidRecordDeclaration;

  int fields = 0;
  for (size_t i = 0; i < levels.size(); ++i) {
    const ViewLevel& l = levels[i];
    const FileDescriptor* file = files[i].file;
    if (file == nullptr) return kInvalidRecordDeclaration;
    for (size_t j = 0; j < i; ++j) {
      if (files[j].file == file) return kInvalidRecordDeclaration;
    }
    const auto nfields = static_cast<int32_t>(file->fields.size());
    const auto nmemos = static_cast<int32_t>(file->memos.size());
    for (int32_t entry : l.projection) {
      if (entry == 0 || entry > nfields || -entry > nmemos) return kInvalidRecordDeclaration;
    }
    if (l.parent != 0) {
      const FileDescriptor* parent = files[static_cast<size_t>(l.parent - 1)].file;
      for (uint16_t f : l.link_fields) {
        if (f == 0 || f > parent->fields.size()) return kInvalidRecordDeclaration;
      }
      if (!l.join_by_expression) {
        const int key = files[i].join_key;
        if (key < 0 || key >= static_cast<int>(file->keys.size()) ||
            file->keys[static_cast<size_t>(key)].components.size() < l.link_fields.size()) {
          return kInvalidRecordDeclaration;
        }
      }
    }
    fields += l.projected ? static_cast<int>(l.projection.size()) : static_cast<int>(nfields);
  }
  for (size_t i = 0; i < levels.size(); ++i) {
    if (levels[i].parent == 0 || levels[i].join_by_expression) files[i].join_key = -1;
  }
  descriptor_ = std::move(descriptor);
  files_ = std::move(files);
  levels_ = std::move(levels);
  field_count_ = fields;
  return 0;
}

FileDescriptor* View::File(int n) const {
  if (n < 1 || n > FileCount()) return nullptr;
  return files_[static_cast<size_t>(n - 1)].file;
}

int View::JoinKey(int n) const {
  if (n < 1 || n > FileCount()) return -1;
  return files_[static_cast<size_t>(n - 1)].join_key;
}

bool View::IsInner(int n) const {
  const ViewLevel* l = Level(n);
  return l != nullptr && l->inner;
}

const ViewLevel* View::Level(int n) const {
  if (n < 1 || n > FileCount()) return nullptr;
  return &levels_[static_cast<size_t>(n - 1)];
}

int View::FileNumber(const FileDescriptor* file) const {
  for (size_t i = 0; i < files_.size(); ++i) {
    if (files_[i].file == file) return static_cast<int>(i) + 1;
  }
  return 0;
}

ViewFieldRef View::Field(int n) const {
  if (n < 1 || n > field_count_) return {};
  int before = 0;
  for (const ViewLevel& l : levels_) {
    const FileDescriptor* file = files_[static_cast<size_t>(l.file - 1)].file;
    const int here =
        l.projected ? static_cast<int>(l.projection.size()) : static_cast<int>(file->fields.size());
    if (n <= before + here) {
      const int offset = n - before;  // 1-based within the level
      return {l.file, l.projected ? l.projection[static_cast<size_t>(offset - 1)] : offset};
    }
    before += here;
  }
  return {};
}

// ---------------------------------------------------------------------------
// View text

namespace {

// Appends into a fixed buffer, keeping room for the terminator; once full,
// further text is dropped and the cut remembered.
class TextSink {
 public:
  TextSink(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  void Put(std::string_view s) {
    if (capacity_ == 0) {
      cut_ = cut_ || !s.empty();
      return;
    }
    const size_t room = capacity_ - 1 - length_;
    const size_t n = std::min(room, s.size());
    std::memcpy(buffer_ + length_, s.data(), n);
    length_ += n;
    if (n < s.size()) cut_ = true;
  }
  void Indent(int columns) {
    for (int i = 0; i < columns; ++i) Put(" ");
  }
  void Number(long v) {
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%ld", v);
    Put(std::string_view(digits, static_cast<size_t>(n)));
  }
  size_t Finish() {
    if (capacity_ > 0) buffer_[length_] = '\0';
    return length_;
  }
  bool cut() const { return cut_; }

 private:
  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
  bool cut_ = false;
};

constexpr std::string_view kCrLf = "\r\n";

void WriteProjection(const ViewLevel& l, int indent, TextSink* out) {
  if (!l.projected) return;
  out->Indent(indent);
  out->Put("PROJECT(");
  for (size_t i = 0; i < l.projection.size(); ++i) {
    if (i > 0) out->Put(",");
    const int32_t e = l.projection[i];
    out->Put(e < 0 ? "MEMO(" : "FIELD(");
    out->Number(e < 0 ? -static_cast<long>(e) : static_cast<long>(e));
    out->Put(")");
  }
  out->Put(")");
  out->Put(kCrLf);
}

// Writes level `i` and its joins; returns the index after its subtree.
size_t WriteLevel(const std::vector<ViewLevel>& levels, size_t i, int indent, TextSink* out) {
  const ViewLevel& l = levels[i];
  int inner_indent = indent + 2;
  if (l.parent == 0) {
    out->Put("VIEW(FILE)");
  } else {
    out->Indent(indent);
    out->Put("JOIN(");
    if (l.join_by_expression) {
      out->Put(l.join_expression);
    } else {
      out->Put("KEY");
      for (uint16_t f : l.link_fields) {
        out->Put(",FIELD(");
        out->Number(f);
        out->Put(")");
      }
    }
    out->Put(")");
    if (l.inner) out->Put(",INNER");
  }
  out->Put(kCrLf);
  WriteProjection(l, inner_indent, out);
  size_t next = i + 1;
  for (int c = 0; c < l.joined && next < levels.size(); ++c) {
    next = WriteLevel(levels, next, inner_indent, out);
  }
  out->Indent(indent);
  out->Put("END");
  out->Put(kCrLf);
  return next;
}

}  // namespace

size_t View::WriteText(char* buffer, size_t capacity, bool* truncated) const {
  TextSink out(buffer, capacity);
  if (!levels_.empty()) WriteLevel(levels_, 0, 0, &out);
  if (truncated != nullptr) *truncated = out.cut();
  return out.Finish();
}

std::string View::Text() const {
  std::vector<char> buffer(kViewTextBufferSize);
  const size_t n = WriteText(buffer.data(), buffer.size());
  return std::string(buffer.data(), n);
}

// ---------------------------------------------------------------------------
// Builder

ViewBuilder::ViewBuilder(FileDescriptor* primary) {
  nodes_.push_back(Node{});
  nodes_[0].file = primary;
  open_.push_back(0);
  if (primary == nullptr) Error("no primary file");
}

void ViewBuilder::Error(std::string text) {
  if (error_.empty()) error_ = std::move(text);
}

ViewBuilder& ViewBuilder::Project(std::initializer_list<std::string_view> fields) {
  Node& n = nodes_[open_.back()];
  n.projected = true;
  for (std::string_view label : fields) {
    const int index = n.file == nullptr ? -1 : n.file->FieldIndex(label);
    if (index < 0) {
      Error("unknown field " + std::string(label));
      continue;
    }
    n.projection.push_back(index + 1);
  }
  return *this;
}

ViewBuilder& ViewBuilder::ProjectField(int field_number) {
  Node& n = nodes_[open_.back()];
  n.projected = true;
  if (field_number < 1 || field_number >= kViewNoProject) {
    Error("field number out of range");
  } else {
    n.projection.push_back(field_number);
  }
  return *this;
}

ViewBuilder& ViewBuilder::ProjectMemo(std::string_view memo) {
  Node& n = nodes_[open_.back()];
  const int index = n.file == nullptr ? -1 : n.file->MemoIndex(memo);
  if (index < 0) {
    Error("unknown memo " + std::string(memo));
    n.projected = true;
    return *this;
  }
  return ProjectMemo(index + 1);
}

ViewBuilder& ViewBuilder::ProjectMemo(int memo_number) {
  Node& n = nodes_[open_.back()];
  n.projected = true;
  if (memo_number < 1 || memo_number > 0xFFFF) {
    Error("memo number out of range");
  } else {
    n.projection.push_back(-memo_number);
  }
  return *this;
}

ViewBuilder& ViewBuilder::Join(FileDescriptor* file, std::string_view key,
                               std::initializer_list<std::string_view> link_fields) {
  const size_t parent = open_.back();
  Node node;
  node.file = file;
  if (file == nullptr) {
    Error("no joined file");
  } else {
    node.join_key = file->KeyIndex(key);
    if (node.join_key < 0) Error("unknown key " + std::string(key));
  }
  const FileDescriptor* parent_file = nodes_[parent].file;
  for (std::string_view label : link_fields) {
    const int index = parent_file == nullptr ? -1 : parent_file->FieldIndex(label);
    if (index < 0) {
      Error("unknown linking field " + std::string(label));
      continue;
    }
    node.links.push_back(static_cast<uint16_t>(index + 1));
  }
  if (node.links.size() >= kViewJoinByExpression) Error("too many linking fields");
  if (open_.size() >= static_cast<size_t>(kViewMaxLevels)) Error("joins nested too deep");
  nodes_.push_back(std::move(node));
  nodes_[parent].children.push_back(nodes_.size() - 1);
  open_.push_back(nodes_.size() - 1);
  return *this;
}

ViewBuilder& ViewBuilder::JoinExpression(FileDescriptor* file, std::string_view expression) {
  const size_t parent = open_.back();
  Node node;
  node.file = file;
  node.by_expression = true;
  node.expression = std::string(expression);
  if (file == nullptr) Error("no joined file");
  if (node.expression.find('\0') != std::string::npos) Error("join expression holds a zero byte");
  if (open_.size() >= static_cast<size_t>(kViewMaxLevels)) Error("joins nested too deep");
  nodes_.push_back(std::move(node));
  nodes_[parent].children.push_back(nodes_.size() - 1);
  open_.push_back(nodes_.size() - 1);
  return *this;
}

ViewBuilder& ViewBuilder::Inner() {
  if (open_.size() < 2) {
    Error("INNER outside a JOIN");
  } else {
    nodes_[open_.back()].inner = true;
  }
  return *this;
}

ViewBuilder& ViewBuilder::EndJoin() {
  if (open_.size() < 2) {
    Error("END without JOIN");
  } else {
    open_.pop_back();
  }
  return *this;
}

void ViewBuilder::Emit(size_t index, std::vector<uint8_t>* out,
                       std::vector<ViewFile>* files) const {
  const Node& n = nodes_[index];
  auto u16 = [out](uint32_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
  };
  files->push_back(ViewFile{n.file, n.join_key});
  if (index == 0) {
    out->push_back(0);
  } else if (n.by_expression) {
    out->push_back(kViewJoinByExpression);
    out->insert(out->end(), n.expression.begin(), n.expression.end());
    out->push_back(0);
  } else {
    out->push_back(static_cast<uint8_t>(n.links.size()));
    for (uint16_t f : n.links) u16(f);
  }
  out->push_back(n.inner ? kViewJoinInner : 0);
  if (!n.projected) {
    u16(kViewNoProject);
  } else {
    u16(static_cast<uint32_t>(n.projection.size()));
    for (int32_t e : n.projection) {
      if (e < 0) {
        u16(kViewMemoEntry);
        u16(static_cast<uint32_t>(-e));
      } else {
        u16(static_cast<uint32_t>(e));
      }
    }
  }
  out->push_back(static_cast<uint8_t>(n.children.size()));
  for (size_t child : n.children) Emit(child, out, files);
}

int ViewBuilder::Build(std::vector<uint8_t>* descriptor, std::vector<ViewFile>* files) {
  if (open_.size() != 1) Error("JOIN without END");
  for (const Node& n : nodes_) {
    if (n.projection.size() >= kViewNoProject) Error("too many projected fields");
    if (n.children.size() > 255) Error("too many joins at one level");
  }
  if (!error_.empty()) return kInvalidRecordDeclaration;
  descriptor->clear();
  files->clear();
  Emit(0, descriptor, files);
  return 0;
}

int ViewBuilder::Build(View* view) {
  std::vector<uint8_t> descriptor;
  std::vector<ViewFile> files;
  const int rc = Build(&descriptor, &files);
  if (rc != 0) return rc;
  return view->Init(std::move(descriptor), std::move(files));
}

}  // namespace qzr
