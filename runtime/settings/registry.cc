// The settings registry: the in-memory key tree, its text file, and the
// handle table.
//
// Invariants, under `mu`:
//   1. `roots` mirrors `text`, the contents of the file at `path` as last read
//      or written, or the tree is marked stale (`loaded` false) and is
//      rebuilt before the next use.
//   2. Every change is written to the file before the call returns success;
//      a failed write marks the tree stale, so memory never claims what the
//      disk does not hold.
//   3. A handle stores its root and key path only; it is resolved afresh on
//      every call.

#include "runtime/settings/registry.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "runtime/core/text.h"
#include "runtime/os/atomic_file.h"
#include "runtime/settings/profile.h"

namespace qzr {
namespace {

constexpr char kFileName[] = "registry.txt";
constexpr char kMagic[] = "QZR-REGISTRY 1";
constexpr size_t kRootCount = 7;
constexpr const char* kRootNames[kRootCount] = {
    "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
constexpr HKEY kFirstHandle = 0x100;

struct Value {
  std::string name;
  std::uint32_t type = REG_NONE;
  std::string data;
};

struct Key {
  std::string name;
  std::map<std::string, Value> values;                   // by lower-case name
  std::map<std::string, std::unique_ptr<Key>> children;  // by lower-case name

  Key* Child(std::string_view child) const {
    auto it = children.find(Lower(child));
    return it == children.end() ? nullptr : it->second.get();
  }
};

struct Handle {
  size_t root = 0;
  std::vector<std::string> path;
};

// ---------------------------------------------------------------------------
// Text form

bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '%' || c == '"' || c == ']' || c == '=';
}

std::string Escape(std::string_view s) {
  return PercentEscape(s, [](uint8_t c) { return NeedsEscape(c); });
}

// Decodes every "%XX"; false for a '%' that begins no such escape.
bool Unescape(std::string_view s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      *out += s[i];
      continue;
    }
    const int byte = PercentEscapeAt(s, i);
    if (byte < 0) return false;
    *out += static_cast<char>(byte);
    i += 2;
  }
  return true;
}

bool ParseHexBytes(std::string_view s, std::string* out) {
  out->clear();
  if (s.size() % 2 != 0) return false;
  for (size_t i = 0; i < s.size(); i += 2) {
    int hi = HexDigitValue(s[i]);
    int lo = HexDigitValue(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    *out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

std::string FormatValue(const Value& v) {
  std::string line = v.name.empty() ? "@" : "\"" + Escape(v.name) + "\"";
  line += '=';
  const std::string& d = v.data;
  bool one_final_nul = !d.empty() && d.back() == '\0' && d.find('\0') == d.size() - 1;
  if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && one_final_nul) {
    line += v.type == REG_SZ ? "sz:" : "expand:";
    line += Escape(std::string_view(d).substr(0, d.size() - 1));
  } else if (v.type == REG_DWORD && d.size() == 4) {
    std::uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(d[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", n);
    line += "dword:";
    line += buf;
  } else {
    static const char kHex[] = "0123456789abcdef";
    line += "hex(" + std::to_string(v.type) + "):";
    for (unsigned char c : d) {
      line += kHex[c >> 4];
      line += kHex[c & 15];
    }
  }
  return line;
}

// Parses one value line into `v`. Returns false when it is malformed.
bool ParseValue(std::string_view line, Value* v) {
  size_t eq;
  if (line.substr(0, 2) == "@=") {
    v->name.clear();
    eq = 1;
  } else {
    if (line.empty() || line.front() != '"') return false;
    size_t close = line.find('"', 1);
    if (close == std::string_view::npos || close + 1 >= line.size() || line[close + 1] != '=') {
      return false;
    }
    if (!Unescape(line.substr(1, close - 1), &v->name) || v->name.empty()) return false;
    eq = close + 1;
  }
  std::string_view rest = line.substr(eq + 1);
  size_t colon = rest.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view kind = rest.substr(0, colon);
  std::string_view data = rest.substr(colon + 1);
  if (kind == "sz" || kind == "expand") {
    v->type = kind == "sz" ? REG_SZ : REG_EXPAND_SZ;
    if (!Unescape(data, &v->data)) return false;
    v->data += '\0';
    return true;
  }
  if (kind == "dword") {
    std::string bytes;
    if (data.size() != 8 || !ParseHexBytes(data, &bytes)) return false;
    v->type = REG_DWORD;
    v->data.assign(bytes.rbegin(), bytes.rend());  // written most significant first
    return true;
  }
  if (kind.size() > 5 && kind.substr(0, 4) == "hex(" && kind.back() == ')') {
    std::string_view digits = kind.substr(4, kind.size() - 5);
    if (digits.empty() || digits.size() > 10) return false;
    unsigned long long type = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      type = type * 10 + static_cast<unsigned>(c - '0');
    }
    if (type > 0xFFFFFFFFull) return false;
    v->type = static_cast<std::uint32_t>(type);
    return ParseHexBytes(data, &v->data);
  }
  return false;
}

// ---------------------------------------------------------------------------
// Process-wide state

struct State {
  std::mutex mu;
  std::array<Key, kRootCount> roots;
  bool loaded = false;
  std::string path;         // the file the tree was read from
  std::string text;         // the file's contents as last read or written
  bool unreadable = false;  // the file exists but could not be read
  bool damaged = false;     // some lines could not be parsed
  std::map<HKEY, Handle> handles;
  HKEY next_handle = kFirstHandle;
};

State& GetState() {
  static State* state = new State;  // never destroyed: handles may outlive statics
  return *state;
}

std::string RegistryPath() {
  return ConfigDirectory() + "/" + kFileName;
}

void ClearTree(State& s) {
  for (size_t i = 0; i < kRootCount; ++i) {
    s.roots[i] = Key();
    s.roots[i].name = kRootNames[i];
  }
}

int RootIndexByName(std::string_view name) {
  for (size_t i = 0; i < kRootCount; ++i) {
    if (Lower(name) == Lower(kRootNames[i])) return static_cast<int>(i);
  }
  return -1;
}

// Reads `text` into the tree; returns the number of lines that could not be
// read (they are skipped).
int ParseTree(State& s, std::string_view text) {
  ClearTree(s);
  int bad = 0;
  bool first = true;
  Key* current = nullptr;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == ';') continue;
    if (first) {
      first = false;
      if (line == kMagic) continue;
      ++bad;  // a file of another kind or version: read what can be read
    }
    if (line.front() == '[') {
      current = nullptr;
      if (line.back() != ']') {
        ++bad;
        continue;
      }
      std::string_view path = line.substr(1, line.size() - 2);
      size_t sep = path.find('\\');
      int root = RootIndexByName(path.substr(0, sep));
      if (root < 0) {
        ++bad;
        continue;
      }
      Key* key = &s.roots[static_cast<size_t>(root)];
      bool ok = true;
      while (ok && sep != std::string_view::npos) {
        path.remove_prefix(sep + 1);
        sep = path.find('\\');
        std::string name;
        ok = Unescape(path.substr(0, sep), &name) && !name.empty() &&
             name.size() <= kMaxRegistryKeyName;
        if (!ok) break;
        auto& child = key->children[Lower(name)];
        if (!child) {
          child = std::make_unique<Key>();
          child->name = name;
        }
        key = child.get();
      }
      if (!ok) {
        ++bad;
        continue;
      }
      current = key;
      continue;
    }
    Value v;
    if (current == nullptr || !ParseValue(line, &v)) {
      ++bad;
      continue;
    }
    current->values[Lower(v.name)] = std::move(v);
  }
  return bad;
}

void SerializeKey(const Key& key, const std::string& path, bool is_root, std::string* out) {
  if (!is_root || !key.values.empty()) {
    *out += "[" + path + "]\n";
    for (const auto& [lower, value] : key.values) *out += FormatValue(value) + "\n";
  }
  for (const auto& [lower, child] : key.children) {
    SerializeKey(*child, path + "\\" + Escape(child->name), false, out);
  }
}

std::string SerializeTree(const State& s) {
  std::string out = std::string(kMagic) + "\n";
  for (const Key& root : s.roots) SerializeKey(root, root.name, true, &out);
  return out;
}

// Brings the tree in line with the file (invariant 1).
void Refresh(State& s) {
  // The file is read on every call and compared with what the tree was made
  // from: file times and inode numbers cannot tell two quick rewrites of the
  // same size apart (a freed inode number comes back at once), the bytes can.
  const std::string path = RegistryPath();
  std::string text;
  OsStatus read = ReadWholeFile(path, &text);
  if (read.Is(ENOENT)) read = OsStatus::Ok();  // no file yet: an empty registry
  if (s.loaded && path == s.path && read.ok() && !s.unreadable && text == s.text) return;
  s.path = path;
  s.loaded = true;
  s.unreadable = !read.ok();
  s.damaged = false;
  s.text = std::move(text);
  if (s.unreadable) {
    ClearTree(s);
    return;
  }
  s.damaged = ParseTree(s, s.text) > 0;
}

long ErrnoToRegistryError(OsStatus status) {
  switch (status.error()) {
    case 0:
      return ERROR_SUCCESS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_WRITE_FAULT;
  }
}

// Runs `change` on the fresh tree under the folder lock and writes the file
// when `change` reports that it changed something (invariant 2).
long Mutate(State& s, const std::function<long(bool* changed)>& change) {
  if (OsStatus made = MakeDirectories(ConfigDirectory()); !made.ok()) {
    return ErrnoToRegistryError(made);
  }
  DirectoryLock folder(ConfigDirectory());
  Refresh(s);
  if (s.unreadable) return ERROR_ACCESS_DENIED;  // never replace what could not be read
  bool changed = false;
  long rc = change(&changed);
  if (rc != ERROR_SUCCESS || !changed) return rc;
  if (s.damaged) {
    // Keep the damaged original once, before the rewrite drops its bad lines.
    if (OsStatus kept = WriteFileAtomically(s.path + ".bad", s.text); !kept.ok()) {
      s.loaded = false;
      return ErrnoToRegistryError(kept);
    }
  }
  std::string text = SerializeTree(s);
  if (OsStatus written = WriteFileAtomically(s.path, text); !written.ok()) {
    s.loaded = false;
    return ErrnoToRegistryError(written);
  }
  s.damaged = false;
  s.text = std::move(text);
  return ERROR_SUCCESS;
}

// Splits a sub-key path into key names.
long SplitPath(std::string_view sub_key, std::vector<std::string>* names) {
  names->clear();
  if (!sub_key.empty() && sub_key.back() == '\\') sub_key.remove_suffix(1);
  if (sub_key.empty()) return ERROR_SUCCESS;
  for (;;) {
    size_t sep = sub_key.find('\\');
    std::string_view name = sub_key.substr(0, sep);
    if (name.empty()) return ERROR_BAD_PATHNAME;
    if (name.size() > kMaxRegistryKeyName) return ERROR_INVALID_PARAMETER;
    names->emplace_back(name);
    if (sep == std::string_view::npos) return ERROR_SUCCESS;
    sub_key.remove_prefix(sep + 1);
  }
}

// The key a handle (or root) names, with its root and path.
struct Resolved {
  size_t root = 0;
  std::vector<std::string> path;
  Key* key = nullptr;
};

long Resolve(State& s, HKEY handle, Resolved* out) {
  if (IsRegistryRoot(handle)) {
    out->root = handle - HKEY_CLASSES_ROOT;
    out->path.clear();
    out->key = &s.roots[out->root];
    return ERROR_SUCCESS;
  }
  auto it = s.handles.find(handle);
  if (it == s.handles.end()) return ERROR_INVALID_HANDLE;
  out->root = it->second.root;
  out->path = it->second.path;
  Key* key = &s.roots[out->root];
  for (const std::string& name : out->path) {
    key = key->Child(name);
    if (key == nullptr) return ERROR_KEY_DELETED;
  }
  out->key = key;
  return ERROR_SUCCESS;
}

// The existing key `names` leads to below `*base` (which names the key
// itself, with its path, on return). ERROR_FILE_NOT_FOUND when one is missing.
long Descend(const std::vector<std::string>& names, Resolved* base) {
  for (const std::string& name : names) {
    base->key = base->key->Child(name);
    if (base->key == nullptr) return ERROR_FILE_NOT_FOUND;
    base->path.push_back(base->key->name);
  }
  return ERROR_SUCCESS;
}

HKEY NewHandle(State& s, size_t root, std::vector<std::string> path) {
  while (s.handles.count(s.next_handle) != 0 || s.next_handle < kFirstHandle ||
         s.next_handle >= HKEY_CLASSES_ROOT) {
    s.next_handle = s.next_handle >= HKEY_CLASSES_ROOT - 4 ? kFirstHandle : s.next_handle + 4;
  }
  HKEY h = s.next_handle;
  s.next_handle += 4;
  s.handles[h] = Handle{root, std::move(path)};
  return h;
}

std::atomic<uint64_t> g_registry_calls{0};

void CountCall() {
  g_registry_calls.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

bool IsRegistryRoot(HKEY key) {
  return key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA;
}

long RegOpenKeyEx(HKEY key, std::string_view sub_key, std::uint32_t options, REGSAM sam,
                  HKEY* result) {
  CountCall();
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = 0;
  std::vector<std::string> names;
  if (long rc = SplitPath(sub_key, &names)) return rc;
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mu);
  Refresh(s);
  Resolved base;
  if (long rc = Resolve(s, key, &base)) return rc;
  if (long rc = Descend(names, &base)) return rc;
  *result = NewHandle(s, base.root, std::move(base.path));
  return ERROR_SUCCESS;
}

long RegCreateKeyEx(HKEY key, std::string_view sub_key, std::uint32_t reserved,
                    std::uint32_t options, REGSAM sam, HKEY* result, std::uint32_t* disposition) {
  CountCall();
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = 0;
  std::vector<std::string> names;
  if (long rc = SplitPath(sub_key, &names)) return rc;
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mu);
  Resolved base;
  bool created = false;
  long rc = Mutate(s, [&](bool* changed) -> long {
    if (long r = Resolve(s, key, &base)) return r;
    Key* k = base.key;
    for (const std::string& name : names) {
      auto& child = k->children[Lower(name)];
      if (!child) {
        child = std::make_unique<Key>();
        child->name = name;
        created = true;
      }
      k = child.get();
      base.path.push_back(k->name);
    }
    *changed = created;
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) return rc;
  *result = NewHandle(s, base.root, std::move(base.path));
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

long RegQueryValueEx(HKEY key, std::string_view value_name, std::uint32_t* reserved,
                     std::uint32_t* type, void* data, std::uint32_t* size) {
  CountCall();
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mu);
  Refresh(s);
  Resolved r;
  if (long rc = Resolve(s, key, &r)) return rc;
  auto it = r.key->values.find(Lower(value_name));
  if (it == r.key->values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& v = it->second;
  if (type) *type = v.type;
  const auto needed = static_cast<std::uint32_t>(v.data.size());
  if (data == nullptr) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed > 0) std::memcpy(data, v.data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

long RegQueryValue(HKEY key, std::string_view sub_key, char* data, std::int32_t* size) {
  CountCall();
  if ((data != nullptr && size == nullptr) || (size != nullptr && *size < 0)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::vector<std::string> names;
  if (long rc = SplitPath(sub_key, &names)) return rc;
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mu);
  Refresh(s);
  Resolved r;
  if (long rc = Resolve(s, key, &r)) return rc;
  if (long rc = Descend(names, &r)) return rc;
  const Key* k = r.key;
  std::string text;
  if (auto it = k->values.find(""); it != k->values.end()) {
    const Value& v = it->second;
    if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    text = v.data.substr(0, v.data.find('\0'));
  }
  const auto needed = static_cast<std::int32_t>(text.size() + 1);
  if (data == nullptr) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, text.c_str(), text.size() + 1);
  *size = needed;
  return ERROR_SUCCESS;
}

long RegSetValueEx(HKEY key, std::string_view value_name, std::uint32_t reserved,
                   std::uint32_t type, const void* data, std::uint32_t size) {
  CountCall();
  if (data == nullptr && size > 0) return ERROR_INVALID_PARAMETER;
  if (value_name.size() > kMaxRegistryValueName) return ERROR_INVALID_PARAMETER;
  std::string bytes(static_cast<const char*>(data), data ? size : 0);
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mu);
  return Mutate(s, [&](bool* changed) -> long {
    Resolved r;
    if (long rc = Resolve(s, key, &r)) return rc;
    auto [it, inserted] = r.key->values.try_emplace(Lower(value_name));
    Value& v = it->second;
    // An existing value keeps the spelling of its name, as keys do.
    if (inserted) v.name = std::string(value_name);
    if (!inserted && v.type == type && v.data == bytes) return ERROR_SUCCESS;
    v.type = type;
    v.data = std::move(bytes);
    *changed = true;
    return ERROR_SUCCESS;
  });
}

long RegDeleteValue(HKEY key, std::string_view value_name) {
  CountCall();
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mu);
  return Mutate(s, [&](bool* changed) -> long {
    Resolved r;
    if (long rc = Resolve(s, key, &r)) return rc;
    if (r.key->values.erase(Lower(value_name)) == 0) return ERROR_FILE_NOT_FOUND;
    *changed = true;
    return ERROR_SUCCESS;
  });
}

long SHDeleteKey(HKEY key, std::string_view sub_key) {
  CountCall();
  std::vector<std::string> names;
  if (long rc = SplitPath(sub_key, &names)) return rc;
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mu);
  return Mutate(s, [&](bool* changed) -> long {
    Resolved r;
    if (long rc = Resolve(s, key, &r)) return rc;
    std::vector<std::string> full = r.path;
    full.insert(full.end(), names.begin(), names.end());
    if (full.empty()) return ERROR_ACCESS_DENIED;  // a root stays
    Key* parent = &s.roots[r.root];
    for (size_t i = 0; i + 1 < full.size(); ++i) {
      parent = parent->Child(full[i]);
      if (parent == nullptr) return ERROR_FILE_NOT_FOUND;
    }
    if (parent->children.erase(Lower(full.back())) == 0) return ERROR_FILE_NOT_FOUND;
    *changed = true;
    return ERROR_SUCCESS;
  });
}

long RegCloseKey(HKEY key) {
  CountCall();
  if (IsRegistryRoot(key)) return ERROR_SUCCESS;
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.handles.erase(key) == 0 ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}

std::optional<std::string> RegGetString(HKEY root, std::string_view sub_key,
                                        std::string_view value_name) {
  HKEY k = 0;
  if (RegOpenKeyEx(root, sub_key, 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::optional<std::string> result;
  // The value may change between the size query and the read (another
  // thread or process); retry while the buffer turns out too small.
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (RegQueryValueEx(k, value_name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::string buffer(size, '\0');
    long rc = RegQueryValueEx(k, value_name, nullptr, &type, buffer.data(), &size);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
      buffer.resize(size);
      result = buffer.substr(0, buffer.find('\0'));
    }
    break;
  }
  RegCloseKey(k);
  return result;
}

std::optional<std::uint32_t> RegGetDword(HKEY root, std::string_view sub_key,
                                         std::string_view value_name) {
  HKEY k = 0;
  if (RegOpenKeyEx(root, sub_key, 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
  std::uint32_t type = 0;
  unsigned char bytes[4];
  std::uint32_t size = sizeof bytes;
  long rc = RegQueryValueEx(k, value_name, nullptr, &type, bytes, &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != 4) return std::nullopt;
  return static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                    static_cast<std::uint32_t>(bytes[3]) << 24);
}

long RegPutString(HKEY root, std::string_view sub_key, std::string_view value_name,
                  std::string_view value) {
  HKEY k = 0;
  if (long rc = RegCreateKeyEx(root, sub_key, 0, 0, KEY_WRITE, &k, nullptr)) return rc;
  std::string data(value);
  data += '\0';
  long rc =
      RegSetValueEx(k, value_name, 0, REG_SZ, data.data(), static_cast<std::uint32_t>(data.size()));
  RegCloseKey(k);
  return rc;
}

long RegPutDword(HKEY root, std::string_view sub_key, std::string_view value_name,
                 std::uint32_t value) {
  HKEY k = 0;
  if (long rc = RegCreateKeyEx(root, sub_key, 0, 0, KEY_WRITE, &k, nullptr)) return rc;
  unsigned char bytes[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  long rc = RegSetValueEx(k, value_name, 0, REG_DWORD, bytes, 4);
  RegCloseKey(k);
  return rc;
}

uint64_t RegistryCallCount() {
  return g_registry_calls.load(std::memory_order_relaxed);
}

size_t OpenRegistryHandleCount() {
  State& s = GetState();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.handles.size();
}

}  // namespace qzr
