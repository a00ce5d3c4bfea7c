// The INI manager over profile files and the registry.

#include "framework/ini_manager.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "runtime/core/text.h"
#include "runtime/settings/profile.h"
#include "runtime/settings/registry.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

constexpr size_t kFileNameSize = 260;  // FILENAME is a CSTRING(260)

// Escapes with "%XX" every byte for which `always` holds, and the first and
// last byte when `at_ends` holds for them.
template <typename Always, typename AtEnds>
std::string Escape(std::string_view text, Always always, AtEnds at_ends) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<uint8_t>(text[i]);
    bool end = i == 0 || i + 1 == text.size();
    if (always(c) || (end && at_ends(c)))
      AppendPercentEscape(c, &out);
    else
      out += static_cast<char>(c);
  }
  return out;
}

// Decodes "%XX" where the byte is one that `escaped` says the escaping
// writes; everything else, a lone "%" included, stays as it is.
template <typename Escaped>
std::string Unescape(std::string_view text, Escaped escaped) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const int byte = PercentEscapeAt(text, i);
    if (byte >= 0 && escaped(static_cast<uint8_t>(byte))) {
      out += static_cast<char>(byte);
      i += 2;
      continue;
    }
    out += text[i];
  }
  return out;
}

bool QueueAlways(uint8_t c) {
  return c == '%' || c == ',' || c < 0x20 || c == 0x7F;
}
bool QueueEnds(uint8_t c) {
  return c == ' ' || c == '"' || c == '\'';
}
bool QueueEscaped(uint8_t c) {
  return QueueAlways(c) || QueueEnds(c);
}

bool SectionAlways(uint8_t c) {
  return c == '%' || c == '$' || c == ']' || c == '\\' || c < 0x20 || c == 0x7F;
}
bool SectionEnds(uint8_t c) {
  return c == ' ';
}
bool SectionEscaped(uint8_t c) {
  return SectionAlways(c) || SectionEnds(c);
}

// The leading decimal number of `text` (after blanks, with a sign), clamped
// to 0..kMaxQueueRecordsLoaded; 0 when there is none.
int32_t RecordCount(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    n = n * 10 + (text[i] - '0');
    if (n > kMaxQueueRecordsLoaded) n = kMaxQueueRecordsLoaded;
  }
  return negative ? 0 : static_cast<int32_t>(n);
}

// Field `number` (1-based) of `queue` when it holds a value that has text.
const QueueField* TextField(QUEUE* queue, int number) {
  if (number < 1 || static_cast<size_t>(number) > queue->fields().size()) return nullptr;
  const QueueField& f = queue->fields()[static_cast<size_t>(number - 1)];
  if (f.type == kQueueReference) return nullptr;  // an address means nothing stored
  return &f;
}

std::string FieldText(QUEUE* queue, int number) {
  const QueueField* f = TextField(queue, number);
  if (f == nullptr) return std::string();
  UfoSlot slot;
  std::string text = slot.Make(f->type, queue->buffer() + f->offset, f->size, f->places)->Text();
  // A STRING is padded with blanks to its size; the padding is not data.
  if (f->type == TypeCode::STRING) {
    size_t end = text.find_last_not_of(' ');
    text.resize(end == std::string::npos ? 0 : end + 1);
  }
  return text;
}

void SetFieldText(QUEUE* queue, int number, std::string_view text) {
  const QueueField* f = TextField(queue, number);
  if (f == nullptr) return;
  UfoSlot slot;
  slot.Make(f->type, queue->buffer() + f->offset, f->size, f->places)->SetText(text);
}

// The `n`-th (1-based) comma-separated part of `line`; "" when it has fewer.
std::string_view Part(std::string_view line, int n) {
  size_t start = 0;
  for (int k = 1; k < n; ++k) {
    size_t comma = line.find(',', start);
    if (comma == std::string_view::npos) return {};
    start = comma + 1;
  }
  size_t end = line.find(',', start);
  return line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

std::string IndexedEntry(std::string_view entry, int32_t i) {
  std::string name(entry);
  name += '_';
  name += std::to_string(i);
  return name;
}

}  // namespace

std::string EscapeQueueField(std::string_view text) {
  return Escape(text, QueueAlways, QueueEnds);
}
std::string UnescapeQueueField(std::string_view text) {
  return Unescape(text, QueueEscaped);
}

IniManager::~IniManager() {
  Kill();
}

void IniManager::Init(std::string_view file_name, int32_t nv_type, int32_t extra_data) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  // A second Init without Kill: the register read from the old settings
  // goes back there before the new ones are read.
  if (SECTORS) Kill();
  NVTYPE = nv_type;
  EXTRADATA = extra_data;
  FILENAME = std::string(Utf8Cut(file_name, kFileNameSize - 1));
  SECTORS = std::make_unique<Queue<SectorEntry>>();
  SECTORS->Field("FAMILY", &SectorEntry::FAMILY, TypeCode::CSTRING);
  SECTORS->Field("ITEM", &SectorEntry::ITEM, TypeCode::CSTRING);
  SECTORS->Field("TYPE", &SectorEntry::TYPE, TypeCode::CSTRING);
  InitHook();
  LoadQueue(SECTORS.get(), kSectorsSection, kSectorsEntry, {1, 2, 3});
}

void IniManager::Kill() {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  if (!SECTORS) return;
  StoreQueue(SECTORS.get(), kSectorsSection, kSectorsEntry, {1, 2, 3});
  SECTORS.reset();
}

void IniManager::FinalUpdate() {}

std::string IniManager::RegistryPath(std::string_view section) const {
  if (FILENAME.empty()) return std::string(section);
  std::string path = FILENAME;
  if (!section.empty()) {
    if (path.back() != '\\') path += '\\';
    path += section;
  }
  return path;
}

uint32_t IniManager::RegistryRoot() const {
  return EXTRADATA == 0 ? HKEY_CURRENT_USER : static_cast<uint32_t>(EXTRADATA);
}

std::string IniManager::Fetch(std::string_view section, std::string_view entry,
                              std::string_view default_value) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  std::string value;
  switch (NVTYPE) {
    case kIniFile:
      value = FILENAME.empty() ? GetProfileString(section, entry, default_value)
                               : GetPrivateProfileString(section, entry, default_value, FILENAME);
      break;
    case kIniRegistry: {
      value = std::string(default_value);
      HKEY key = 0;
      if (RegOpenKeyEx(RegistryRoot(), RegistryPath(section), 0, KEY_READ, &key) != ERROR_SUCCESS)
        break;
      uint32_t type = 0;
      uint32_t size = 0;
      if (RegQueryValueEx(key, entry, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        if (RegQueryValueEx(key, entry, nullptr, &type, data.data(), &size) == ERROR_SUCCESS) {
          data.resize(size);
          if (type == REG_DWORD && size == 4) {
            uint32_t n;
            std::memcpy(&n, data.data(), 4);
            value = std::to_string(n);
          } else {
            // Strings end at their NUL.
            value = data.substr(0, data.find('\0'));
          }
        }
      }
      RegCloseKey(key);
      break;
    }
    default:
      return std::string();
  }
  value.resize(Utf8Cut(value, kMaxIniValue).size());
  return value;
}

Severity IniManager::Update(std::string_view section, std::string_view entry,
                            std::string_view value) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  switch (NVTYPE) {
    case kIniFile: {
      bool ok = FILENAME.empty() ? WriteProfileString(section, entry, value)
                                 : WritePrivateProfileString(section, entry, value, FILENAME);
      return ok ? SeverityNone : SeverityInform;
    }
    case kIniRegistry: {
      HKEY key = 0;
      if (RegCreateKeyEx(RegistryRoot(), RegistryPath(section), 0, 0, KEY_WRITE, &key, nullptr) !=
          ERROR_SUCCESS)
        return SeverityInform;
      std::string data(value);
      data += '\0';
      long rc =
          RegSetValueEx(key, entry, 0, REG_SZ, data.data(), static_cast<uint32_t>(data.size()));
      RegCloseKey(key);
      return rc == ERROR_SUCCESS ? SeverityNone : SeverityInform;
    }
    default:
      return SeverityNone;
  }
}

Severity IniManager::Delete(std::string_view section, std::string_view entry) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  switch (NVTYPE) {
    case kIniFile: {
      std::optional<std::string_view> key;
      if (!entry.empty()) key = entry;
      bool ok = FILENAME.empty() ? WriteProfileString(section, key, std::nullopt)
                                 : WritePrivateProfileString(section, key, std::nullopt, FILENAME);
      return ok ? SeverityNone : SeverityInform;
    }
    case kIniRegistry: {
      long rc;
      if (entry.empty()) {
        rc = SHDeleteKey(RegistryRoot(), RegistryPath(section));
      } else {
        HKEY key = 0;
        rc = RegOpenKeyEx(RegistryRoot(), RegistryPath(section), 0, KEY_WRITE, &key);
        if (rc == ERROR_SUCCESS) {
          rc = RegDeleteValue(key, entry);
          RegCloseKey(key);
        }
      }
      return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? SeverityNone : SeverityInform;
    }
    default:
      return SeverityNone;
  }
}

Severity IniManager::StoreQueue(QUEUE* queue, std::string_view section, std::string_view entry,
                                const std::vector<int>& fields) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  if (queue == nullptr || NVTYPE == kIniNone) return SeverityNone;
  const int32_t n = RECORDS(queue);
  const std::string stored = Fetch(section, entry);
  // An empty queue that was never stored leaves the settings untouched, so
  // merely running the program creates no settings file.
  if (n == 0 && stored.empty()) return SeverityNone;
  const int32_t old = RecordCount(stored);

  // The caller's buffer and current entry are put back afterwards.
  const int32_t current = POINTER(queue);
  std::vector<uint8_t> saved(queue->buffer(), queue->buffer() + queue->record_size());

  Severity result = Update(section, entry, std::to_string(n));
  size_t used = std::min(fields.size(), kMaxQueueFieldsStored);
  for (int32_t i = 1; i <= n; ++i) {
    GET(queue, i);
    std::string line;
    for (size_t k = 0; k < used; ++k) {
      if (k > 0) line += ',';
      line += EscapeQueueField(FieldText(queue, fields[k]));
    }
    if (Update(section, IndexedEntry(entry, i), line) != SeverityNone) result = SeverityInform;
  }
  for (int32_t i = n + 1; i <= old; ++i) Delete(section, IndexedEntry(entry, i));

  if (current > 0) GET(queue, current);
  std::memcpy(queue->buffer(), saved.data(), saved.size());
  return result;
}

void IniManager::LoadQueue(QUEUE* queue, std::string_view section, std::string_view entry,
                           const std::vector<int>& fields) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  if (queue == nullptr) return;
  const int32_t n = RecordCount(Fetch(section, entry));
  size_t used = std::min(fields.size(), kMaxQueueFieldsStored);
  for (int32_t i = 1; i <= n; ++i) {
    std::string line = Fetch(section, IndexedEntry(entry, i), kUnknownValue);
    for (size_t k = 0; k < used; ++k)
      SetFieldText(queue, fields[k], UnescapeQueueField(Part(line, static_cast<int>(k + 1))));
    ADD(queue);
  }
}

std::string IniManager::LoadField(std::string_view section, std::string_view entry, int n) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  if (n < 1) return std::string();
  std::string line = Fetch(section, entry, kUnknownValue);
  return UnescapeQueueField(Part(line, n));
}

std::string IniManager::MakeSectionName(std::string_view family, std::string_view item,
                                        std::string_view type) {
  std::string name = Escape(family, SectionAlways, SectionEnds);
  name += '$';
  name += Escape(item, SectionAlways, SectionEnds);
  name += "$$";
  name += Escape(type, SectionAlways, SectionEnds);
  return name;
}

SectionNameParts IniManager::SplitSectionName(std::string_view name) {
  SectionNameParts parts;
  size_t first = name.find('$');
  if (first == std::string_view::npos) {
    parts.family = Unescape(name, SectionEscaped);
    return parts;
  }
  parts.family = Unescape(name.substr(0, first), SectionEscaped);
  std::string_view rest = name.substr(first + 1);
  // The "$$" that is not followed by a further "$": an unescaped item that
  // ends in "$" keeps it.
  size_t at = rest.find("$$");
  while (at != std::string_view::npos && at + 2 < rest.size() && rest[at + 2] == '$')
    at = rest.find("$$", at + 1);
  if (at == std::string_view::npos) {
    parts.item = Unescape(rest, SectionEscaped);
  } else {
    parts.item = Unescape(rest.substr(0, at), SectionEscaped);
    parts.type = Unescape(rest.substr(at + 2), SectionEscaped);
  }
  return parts;
}

}  // namespace qzr
