// Driver strings: the options text given with a file's DRIVER attribute or
// sent to a driver with SEND, and the parser that splits it into switches.
//
// Syntax (the same for every driver):
//
//   driver-string := { separator } [ switch { separator switch } ] { separator }
//   separator     := blank | "/" (before a switch name) | ","
//   switch        := name [ blanks "=" blanks [ value ] ]
//   name          := letters, digits, "_", "$", "."
//   value         := quoted | bare
//   quoted        := "'" ... "'" | '"' ... '"'   (the quote doubled inside stands for itself)
//   bare          := characters up to a blank or ","; for a switch whose type
//                    is not kString also up to "/" (so "/A=1/B=2" has two
//                    switches, and a file name like /tmp/x.tcf stays whole)
//
// Names match without regard to case. Each switch a driver knows has a
// SwitchSpec: its data type, a default (the value when the switch is
// absent), a value for "empty" (used for a bare "NAME" or "NAME="; when it
// is unset, such a switch is warned about and ignored), and for kBool the
// true and false spellings. Every driver also knows the common switches
// ("ALLOWDETAILS", "LOGFILE", "Recover", "QUICKSCAN").
//
// Problems are not errors: the parser warns, keeps what it could read and
// goes on, as a user would expect of an options text. The warnings:
//   "Poorly formed driver string."          (once per string: an unclosed quote,
//                                            text that cannot start a switch)
//   "<name> is not a valid switch"
//   "<name> has no value"                   (bare name, the switch needs a value)
//   "<name> has missing value"              ("name=" with nothing after it)
//   "<name> has an incorrect value of <v>.  Value ignored, using <default>"
// Pure functions; safe from any thread.

#ifndef QZR_DATA_DRIVER_STRING_H_
#define QZR_DATA_DRIVER_STRING_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qzr {

enum class SwitchType { kBool, kNumber, kString };

struct SwitchSpec {
  std::string name;
  SwitchType type = SwitchType::kString;
  std::string default_value;
  std::optional<std::string> empty_value;  // unset: the switch needs a value
  std::string true_value = "ON";           // kBool only
  std::string false_value = "OFF";         // kBool only
};

struct DriverSwitch {
  std::string name;   // as in the switch table
  std::string value;  // normalised: kBool as true_value/false_value, kNumber as digits
};

struct ParsedDriverString {
  std::vector<DriverSwitch> switches;  // in the order given; a later one wins
  std::vector<std::string> warnings;   // the texts to show, in order
  bool poorly_formed = false;

  // The value of switch `name` when given, else nullptr.
  const std::string* Find(std::string_view name) const;
};

// The switches every driver accepts: "ALLOWDETAILS" (kBool, empty value ON),
// "LOGFILE" (kString, name[section]), "Recover" (kNumber, seconds),
// "QUICKSCAN" (kBool, "on"/"off").
const std::vector<SwitchSpec>& CommonDriverSwitches();

// Splits `text` by the syntax above, against `driver_switches` and the
// common ones.
ParsedDriverString ParseDriverString(std::string_view text,
                                     const std::vector<SwitchSpec>& driver_switches);

// Typed reads: the switch's value when given, else its default from the table.
// REQUIRES: `name` is in `specs` or the common switches.
bool SwitchBool(const ParsedDriverString& parsed, const std::vector<SwitchSpec>& specs,
                std::string_view name);
int64_t SwitchNumber(const ParsedDriverString& parsed, const std::vector<SwitchSpec>& specs,
                     std::string_view name);
std::string SwitchString(const ParsedDriverString& parsed, const std::vector<SwitchSpec>& specs,
                         std::string_view name);

// Shows each warning through the runtime message routine, captioned with
// `driver_display_name`.
void ReportDriverStringWarnings(const ParsedDriverString& parsed,
                                std::string_view driver_display_name);

// "LOGFILE=name[section]" split into its parts; `section` is "" when absent.
struct LogFileSwitch {
  std::string file;
  std::string section;
};
LogFileSwitch SplitLogFile(std::string_view value);

}  // namespace qzr

#endif  // QZR_DATA_DRIVER_STRING_H_
