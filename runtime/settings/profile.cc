// Profile files: parsing into lines, the edits of WritePrivateProfileString,
// and the locations of the configuration folder and the user profile.
//
// A file is split into lines that keep their exact bytes; an edit replaces,
// inserts or removes whole lines and the file is written back from the line
// list, so everything the edit does not touch comes back unchanged. All calls
// run under one process-wide mutex; writes also hold the folder lock of
// runtime/atomic_file.h.

#include "runtime/settings/profile.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "runtime/core/text.h"
#include "runtime/os/atomic_file.h"

namespace qzr {
namespace {

std::mutex g_profile_mutex;

constexpr char kUserProfileName[] = "profile.ini";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

enum class LineKind { kOther, kComment, kSection, kEntry };

struct Line {
  std::string text;  // the line's bytes without its '\n' (a '\r' stays)
  bool newline = true;
  LineKind kind = LineKind::kOther;
  std::string name;        // section name or key, blanks removed
  std::string value;       // entry value, blanks and enclosing quotes removed
  size_t value_start = 0;  // where the value begins in `text`
};

bool HasCarriageReturn(const std::string& text) {
  return !text.empty() && text.back() == '\r';
}

void Classify(Line* line, bool first) {
  std::string_view body = line->text;
  if (HasCarriageReturn(line->text)) body.remove_suffix(1);
  // A byte-order mark left by an editor must not hide the first header.
  if (first && body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  std::string_view lead = body;
  while (!lead.empty() && IsBlank(lead.front())) lead.remove_prefix(1);
  if (lead.empty()) return;
  if (lead.front() == ';' || lead.front() == '#') {
    line->kind = LineKind::kComment;
    return;
  }
  if (lead.front() == '[') {
    // "[name" without the closing bracket still names a section: the user
    // clearly meant one.
    std::string_view name = lead.substr(1);
    size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    line->kind = LineKind::kSection;
    line->name = std::string(Trim(name));
    return;
  }
  size_t eq = lead.find('=');
  if (eq == std::string_view::npos) return;
  line->kind = LineKind::kEntry;
  line->name = std::string(Trim(lead.substr(0, eq)));
  // Offsets are kept in the line's own coordinates, which a byte-order mark
  // shifts against `body`.
  std::string_view whole = line->text;
  if (HasCarriageReturn(line->text)) whole.remove_suffix(1);
  size_t start = static_cast<size_t>(lead.data() - whole.data()) + eq + 1;
  while (start < whole.size() && IsBlank(whole[start])) ++start;
  line->value_start = start;
  std::string_view value = Trim(whole.substr(start));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  line->value = std::string(value);
}

std::vector<Line> Parse(std::string_view contents) {
  std::vector<Line> lines;
  while (!contents.empty()) {
    size_t nl = contents.find('\n');
    Line line;
    if (nl == std::string_view::npos) {
      line.text = std::string(contents);
      line.newline = false;
      contents = {};
    } else {
      line.text = std::string(contents.substr(0, nl));
      contents.remove_prefix(nl + 1);
    }
    Classify(&line, lines.empty());
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string Serialize(const std::vector<Line>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    out += lines[i].text;
    // Only the file's own last line may lack its newline.
    if (lines[i].newline || i + 1 < lines.size()) out += '\n';
  }
  return out;
}

// The line ending new lines get: the file's own, LF for a new file.
std::string_view LineEnding(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (line.newline) return HasCarriageReturn(line.text) ? "\r" : "";
  }
  return "";
}

// Index of the entry `key` in the occurrences of `section`, or npos.
size_t FindEntry(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == LineKind::kSection) {
      inside = EqualNoCase(line.name, section);
    } else if (inside && line.kind == LineKind::kEntry && EqualNoCase(line.name, key)) {
      return i;
    }
  }
  return std::string::npos;
}

size_t FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == LineKind::kSection && EqualNoCase(lines[i].name, section)) return i;
  }
  return std::string::npos;
}

Line MakeLine(std::string text) {
  Line line;
  line.text = std::move(text);
  Classify(&line, false);
  return line;
}

// Applies one write to `lines`. Returns true iff the lines changed.
bool ApplyWrite(std::vector<Line>* lines, std::string_view section,
                std::optional<std::string_view> key, std::optional<std::string_view> value) {
  const std::string cr(LineEnding(*lines));
  if (!key) {
    // Every occurrence goes, up to the next header; comments written above a
    // header belong to what precedes it and stay.
    bool inside = false;
    bool changed = false;
    std::vector<Line> kept;
    for (Line& line : *lines) {
      if (line.kind == LineKind::kSection) inside = EqualNoCase(line.name, section);
      if (inside) {
        changed = true;
      } else {
        kept.push_back(std::move(line));
      }
    }
    *lines = std::move(kept);
    return changed;
  }
  if (!value) {
    // Duplicates of the key are removed too: otherwise the next one would
    // surface and the deletion would seem not to have happened.
    bool changed = false;
    for (size_t i; (i = FindEntry(*lines, section, *key)) != std::string::npos;) {
      lines->erase(lines->begin() + static_cast<std::ptrdiff_t>(i));
      changed = true;
    }
    return changed;
  }
  if (size_t i = FindEntry(*lines, section, *key); i != std::string::npos) {
    Line& line = (*lines)[i];
    std::string text = line.text.substr(0, line.value_start);
    text += *value;
    if (HasCarriageReturn(line.text)) text += '\r';
    bool newline = line.newline;
    line = MakeLine(std::move(text));
    line.newline = newline;
    return true;
  }
  Line entry = MakeLine(std::string(Trim(*key)) + "=" + std::string(*value) + cr);
  if (size_t header = FindSection(*lines, section); header != std::string::npos) {
    // After the section's last entry (or its header), so that blank lines
    // and comments that introduce the next section stay where they are.
    size_t at = header;
    for (size_t i = header + 1; i < lines->size() && (*lines)[i].kind != LineKind::kSection; ++i) {
      if ((*lines)[i].kind == LineKind::kEntry) at = i;
    }
    (*lines)[at].newline = true;
    lines->insert(lines->begin() + static_cast<std::ptrdiff_t>(at + 1), std::move(entry));
    return true;
  }
  if (!lines->empty()) {
    lines->back().newline = true;
    std::string_view last = lines->back().text;
    if (!last.empty() && last.back() == '\r') last.remove_suffix(1);
    if (!Trim(last).empty()) lines->push_back(MakeLine(cr));
  }
  lines->push_back(MakeLine("[" + std::string(Trim(section)) + "]" + cr));
  lines->push_back(std::move(entry));
  return true;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// True iff a write with these arguments reads back as written.
bool ValidWrite(std::string_view section, std::optional<std::string_view> key,
                std::optional<std::string_view> value) {
  std::string_view s = Trim(section);
  if (s.empty() || HasLineBreakOrNul(s) || s.find(']') != std::string_view::npos) return false;
  if (!key) return true;
  std::string_view k = Trim(*key);
  if (k.empty() || HasLineBreakOrNul(k) || k.find('=') != std::string_view::npos) return false;
  if (k.front() == '[' || k.front() == ';' || k.front() == '#') return false;
  return !value || !HasLineBreakOrNul(*value);
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) {
    return found->pw_dir;
  }
  return ".";
}

int ParseProfileInt(std::string_view text, int default_value) {
  text = Trim(text);
  if (text.empty()) return default_value;
  bool negative = false;
  if (text.front() == '-' || text.front() == '+') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  long long magnitude = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f') {
      digit = AsciiLower(c) - 'a' + 10;
    } else {
      break;
    }
    // Saturates well above the int range so the clamp below decides.
    if (magnitude <= (1LL << 40)) magnitude = magnitude * base + digit;
  }
  long long result = negative ? -magnitude : magnitude;
  if (result > INT_MAX) return INT_MAX;
  if (result < INT_MIN) return INT_MIN;
  return static_cast<int>(result);
}

std::string UserProfilePath() {
  return ConfigDirectory() + "/" + kUserProfileName;
}

}  // namespace

std::string ConfigDirectory() {
  if (const char* dir = std::getenv("QZR_CONFIG_DIR"); dir && *dir) return dir;
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the convention asks.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    return std::string(xdg) + "/qzrfunctions";
  }
  return HomeDirectory() + "/.config/qzrfunctions";
}

std::string ProfilePath(const std::string& file) {
  if (file.empty()) return "";
  if (file.find('/') != std::string::npos) return file;
  return ConfigDirectory() + "/" + file;
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, const std::string& file) {
  std::string fallback(default_value);
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  const std::string path = ProfilePath(file);
  if (path.empty()) return fallback;
  std::lock_guard<std::mutex> lock(g_profile_mutex);
  std::string contents;
  if (!ReadWholeFile(path, &contents).ok()) return fallback;
  std::vector<Line> lines = Parse(contents);
  size_t i = FindEntry(lines, Trim(section), Trim(key));
  return i == std::string::npos ? fallback : lines[i].value;
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int default_value,
                         const std::string& file) {
  return ParseProfileInt(GetPrivateProfileString(section, key, "", file), default_value);
}

bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value, const std::string& file) {
  const std::string path = ProfilePath(file);
  if (path.empty() || !ValidWrite(section, key, value)) return false;
  section = Trim(section);
  if (key) key = Trim(*key);
  // A bare name lives in the configuration folder, which may not exist yet;
  // an explicit folder is the caller's and is not created behind its back.
  if (file.find('/') == std::string::npos) {
    if (!MakeDirectories(ConfigDirectory()).ok()) return false;
  }
  std::lock_guard<std::mutex> lock(g_profile_mutex);
  DirectoryLock folder(ParentDirectory(path));
  std::string contents;
  const OsStatus read = ReadWholeFile(path, &contents);
  if (!read.ok() && !read.Is(ENOENT)) return false;  // never overwrite what we could not read
  std::vector<Line> lines = Parse(contents);
  if (!ApplyWrite(&lines, section, key, value)) return true;
  return WriteFileAtomically(path, Serialize(lines)).ok();
}

std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view default_value) {
  return GetPrivateProfileString(section, key, default_value, UserProfilePath());
}

int GetProfileInt(std::string_view section, std::string_view key, int default_value) {
  return GetPrivateProfileInt(section, key, default_value, UserProfilePath());
}

bool WriteProfileString(std::string_view section, std::optional<std::string_view> key,
                        std::optional<std::string_view> value) {
  std::string path = UserProfilePath();
  if (!MakeDirectories(ConfigDirectory()).ok()) return false;
  return WritePrivateProfileString(section, key, value, path);
}

}  // namespace qzr
