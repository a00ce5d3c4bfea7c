// Profile (INI) files with the Windows profile semantics.
//
// Sections and keys are matched without regard to case (ASCII letters; other
// bytes must match exactly); lines that are not the entry being changed
// (comments, blank lines, other sections) are kept byte for byte; a missing
// entry gives the default; writing a null value deletes the key, a null key
// deletes the whole section. Each call reads (and, for a write, rewrites
// atomically: temporary file, fsync, rename, fsync of the folder) the file,
// under a process-wide lock; writers in other processes are kept out by an
// advisory lock on the file's folder, so no update is lost between them.
//
// File syntax as read:
//   [Section]        a section header; blanks around the name are ignored
//   key = value      an entry; blanks around key and value are removed, and
//                    a value enclosed in a matching pair of single or double
//                    quotes loses them
//   ; text, # text   comment lines, never matched
// Lines before the first header, and lines without "=", belong to no entry.
// When a section appears more than once, an entry is looked for in each
// occurrence in turn; a new entry goes into the first one.
//
// Where files live: a file name containing "/" is used as given (relative to
// the working directory when not absolute). A bare name such as
// "qzrfunctions.INI" is looked for in the program's configuration folder,
// just as a bare profile name goes to the system folder on Windows; a user
// expects settings there rather than in whatever folder the program was
// started from.
//
// The "user profile" stands in for the system's own profile: a file
// "profile.ini" in the program's configuration folder
// ($XDG_CONFIG_HOME/qzrfunctions, else ~/.config/qzrfunctions; the
// QZR_CONFIG_DIR environment variable overrides it, which tests use).

#ifndef QZR_RUNTIME_PROFILE_H_
#define QZR_RUNTIME_PROFILE_H_

#include <optional>
#include <string>
#include <string_view>

namespace qzr {

// The program's configuration folder (created on first write).
std::string ConfigDirectory();

// The path a profile call with `file` reads and writes (see above); "" for an
// empty name.
std::string ProfilePath(const std::string& file);

// The value of `key` in `section`, or `default_value` with its trailing blanks
// removed when the file, the section or the key is missing (or the file
// cannot be read).
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, const std::string& file);

// The entry read as an integer: optional sign, then decimal digits, or
// hexadecimal after "0x"; reading stops at the first other character ("12ab"
// gives 12, "abc" gives 0). A missing or empty entry gives `default_value`;
// values beyond the int range are clamped.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int default_value,
                         const std::string& file);

// `key` nullopt deletes the section; `value` nullopt deletes the key.
// Returns false when the file cannot be written, or when the names or value
// could not be read back as written: an empty section or key, a section
// containing "]", a key containing "=" or beginning with "[", ";" or "#",
// and any line break or NUL byte in any of them. Deleting what does not exist
// succeeds and creates no file.
bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value, const std::string& file);

// The same over the user profile.
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view default_value);
int GetProfileInt(std::string_view section, std::string_view key, int default_value);
bool WriteProfileString(std::string_view section, std::optional<std::string_view> key,
                        std::optional<std::string_view> value);

}  // namespace qzr

#endif  // QZR_RUNTIME_PROFILE_H_
