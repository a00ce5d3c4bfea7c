// plx: a command-line look into Palisade files.
//
//   plx check FILE   the structure (header, zones, every page, the tree) and
//                    then every table (key entries present and none stray,
//                    counters equal to what is stored); prints "ok" and
//                    exits 0 when clean, else one problem per line and 1
//   plx tables FILE  one line per table: name, rows, keys, record length
//   plx dump FILE[\!table]
//                    one JSON object per row, members named by the stored
//                    definition's field labels, memos included (text as
//                    strings, BINARY memos and BLOBs in base64)
//   plx stat FILE    pages per zone, tree depth, bytes on disk against
//                    bytes once decompressed
//
// A password-protected file needs --password=TEXT (before or after the
// command). Files are opened read-only and shared, so a running program
// may keep them open, and by the name given (no extension is added).
// Errors name the runtime's text with its number. Exit status 2: bad
// usage or a file that cannot be opened, in every command.
//
// Single-threaded.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "data/file_descriptor.h"
#include "drivers/palisade/check.h"
#include "drivers/palisade/file_io.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/plx_file.h"
#include "drivers/palisade/plx_file_check.h"
#include "drivers/palisade/table_def.h"
#include "runtime/core/runtime_error.h"
#include "runtime/values/ufo.h"

namespace qzr::palisade {
namespace {

int Usage() {
  std::cerr << "usage: plx [--password=TEXT] check|tables|dump|stat FILE[\\!table]\n";
  return 2;
}

int OpenForReading(const std::string& path, const std::string& password,
                   std::unique_ptr<PlxFile>* out) {
  PlxOpenOptions options;
  options.writable = false;
  options.share = kShareDenyNone;
  options.password = password;
  if (int rc = PlxFile::Open(path, options, out); rc != 0) {
    std::string text = RuntimeString(rc);
    if (rc == kFileSystemError && !FILEERROR().empty()) text = FILEERROR();
    std::cerr << "plx: cannot open " << path << ": " << (text.empty() ? "error" : text) << " ("
              << rc << ")\n";
    return 2;
  }
  return 0;
}

// The file part of FILE[\!table] exactly as given: the driver's default
// extension is not added here, so the file named is the file opened.
TableName SplitAsGiven(const std::string& name) {
  TableName tn = SplitTableName(name);
  const std::string ext = kDefaultExtension;
  if (tn.file.size() >= ext.size() &&
      tn.file.compare(tn.file.size() - ext.size(), ext.size(), ext) == 0) {
    const std::string bare = tn.file.substr(0, tn.file.size() - ext.size());
    if (name == bare || name.rfind(bare + kTableSeparator, 0) == 0) tn.file = bare;
  }
  return tn;
}

// Text in UTF-8: as stored when it is UTF-8 already (the catalogue's
// texts are), else taken as the file's ANSI character set (Latin-1).
std::string ToUtf8(const uint8_t* p, size_t n) {
  bool valid = true;
  for (size_t i = 0; i < n && valid;) {
    const uint8_t c = p[i];
    size_t len = c < 0x80                   ? 1
                 : (c >= 0xC2 && c <= 0xDF) ? 2
                 : (c >= 0xE0 && c <= 0xEF) ? 3
                 : (c >= 0xF0 && c <= 0xF4) ? 4
                                            : 0;
    if (len == 0 || i + len > n) {
      valid = false;
      break;
    }
    for (size_t k = 1; k < len; ++k) valid = valid && (p[i + k] & 0xC0) == 0x80;
    i += len;
  }
  if (valid) return std::string(reinterpret_cast<const char*>(p), n);
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string Base64(const std::string& in) {
  static const char* kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<uint8_t>(in[i + 2]);
    out.push_back(kChars[(v >> 18) & 63]);
    out.push_back(kChars[(v >> 12) & 63]);
    out.push_back(i + 1 < in.size() ? kChars[(v >> 6) & 63] : '=');
    out.push_back(i + 2 < in.size() ? kChars[v & 63] : '=');
  }
  return out;
}

// One element of a field as JSON.
nlohmann::json ElementValue(const FieldDesc& field, const uint8_t* p) {
  switch (field.type) {
    case TypeCode::BYTE:
      return p[0];
    case TypeCode::SHORT: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case TypeCode::USHORT: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case TypeCode::LONG:
    case TypeCode::DATE:
    case TypeCode::TIME: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case TypeCode::ULONG: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case TypeCode::SREAL: {
      float v;
      std::memcpy(&v, p, 4);
      return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json();
    }
    case TypeCode::REAL: {
      double v;
      std::memcpy(&v, p, 8);
      return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json();
    }
    case TypeCode::STRING: {
      size_t n = field.size;
      while (n > 0 && p[n - 1] == ' ') --n;
      return ToUtf8(p, n);
    }
    case TypeCode::CSTRING:
      return ToUtf8(p, strnlen(reinterpret_cast<const char*>(p), field.size));
    case TypeCode::PSTRING:
      return ToUtf8(p + 1, std::min<size_t>(p[0], field.size > 0 ? field.size - 1 : 0));
    default: {
      // DECIMAL, PDECIMAL, BFLOAT4, BFLOAT8: the runtime's own text.
      std::vector<uint8_t> copy(p, p + field.size);
      std::unique_ptr<UFO> ufo = MakeUfo(field.type, copy.data(), field.size, field.places);
      return ufo->Text();
    }
  }
}

nlohmann::json FieldValue(const FieldDesc& field, const std::vector<uint8_t>& image) {
  const uint32_t count = field.ElementCount();
  if (field.offset + uint64_t{field.size} * count > image.size()) return nullptr;
  if (field.dims.empty()) return ElementValue(field, image.data() + field.offset);
  nlohmann::json array = nlohmann::json::array();
  for (uint32_t i = 0; i < count; ++i) {
    array.push_back(ElementValue(field, image.data() + field.offset + uint64_t{i} * field.size));
  }
  return array;
}

bool ReadDeclaration(PlxTables* tables, uint32_t table, FileDescriptor* decl) {
  const std::vector<uint8_t> stream = tables->DefinitionStream(table);
  return !stream.empty() && ReadDefinition(Bytes(stream.data(), stream.size()), decl);
}

int Dump(const std::string& name, const std::string& password) {
  const TableName tn = SplitAsGiven(name);
  const bool named = name.find(kTableSeparator) != std::string::npos;
  std::unique_ptr<PlxFile> file;
  if (int rc = OpenForReading(tn.file, password, &file); rc != 0) return rc;
  PlxTables* tables = file->tables();
  std::string table_name = tn.table;
  if (!named && !tables->FindTable(table_name)) {
    // No table named and none UNNAMED: a file of one table dumps that one.
    std::vector<std::string> all = tables->ListTables();
    if (all.size() != 1) {
      std::cerr << "plx: name one of the tables of " << tn.file << " as FILE\\!table\n";
      return 2;
    }
    table_name = all[0];
  }
  std::optional<uint32_t> table = tables->FindTable(table_name);
  if (!table) {
    std::cerr << "plx: " << tn.file << " has no table \"" << table_name << "\"\n";
    return 2;
  }
  FileDescriptor decl;
  if (!ReadDeclaration(tables, *table, &decl)) {
    std::cerr << "plx: the definition of \"" << table_name << "\" cannot be read\n";
    return 1;
  }
  const std::vector<uint8_t> prefix = KindPrefix(*table, kKindRow);
  TreeCursor cursor(file->tree());
  std::vector<uint8_t> image;
  std::vector<uint8_t> memo;
  int status = 0;
  for (bool ok = cursor.Seek(Bytes(prefix.data(), prefix.size()));
       ok && cursor.key().size() == 9 &&
       std::equal(prefix.begin(), prefix.end(), cursor.key().begin());
       ok = cursor.Next()) {
    const uint32_t row = LoadBigU32(cursor.key().data() + 5);
    image.assign(cursor.record().payload().begin(), cursor.record().payload().end());
    std::vector<uint8_t> here(cursor.key().begin(), cursor.key().end());
    nlohmann::ordered_json out;
    for (const FieldDesc& field : decl.fields) {
      if (field.type == TypeCode::GROUP) continue;  // its members follow
      out[field.label] = FieldValue(field, image);
    }
    for (size_t m = 0; m < decl.memos.size(); ++m) {
      const MemoDesc& desc = decl.memos[m];
      if (tables->ReadMemo(*table, row, static_cast<uint8_t>(m), &memo) != 0) {
        out[desc.label] = nullptr;
        status = 1;
        continue;
      }
      std::string value(memo.begin(), memo.end());
      out[desc.label] =
          desc.IsBlob() || desc.IsBinary() ? Base64(value) : ToUtf8(memo.data(), memo.size());
    }
    std::cout << out.dump() << "\n";
    // The memo reads went through the tree; find the row again.
    cursor.Seek(Bytes(here.data(), here.size()));
  }
  return status;
}

int Tables(const std::string& path, const std::string& password) {
  std::unique_ptr<PlxFile> file;
  if (int rc = OpenForReading(path, password, &file); rc != 0) return rc;
  PlxTables* tables = file->tables();
  for (const std::string& name : tables->ListTables()) {
    std::optional<uint32_t> table = tables->FindTable(name);
    FileDescriptor decl;
    if (!table || !ReadDeclaration(tables, *table, &decl)) {
      std::cout << name << "  (definition unreadable)\n";
      continue;
    }
    std::cout << name << "  rows=" << tables->ReadCounters(*table, kKindRow).RecordCount
              << "  fields=" << decl.fields.size() << "  memos=" << decl.memos.size()
              << "  keys=" << decl.keys.size() << "  record=" << decl.RecordLength() << " bytes\n";
  }
  return 0;
}

int Stat(const std::string& path, const std::string& password) {
  std::unique_ptr<PlxFile> file;
  if (int rc = OpenForReading(path, password, &file); rc != 0) return rc;
  OsFile* os = file->pager()->file();
  const PlxHeader& header = file->pager()->header();
  const CheckReport structure = CheckFile(os);
  uint64_t pages = 0;
  uint64_t disk = 0;
  uint64_t plain = 0;
  uint64_t stored = 0;
  std::vector<uint8_t> block;
  std::cout << "zone  pages  bytes\n";
  for (int zone = 1; zone <= kMaxClass; ++zone) {
    if (header.ZoneEmpty(zone)) continue;
    const uint32_t n = header.PagesIn(zone);
    const size_t size = static_cast<size_t>(zone) * kUnit;
    std::printf("%4d  %5u  %llu\n", zone, n, static_cast<unsigned long long>(n) * size);
    pages += n;
    disk += uint64_t{n} * size;
    block.resize(size);
    for (uint32_t a = header.ZoneStart[zone]; a < header.ZoneEnd[zone]; a += zone) {
      if (ReadBlock(os, PageOffset(a), size, block.data()) < size) continue;
      stored += LoadU16(block.data() + kPgStoredSize);
      plain += LoadU16(block.data() + kPgPlainSize);
    }
  }
  std::cout << "pages: " << pages << "\n";
  std::cout << "tree depth: " << structure.depth << "\n";
  std::cout << "records: " << structure.records << "\n";
  uint64_t file_bytes = 0;
  if (os->Size(&file_bytes).ok()) {
    std::cout << "file bytes: " << file_bytes << "\n";
  } else {
    std::cout << "file bytes: unknown\n";
  }
  std::cout << "page bytes on disk: " << disk << "\n";
  std::cout << "page bytes stored: " << stored << "\n";
  std::cout << "page bytes decompressed: " << plain << "\n";
  if (disk > 0) {
    std::printf("compression ratio: %.2f (decompressed / on disk)\n",
                static_cast<double>(plain) / static_cast<double>(disk));
  }
  return 0;
}

int Check(const std::string& path, const std::string& password) {
  {
    // A file that cannot be opened is said as every command says it.
    std::unique_ptr<PlxFile> file;
    if (int rc = OpenForReading(path, password, &file); rc != 0) return rc;
  }
  const std::vector<std::string> problems = CheckPlxFile(path, password);
  if (problems.empty()) {
    std::cout << "ok\n";
    return 0;
  }
  for (const std::string& p : problems) std::cout << p << "\n";
  return 1;
}

int Main(int argc, char** argv) {
  std::string password;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--password=", 0) == 0) {
      password = a.substr(11);
    } else {
      args.push_back(a);
    }
  }
  if (args.size() != 2) return Usage();
  const std::string& command = args[0];
  const std::string& name = args[1];
  if (command == "dump") return Dump(name, password);
  // The other commands look at the whole file; a table part is ignored.
  const std::string path = SplitAsGiven(name).file;
  if (command == "check") return Check(path, password);
  if (command == "tables") return Tables(path, password);
  if (command == "stat") return Stat(path, password);
  return Usage();
}

}  // namespace
}  // namespace qzr::palisade

int main(int argc, char** argv) {
  return qzr::palisade::Main(argc, argv);
}
