// The FUNC declaration, the per-thread instance and the entry mapping.

#include "app/func_file.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "data/file_driver.h"
#include "drivers/palisade/driver.h"
#include "runtime/core/text.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

thread_local std::unique_ptr<FileDescriptor> t_func;

std::string ReadCString(const FileDescriptor& file, int field) {
  const FieldDesc& d = file.fields[static_cast<size_t>(field)];
  const char* p = reinterpret_cast<const char*>(file.FieldData(field));
  // A field without a terminator (written by another program) ends at its size.
  size_t n = strnlen(p, d.size);
  return std::string(p, n);
}

void WriteCString(FileDescriptor* file, int field, std::string_view text) {
  const FieldDesc& d = file->fields[static_cast<size_t>(field)];
  uint8_t* p = file->FieldData(field);
  std::memset(p, 0, d.size);
  std::string_view cut = Utf8Cut(text.substr(0, text.find('\0')), d.size - 1);
  std::memcpy(p, cut.data(), cut.size());
}

void Check(std::string_view name, std::string_view text, size_t limit, bool fixed,
           FuncFieldProblem* problem, bool* ok) {
  if (!*ok) return;
  bool zero = fixed && text.find('\0') != std::string_view::npos;
  if (text.size() > limit || zero) {
    *ok = false;
    problem->field = std::string(name);
    problem->length = text.size();
    problem->limit = limit;
    problem->has_zero = zero;
  }
}

void Cut(std::string* text, size_t limit, bool fixed) {
  if (fixed) text->erase(std::remove(text->begin(), text->end(), '\0'), text->end());
  if (text->size() > limit) text->resize(Utf8Cut(*text, limit).size());
}

}  // namespace

FileDescriptor FuncDeclaration() {
  return FileDeclaration(kFuncLabel, kFuncPrefix)
      .Driver(kPalisadeDriverName)
      .Attributes(kFileCreate | kFileThread)
      .Field("ID", TypeCode::LONG)
      .String("NAME", TypeCode::CSTRING, kFunNameSize)
      .String("DESCRIPTION", TypeCode::CSTRING, kFunDescriptionSize)
      .Field("FULLCODE", TypeCode::BYTE)
      .String("FORUMLINK", TypeCode::CSTRING, kFunForumLinkSize)
      .String("USER", TypeCode::CSTRING, kFunUserSize)
      .Memo("EXAMPLECODE", kFunExampleCodeSize)
      .Key("P_ID", {{"ID"}}, kKeyPrimary | kKeyNocase | kKeyOpt)
      .Build();
}

void RegisterFuncFile() {
  if (!t_func) t_func = std::make_unique<FileDescriptor>(FuncDeclaration());
}

FileDescriptor& FUNC() {
  RegisterFuncFile();
  return *t_func;
}

bool HasFuncFile() {
  return t_func != nullptr;
}

void ReleaseFuncFile() {
  if (!t_func) return;
  if (t_func->IsOpen()) DoFileOp(FileOp::CLOSE, *t_func);
  t_func.reset();
}

FuncEntry ReadFuncEntry(const FileDescriptor& file) {
  FuncEntry e;
  int32_t id = 0;
  std::memcpy(&id, file.FieldData(kFunId), sizeof id);  // LONG: native little-endian
  e.id = id;
  e.title = ReadCString(file, kFunName);
  e.description = ReadCString(file, kFunDescription);
  e.complete = *file.FieldData(kFunFullCode) == 1;
  e.link = ReadCString(file, kFunForumLink);
  e.posted_by = ReadCString(file, kFunUser);
  if (!file.memo_values.empty()) e.code = file.memo_values[kFunExampleCode];
  return e;
}

FuncEntry ReadFuncListing(const FileDescriptor& file) {
  FuncEntry e;
  int32_t id = 0;
  std::memcpy(&id, file.FieldData(kFunId), sizeof id);
  e.id = id;
  e.title = ReadCString(file, kFunName);
  e.complete = *file.FieldData(kFunFullCode) == 1;
  e.posted_by = ReadCString(file, kFunUser);
  return e;
}

void WriteFuncEntry(FileDescriptor* file, const FuncEntry& entry, bool with_id) {
  if (with_id) std::memcpy(file->FieldData(kFunId), &entry.id, sizeof entry.id);
  WriteCString(file, kFunName, entry.title);
  WriteCString(file, kFunDescription, entry.description);
  *file->FieldData(kFunFullCode) = entry.complete ? 1 : 0;
  WriteCString(file, kFunForumLink, entry.link);
  WriteCString(file, kFunUser, entry.posted_by);
  if (file->memo_values.size() <= static_cast<size_t>(kFunExampleCode)) {
    file->memo_values.resize(kFunExampleCode + 1);
  }
  file->memo_values[kFunExampleCode].assign(Utf8Cut(entry.code, kFunExampleCodeSize));
}

bool CheckFuncEntry(const FuncEntry& entry, FuncFieldProblem* problem) {
  bool ok = true;
  Check("title", entry.title, kFunNameSize - 1, true, problem, &ok);
  Check("description", entry.description, kFunDescriptionSize - 1, true, problem, &ok);
  Check("code", entry.code, kFunExampleCodeSize, false, problem, &ok);
  Check("link", entry.link, kFunForumLinkSize - 1, true, problem, &ok);
  Check("postedBy", entry.posted_by, kFunUserSize - 1, true, problem, &ok);
  return ok;
}

void TruncateFuncEntry(FuncEntry* entry) {
  Cut(&entry->title, kFunNameSize - 1, true);
  Cut(&entry->description, kFunDescriptionSize - 1, true);
  Cut(&entry->code, kFunExampleCodeSize, false);
  Cut(&entry->link, kFunForumLinkSize - 1, true);
  Cut(&entry->posted_by, kFunUserSize - 1, true);
}

}  // namespace qzr
