// The table definition stream (write, read, compare) and table naming.

#include "drivers/palisade/table_def.h"

#include "drivers/palisade/format.h"
#include "runtime/os/file_system.h"

namespace qzr::palisade {
namespace {

enum class Mode { kWrite, kRead, kCompare };

bool IsDecimal(TypeCode t) {
  return t == TypeCode::DECIMAL || t == TypeCode::PDECIMAL;
}
bool IsString(TypeCode t) {
  return t == TypeCode::STRING || t == TypeCode::CSTRING || t == TypeCode::PSTRING;
}

// One pass over a declaration in stream order. In write mode the values come
// from the declaration; in read mode they are stored into it; in compare mode
// the stored value is read and, when an attribute is named, compared with
// the declared one. The first difference (or the end of the stream) stops
// the walk.
class Codec {
 public:
  Codec(Mode mode, Bytes in) : mode_(mode), comparing_(mode == Mode::kCompare), in_(in) {}

  std::vector<uint8_t>& out() { return out_; }
  bool failed() const { return failed_; }
  std::optional<DeclarationProblem>& problem() { return problem_; }

  // Where a difference or a truncation is reported.
  void At(DeclLevel level, int item) {
    level_ = level;
    item_ = item;
  }

  // `attr` non-null: compared in compare mode under that attribute name.
  void Byte(uint8_t* v, const char* attr = nullptr) {
    if (failed_) return;
    if (mode_ == Mode::kWrite) {
      out_.push_back(*v);
      return;
    }
    if (pos_ >= in_.size()) return Truncated();
    Settle(in_[pos_++], v, attr);
  }

  void U16(uint16_t* v, const char* attr = nullptr) {
    if (failed_) return;
    if (mode_ == Mode::kWrite) {
      out_.push_back(static_cast<uint8_t>(*v));
      out_.push_back(static_cast<uint8_t>(*v >> 8));
      return;
    }
    if (in_.size() - pos_ < 2) return Truncated();
    uint16_t stored = LoadU16(in_.data() + pos_);
    pos_ += 2;
    Settle(stored, v, attr);
  }

  // Reads the stored value into *v in compare mode too (for checks that are
  // not plain equality); writes *v in write mode.
  void StoredU16(uint16_t* v) {
    Mode saved = mode_;
    if (mode_ == Mode::kCompare) mode_ = Mode::kRead;
    U16(v);
    mode_ = saved;
  }
  void StoredByte(uint8_t* v) {
    Mode saved = mode_;
    if (mode_ == Mode::kCompare) mode_ = Mode::kRead;
    Byte(v);
    mode_ = saved;
  }

  // Strings are never compared: only read past.
  void String(std::string* v, bool optional) {
    if (failed_) return;
    if (mode_ == Mode::kWrite) {
      std::string s = v->substr(0, v->find('\0'));
      if (s.empty()) {
        out_.push_back(0);
        out_.push_back(optional ? 1 : 0);
      } else {
        out_.insert(out_.end(), s.begin(), s.end());
        out_.push_back(0);
      }
      return;
    }
    if (pos_ >= in_.size()) return Truncated();
    std::string s;
    if (in_[pos_] == 0) {
      if (in_.size() - pos_ < 2) return Truncated();
      pos_ += 2;  // empty (00 00) or absent (00 01)
    } else {
      while (pos_ < in_.size() && in_[pos_] != 0) s.push_back(static_cast<char>(in_[pos_++]));
      if (pos_ >= in_.size()) return Truncated();
      ++pos_;
    }
    if (mode_ == Mode::kRead) *v = std::move(s);
  }

  void Differs(const char* attr, std::string text = {}) {
    failed_ = true;
    DeclarationProblem p;
    p.level = level_;
    p.item = item_;
    p.attribute = attr;
    p.source = DeclSource::kDeclaration;
    p.message = level_ == DeclLevel::kComponent ? decl::kComponentMismatch : 0;
    p.text = text.empty() ? "Does not match the definition stored in the file" : std::move(text);
    problem_ = std::move(p);
  }

  Mode mode() const { return mode_; }

 private:
  template <typename T>
  void Settle(T stored, T* v, const char* attr) {
    if (mode_ == Mode::kRead) {
      *v = stored;
    } else if (attr != nullptr && stored != *v) {
      Differs(attr);
    }
  }

  void Truncated() {
    if (comparing_) {
      Differs("UNKNOWN", "The definition stored in the file is damaged");
    } else {
      failed_ = true;
    }
  }

  Mode mode_;
  const bool comparing_;  // mode_ changes briefly inside StoredU16/StoredByte
  Bytes in_;
  size_t pos_ = 0;
  std::vector<uint8_t> out_;
  bool failed_ = false;
  DeclLevel level_ = DeclLevel::kFile;
  int item_ = 1;
  std::optional<DeclarationProblem> problem_;
};

uint16_t U16Of(uint64_t v) {
  return static_cast<uint16_t>(v);
}

// The walk itself. In read mode `file` is rebuilt from the stream.
void Walk(Codec& c, FileDescriptor& file, bool decimal_check) {
  const bool writing = c.mode() == Mode::kWrite;
  const bool reading = c.mode() == Mode::kRead;
  c.At(DeclLevel::kFile, 1);

  bool any_blob = false;
  for (const MemoDesc& m : file.memos) any_blob |= m.IsBlob();
  uint16_t version = any_blob ? kDefinitionVersionBlob : kDefinitionVersion;
  c.StoredU16(&version);
  if (!writing && !c.failed() && version > kDefinitionVersionBlob) {
    // Nothing after the version can be trusted to mean the same.
    c.Differs("VERSION", kNewerFormatText);
    return;
  }

  uint16_t record_length = U16Of(file.record.size());
  c.U16(&record_length);
  uint16_t fields = U16Of(file.fields.size());
  uint16_t memos = U16Of(file.memos.size());
  uint16_t keys = U16Of(file.keys.size());
  c.U16(&fields, "FIELDS");
  c.U16(&memos, "MEMOS");
  c.U16(&keys, "KEYS");
  if (c.failed()) return;
  if (reading) {
    file.record.assign(record_length, 0);
    file.fields.assign(fields, FieldDesc());
    file.memos.assign(memos, MemoDesc());
    file.keys.assign(keys, KeyDesc());
    file.memo_values.assign(memos, std::string());
  }

  for (uint16_t i = 0; i < fields && !c.failed(); ++i) {
    FieldDesc& f = file.fields[i];
    c.At(DeclLevel::kField, i + 1);
    uint8_t type = static_cast<uint8_t>(f.type);
    c.Byte(&type, "TYPE");
    uint16_t offset = U16Of(f.offset);
    c.U16(&offset);
    c.String(&f.label, false);
    uint16_t dim = f.dims.empty() ? 0 : U16Of(f.ElementCount());
    c.U16(&dim, "DIM");
    uint16_t size = U16Of(f.size);
    c.U16(&size, "SIZE");
    uint16_t over = f.over == kNoField ? 0 : U16Of(static_cast<uint64_t>(f.over) + 1);
    c.U16(&over, "OVER");
    c.U16(&f.extra);
    if (reading) {
      f.type = static_cast<TypeCode>(type);
      f.offset = offset;
      f.dims = dim == 0 ? std::vector<uint32_t>() : std::vector<uint32_t>{dim};
      f.size = size;
      f.over = over == 0 ? kNoField : over - 1;
      if (over > fields) {
        c.Differs("OVER");
        return;
      }
    }
    if (IsDecimal(static_cast<TypeCode>(type))) {
      c.Byte(&f.digits, decimal_check ? "SIZE" : nullptr);
      c.Byte(&f.places, decimal_check ? "PLACES" : nullptr);
    } else if (IsString(static_cast<TypeCode>(type))) {
      uint16_t length = U16Of(f.size);
      c.U16(&length);
      c.String(&f.picture, true);
    }
  }

  for (uint16_t i = 0; i < memos && !c.failed(); ++i) {
    MemoDesc& m = file.memos[i];
    c.At(DeclLevel::kMemo, i + 1);
    c.String(&m.name, true);
    c.String(&m.label, false);
    // A BLOB has no declared size; its stored SIZE is not compared.
    uint16_t size = U16Of(m.size);
    c.U16(&size, m.IsBlob() ? nullptr : "SIZE");
    uint16_t flags = m.flags & (kMemoBinary | kMemoBlob);
    if (c.mode() == Mode::kCompare) {
      uint16_t stored = flags;
      c.StoredU16(&stored);
      if (!c.failed() && (stored & kMemoBinary) != (flags & kMemoBinary)) c.Differs("BINARY");
    } else {
      c.U16(&flags);
    }
    if (reading) {
      m.size = size;
      m.flags = flags;
    }
  }

  for (uint16_t i = 0; i < keys && !c.failed(); ++i) {
    KeyDesc& k = file.keys[i];
    c.At(DeclLevel::kKey, i + 1);
    c.String(&k.name, true);
    c.String(&k.label, false);
    uint8_t flags = StoredKeyFlags(k);
    if (c.mode() == Mode::kCompare) {
      // PRIMARY is not part of what a key stores; the build-state bits
      // change as the file lives.
      constexpr uint8_t kCompared = kStoredKeyDup | kStoredKeyOpt | kStoredKeyNocase;
      uint8_t stored = flags;
      c.StoredByte(&stored);
      if (!c.failed() && (stored & kCompared) != (flags & kCompared)) c.Differs("ATTRIBUTE");
    } else {
      c.Byte(&flags);
    }
    uint16_t count = U16Of(k.components.size());
    c.U16(&count, "FIELDS");
    if (reading) {
      k.flags = static_cast<uint16_t>(
          flags & (kStoredKeyDup | kStoredKeyOpt | kStoredKeyNocase | kStoredKeyPrimary));
      if (flags & kStoredKeyNotMaintained) k.flags |= kKeyIndex;
      k.components.assign(count, KeyComponent());
    }
    for (uint16_t j = 0; j < count && !c.failed(); ++j) {
      KeyComponent& comp = k.components[j];
      c.At(DeclLevel::kComponent, j + 1);
      uint16_t field = U16Of(static_cast<uint64_t>(comp.field));
      c.U16(&field, "FIELD");
      uint16_t cflags = comp.descending ? 1 : 0;
      c.U16(&cflags, "ASCENDING");
      if (reading) {
        if (field >= fields) {
          c.Differs("FIELD");
          return;
        }
        comp.field = field;
        comp.descending = (cflags & 1) != 0;
      }
    }
  }
}

}  // namespace

uint8_t StoredKeyFlags(const KeyDesc& key) {
  uint8_t flags = static_cast<uint8_t>(key.flags & (kKeyDup | kKeyOpt | kKeyNocase | kKeyPrimary));
  if (key.IsIndex()) flags |= kStoredKeyNotMaintained;
  return flags;
}

std::vector<uint8_t> WriteDefinition(const FileDescriptor& file) {
  Codec c(Mode::kWrite, Bytes());
  Walk(c, const_cast<FileDescriptor&>(file), true);  // write mode only reads `file`
  return std::move(c.out());
}

std::optional<DeclarationProblem> ValidateForStorage(const FileDescriptor& file) {
  auto problem = [](DeclLevel level, int item, const char* attr, DeclSource source, int message,
                    std::string text = {}) {
    DeclarationProblem p;
    p.level = level;
    p.item = item;
    p.attribute = attr;
    p.source = source;
    p.message = message;
    p.text = std::move(text);
    return std::optional<DeclarationProblem>(p);
  };
  // A data row is one record: table number, kind and row number, then the
  // record buffer.
  constexpr size_t kMaxRow = kMaxRecordLength - 9;
  if (file.record.size() > kMaxRow) {
    return problem(DeclLevel::kFile, 1, "SIZE", DeclSource::kDriver, 0,
                   "The record is longer than the " + std::to_string(kMaxRow) +
                       " bytes a Palisade row can hold");
  }
  if (file.fields.size() > 0xFFFF || file.memos.size() > 0xFFFF) {
    return problem(DeclLevel::kFile, 1, "FIELDS", DeclSource::kDriver, 0,
                   "Too many fields or memos for a Palisade table");
  }
  if (file.keys.size() > kMaxKeyNumber + 1u) {
    return problem(DeclLevel::kKey, static_cast<int>(file.keys.size()), "UNKNOWN",
                   DeclSource::kDriver, decl::kTooManyKeys);
  }
  for (size_t i = 0; i < file.fields.size(); ++i) {
    const FieldDesc& f = file.fields[i];
    if (f.size > 0xFFFF || f.offset > 0xFFFF || f.ElementCount() > 0xFFFF) {
      return problem(DeclLevel::kField, static_cast<int>(i + 1), "SIZE", DeclSource::kDriver,
                     decl::kFieldOverDriverMax);
    }
  }
  for (size_t i = 0; i < file.memos.size(); ++i) {
    if (!file.memos[i].IsBlob() && file.memos[i].size > 0xFFFF) {
      return problem(DeclLevel::kMemo, static_cast<int>(i + 1), "SIZE", DeclSource::kDriver,
                     decl::kMemoOverDriverMax);
    }
  }
  for (size_t i = 0; i < file.keys.size(); ++i) {
    uint64_t total = 0;
    for (const KeyComponent& comp : file.keys[i].components) {
      if (comp.field < 0 || static_cast<size_t>(comp.field) >= file.fields.size()) {
        return problem(DeclLevel::kKey, static_cast<int>(i + 1), "FIELD", DeclSource::kDeclaration,
                       decl::kKeyComponentOutOfRange);
      }
      total += file.fields[static_cast<size_t>(comp.field)].size;
    }
    if (total > kMaxKeyValueBytes) {
      return problem(DeclLevel::kKey, static_cast<int>(i + 1), "SIZE", DeclSource::kDriver, 0,
                     "Key components are more than a total of 7526 bytes long");
    }
  }
  return std::nullopt;
}

bool ReadDefinition(Bytes stream, FileDescriptor* out) {
  Codec c(Mode::kRead, stream);
  Walk(c, *out, true);
  return !c.failed();
}

std::optional<DeclarationProblem> CompareDefinition(Bytes stream, const FileDescriptor& file,
                                                    bool decimal_check) {
  Codec c(Mode::kCompare, stream);
  Walk(c, const_cast<FileDescriptor&>(file), decimal_check);  // compare mode only reads `file`
  return c.problem();
}

TableName SplitTableName(const std::string& name) {
  TableName out;
  size_t from = 0;
  for (;;) {
    size_t at = name.find(kTableSeparator, from);
    if (at == std::string::npos) {
      out.file = name;
      out.table = kUnnamedTable;
      break;
    }
    if (at > 0 && IsDirectory(name.substr(0, at))) {
      from = at + 1;  // a directory named like "dir\!": keep looking
      continue;
    }
    out.file = name.substr(0, at);
    out.table = name.substr(at + 2);
    break;
  }
  const size_t base = out.file.find_last_of("/\\");
  const std::string last = base == std::string::npos ? out.file : out.file.substr(base + 1);
  if (last.find('.') == std::string::npos) out.file += kDefaultExtension;
  return out;
}

}  // namespace qzr::palisade
