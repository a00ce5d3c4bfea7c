// The environment file: the program's path with the extension ".ENV", a text
// file of KEY=value lines that localises the runtime (character set,
// collating sequence, case tables, month names, AM/PM texts, digraphs,
// button captions, runtime messages).
//
// Format, as read here:
//   1. CR and LF end a line; a Ctrl-Z byte (26) ends the file.
//   2. Each line is KEY=value. Spaces in the key are ignored; a key longer
//      than 30 characters names nothing, and its line is skipped. Lines
//      without "=" are skipped (so are comments).
//   3. The value is at most 1024 characters (longer ones are cut, never
//      inside a UTF-8 sequence); trailing spaces and tabs are removed.
//   4. A value is a list of fields separated by spaces or commas. A field may
//      be enclosed in double quotes, with "" standing for one quote.
//   5. "<" followed by decimal digits stands for the character with that
//      code; "<" followed by anything else stands for itself. An escaped
//      character is always part of its field (never a separator or quote).
//
// Pure functions over bytes; safe from any thread.

#ifndef QZR_RUNTIME_ENV_FILE_H_
#define QZR_RUNTIME_ENV_FILE_H_

#include <string>
#include <string_view>
#include <vector>

namespace qzr {

struct EnvEntry {
  std::string key;    // upper-cased, spaces removed
  std::string value;  // raw: escapes and quotes not yet decoded
};

// How a "<n" escape with n above 127 is written out.
enum class EnvEscapes {
  // The byte n (0..255): for byte tables and for OEM text converted later.
  kBytes,
  // The Unicode character n in UTF-8 (128..255 are the Latin-1 letters).
  kUtf8,
};

inline constexpr size_t kMaxEnvKey = 30;
inline constexpr size_t kMaxEnvValue = 1024;

// The entries of an environment file, in file order.
std::vector<EnvEntry> ParseEnvFile(std::string_view bytes);

// The fields of a value (rule 4 and 5 above).
std::vector<std::string> SplitEnvFields(std::string_view value, EnvEscapes escapes);

// A value taken as one text: escapes decoded, and the enclosing double
// quotes removed when the whole value is quoted.
std::string DecodeEnvText(std::string_view value, EnvEscapes escapes);

// `program_path` with its extension replaced by ".ENV". The extension is
// what follows the last "." after the last "/", "\" or ":"; a name without
// one gets ".ENV" appended.
std::string EnvFilePathFor(std::string_view program_path);

// Text in the OEM code page (437) as UTF-8; bytes below 128 unchanged.
std::string OemToUtf8(std::string_view oem);

}  // namespace qzr

#endif  // QZR_RUNTIME_ENV_FILE_H_
