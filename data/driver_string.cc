// The driver-string parser.

#include "data/driver_string.h"

#include <cctype>

#include "runtime/core/runtime_message.h"
#include "runtime/core/text.h"

namespace qzr {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '.';
}

const SwitchSpec* FindSpec(std::string_view name, const std::vector<SwitchSpec>& driver_switches) {
  for (const SwitchSpec& s : driver_switches) {
    if (EqualNoCase(s.name, name)) return &s;
  }
  for (const SwitchSpec& s : CommonDriverSwitches()) {
    if (EqualNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

// A decimal integer with an optional sign, nothing else.
bool IsNumber(std::string_view v) {
  size_t i = (!v.empty() && (v[0] == '-' || v[0] == '+')) ? 1 : 0;
  if (i == v.size() || v.size() - i > 18) return false;
  for (; i < v.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(v[i]))) return false;
  }
  return true;
}

// The value normalised for its switch, or nullopt when it does not fit.
std::optional<std::string> Normalise(const SwitchSpec& sw, const std::string& value) {
  switch (sw.type) {
    case SwitchType::kBool:
      if (EqualNoCase(value, sw.true_value)) return sw.true_value;
      if (EqualNoCase(value, sw.false_value)) return sw.false_value;
      return std::nullopt;
    case SwitchType::kNumber:
      if (!IsNumber(value)) return std::nullopt;
      return std::to_string(std::stoll(value));
    case SwitchType::kString:
      return value;
  }
  return std::nullopt;
}

}  // namespace

const std::string* ParsedDriverString::Find(std::string_view name) const {
  const std::string* found = nullptr;
  for (const DriverSwitch& s : switches) {
    if (EqualNoCase(s.name, name)) found = &s.value;
  }
  return found;
}

const std::vector<SwitchSpec>& CommonDriverSwitches() {
  // A bare ALLOWDETAILS switches details on; Recover needs its seconds;
  // QUICKSCAN is sent as "on" or "off".
  static const std::vector<SwitchSpec> specs = {
      {"ALLOWDETAILS", SwitchType::kBool, "OFF", "ON", "ON", "OFF"},
      {"LOGFILE", SwitchType::kString, "", std::nullopt, "", ""},
      {"Recover", SwitchType::kNumber, "0", std::nullopt, "", ""},
      {"QUICKSCAN", SwitchType::kBool, "off", std::nullopt, "on", "off"},
  };
  return specs;
}

ParsedDriverString ParseDriverString(std::string_view text,
                                     const std::vector<SwitchSpec>& driver_switches) {
  ParsedDriverString out;
  auto poorly_formed = [&out]() {
    if (!out.poorly_formed) out.warnings.emplace_back("Poorly formed driver string.");
    out.poorly_formed = true;
  };
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    char c = text[i];
    if (IsBlank(c) || c == '/' || c == ',') {
      ++i;
      continue;
    }
    if (!IsNameChar(c)) {
      // Something that cannot start a switch: skip to the next separator.
      poorly_formed();
      while (i < n && !IsBlank(text[i]) && text[i] != '/' && text[i] != ',') ++i;
      continue;
    }
    size_t name_start = i;
    while (i < n && IsNameChar(text[i])) ++i;
    std::string name(text.substr(name_start, i - name_start));
    const SwitchSpec* sw = FindSpec(name, driver_switches);

    size_t j = i;
    while (j < n && IsBlank(text[j])) ++j;
    bool has_equals = j < n && text[j] == '=';
    std::optional<std::string> value;
    if (has_equals) {
      i = j + 1;
      while (i < n && IsBlank(text[i])) ++i;
      if (i < n && (text[i] == '\'' || text[i] == '"')) {
        char quote = text[i++];
        std::string v;
        bool closed = false;
        while (i < n) {
          if (text[i] == quote) {
            if (i + 1 < n && text[i + 1] == quote) {
              v.push_back(quote);
              i += 2;
              continue;
            }
            ++i;
            closed = true;
            break;
          }
          v.push_back(text[i++]);
        }
        if (!closed) poorly_formed();
        value = std::move(v);
      } else {
        bool stop_at_slash = sw == nullptr || sw->type != SwitchType::kString;
        size_t v_start = i;
        while (i < n && !IsBlank(text[i]) && text[i] != ',' && !(stop_at_slash && text[i] == '/'))
          ++i;
        if (i > v_start) value = std::string(text.substr(v_start, i - v_start));
      }
    } else if (i < n && !IsBlank(text[i]) && text[i] != '/' && text[i] != ',') {
      // A name run straight into something else ("A'x'", "A(1)").
      poorly_formed();
      while (i < n && !IsBlank(text[i]) && text[i] != '/' && text[i] != ',') ++i;
      continue;
    }

    if (sw == nullptr) {
      out.warnings.push_back(name + " is not a valid switch");
      continue;
    }
    if (!value) {
      if (!sw->empty_value) {
        out.warnings.push_back(sw->name + (has_equals ? " has missing value" : " has no value"));
        continue;
      }
      value = *sw->empty_value;
    }
    std::optional<std::string> normal = Normalise(*sw, *value);
    if (!normal) {
      // The switch keeps its earlier value (or its default).
      out.warnings.push_back(sw->name + " has an incorrect value of " + *value +
                             ".  Value ignored, using " +
                             (sw->default_value.empty() ? std::string("none") : sw->default_value));
      continue;
    }
    out.switches.push_back({sw->name, std::move(*normal)});
  }
  return out;
}

bool SwitchBool(const ParsedDriverString& parsed, const std::vector<SwitchSpec>& specs,
                std::string_view name) {
  const SwitchSpec* sw = FindSpec(name, specs);
  if (sw == nullptr) return false;
  const std::string* v = parsed.Find(name);
  return EqualNoCase(v != nullptr ? *v : sw->default_value, sw->true_value);
}

int64_t SwitchNumber(const ParsedDriverString& parsed, const std::vector<SwitchSpec>& specs,
                     std::string_view name) {
  const SwitchSpec* sw = FindSpec(name, specs);
  const std::string* v = parsed.Find(name);
  std::string text = v != nullptr ? *v : (sw != nullptr ? sw->default_value : std::string());
  return IsNumber(text) ? std::stoll(text) : 0;
}

std::string SwitchString(const ParsedDriverString& parsed, const std::vector<SwitchSpec>& specs,
                         std::string_view name) {
  const std::string* v = parsed.Find(name);
  if (v != nullptr) return *v;
  const SwitchSpec* sw = FindSpec(name, specs);
  return sw != nullptr ? sw->default_value : std::string();
}

void ReportDriverStringWarnings(const ParsedDriverString& parsed,
                                std::string_view driver_display_name) {
  for (const std::string& w : parsed.warnings) ShowRuntimeMessage(driver_display_name, w);
}

LogFileSwitch SplitLogFile(std::string_view value) {
  LogFileSwitch out;
  size_t open = value.rfind('[');
  if (open != std::string_view::npos && !value.empty() && value.back() == ']') {
    out.file = std::string(value.substr(0, open));
    out.section = std::string(value.substr(open + 1, value.size() - open - 2));
  } else {
    out.file = std::string(value);
  }
  return out;
}

}  // namespace qzr
