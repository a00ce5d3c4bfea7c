// The locale data: built once from the [intl] profile section and the
// environment file, then only read.
//
// Initialisation runs under one process-wide mutex; the finished data is
// published through an atomic pointer, so later calls of Locale() take no
// lock. Every data set ever published is kept alive (the testing
// re-initialisers add more), so a reference from Locale() never dangles.

#include "runtime/settings/locale_data.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "runtime/core/text.h"
#include "runtime/os/atomic_file.h"
#include "runtime/os/file_system.h"
#include "runtime/settings/env_file.h"
#include "runtime/settings/profile.h"

namespace qzr {
namespace {

std::mutex g_mutex;
std::atomic<const LocaleData*> g_locale{nullptr};

// Every published data set, owned here so that none is freed while a caller
// may still hold a reference. Guarded by g_mutex.
std::vector<std::unique_ptr<LocaleData>>& Published() {
  static auto* all = new std::vector<std::unique_ptr<LocaleData>>();
  return *all;
}

std::string Cut(std::string_view text, size_t chars) {
  return std::string(text.substr(0, Utf8Prefix(text, chars)));
}

std::optional<std::string> ReadEnvironmentFile(const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path, &text).ok()) return std::nullopt;
  return text;
}

// "MORCOLSEQ": the listed bytes take, in the order given, the weights that
// the same bytes have in the current table sorted ascending. Bytes not
// listed keep their weight, so the table stays a permutation and two
// different bytes never weigh the same. A byte listed twice counts once.
void ApplyCollatingList(std::string_view list, std::array<uint8_t, 256>* table) {
  std::vector<uint8_t> order;
  bool seen[256] = {};
  for (char c : list) {
    const auto b = static_cast<uint8_t>(c);
    if (seen[b]) continue;
    seen[b] = true;
    order.push_back(b);
  }
  std::vector<uint8_t> slots;
  for (uint8_t b : order) slots.push_back((*table)[b]);
  std::sort(slots.begin(), slots.end());
  for (size_t i = 0; i < order.size(); ++i) (*table)[order[i]] = slots[i];
}

// "MORCOLSEQ=WINDOWS": bytes 2..254 ordered by the C library's collation in
// the current locale (strcoll on one-character strings, ties by byte value);
// 0, 1 and 255 keep their weights.
void ApplySystemCollation(std::array<uint8_t, 256>* table) {
  std::vector<int> chars;
  for (int c = 2; c <= 254; ++c) chars.push_back(c);
  std::stable_sort(chars.begin(), chars.end(), [](int a, int b) {
    const char sa[2] = {static_cast<char>(a), 0};
    const char sb[2] = {static_cast<char>(b), 0};
    return std::strcoll(sa, sb) < 0;
  });
  for (size_t i = 0; i < chars.size(); ++i) {
    (*table)[static_cast<size_t>(chars[i])] = static_cast<uint8_t>(2 + i);
  }
}

void SetCasePair(LocaleData* data, uint8_t up, uint8_t low) {
  data->lower[up] = low;
  data->upper[up] = up;
  data->upper[low] = up;
  data->lower[low] = low;
  data->char_class[up] = kClassUpper;
  data->char_class[low] = kClassLower;
}

void ApplyEnv(std::string_view bytes, const IntlSettings& intl, LocaleData* data) {
  const std::vector<EnvEntry> entries = ParseEnvFile(bytes);
  // The character set decides how every other value is read, wherever its
  // line stands.
  for (const EnvEntry& e : entries) {
    if (e.key == "MORCHARSET") {
      data->oem_charset = EqualNoCase(DecodeEnvText(e.value, EnvEscapes::kBytes), "OEM");
    }
  }
  const bool oem = data->oem_charset;
  // Text values: OEM bytes are converted to the program's UTF-8; otherwise
  // an escape above 127 names a Unicode character.
  auto fields = [oem](const std::string& value) {
    std::vector<std::string> f =
        SplitEnvFields(value, oem ? EnvEscapes::kBytes : EnvEscapes::kUtf8);
    if (oem) {
      for (std::string& s : f) s = OemToUtf8(s);
    }
    return f;
  };
  auto text = [oem](const std::string& value) {
    std::string t = DecodeEnvText(value, oem ? EnvEscapes::kBytes : EnvEscapes::kUtf8);
    return oem ? OemToUtf8(t) : t;
  };
  auto is_windows = [](const std::vector<std::string>& f) {
    return f.size() == 1 && EqualNoCase(f[0], "WINDOWS");
  };

  for (const EnvEntry& e : entries) {
    const std::string& key = e.key;
    if (key == "MORCOLSEQ") {
      // Byte weights: the list is taken byte for byte, never converted, as
      // the table it builds is indexed by the bytes of stored text.
      const std::vector<std::string> f = SplitEnvFields(e.value, EnvEscapes::kBytes);
      data->collating_sequence = locale_internal::Identity();
      if (is_windows(f)) {
        ApplySystemCollation(&data->collating_sequence);
      } else {
        std::string list;
        for (const std::string& s : f) list += s;
        ApplyCollatingList(list, &data->collating_sequence);
      }
    } else if (key == "MORCASE") {
      const std::vector<std::string> f = SplitEnvFields(e.value, EnvEscapes::kBytes);
      if (is_windows(f)) {
        for (int c = 128; c < 256; ++c) {
          if (std::isalpha(c) && std::isupper(c)) {
            const int low = std::tolower(c);
            if (low != c && low > 127 && low < 256) {
              SetCasePair(data, static_cast<uint8_t>(c), static_cast<uint8_t>(low));
            }
          }
        }
      } else if (f.size() >= 2) {
        // Pairs below 128 are left alone: A-Z and a-z are always paired.
        const size_t n = std::min(f[0].size(), f[1].size());
        for (size_t i = 0; i < n; ++i) {
          const auto up = static_cast<uint8_t>(f[0][i]);
          const auto low = static_cast<uint8_t>(f[1][i]);
          if (up > 127 && low > 127 && up != low) SetCasePair(data, up, low);
        }
      }
    } else if (key == "MORMONTH" || key == "MORMON") {
      const bool is_long = key == "MORMONTH";
      const std::vector<std::string> f = fields(e.value);
      auto& names = is_long ? data->long_month_names : data->short_month_names;
      // An empty field keeps that month's name.
      for (size_t i = 0; i < f.size() && i < 12; ++i) {
        if (!f[i].empty()) names[i] = Cut(f[i], is_long ? 12 : 3);
      }
    } else if (key == "MORAMPM") {
      const std::vector<std::string> f = fields(e.value);
      if (is_windows(f)) {
        data->am_text = Cut(intl.s1159, 2);
        data->pm_text = Cut(intl.s2359, 2);
      } else {
        if (!f.empty()) data->am_text = Cut(f[0], 2);
        if (f.size() > 1) data->pm_text = Cut(f[1], 2);
      }
    } else if (key == "MORDIGRAPH") {
      // A digraph is three bytes (the character and the pair it sorts as);
      // a field of any other length cannot be one and is skipped.
      data->digraph_count = 0;
      for (const std::string& d : SplitEnvFields(e.value, EnvEscapes::kBytes)) {
        if (d.size() != 3 || data->digraph_count == 16) continue;
        auto& slot = data->digraphs[static_cast<size_t>(data->digraph_count++)];
        for (int k = 0; k < 3; ++k) slot[k] = static_cast<uint8_t>(d[k]);
      }
      data->digraph_on = data->digraph_count > 0;
    } else if (key == "MORBUTTON") {
      // The first field is message kButtonMessageBase itself.
      const std::vector<std::string> f = fields(e.value);
      for (size_t j = 0; j < f.size(); ++j) {
        data->message_overrides[kButtonMessageBase + static_cast<int>(j)] = f[j];
      }
    } else if (key == "MORLFN") {
      data->long_file_names = EqualNoCase(text(e.value), "on");
    } else if (key == "MORSYSTEMCHARSET") {
      data->system_charset = text(e.value);
    } else if (key == "MORLAYOUT") {
      data->right_to_left = EqualNoCase(text(e.value), "RTL");
    } else if (key.size() > 6 && key.compare(0, 6, "MORMSG") == 0) {
      const std::string digits = key.substr(6);
      if (digits.size() > 9 ||
          !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        continue;
      }
      data->message_overrides[std::stoi(digits)] = text(e.value);
    }
  }
}

const LocaleData* Publish(std::unique_ptr<LocaleData> data) {
  const LocaleData* raw = data.get();
  Published().push_back(std::move(data));
  g_locale.store(raw, std::memory_order_release);
  return raw;
}

}  // namespace

IntlSettings ReadIntlSettings() {
  IntlSettings s;
  s.iTime = GetProfileInt("intl", "iTime", s.iTime);
  s.iTLzero = GetProfileInt("intl", "iTLzero", s.iTLzero);
  s.sTime = GetProfileString("intl", "sTime", s.sTime);
  s.s1159 = GetProfileString("intl", "s1159", s.s1159);
  s.s2359 = GetProfileString("intl", "s2359", s.s2359);
  s.sShortDate = GetProfileString("intl", "sShortDate", s.sShortDate);
  s.sLongDate = GetProfileString("intl", "sLongDate", s.sLongDate);
  return s;
}

LocaleData BuildLocaleData(const IntlSettings& intl, std::optional<std::string_view> env) {
  LocaleData data;
  data.am_text = Cut(intl.s1159, 2);
  data.pm_text = Cut(intl.s2359, 2);
  data.short_date_picture = CompileWindowsDateFormat(intl.sShortDate, 17);
  data.long_date_picture = CompileWindowsDateFormat(intl.sLongDate, 18);
  // A format the pictures cannot express falls back to the default one.
  const IntlSettings defaults;
  if (!data.short_date_picture.valid()) {
    data.short_date_picture = CompileWindowsDateFormat(defaults.sShortDate, 17);
  }
  if (!data.long_date_picture.valid()) {
    data.long_date_picture = CompileWindowsDateFormat(defaults.sLongDate, 18);
  }
  const bool twelve_hour = intl.iTime == 0;
  const bool leading_zero = intl.iTLzero != 0;
  data.short_time_picture = BuildWindowsTimePicture(7, twelve_hour, leading_zero, intl.sTime);
  data.long_time_picture = BuildWindowsTimePicture(8, twelve_hour, leading_zero, intl.sTime);
  if (env) ApplyEnv(*env, intl, &data);
  return data;
}

std::string ProgramEnvFilePath() {
  std::string exe;
  if (!ExecutablePath(&exe).ok()) return "";
  return EnvFilePathFor(exe);
}

const LocaleData& Locale() {
  if (const LocaleData* p = g_locale.load(std::memory_order_acquire)) return *p;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (const LocaleData* p = g_locale.load(std::memory_order_acquire)) return *p;
  const IntlSettings intl = ReadIntlSettings();
  const std::string path = ProgramEnvFilePath();
  std::optional<std::string> env = path.empty() ? std::nullopt : ReadEnvironmentFile(path);
  std::optional<std::string_view> view;
  if (env) view = *env;
  return *Publish(std::make_unique<LocaleData>(BuildLocaleData(intl, view)));
}

std::string LocaleUpper(std::string_view text) {
  const auto& upper = Locale().upper;
  std::string out(text);
  for (char& c : out) c = static_cast<char>(upper[static_cast<uint8_t>(c)]);
  return out;
}

void InitLocaleForTesting(const IntlSettings& intl, const std::string& env_path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::optional<std::string> env = ReadEnvironmentFile(env_path);
  std::optional<std::string_view> view;
  if (env) view = *env;
  Publish(std::make_unique<LocaleData>(BuildLocaleData(intl, view)));
}

void ResetLocaleForTesting() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_locale.store(nullptr, std::memory_order_release);
}

std::optional<std::string> RuntimeMessageOverride(int n) {
  const auto& overrides = Locale().message_overrides;
  const auto it = overrides.find(n);
  if (it == overrides.end()) return std::nullopt;
  return it->second;
}

}  // namespace qzr
